// Material, texture-coordinate map and particle controllers: their records in both layouts, the
// values they compute, what they refuse to write, and the particles they emit.
#include <gtest/gtest.h>

#include <functional>

#include "control/material_control.h"
#include "control/particle_control.h"
#include "control/uvw_map_control.h"
#include "object/container.h"
#include "material/material.h"
#include "scene/particles.h"
#include "scene/tri_mesh.h"
#include "support/bytes.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

class MaterialMapParticleControls : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

void ExpectNear(const V& a, const V& b) {
  EXPECT_NEAR(a.x, b.x, 1e-5f);
  EXPECT_NEAR(a.y, b.y, 1e-5f);
  EXPECT_NEAR(a.z, b.z, 1e-5f);
}

Bytes Floats(std::initializer_list<float> values) {
  Bytes b;
  b.U32(static_cast<uint32_t>(values.size()));
  for (float v : values) b.F32(v);
  return b;
}

// --- layouts -----------------------------------------------------------------------------------

// A free-standing controller as the only root. Current layout: the blocks down to the per-kind
// level, each with its version pair; the controller's priority 0, aux value 1, scale 1.
Bytes CurrentFile(const char* cls, const Bytes& own, int32_t outOfRange = 0) {
  Bytes body;
  body.Version(2, 0).I32(1).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
  body.Version(2, 1).I32(outOfRange).F32(0).F32(1).F32(1).U8(1).I32(0).I32(0);
  body.Version(2, 0).Version(2, 0).Append(own);
  return test::NewHeader()
      .I32(0)
      .I32(0)
      .A("_Root")
      .A(cls)
      .I32(static_cast<int32_t>(body.size()))
      .Append(body);
}

// The same in a stream of 1.50: no version pairs, and the controller block holds a start time
// and a value that stands in for the priority.
Bytes OldFile(const char* cls, const Bytes& own, float start, float held, int32_t outOfRange = 0) {
  Bytes body;
  body.I32(1).A("").I32(0).I32(0).I32(0);
  body.I32(outOfRange).F32(start).F32(held).F32(0).F32(1).U8(1).I32(0).I32(0).Append(own);
  return test::OldHeader("1.50")
      .Append(test::OldEmptyThumbnail())
      .A("_CorvaRoot")
      .A(cls)
      .Append(body);
}

// The emitter settings of Emitter(), as stored.
Bytes EmitterSettings() {
  Bytes b;
  b.F32(2).F32(0).F32(1).F32(0).F32(0.5f).F32(0).F32(-10).F32(0).F32(4);
  b.F32(-1).F32(0).F32(-1).F32(1).F32(0).F32(1);  // the box
  for (int i = 0; i < 6; ++i) b.F32(0);           // spread, kept vector
  b.F32(1).F32(1).F32(1).F32(1).F32(1).F32(1).F32(1).F32(0);
  for (int i = 0; i < 6; ++i) b.F32(7);
  return b.U32(42).U32(5).U32(6).U32(7).U32(8).U32(0xDEADBEEFu);
}

CRefPtr<CParticleControl> Emitter() {
  CRefPtr<CParticleControl> c(new CParticleControl);
  c->emitValue1 = 2;
  c->emitVector1 = {0, 1, 0};
  c->emitValue2 = 0.5f;
  c->emitVector2 = {0, -10, 0};
  c->emitValue3 = 4;
  c->emitVector3 = {-1, 0, -1};
  c->emitVector4 = {1, 0, 1};
  c->emitVector7 = c->emitVector8 = {7, 7, 7};
  c->emitValue4 = 42;
  c->emitValue5 = 5;
  c->emitValue6 = 6;
  c->emitValue7 = 7;
  c->emitValue8 = 8;
  c->emitValue9 = 0xDEADBEEFu;
  return c;
}

// One file to load and the bytes that saving what it loaded must give.
struct LayoutCase {
  const char* label;
  Bytes file;
  Bytes saved;
};

