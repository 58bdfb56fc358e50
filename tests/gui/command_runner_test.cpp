// The watched load and save: the same bytes and diagnostics as the library's, progress, and a
// stop that leaves nothing behind.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "app/gui/command_runner.h"
#include "object/container.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"
#include "support/temp_dir.h"

namespace KX::gui {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class WatchedFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    root = new CNode;
    root->name = u"Scene Root";
    for (int i = 0; i < 20; ++i) {
      CRefPtr<CNode> child(new CNode);
      child->name = u"Box " + std::u16string(1, static_cast<char16_t>(u'A' + i));
      ASSERT_EQ(root->AddChild(child.get()), kOk);
    }
    ASSERT_EQ(AddRoot(document, root.get()), kOk);
  }

  test::TempDir dir{"kx_gui_watched"};
  CRefPtr<CNode> root;
  CPersistContext document;
  CWorkControl control;
};

TEST_F(WatchedFiles, SaveAndLoadAsTheLibraryDoesAndTellHowFarTheyCame) {
  const std::string plain = dir.Path("plain.fbprop"), watched = dir.Path("watched.fbprop");
  ASSERT_EQ(SaveFile(0, document, plain), kOk);
  std::string reason;
  ASSERT_EQ(WatchedSave(document, watched, control, &reason), kOk) << reason;
  const std::string bytes = Contents(plain);
  EXPECT_EQ(Contents(watched), bytes);
  // The total is the size the save announces before its first byte, close to the real one.
  EXPECT_NEAR(static_cast<double>(control.Current().total), static_cast<double>(bytes.size()), 64);
  EXPECT_EQ(control.Current().done, bytes.size());
  EXPECT_EQ(FilesIn(dir.path), (std::vector<std::string>{"plain.fbprop", "watched.fbprop"}));

  CWorkControl loading;
  CPersistContext loaded;
  ASSERT_EQ(WatchedLoad(loaded, watched, loading), kOk) << loaded.diagnostics.Describe();
  ASSERT_EQ(loaded.roots.size(), 1u);
  EXPECT_EQ(static_cast<CNode*>(loaded.roots[0].get())->children.size(), 20u);
  EXPECT_EQ(loading.Current().total, bytes.size());
  EXPECT_EQ(loading.Current().done, bytes.size());

  // A file that is not there fails with the library's status and words.
  CPersistContext viaLibrary, viaWatch;
  const Status expected = LoadFile(0, viaLibrary, dir.Path("missing.crv"));
  EXPECT_EQ(WatchedLoad(viaWatch, dir.Path("missing.crv"), loading), expected);
  EXPECT_EQ(viaWatch.diagnostics.Describe(), viaLibrary.diagnostics.Describe());
}

// Large arrays, which a file load reads beside the rest, arrive whole through the watched load
// too, and its progress still ends at the file's size.
TEST_F(WatchedFiles, LargeArraysLoadWholeAndTheProgressReachesTheEnd) {
  CRefPtr<CTriMesh> mesh(new CTriMesh);
  for (uint32_t i = 0; i < 400'000; ++i)
    mesh->positions.items.push_back({float(i), 0.5f * float(i), -float(i)});
  ASSERT_EQ(root->AddChild(mesh.get()), kOk);
  const std::string path = dir.Path("large.crv");
  ASSERT_EQ(SaveFile(0, document, path), kOk);
  CPersistContext loaded;
  ASSERT_EQ(WatchedLoad(loaded, path, control), kOk) << loaded.diagnostics.Describe();
  auto* node = static_cast<CNode*>(loaded.roots.at(0).get());
  auto* copy = KindOf<CTriMesh>(node->children.back().get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->positions, mesh->positions);
  EXPECT_EQ(control.Current().done, std::filesystem::file_size(path));
}

TEST_F(WatchedFiles, AStoppedSaveLeavesTheOldFileAndNothingBesideIt) {
  const std::string target = dir.File("out.fbprop", "the prop saved yesterday");
  ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
  int calls = 0;
  control.SetStreamHook([&] {
    if (++calls == 5) control.Stop();
  });
  std::string reason;
  EXPECT_TRUE(Failed(WatchedSave(document, target, control, &reason)));
  EXPECT_EQ(calls, 5) << "the save went on writing after the stop";
  EXPECT_EQ(Contents(target), "the prop saved yesterday");
  EXPECT_EQ(FilesIn(dir.path), std::vector<std::string>{"out.fbprop"});

  // Not stopped, a replaced file keeps its permissions; a new one gets the usual ones.
  CWorkControl fresh;
  ASSERT_EQ(WatchedSave(document, target, fresh, &reason), kOk) << reason;
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  const mode_t old = ::umask(027);
  const std::string created = dir.Path("new.fbprop");
  const Status saved = WatchedSave(document, created, fresh, &reason);
  ::umask(old);
  ASSERT_EQ(saved, kOk) << reason;
  ASSERT_EQ(::stat(created.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(WatchedFiles, LongNamesAreSavedAndLinksAreNotReplaced) {
  // The temporary name is short, so any name the file system takes can be saved.
  const std::string longName = dir.Path(std::string(243, 'p') + ".fbprop");
  std::string reason;
  ASSERT_EQ(WatchedSave(document, longName, control, &reason), kOk) << reason;
  EXPECT_EQ(FilesIn(dir.path).size(), 1u);

  const std::string kept = dir.File("kept.txt", "someone else's file");
  const std::string link = dir.Path("link.fbprop");
  std::filesystem::create_symlink(kept, link);
  CWorkControl again;
  EXPECT_TRUE(Failed(WatchedSave(document, link, again, &reason)));
  EXPECT_FALSE(reason.empty());
  EXPECT_EQ(Contents(kept), "someone else's file");
  EXPECT_TRUE(std::filesystem::is_symlink(link));
}

}  // namespace
}  // namespace KX::gui
