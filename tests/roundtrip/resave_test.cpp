// `recaster resave`: a file of any layout comes out in the current layout with every root, the
// thumbnail and the extended information as they were; what it writes, it writes again to the
// same bytes.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>

#include "app/cli/resave.h"
#include "content/character_data.h"
#include "content/content_data.h"
#include "content/project_data.h"
#include "control/image_control.h"
#include "image/image.h"
#include "scene/image_layer.h"
#include "object/walker.h"
#include "image/thumbnail.h"
#include "support/legacy_scene.h"
#include "support/round_trip.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX {
namespace {

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// How many objects of each class the document reaches from its roots, thumbnail and extended
// information, and the class of each root in order.
std::map<std::string, int> ClassCounts(CPersistContext& document) {
  std::map<std::string, int> counts;
  std::vector<CBase*> starts;
  for (const auto& root : document.roots) {
    starts.push_back(root.get());
    counts[std::string("root ") + root->GetRuntimeClass()->className]++;
  }
  for (const auto& entry : document.extInfo) starts.push_back(entry.get());
  if (document.thumbnail) starts.push_back(document.thumbnail.get());
  std::vector<CBase*> all;
  for (CBase* start : starts) start->FindObjects(all, std::nullopt, nullptr, false);
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  for (const CBase* object : all) counts[object->GetRuntimeClass()->className]++;
  return counts;
}

int RunTool(const std::string& arguments) {
  const std::string command = std::string(KX_RECASTER_PATH) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

class Resave : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // Resaves `input` to `output` in this process (test-only classes are registered here).
  int Run(const std::string& input, const std::string& output, bool force = false) {
    return cli::RunResave(texts, input, output, force);
  }
  std::map<std::string, int> Loaded(const std::string& path) {
    CPersistContext document;
    EXPECT_EQ(LoadFile(0, document, path), kOk) << document.diagnostics.Describe();
    EXPECT_TRUE(document.diagnostics.warnings.empty()) << document.diagnostics.Describe();
    return ClassCounts(document);
  }

  CTextTable texts;
  test::TempDir dir{"kx_resave"};
};

// An old scene with every kind of record the old-layout writer makes, a second root, a thumbnail
// and content records in the root's chain.
TEST_F(Resave, OldLayoutComesOutWholeAndAgainToTheSameBytes) {
  test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Scene Root");
  const auto group = scene.Node(u"Group", test::Translation({0, 2, 0}));
  scene.AddChild(root, group);
  const auto mesh = scene.Mesh(u"Quad", test::LegacyMesh::Quad());
  std::vector<uint8_t> rows(2 * 2 * 3, 0x40);
  const auto raw = scene.RawImage(u"raw", 2, 2, 1, rows);
  test::LegacyMaterial look;
  look.channels[0] = scene.TextureMap(raw, 0, u"map");
  look.channels[8] = scene.NormalBumpTex(scene.TextureMap(raw, 2));
  look.channels[9] = scene.BlendTex(scene.TextureMap(raw), 0.25f, scene.TextureMap({}), 0.75f);
  scene.SetMaterial(mesh, scene.MultiMaterial({scene.Material(look), scene.Material({})}));
  const auto target = scene.CameraTarget(u"Target");
  const auto sub = scene.Node(u"Sub");
  const auto bell = scene.Sound(u"Bell", {1, 1, 8000, 8000, 1, 8}, {0x80, 0x90});
  const auto wind = scene.Wind(u"Breeze", {'W', 'I', 'N', 'D', 0, 0x42});
  const auto elm = scene.Tree(u"Elm", {'S', 'P', 'T', 'R', 0, 1, 2}, 3, {wind});
  for (auto child :
       {mesh, scene.Camera(u"Camera", MatrixIdentity(), target), target,
        scene.BillboardNode(u"Sign"),
        scene.Billboard(u"Board", {{1, 2, 3}}, MatrixIdentity(), {sub}),
        scene.Particles(u"Sparks", 2), scene.ImageLayer(u"Overlay", bell, {scene.Node(u"Layered")}),
        scene.AudioInstance(u"Emitter", bell), scene.TreeInstance(u"Elm 1", elm),
        scene.Grass(u"Meadow", {1, 2})})
    scene.AddChild(group, child);
  scene.KeyframeController(group, {{0.0f, {0, 2, 0}}, {1.0f, {0, 3, 0}}});
  scene.LinkController(mesh, group);
  scene.MorphController(mesh, {{0, 0, 1}});
  test::LegacyRose rose;
  rose.block1[0] = 7;
  scene.RoseData(root, rose);
  scene.ProjectData(root, 30.0f, 4);
  scene.CharacterData(root, scene.Node(u"Body"), scene.Node(u"Hat"));
  scene.RawDataChain({{u"First", {1, 2, 3}, u""}, {u"Second", {}, u""}});
  scene.Thumbnail(2, 1, std::vector<uint8_t>(8, 0x11));
  const std::string old = dir.Path("old.crv");
  WriteAll(old, scene.Bytes());

  const std::string once = dir.Path("once.crv"), twice = dir.Path("twice.crv");
  ASSERT_EQ(Run(old, once), 0);
  ASSERT_EQ(Run(once, twice), 0);
  const std::vector<uint8_t> first = ReadAll(once);
  ASSERT_GT(first.size(), 15u);
  EXPECT_EQ(std::string(first.begin(), first.begin() + 7), "_KXBrix");
  EXPECT_EQ(first, ReadAll(twice));
  const auto before = Loaded(old);
  EXPECT_EQ(Loaded(once), before);
  EXPECT_EQ(before.at("root CNode"), 1);
  EXPECT_EQ(before.at("root CRawData"), 1);
  for (const char* name : {"CProjectData", "CCharacterData", "CRoseData", "CThumbnail", "CTree",
                           "CGrass", "CAudioData", "CImageLayer", "CMorphControl"})
    EXPECT_EQ(before.count(name), 1u) << name;
}

// An image layer whose source is a picture, and an animated picture's controller that names the
// picture it draws into as its owner, as old files store them: both stay through a resave, and
// the resaved file comes out the same again.
TEST_F(Resave, PicturesHeldWhereScenesUsuallyGoStay) {
  test::LegacyScene scene("1.50");
  const auto root = scene.Root(u"Scene Root");
  const auto picture = scene.RawImage(u"picture", 2, 2, 1, std::vector<uint8_t>(12, 0x40));
  const auto frame = scene.RawImage(u"frame", 1, 1, 1, std::vector<uint8_t>(3, 0x80));
  const auto map = scene.TextureMap(picture, 0, u"map");
  scene.AnmImageController(map, scene.AnmImage(u"flip", {frame, frame}), picture);
  test::LegacyMaterial look;
  look.channels[1] = map;
  const auto mesh = scene.Mesh(u"Quad", test::LegacyMesh::Quad());
  scene.SetMaterial(mesh, scene.Material(look));
  scene.AddChild(root, mesh);
  scene.AddChild(root, scene.ImageLayer(u"Overlay", picture, {picture}));
  const std::string old = dir.Path("old.crv"), once = dir.Path("once.crv"),
                    twice = dir.Path("twice.crv");
  WriteAll(old, scene.Bytes());
  ASSERT_EQ(Run(old, once), 0);
  ASSERT_EQ(Run(once, twice), 0);
  EXPECT_EQ(ReadAll(once), ReadAll(twice));
  EXPECT_EQ(Loaded(once), Loaded(old));

  for (const std::string& path : {old, once}) {
    SCOPED_TRACE(path);
    CPersistContext document;
    ASSERT_EQ(LoadFile(0, document, path), kOk);
    EXPECT_TRUE(document.diagnostics.warnings.empty()) << document.diagnostics.Describe();
    std::vector<CBase*> found;
    document.roots.at(0)->FindObjects(found, std::nullopt, nullptr, false);
    const CImageLayer* layer = nullptr;
    const CAnmImageControl* control = nullptr;
    for (CBase* object : found) {
      if (auto* l = KindOf<CImageLayer>(object)) layer = l;
      if (auto* c = KindOf<CAnmImageControl>(object)) control = c;
    }
    ASSERT_TRUE(layer && control);
    auto* source = KindOf<CImage>(layer->layerSource.get());
    ASSERT_TRUE(source);
    EXPECT_EQ(source->name, u"picture");
    EXPECT_EQ(layer->layerObjects.at(0), layer->layerSource);
    EXPECT_EQ(control->owner, source);
    EXPECT_EQ(control->TargetImage(), source);
  }
}

// A file this library wrote holding one object of every class, several roots, a thumbnail and
// extended information comes out byte for byte.
TEST_F(Resave, CurrentLayoutOfEveryClassComesOutByteIdentical) {
  CPersistContext context;
  std::vector<CRefPtr<CBase>> keep;
  for (const auto& sample : test::RoundTripSamples()) {
    keep.push_back(sample.make());
    ASSERT_TRUE(keep.back()) << sample.className;
    ASSERT_TRUE(Succeeded(AddRoot(context, keep.back().get()))) << sample.className;
  }
  test::AddThumbnailAndExtendedInfo(context);
  ASSERT_FALSE(HasFatalFailure());
  const std::string input = dir.Path("all.crv"), output = dir.Path("all-again.crv");
  ASSERT_EQ(SaveFile(0, context, input), kOk);

  ASSERT_EQ(Run(input, output), 0);
  EXPECT_EQ(ReadAll(output), ReadAll(input));
  const auto counts = Loaded(output);
  for (const auto& sample : test::RoundTripSamples())
    EXPECT_TRUE(counts.contains(sample.className)) << sample.className;
}

// The output rules of convert, and the exit codes, from the tool itself.
TEST_F(Resave, RefusesToClobberOrReplaceItsInputAndReportsFailures) {
  CPersistContext context;
  CRefPtr<CRawData> record(new CRawData);
  ASSERT_EQ(AddRoot(context, record.get()), kOk);
  const std::string input = dir.Path("in.crv"), output = dir.Path("out.crv");
  ASSERT_EQ(SaveFile(0, context, input), kOk);
  const std::vector<uint8_t> original = ReadAll(input);

  EXPECT_EQ(RunTool("resave " + input), 2);  // no output given
  EXPECT_EQ(RunTool("resave " + input + " -o " + output), 0);
  WriteAll(output, {'k', 'e', 'e', 'p'});
  EXPECT_EQ(RunTool("resave " + input + " -o " + output), 2);
  EXPECT_EQ(ReadAll(output), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  EXPECT_EQ(RunTool("resave " + input + " -o " + output + " --force"), 0);
  EXPECT_EQ(ReadAll(output), original);
  EXPECT_EQ(RunTool("resave " + input + " -o " + dir.path + "/./in.crv --force"), 2);
  EXPECT_EQ(ReadAll(input), original);
  EXPECT_EQ(RunTool("resave " + dir.File("junk.crv", "junk") + " -o " + dir.Path("j.crv")), 5);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("j.crv")));
  // Missing folders are made, as convert makes them; a folder is never replaced.
  EXPECT_EQ(RunTool("resave " + input + " -o " + dir.Path("missing/out.crv")), 0);
  EXPECT_EQ(ReadAll(dir.Path("missing/out.crv")), original);
  EXPECT_EQ(RunTool("resave " + input + " -o " + dir.Path("missing") + " --force"), 2);
}

}  // namespace
}  // namespace KX