// Loads each file as the only root, saves it again and compares with the current bytes.
void ExpectLayouts(const std::vector<LayoutCase>& cases) {
  for (const LayoutCase& c : cases) {
    SCOPED_TRACE(c.label);
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(c.file.data, context), kOk) << context.diagnostics.Describe();
    ASSERT_EQ(context.roots.size(), 1u);
    EXPECT_EQ(test::SaveRootToBytes(context.roots[0].get()), c.saved.data);
  }
}

// What a built object saves to: the current bytes, and a size that agrees.
void ExpectSaves(CControl* control, const Bytes& expected) {
  SCOPED_TRACE(control->GetRuntimeClass()->className);
  EXPECT_EQ(test::SaveRootToBytes(control), expected.data);
}

TEST_F(MaterialMapParticleControls, MaterialLayoutsInBothGenerations) {
  CRefPtr<CMaterialControl> keys(new CMaterialControl);
  keys->times1 = {0, 2};
  keys->ambientKeys = {{1, 2, 3}};
  keys->param2Keys = {5, 6};
  keys->times3 = {1};
  ChannelAmounts amounts;
  amounts.amount[11] = 0.5f;
  keys->amountKeys = {amounts};
  keys->channelTimes[5] = {4};
  keys->channelKeys[5] = {{{0.25f, 0.5f}, {2, 3}}};
  // Every list in stored order: group 1, group 2, group 3, then the six channels.
  auto block = [](float shift) {
    Bytes b = Floats({0 + shift, 2 + shift}).U32(1).F32(1).F32(2).F32(3).U32(0).U32(0);
    b.U32(0).U32(0).Append(Floats({5, 6}));
    b.U32(0).U32(0).U32(0).U32(0);
    b.Append(Floats({1 + shift})).U32(1);
    for (int i = 0; i < 11; ++i) b.F32(0);
    b.F32(0.5f);
    for (int k = 0; k < 5; ++k) b.U32(0).U32(0);
    return b.Append(Floats({4 + shift})).U32(1).F32(0.25f).F32(0.5f).F32(2).F32(3);
  };
  const Bytes current = CurrentFile("CMaterialControl", Bytes().Version(2, 3).Append(block(0)));
  ExpectSaves(keys.get(), current);

  CRefPtr<CMaterialLayerControl> layer(new CMaterialLayerControl);
  layer->weightTracks = {{1, 0.5f}, {}};
  layer->layer.subControllers = {nullptr, nullptr};
  layer->weightTimes = {0, 3};
  // Tracks, then the sub-controller ids, then the weight times.
  const Bytes layerBlock =
      Bytes().U32(2).Append(Floats({1, 0.5f})).U32(0).I32(2).I32(0).I32(0).Append(Floats({0, 3}));
  const Bytes layerFile =
      CurrentFile("CMaterialLayerControl", Bytes().Version(2, 0).Append(layerBlock));
  ExpectSaves(layer.get(), layerFile);

  // A clip table of files up to 2.0: 24-byte records with starts in unscaled time.
  const Bytes clipIds = Bytes().I32(1).I32(0);
  const Bytes clipTable = Bytes()
                              .I32(1)
                              .F32(3)
                              .I32(1)
                              .F32(1)
                              .U32(0)
                              .U32(2)
                              .F32(0.5f)
                              .F32(0)
                              .F32(0.25f)
                              .F32(0)
                              .F32(1)
                              .U8(0)
                              .U8(0)
                              .U8(0)
                              .U8(0);
  const Bytes legacyTable = Bytes().I32(1).F32(3).F32(0.25f).U32(0).U32(2).F32(0.5f).F32(0);
  const Bytes clipFile =
      CurrentFile("CMaterialClipControl", Bytes().Version(2, 1).Append(clipIds).Append(clipTable));

  ExpectLayouts({
      {"material, current", current, current},
      // Old keys were kept in scene time: the start time 1.5 comes off every time list.
      {"material, old", OldFile("CMaterialControl", block(1.5f), 1.5f, 0), current},
      {"material 2.0 in a current file",
       CurrentFile("CMaterialControl", Bytes().Version(2, 0).Append(block(0))), current},
      {"material layer, old", OldFile("CMaterialLayerControl", layerBlock, 0, 0), layerFile},
      {"material clip, old",
       OldFile("CMaterialClipControl", Bytes(clipIds).Append(legacyTable), 0, 0), clipFile},
  });
}

