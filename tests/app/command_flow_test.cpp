// The conversion command end to end, through a front-end that answers the dialogs from a script:
// which messages come in which order, when the save dialog is offered, and what reaches the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/command_flow.h"
#include "app_fixtures.h"
#include "content/content_data.h"
#include "control/keyframe_control.h"
#include "environment/grass.h"
#include "environment/tree.h"
#include "environment/wind.h"
#include "image/thumbnail.h"
#include "scene/node.h"
#include "support/temp_dir.h"

namespace KX {
namespace {

using test::LegacyRef;
using test::LegacyScene;
using Events = std::vector<std::string>;

class CommandFlowTest : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }

  // A "Scene Root" with one child holding a complete mesh: kind 34 without keys on the root.
  LegacyRef SingleObjectScene() {
    const auto root = scene.Root(u"Scene Root");
    const auto box = scene.Node(u"Box");
    scene.AddChild(root, box);
    const auto mesh = scene.Mesh(u"Tri", test::LegacyMesh::Triangle());
    scene.SetMaterial(mesh, scene.Material({}));
    scene.AddChild(box, mesh);
    return root;
  }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.Path(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Runs the command on `source`, saving to `target` (nullopt: cancel the save dialog).
  CommandOutcome Run(const std::string& source, std::optional<std::string> target) {
    ui = test::ScriptedUi();
    ui.answers = {source, target};
    const CommandOutcome outcome = OnValidate(ui);
    EXPECT_EQ(ui.waitDepth, 0) << "the wait cursor is left on";
    return outcome;
  }
  std::unique_ptr<CPersistContext> LoadTarget() {
    auto loaded = std::make_unique<CPersistContext>();
    EXPECT_EQ(LoadFile(0, *loaded, target), kOk) << loaded->diagnostics.Describe();
    return loaded;
  }

  test::TempDir dir{"kx_command"};
  LegacyScene scene{"1.50"};
  test::ScriptedUi ui;
  const std::string target = dir.Path("out.fbprop");
};

TEST_F(CommandFlowTest, CancellingTheOpenDialogShowsNothing) {
  ui.answers = {std::nullopt};
  EXPECT_EQ(OnValidate(ui), CommandOutcome::kCancelled);
  EXPECT_EQ(ui.events, Events{"open"});
  EXPECT_EQ(ui.waitDepth, 0);
}

TEST_F(CommandFlowTest, ASingleObjectSceneIsConvertedAndSaved) {
  SingleObjectScene();
  std::vector<uint8_t> pixels(4 * 3 * 4, 0x7F);
  scene.Thumbnail(4, 3, pixels);
  scene.RawDataChain({{u"Notes", {1, 2}, u""}});
  const std::string source = Write("scene.crv", scene.Bytes());

  EXPECT_EQ(Run(source, target), CommandOutcome::kSaved);
  // 104 comes once the tree is converted, before the save dialog, which starts without a name.
  EXPECT_EQ(ui.events, (Events{"open", "#104", "save", "#106"}));
  EXPECT_EQ(ui.initialPaths.at(1), "");
  EXPECT_EQ(ui.messages[0].type, kMessageInformation);
  EXPECT_EQ(ui.messages[1].type, kMessageWarning);
  EXPECT_EQ(ui.waitingAtMessage, (std::vector<bool>{true, false}));

  auto saved = LoadTarget();
  EXPECT_EQ(saved->version, 201);
  ASSERT_EQ(saved->roots.size(), 1u) << "the raw-data root stays behind";
  auto* root = KindOf<CNode>(saved->roots[0].get());
  ASSERT_TRUE(root);
  EXPECT_EQ(root->tag, 32u);
  EXPECT_TRUE(KindOf<CKeyframeControl>(root->controllers.get()));
  EXPECT_TRUE(saved->extInfo.empty()) << "no summary without records";
  auto* thumbnail = KindOf<CThumbnail>(saved->thumbnail.get());
  ASSERT_TRUE(thumbnail);
  EXPECT_EQ(thumbnail->picture.width, 4);
  EXPECT_TRUE(thumbnail->picture.HasPixels());
}

TEST_F(CommandFlowTest, SeveralSummaryRecordsMakeExactlyOne) {
  const auto root = SingleObjectScene();
  test::LegacyRose first;
  first.name = u"first";
  first.block2[3] = 5;
  scene.RoseData(root, first);
  scene.RoseData(root, {});
  const std::string source = Write("scene.crv", scene.Bytes());
  ASSERT_EQ(Run(source, target), CommandOutcome::kSaved);
  auto saved = LoadTarget();
  ASSERT_EQ(saved->extInfo.size(), 1u);
  auto* summary = KindOf<CRoseData>(saved->extInfo[0].get());
  ASSERT_TRUE(summary);
  EXPECT_EQ(summary->name, u"first");
  EXPECT_EQ(summary->block2[3], 5);
}

// The conversion tells whether a summary record is left in the tree: the save looks for one only
// then.
TEST_F(CommandFlowTest, TheConversionTellsWhetherASummaryRecordIsLeftToFind) {
  for (const bool withRecord : {false, true}) {
    SCOPED_TRACE(withRecord);
    scene = LegacyScene("1.50");
    const auto root = SingleObjectScene();
    if (withRecord) scene.RoseData(root, {});
    CPersistContext document;
    ASSERT_EQ(LoadFile(0, document, Write("scene.crv", scene.Bytes())), kOk);
    CRefPtr<CNode> converted;
    CConvertedTree found;
    found.mayHoldSummaries = !withRecord;  // the answer must come from the conversion
    ASSERT_EQ(CheckCompatibility(document, converted, ui, &found), kOk);
    EXPECT_EQ(found.mayHoldSummaries, withRecord);
  }
}

TEST_F(CommandFlowTest, CancellingTheSaveDialogWritesNothing) {
  SingleObjectScene();
  const std::string source = Write("scene.crv", scene.Bytes());
  EXPECT_EQ(Run(source, std::nullopt), CommandOutcome::kSaveCancelled);
  EXPECT_EQ(ui.events, (Events{"open", "#104", "save"}));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(CommandFlowTest, FilesOfVersionTwoAreNeverClassified) {
  // A camera scene, which an old file would have refused.
  CRefPtr<CNode> root(new CNode);
  root->name = u"CameraRoot";
  CPersistContext document;
  EXPECT_TRUE(::KX::Succeeded(AddRoot(document, root.get())));
  std::vector<uint8_t> bytes = test::SaveToBytes(document);
  const std::string current = Write("current.crv", bytes);
  bytes.at(11) = 0;  // minor version 1 -> 0: a 2.00 file
  const std::string twoZero = Write("two.crv", bytes);
  for (const std::string& source : {current, twoZero}) {
    EXPECT_EQ(Run(source, target), CommandOutcome::kAlreadyCompatible);
    EXPECT_EQ(ui.events, (Events{"open", "#105"}));
    EXPECT_EQ(ui.messages[0].type, kMessageWarning);
  }
}

TEST_F(CommandFlowTest, OtherKindsAreRefusedWithoutASaveDialog) {
  const auto camera = scene.Root(u"CameraRoot");
  const auto mesh = scene.Mesh(u"Tri", test::LegacyMesh::Triangle());
  scene.SetMaterial(mesh, scene.Material({}));
  scene.AddChild(camera, mesh);
  const std::string cameraScene = Write("camera.crv", scene.Bytes());
  scene = LegacyScene("1.50");
  SingleObjectScene();
  scene.RawDataChain({{u"ProjectState", {1}, u""}});
  const std::string project = Write("project.crv", scene.Bytes());

  for (const auto& [source, kind] : {std::pair{cameraScene, "144"}, std::pair{project, "4096"}}) {
    EXPECT_EQ(Run(source, target), CommandOutcome::kNotAScene);
    EXPECT_EQ(ui.events, (Events{"open", "#103"}));
    EXPECT_EQ(ui.messages[0].type, kMessageError);
    EXPECT_NE(ui.messages[0].detail.find(kind), std::string::npos) << ui.messages[0].detail;
    EXPECT_TRUE(ui.waitingAtMessage[0]);
  }

  // A first root that is no node is not valid either.
  scene = LegacyScene("1.50");
  scene.MarkRoot(scene.Mesh(u"Tri", test::LegacyMesh::Triangle()));
  EXPECT_EQ(Run(Write("mesh.crv", scene.Bytes()), target), CommandOutcome::kNotAScene);
  EXPECT_EQ(ui.events, (Events{"open", "#103"}));
  EXPECT_FALSE(std::filesystem::exists(target));
}

TEST_F(CommandFlowTest, ALoadFailureSaysWhere) {
  SingleObjectScene();
  std::vector<uint8_t> bytes = scene.Bytes();
  bytes.resize(bytes.size() - 7);
  EXPECT_EQ(Run(Write("cut.crv", bytes), target), CommandOutcome::kLoadFailed);
  EXPECT_EQ(ui.events, (Events{"open", "#102"}));
  EXPECT_EQ(ui.messages[0].type, kMessageError);
  EXPECT_NE(ui.messages[0].detail.find("offset"), std::string::npos) << ui.messages[0].detail;

  EXPECT_EQ(Run(dir.Path("missing.crv"), target), CommandOutcome::kLoadFailed);
  EXPECT_EQ(ui.events, (Events{"open", "#102"}));
}

TEST_F(CommandFlowTest, ASaveFailureIsReported) {
  SingleObjectScene();
  const std::string source = Write("scene.crv", scene.Bytes());
  EXPECT_EQ(Run(source, dir.Path("no/such/folder/out.fbprop")), CommandOutcome::kSaveFailed);
  EXPECT_EQ(ui.events, (Events{"open", "#104", "save", "#107"}));
  EXPECT_EQ(ui.messages[1].type, kMessageError);
  EXPECT_FALSE(ui.messages[1].detail.empty());
}

// Trees placed by instances, grass and wind: the trees of the authoring product carry their
// description in another runtime's form, which comes through the conversion byte for byte.
TEST_F(CommandFlowTest, OutdoorScenesConvertWithTheirTreesGrassAndWind) {
  const std::vector<uint8_t> foreignTree{'S', 'P', 'T', 'R', 0, 1, 2, 3, 0xFE, 0x80, 9};
  const std::vector<uint8_t> foreignWind{'W', 'I', 'N', 'D', 0, 0, 0x42};
  CTreeRuntime ours;
  std::vector<uint8_t> ourTree;
  ASSERT_EQ(ours.SaveTree(ourTree), kOk);

  const auto root = scene.Root(u"Scene Root");
  const auto garden = scene.Node(u"Garden");
  scene.AddChild(root, garden);
  const auto wind = scene.Wind(u"Breeze", foreignWind);
  const auto elm = scene.Tree(u"Elm", foreignTree, 3, {wind});
  const auto oak = scene.Tree(u"Oak", ourTree, 8);
  scene.AddChild(garden, scene.TreeInstance(u"Elm 1", elm, test::Translation({4, 0, 0})));
  scene.AddChild(garden, scene.TreeInstance(u"Oak 1", oak));
  scene.AddChild(garden, scene.Grass(u"Meadow", {2, 0, 1}));
  const std::string source = Write("garden.crv", scene.Bytes());

  ASSERT_EQ(Run(source, target), CommandOutcome::kSaved) << (ui.messages.empty() ? "" : ui.messages[0].detail);
  auto saved = LoadTarget();
  EXPECT_TRUE(saved->diagnostics.warnings.empty()) << saved->diagnostics.Describe();
  CBase* prop = saved->roots.at(0).get();
  auto find = [&](std::u16string_view name) { return prop->FindObject(name, nullptr, false); };

  auto* elmInstance = KindOf<CTreeInstance>(find(u"Elm 1"));
  auto* oakInstance = KindOf<CTreeInstance>(find(u"Oak 1"));
  ASSERT_TRUE(elmInstance && oakInstance);
  ASSERT_TRUE(elmInstance->tree && oakInstance->tree);
  std::vector<uint8_t> block;
  ASSERT_EQ(elmInstance->tree->runtime->SaveTree(block), kOk);
  EXPECT_EQ(block, foreignTree);
  EXPECT_TRUE(elmInstance->tree->corners.empty());
  EXPECT_EQ(elmInstance->tree->seed, 3u);
  ASSERT_EQ(oakInstance->tree->runtime->SaveTree(block), kOk);
  EXPECT_EQ(block, ourTree);
  EXPECT_EQ(oakInstance->tree->corners.size(), 8u) << "our tree is grown again";

  auto* loadedWind = KindOf<CWind>(elmInstance->tree->parts[0].get());
  ASSERT_TRUE(loadedWind);
  ASSERT_EQ(loadedWind->engine->Save(block), kOk);
  EXPECT_EQ(block, foreignWind);

  auto* grass = KindOf<CGrass>(find(u"Meadow"));
  ASSERT_TRUE(grass);
  ASSERT_EQ(grass->layers.size(), 3u);
  EXPECT_EQ(grass->layers[0].blades.size(), 2u);
  EXPECT_EQ(grass->layers[2].blades.at(0).bytes[59], 2);
  EXPECT_EQ(grass->parent, find(u"Garden"));
}

}  // namespace
}  // namespace KX
