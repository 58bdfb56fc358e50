#include <gtest/gtest.h>

#include "app/texts.h"
#include "support/temp_dir.h"

namespace KX {
namespace {

TEST(Texts, BuiltInTableWithoutAModule) {
  test::TempDir empty("kx_texts");
  CTextTable table(empty.path);
  EXPECT_FALSE(table.HasModule());
  EXPECT_EQ(table.Text(kTextLoadFailed), "Error when loading file.");
  EXPECT_EQ(table.Text(kTextSaveFilter), "Fabler Prop Files (*.fbprop;*.crv)|*.fbprop;*.crv|");
  EXPECT_EQ(table.Text(kTextSaveExtension), "fbprop");
  EXPECT_EQ(table.Text(kTextDialog), "");  // only a module has it
  EXPECT_EQ(table.Text(999), "");
}

TEST(Texts, ALibraryWithoutTheLookupIsIgnored) {
  test::TempDir dir("kx_texts");
  // Not a shared library at all.
  dir.File(kResourceModuleName, "not an ELF file");
  CTextTable table(dir.path);
  EXPECT_FALSE(table.HasModule());
  EXPECT_EQ(table.Text(kTextNotAScene), "This is not a valid Fabler 3D Scene file.");
}

TEST(Texts, TheModuleWinsAndBringsTheDialogText) {
  CTextTable table(KX_TEST_RESOURCE_DIR);
  ASSERT_TRUE(table.HasModule());
  EXPECT_EQ(table.Text(kTextLoadFailed), "Datei konnte nicht geladen werden.");
  EXPECT_EQ(table.Text(kTextDialog), "Converts old scenes into props.");
  // What the module lacks comes from the built-in table.
  EXPECT_EQ(table.Text(kTextFinished), "Process is finished. Please reload the props to your Fabler3.");
}

TEST(Texts, ExecutableFolderIsWhereTheTestRuns) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back() == '/', false);
  EXPECT_EQ(::access((folder + "/kx_app_tests").c_str(), X_OK), 0);
}

}  // namespace
}  // namespace KX