TEST_F(MaterialMapParticleControls, MapAndParticleLayoutsInBothGenerations) {
  CRefPtr<CUvwMapControl> map(new CUvwMapControl);
  map->coordinateKeys = {{1, 2, 3}, {4, 5, 6}};
  map->keyTimes = {0, 1};
  auto mapBlock = [](float shift) {
    return Bytes().U32(2).F32(1).F32(2).F32(3).F32(4).F32(5).F32(6).Append(
        Floats({shift, 1 + shift}));
  };
  const Bytes mapFile = CurrentFile("CUvwMapControl", Bytes().Version(2, 1).Append(mapBlock(0)));
  ExpectSaves(map.get(), mapFile);
  CRefPtr<CUvwMapDataControl> bare(new CUvwMapDataControl);
  const Bytes bareFile = CurrentFile("CUvwMapDataControl", Bytes());
  ExpectSaves(bare.get(), bareFile);

  auto emitter = Emitter();
  emitter->eventTimes = {0.5f, 2};
  emitter->eventFlags = {1, 0};
  const Bytes settings = EmitterSettings();
  const Bytes events = Floats({0.5f, 2}).U32(2).U8(1).U8(0);
  const Bytes particleFile =
      CurrentFile("CParticleControl", Bytes().Version(2, 1).Append(settings).Append(events));
  ExpectSaves(emitter.get(), particleFile);
  EXPECT_EQ(emitter->GetSaveSize(), 16 + 24 + 20 + 33 + 8 + 8 + 180 + 4 * 2 + 2);
  // A repeating old emitter keeps its start alone and stops repeating.
  const Bytes single =
      CurrentFile("CParticleControl",
                  Bytes().Version(2, 1).Append(settings).Append(Floats({0.5f}).U32(1).U8(1)));

  CRefPtr<CParticleClipControl> clip(new CParticleClipControl);
  clip->clip.subControllers = {nullptr};
  clip->clip.clipStart = {3};
  clip->clip.clipRecords = {ClipEntry{}};
  clip->clip.clipRecords[0].repeat = 2;
  const Bytes clipFile = CurrentFile("CParticleClipControl", Bytes()
                                                                 .Version(2, 1)
                                                                 .I32(1)
                                                                 .I32(0)
                                                                 .I32(1)
                                                                 .F32(3)
                                                                 .I32(1)
                                                                 .F32(1)
                                                                 .U32(0xFFFFFFFFu)
                                                                 .U32(2)
                                                                 .F32(0)
                                                                 .F32(0)
                                                                 .F32(200)
                                                                 .F32(0)
                                                                 .F32(1)
                                                                 .U8(0)
                                                                 .U8(0)
                                                                 .U8(0)
                                                                 .U8(0));
  ExpectSaves(clip.get(), clipFile);

  ExpectLayouts({
      {"map, old", OldFile("CUvwMapControl", mapBlock(2), 2, 0), mapFile},
      {"map under its older name", OldFile("CTriMeshUVWMapControl", mapBlock(2), 2, 0), mapFile},
      {"map base, old", OldFile("CUvwMapDataControl", Bytes(), 0, 0), bareFile},
      // Old emitters: four bytes before the settings, and their one window in the timing fields.
      {"emitter, old", OldFile("CParticleControl", Bytes().U32(99).Append(settings), 0.5f, 2),
       particleFile},
      {"repeating emitter, old",
       OldFile("CParticleControl", Bytes().U32(99).Append(settings), 0.5f, 2, kOutOfRangeLoop),
       single},
      // 2.0 in a current file: no leading bytes, no lists, the window from the current fields
      // (aux value 1, priority 0).
      {"emitter 2.0", CurrentFile("CParticleControl", Bytes().Version(2, 0).Append(settings)),
       CurrentFile("CParticleControl", Bytes().Version(2, 1).Append(settings).Append(
                                           Floats({1, 0}).U32(2).U8(1).U8(0)))},
      {"particle clip, current", clipFile, clipFile},
  });
}

