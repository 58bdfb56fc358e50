#include <gtest/gtest.h>

#include "app/gui/file_request.h"

namespace KX::gui {
namespace {

TEST(NameFilter, OurFormBecomesTheToolkitsWithSpaceSeparatedPatterns) {
  EXPECT_EQ(NameFilterFrom("CRV Files (*.crv)|*.crv|"), "CRV Files (*.crv)");
  // The toolkit separates patterns by spaces; a semicolon would make one pattern of two.
  EXPECT_EQ(NameFilterFrom("Fabler Prop Files (*.fbprop;*.crv)|*.fbprop;*.crv|"),
            "Fabler Prop Files (*.fbprop *.crv)");
  // The pattern half is what filters, whatever the description claims.
  EXPECT_EQ(NameFilterFrom("Scenes (*.old)|*.crv|All|*|"), "Scenes (*.crv);;All (*)");
  EXPECT_EQ(NameFilterFrom("Scenes|*.crv"), "Scenes (*.crv)");  // no closing bar
  EXPECT_EQ(NameFilterFrom("|*.crv|"), "*.crv");
}

TEST(NameFilter, BrokenFiltersFallBackToEveryFile) {
  EXPECT_EQ(NameFilterFrom(""), "");
  EXPECT_EQ(NameFilterFrom("just a description"), "");
  EXPECT_EQ(NameFilterFrom("Scenes| ; |"), "");
  EXPECT_EQ(NameFilterFrom("Scenes||Props|*.fbprop|"), "Props (*.fbprop)");
}

}  // namespace
}  // namespace KX::gui
