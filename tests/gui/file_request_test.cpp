#include <sys/stat.h>
#include <unistd.h>

#include <QSettings>
#include <filesystem>

#include <gtest/gtest.h>

#include "app/gui/file_request.h"
#include "support/temp_dir.h"

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

TEST(NameFilter, TheListShowsTheDescriptionsAsWritten) {
  // The semicolon stays in what the user reads; the toolkit's entry does the filtering.
  EXPECT_EQ(NameFilterLabels("Fabler Prop Files (*.fbprop;*.crv)|*.fbprop;*.crv|"),
            QStringList{"Fabler Prop Files (*.fbprop;*.crv)"});
  // One label per entry kept, in the same order; a missing description shows the entry.
  EXPECT_EQ(NameFilterLabels("Scenes||Props|*.fbprop|| *.crv |"),
            (QStringList{"Props", "*.crv"}));
}

TEST(SaveTarget, RefusesMissingFoldersNonFilesAndTheSourceUnderAnyName) {
  test::TempDir dir("kx_gui_target");
  const QString source = QString::fromStdString(dir.File("scene.crv", "scene"));
  const QString other = QString::fromStdString(dir.File("other.fbprop", "old prop"));
  const QString folder = QString::fromStdString(dir.path);
  auto problem = [&](const QString& target) { return SaveTargetProblem(target, source); };

  EXPECT_EQ(problem(folder + "/new.fbprop"), "");
  EXPECT_EQ(problem(other), "");  // replacing another file is the overwrite prompt's business
  EXPECT_EQ(SaveTargetProblem(source, ""), "");  // no source known, nothing to protect

  const QString missing = problem(folder + "/missing/deeper/out.fbprop");
  EXPECT_TRUE(missing.contains("does not exist")) << missing.toStdString();
  EXPECT_TRUE(missing.contains(folder + "/missing/deeper")) << missing.toStdString();
  // A file where a folder should be is no folder either.
  EXPECT_TRUE(problem(source + "/out.fbprop").contains("does not exist"));

  EXPECT_TRUE(problem(folder).contains("is not a file"));
  ASSERT_EQ(::mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  EXPECT_TRUE(problem(QString::fromStdString(dir.Path("pipe"))).contains("is not a file"));

  // The source by its own name, by another spelling, through a symbolic and a hard link.
  ASSERT_EQ(::symlink(source.toStdString().c_str(), dir.Path("soft.crv").c_str()), 0);
  ASSERT_EQ(::link(source.toStdString().c_str(), dir.Path("hard.fbprop").c_str()), 0);
  for (const QString& same : {source, folder + "/./scene.crv", folder + "/soft.crv",
                              folder + "/hard.fbprop"}) {
    const QString text = problem(same);
    EXPECT_TRUE(text.contains("is the scene being converted"))
        << same.toStdString() << ": " << text.toStdString();
  }
  // A link is never saved over, wherever it leads: the user hears so before being asked to
  // replace it.
  ASSERT_EQ(::symlink(other.toStdString().c_str(), dir.Path("to-other.fbprop").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere.fbprop", dir.Path("dangling.fbprop").c_str()), 0);
  for (const char* link : {"to-other.fbprop", "dangling.fbprop"})
    EXPECT_TRUE(problem(folder + "/" + link).contains("is a link")) << link;
}

TEST(StartFolders, OpenWhereTheLastSceneCameFromSaveBesideItOrWhereItsFolderWentLast) {
  QSettings().clear();
  test::TempDir scenes("kx_gui_scenes"), props("kx_gui_props"), others("kx_gui_others");
  const QString a = QString::fromStdString(scenes.path);
  const QString b = QString::fromStdString(props.path);
  const QString c = QString::fromStdString(others.path);
  EXPECT_EQ(OpenStartFolder(), "");  // nothing remembered: the current folder
  EXPECT_EQ(SaveStartFolder(a + "/one.crv"), a);

  RememberOpened(a + "/one.crv");
  RememberSaved(a + "/one.crv", b + "/one.fbprop");
  EXPECT_EQ(OpenStartFolder(), a);
  EXPECT_EQ(SaveStartFolder(a + "/two.crv"), b);  // the next scene of that folder goes there too
  EXPECT_EQ(SaveStartFolder(c + "/three.crv"), c);  // a scene from elsewhere: beside it

  // Each source folder keeps its own: saving a scene of another folder elsewhere does not
  // forget where the props of the first one go.
  RememberSaved(c + "/three.crv", a + "/three.fbprop");
  EXPECT_EQ(SaveStartFolder(c + "/four.crv"), a);
  EXPECT_EQ(SaveStartFolder(a + "/two.crv"), b);

  // A remembered folder that has gone is not offered.
  RememberOpened(c + "/gone/four.crv");
  EXPECT_EQ(OpenStartFolder(), "");
  std::filesystem::remove_all(props.path);
  EXPECT_EQ(SaveStartFolder(a + "/two.crv"), a);
  QSettings().clear();
}

}  // namespace
}  // namespace KX::gui