TEST_F(MaterialMapParticleControls, HostileCountsAndNewerBlocksAreRefused) {
  auto status = [](const char* cls, const Bytes& own) {
    CPersistContext context;
    return test::LoadFromBytes(CurrentFile(cls, own).data, context);
  };
  const Bytes settings = EmitterSettings();
  EXPECT_EQ(status("CParticleControl", Bytes().Version(2, 1).Append(settings).U32(0x40000000u)),
            kErrStream);
  EXPECT_EQ(
      status("CParticleControl", Bytes().Version(2, 1).Append(settings).U32(0).U32(0xFFFFFFFFu)),
      kErrStream);
  EXPECT_EQ(status("CMaterialControl", Bytes().Version(2, 3).U32(0xFFFFFFFFu)), kErrStream);
  EXPECT_EQ(status("CMaterialLayerControl", Bytes().Version(2, 0).U32(0x7FFFFFFFu)), kErrStream);
  EXPECT_EQ(status("CUvwMapControl", Bytes().Version(2, 1).U32(0x20000000u)), kErrStream);
  EXPECT_EQ(status("CUvwMapClipControl", Bytes().Version(2, 1).I32(0).I32(0x10000000)), kErrStream);
  EXPECT_EQ(status("CMaterialControl", Bytes().Version(2, 4)), kErrNewerVersion);
  EXPECT_EQ(status("CParticleControl", Bytes().Version(2, 2)), kErrNewerVersion);
}

// --- texture-coordinate maps -------------------------------------------------------------------

TEST_F(MaterialMapParticleControls, MapKeysMoveEveryCoordinateAndNeverStrayPastTheMap) {
  CRefPtr<CUvwMap> map(new CUvwMap);
  map->mapVertices.items = {{9, 9, 9}, {9, 9, 9}, {9, 9, 9}};
  CRefPtr<CUvwMapControl> c(new CUvwMapControl);
  c->coordinateKeys = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0},   // key 0
                       {2, 0, 0}, {1, 4, 0}, {0, 1, 8}};  // key 1
  c->keyTimes = {0, 2};
  ASSERT_EQ(map->AttachController(c.get()), kOk);
  ASSERT_EQ(map->Update(0.5f), kOk);
  // One parameter (0.25) for all three coordinates.
  ExpectNear(map->mapVertices[0], {0.5f, 0, 0});
  ExpectNear(map->mapVertices[1], {1, 1, 0});
  ExpectNear(map->mapVertices[2], {0, 1, 2});

  // The map gained a coordinate, or lost one, since the keys were made: the keys no longer
  // describe it, and nothing is read or written.
  map->mapVertices.items.push_back({7, 7, 7});
  const auto before = map->mapVertices.items;
  EXPECT_EQ(c->Update(1), kErrMalformed);
  EXPECT_EQ(map->mapVertices.items, before);
  map->mapVertices.items.resize(2);
  EXPECT_EQ(c->Update(1), kErrMalformed);
  // A key list cut short.
  map->mapVertices.items.resize(3);
  c->coordinateKeys.pop_back();
  EXPECT_EQ(c->Update(1), kErrMalformed);
  // Only a map takes coordinates.
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  c->SetOwner(material.get());
  EXPECT_EQ(c->Update(1), kErrBadArgument);
}

// --- materials ---------------------------------------------------------------------------------

CRefPtr<CMaterialControl> AmbientKeys(V from, V to) {
  CRefPtr<CMaterialControl> c(new CMaterialControl);
  c->times1 = {0, 2};
  c->ambientKeys = {from, to};
  c->diffuseKeys = {from};  // shorter than its times: the material's own value holds
  c->times2 = {0};
  c->param9Keys = {from.x};
  c->channelTimes[0] = {1};
  c->channelKeys[0] = {{{0.5f, 0.5f}, {2, 2}}};
  return c;
}

TEST_F(MaterialMapParticleControls, MaterialKeysAndWhereTheyAreWritten) {
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  material->channelOffset[2] = {3, 3};
  material->Validate();
  auto c = AmbientKeys({0, 0, 0}, {1, 0, 1});
  ASSERT_EQ(material->AttachController(c.get()), kOk);
  // Disabled before it ever computed anything: nothing is written over the material.
  c->enabled = false;
  ASSERT_EQ(material->Update(1), kOk);
  ExpectNear(material->ambient, {0.2f, 0.2f, 0.2f});
  EXPECT_TRUE(material->IsValid());
  c->enabled = true;
  ASSERT_EQ(material->Update(1), kOk);
  ExpectNear(material->ambient, {0.5f, 0, 0.5f});
  ExpectNear(material->diffuse, {0.8f, 0, 0});
  EXPECT_EQ(material->param[9], 0);
  EXPECT_EQ(material->channelOffset[1], (CUvPair{0.5f, 0.5f}));  // channel 1 at its key
  EXPECT_EQ(material->channelOffset[2], (CUvPair{0, 0}));        // channel 2 has no keys
  EXPECT_EQ(material->channelTiling[2], (CUvPair{1, 1}));
  EXPECT_FALSE(material->IsValid());

  // Another kind of material has none of these fields: an error, and nothing is written.
  CRefPtr<CMultiMaterial> other(new CMultiMaterial);
  c->SetOwner(other.get());
  EXPECT_EQ(c->Update(1), kErrBadArgument);
  EXPECT_EQ(c->ApplyData(), kErrBadArgument);
  c->SetOwner(nullptr);
  EXPECT_EQ(c->ApplyData(), kErrBadArgument);
}

TEST_F(MaterialMapParticleControls, MaterialLayerAddsItsSubControllersByWeight) {
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  material->channelOffset[6] = {4, 5};
  CRefPtr<CMaterialLayerControl> layer(new CMaterialLayerControl);
  layer->layer.subControllers = {AmbientKeys({1, 0, 0}, {1, 0, 0}).get(),
                                 AmbientKeys({0, 0, 2}, {0, 0, 2}).get()};
  ASSERT_EQ(material->AttachController(layer.get()), kOk);
  // Without weight keys each counts half; the offsets are the material's own.
  ASSERT_EQ(material->Update(1), kOk);
  ExpectNear(material->ambient, {0.5f, 0, 1});
  ExpectNear(material->diffuse, {0.8f, 0, 0});  // neither has a diffuse key there
  EXPECT_EQ(material->channelOffset[6], (CUvPair{4, 5}));
  // Weight keys: at 1 s the first weighs 0.75, the second 0.25.
  layer->weightTracks = {{1, 0.5f}, {0, 0.5f}};
  layer->weightTimes = {0, 2};
  ASSERT_EQ(material->Update(1), kOk);
  ExpectNear(material->ambient, {0.75f, 0, 0.5f});
  EXPECT_FLOAT_EQ(material->param[9], 0.75f);
  EXPECT_FLOAT_EQ(layer->GetDuration(), 2);
}

// --- particles ---------------------------------------------------------------------------------

CRefPtr<CParticles> System(int32_t capacity) {
  CRefPtr<CParticles> system(new CParticles);
  EXPECT_EQ(system->SetCapacity(capacity), kOk);
  system->position = {0, 10, 0};
  return system;
}

TEST_F(MaterialMapParticleControls, EmittersStartMoveAndEndParticles) {
  auto system = System(8);
  CRefPtr<CParticleControl> c(new CParticleControl);
  c->emitValue1 = 1.5f;         // life
  c->emitVector1 = {1, 0, 0};   // velocity
  c->emitVector2 = {0, -2, 0};  // acceleration
  c->emitValue3 = 1;            // one a second
  c->emitVector3 = c->emitVector4 = {0, 1, 0};
  c->eventTimes = {0, 10};
  c->eventFlags = {1, 0};
  ASSERT_EQ(system->AttachController(c.get()), kOk);
  ASSERT_EQ(c->Update(0), kOk);
  EXPECT_EQ(system->liveCount, 0);
  ExpectNear(system->particleVector, {0, 11, 0});
  ASSERT_EQ(c->Update(1), kOk);
  ASSERT_EQ(system->liveCount, 1);
  // Born at the start of the step and moved for all of it: p = v t + a t² / 2.
  ExpectNear(system->worldPositions[0], {1, 10, 0});
  // The first particle's life ends; the second is born.
  ASSERT_EQ(c->Update(2), kOk);
  ASSERT_EQ(system->liveCount, 1);
  ExpectNear(system->worldPositions[0], {1, 10, 0});
  EXPECT_FLOAT_EQ(system->particleState2[0], 1);  // its age
  // Half a second's emission is carried, not lost; after the off event nothing more is born.
  ASSERT_EQ(c->Update(2.5f), kOk);
  ASSERT_EQ(c->Update(3), kOk);
  EXPECT_EQ(system->liveCount, 1);
  // Going back in time starts afresh.
  ASSERT_EQ(c->Update(2), kOk);
  EXPECT_EQ(system->liveCount, 0);
  // Never more than the system holds.
  c->emitValue3 = 1000;
  c->emitValue1 = 0;
  ASSERT_EQ(c->Update(3), kOk);
  EXPECT_EQ(system->liveCount, 8);
  // After the off event nothing more is born.
  system->liveCount = 0;
  ASSERT_EQ(c->Update(11), kOk);
  EXPECT_EQ(system->liveCount, 0);
  // Only a particle system takes particles.
  CRefPtr<CStandardMaterial> material(new CStandardMaterial);
  c->SetOwner(material.get());
  EXPECT_EQ(c->Update(2), kErrBadArgument);
}

TEST_F(MaterialMapParticleControls, TheSameEmitterAndTimesGiveTheSameParticles) {
  auto a = Emitter();
  a->emitVector5 = {1, 2, 3};
  a->eventTimes = {0};
  a->eventFlags = {1};
  CRefPtr<CBase> copy;
  ASSERT_EQ(a->Clone(copy), kOk);
  auto one = System(64), two = System(64);
  ASSERT_EQ(one->AttachController(a.get()), kOk);
  ASSERT_EQ(two->AttachController(static_cast<CControl*>(copy.get())), kOk);
  for (float t : {0.0f, 0.3f, 0.9f, 1.7f, 2.5f}) {
    ASSERT_EQ(one->controllers->Update(t), kOk);
    ASSERT_EQ(two->controllers->Update(t), kOk);
  }
  ASSERT_GT(one->liveCount, 2);
  EXPECT_EQ(one->liveCount, two->liveCount);
  EXPECT_EQ(one->worldPositions.items, two->worldPositions.items);
  // Starting over from the first event replays the same particles.
  const auto first = one->worldPositions.items;
  for (float t : {0.0f, 0.3f, 0.9f, 1.7f, 2.5f}) ASSERT_EQ(one->controllers->Update(t), kOk);
  EXPECT_EQ(one->worldPositions.items, first);
}

TEST_F(MaterialMapParticleControls, ParticleClipPlaysOneEmitterAfterTheOther) {
  auto system = System(16);
  auto first = Emitter(), second = Emitter();
  first->emitVector3 = first->emitVector4 = {1, 0, 0};
  second->emitVector3 = second->emitVector4 = {0, 2, 0};
  for (auto* e : {first.get(), second.get()}) {
    e->eventTimes = {0};
    e->eventFlags = {1};
  }
  CRefPtr<CParticleClipControl> clip(new CParticleClipControl);
  clip->clip.subControllers = {first.get(), second.get()};
  ClipEntry a, b;
  a.source = 0;
  b.source = 1;
  clip->clip.clipStart = {0, 2};
  clip->clip.clipRecords = {a, b};
  ASSERT_EQ(system->AttachController(clip.get()), kOk);
  EXPECT_EQ(clip->Update(-1), kNothingDone);  // before the first clip
  ASSERT_EQ(system->Update(1), kOk);
  ExpectNear(system->particleVector, {1, 10, 0});
  EXPECT_FLOAT_EQ(first->previousScaled, 1);
  ASSERT_EQ(system->Update(3.5f), kOk);
  ExpectNear(system->particleVector, {0, 12, 0});
  EXPECT_FLOAT_EQ(second->previousScaled, 1.5f);  // the time within its clip
  clip->enabled = false;
  EXPECT_EQ(clip->Update(1), kNothingDone);
}

}  // namespace
}  // namespace KX
