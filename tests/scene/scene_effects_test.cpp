// Billboards, particle systems, image layers and sound: their records in both layouts, byte by
// byte, what each walk reaches from them, their updates and copies, and what a damaged record
// may not make them do.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "object/container.h"
#include "object/walker.h"
#include "material/material.h"
#include "scene/audio.h"
#include "scene/billboard.h"
#include "scene/bounding_objects.h"
#include "scene/image_layer.h"
#include "scene/particles.h"
#include "scene_fixtures.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

// The blocks below a class's own, for an object without name, chains or attachments and with
// the identity transform; `old` writes them as streams below 2.00 do.
Bytes Head(int32_t id, bool old) {
  if (old) return Bytes().I32(id).A("").I32(0).I32(0).I32(0);
  return Bytes().Version(2, 0).I32(id).W(u"").Version(2, 0).I32(0).I32(0).I32(0);
}

Bytes Spatial(bool old) {
  Bytes b;
  if (old) {
    for (int i = 0; i < 16; ++i) b.F32(i % 5 == 0 ? 1.0f : 0.0f);
    return b.U8(1).I32(0);
  }
  b.Version(2, 2);
  for (int i = 0; i < 9; ++i) b.F32(i % 4 == 0 ? 1.0f : 0.0f);
  b.F32(0).F32(0).F32(0).F32(1).F32(1).F32(1);
  return b.U32(0).I32(0).I32(0).U8(1).U8(0);
}

// Positions only: no vertex values, normals, map vertices or index lists.
Bytes Geometry(const std::vector<V>& positions, int32_t materialId, bool old) {
  Bytes b;
  if (!old) b.Version(2, 0);
  b.I32(static_cast<int32_t>(positions.size()));
  for (const V& p : positions) b.F32(p.x).F32(p.y).F32(p.z);
  b.I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0).I32(0);
  return b.I32(materialId).U8(0);
}

Bytes Record(const char* className, const Bytes& body, bool old) {
  Bytes b = Bytes().A(className);
  if (!old) b.I32(static_cast<int32_t>(body.size()));
  return b.Append(body);
}

// A box as the objects' shared target: its record follows theirs as id 2.
Bytes BoxRecord(bool old) {
  Bytes body = Head(2, old);
  if (!old) body.Version(2, 0);
  for (int i = 0; i < 24; ++i) body.F32(0);
  return Record("CBoundingBox", body, old);
}

Bytes File(const Bytes& records, bool old, int32_t minor = 1) {
  if (old)
    return test::OldHeader("1.50")
        .Append(test::OldEmptyThumbnail())
        .A("_CorvaRoot")
        .Append(records);
  return Bytes().Text("_KXBrix").I32(2).I32(minor).I32(0).I32(0).A("_Root").Append(records);
}

// The record of the layer in BothLayoutsAreByteExact; without `versioned` as files of stream
// version 2.00 and older store it: no version pair, no third flag.
Bytes LayerBlock(bool old, bool versioned, uint8_t flag3) {
  Bytes body = Head(1, old).Append(Spatial(old));
  if (versioned) body.Version(2, 2);
  body.F32(0.5f).Raw("\1\2\3\4\5\6\7\10", 8).U32(3).U32(4).Raw("\10\7\6\5\4\3\2\1", 8);
  for (uint32_t v = 5; v <= 11; ++v) body.U32(v);
  body.U8(0).U8(1);
  if (versioned) body.U8(flag3);
  return body.U32(12).I32(2).I32(2).I32(0).I32(2);
}

PcmFormat Format(uint16_t channels, uint32_t rate, uint16_t bits) {
  const auto align = static_cast<uint16_t>(channels * bits / 8);
  return {kWaveFormatPcm, channels, rate, rate * align, align, bits};
}

class SceneEffects : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
};

// Each class with distinct values in every stored field, its box (id 2) in a reference slot and
// an empty slot; the old layout, loaded and saved, must give the current bytes.
TEST_F(SceneEffects, BothLayoutsAreByteExact) {
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  CRefPtr<CBillboard> billboard(new CBillboard);
  billboard->positions.items = {{1, 2, 3}};
  billboard->billboardValue1 = 5;
  billboard->billboardValue2 = 0xFFFFFFFE;
  billboard->subObjects = {box, nullptr};
  CRefPtr<CParticles> particles(new CParticles);
  ASSERT_EQ(particles->SetCapacity(2), kOk);
  particles->particleValue = 9;
  CRefPtr<CImageLayer> layer(new CImageLayer);
  layer->layerValue1 = 0.5f;
  layer->layerValue2 = {1, 2, 3, 4, 5, 6, 7, 8};
  layer->layerValue5 = {8, 7, 6, 5, 4, 3, 2, 1};
  uint32_t* values[] = {&layer->layerValue3,  &layer->layerValue4,  &layer->layerValue6,
                        &layer->layerValue7,  &layer->layerValue8,  &layer->layerValue9,
                        &layer->layerValue10, &layer->layerValue11, &layer->layerValue12,
                        &layer->layerValue13};
  for (uint32_t i = 0; i < std::size(values); ++i) *values[i] = 3 + i;
  layer->layerFlag2 = true;
  layer->layerSource = box;
  layer->layerObjects = {nullptr, box};
  CRefPtr<CAudioInstance> emitter(new CAudioInstance);
  emitter->audioValue1 = 1;
  emitter->audioValue5 = 5;
  emitter->audioScale1 = 0.1f;
  emitter->audioScale2 = 0.2f;
  emitter->audioScale3 = 0.3f;
  CRefPtr<CAudioData> sound(new CAudioData);
  sound->format = Format(1, 8000, 8);
  sound->samples = {0x80, 0x81, 0x7F};
  emitter->SetAudio(sound.get());

  // The class blocks; the base blocks come from the helpers above.
  auto billboardRecords = [](bool old) {
    Bytes body = Head(1, old).Append(Spatial(old)).Append(Geometry({{1, 2, 3}}, 0, old));
    if (!old) body.Version(2, 0);
    body.U32(5).U32(0xFFFFFFFE).I32(2).I32(2).I32(0);
    return Record("CBillboard", body, old).Append(BoxRecord(old));
  };
  auto particleRecords = [](bool old) {
    // Whatever positions the record stores, the particle system starts with zeros.
    const std::vector<V> stored = old ? std::vector<V>{{7, 7, 7}, {8, 8, 8}} : std::vector<V>(2);
    Bytes body = Head(1, old).Append(Spatial(old)).Append(Geometry(stored, 0, old));
    if (!old) body.Version(2, 0);
    return Record("CParticles", body.I32(2).U32(9), old);
  };
  auto layerRecords = [](bool old) {
    return Record("CImageLayer", LayerBlock(old, !old, 0), old).Append(BoxRecord(old));
  };
  auto emitterRecords = [](bool old) {
    Bytes body = Head(1, old).Append(Spatial(old));
    if (!old) body.Version(2, 1);
    body.U32(1).U32(0).U32(0).U32(0).U32(5).F32(0.2f).F32(0.3f).F32(0.1f).I32(2);
    if (!old) body.U32(0);  // audioValue0
    Bytes data = Head(2, old);
    if (!old) data.Version(2, 0);
    data.I16(1).I16(1).U32(8000).U32(8000).I16(1).I16(8).U32(3).U8(0x80).U8(0x81).U8(0x7F);
    return Record("CAudioInstance", body, old).Append(Record("CAudioData", data, old));
  };
  const std::pair<CBase*, std::function<Bytes(bool)>> cases[] = {
      {billboard.get(), billboardRecords},
      {particles.get(), particleRecords},
      {layer.get(), layerRecords},
      {emitter.get(), emitterRecords}};
  for (const auto& [object, records] : cases) {
    SCOPED_TRACE(object->GetRuntimeClass()->className);
    const Bytes current = File(records(false), false);
    EXPECT_EQ(test::SaveRootToBytes(object), current.data);
    CPersistContext context;
    ASSERT_EQ(test::LoadFromBytes(File(records(true), true).data, context), kOk)
        << context.diagnostics.Describe();
    EXPECT_EQ(test::SaveRootToBytes(context.roots.at(0).get()), current.data);
  }
}

TEST_F(SceneEffects, ImageLayersOfStreamVersion200HaveNoVersionPairOrThirdFlag) {
  for (const auto& [minor, versioned] : {std::pair{0, false}, std::pair{1, true}}) {
    SCOPED_TRACE(minor);
    Bytes records = Record("CImageLayer", LayerBlock(false, versioned, 1), false);
    CPersistContext context;
    ASSERT_EQ(
        test::LoadFromBytes(File(records.Append(BoxRecord(false)), false, minor).data, context),
        kOk)
        << context.diagnostics.Describe();
    EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
    auto* layer = KindOf<CImageLayer>(context.roots.at(0).get());
    ASSERT_TRUE(layer);
    EXPECT_EQ(layer->layerFlag3, versioned);
    EXPECT_EQ(layer->layerValue13, 12u);
    EXPECT_TRUE(layer->layerSource);
  }
}

TEST_F(SceneEffects, EmittersOfClassVersion20HaveNoValue0) {
  Bytes body = Head(1, false).Append(Spatial(false)).Version(2, 0);
  body.U32(1).U32(2).U32(3).U32(4).U32(5).F32(1).F32(1).F32(1).I32(0);
  CPersistContext context;
  ASSERT_EQ(test::LoadFromBytes(File(Record("CAudioInstance", body, false), false).data, context),
            kOk)
      << context.diagnostics.Describe();
  EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
  auto* emitter = KindOf<CAudioInstance>(context.roots.at(0).get());
  ASSERT_TRUE(emitter);
  EXPECT_EQ(emitter->audioValue0, 0u);
  EXPECT_EQ(emitter->audioValue5, 5u);
}

TEST_F(SceneEffects, CountsAndCapacitiesAFileCannotBackAreRefused) {
  auto load = [](const Bytes& records, CPersistContext& context) {
    return test::LoadFromBytes(File(records, false).data, context);
  };
  auto particles = [](size_t storedPositions, int32_t capacity) {
    Bytes body = Head(1, false).Append(Spatial(false));
    body.Append(Geometry(std::vector<V>(storedPositions, V{1, 1, 1}), 0, false));
    return Record("CParticles", body.Version(2, 0).I32(capacity).U32(0), false);
  };
  // A capacity beyond the positions the record stores is malformed, however large; no memory
  // is claimed for it.
  for (const auto& [stored, capacity] :
       {std::pair<size_t, int32_t>{0, 0x7FFFFFFF}, {2, 3}, {2, -1}}) {
    SCOPED_TRACE(capacity);
    CPersistContext context;
    EXPECT_EQ(load(particles(stored, capacity), context), kErrMalformed);
    EXPECT_NE(context.diagnostics.Describe().find("particle capacity"), std::string::npos)
        << context.diagnostics.Describe();
  }
  // No capacity: the stored positions stay as they are.
  CPersistContext empty;
  ASSERT_EQ(load(particles(2, 0), empty), kOk);
  auto* none = KindOf<CParticles>(empty.roots.at(0).get());
  EXPECT_EQ(none->positions.items, (std::vector<V>{{1, 1, 1}, {1, 1, 1}}));
  EXPECT_TRUE(none->particleColors.empty() && none->particleState1.empty());

  // Sample bytes that cannot fit in what is left are a stream error, before any allocation.
  Bytes sound = Head(1, false).Version(2, 0);
  sound.I16(1).I16(1).U32(8000).U32(8000).I16(1).I16(8).U32(0xFFFFFFFF).U8(0x80);
  CPersistContext context;
  EXPECT_EQ(load(Record("CAudioData", sound, false), context), kErrStream);
}

TEST_F(SceneEffects, ParticleCapacityUpdateAndCopies) {
  CRefPtr<CParticles> particles(new CParticles);
  EXPECT_EQ(particles->SetCapacity(-1), kErrBadArgument);
  ASSERT_EQ(particles->SetCapacity(3), kOk);
  EXPECT_EQ(particles->particleState10, (std::vector<float>{0, 0, 0}));

  // Frozen: nothing happens; otherwise the positions stay as written, in world space.
  particles->worldPositions[1] = {4, 5, 6};
  particles->transform.Mutable().SetRow(3, {10, 0, 0}, 1.0f);
  particles->frozen = true;
  EXPECT_EQ(particles->Update(0), kNothingDone);
  EXPECT_FALSE(particles->inWorldSpace);
  particles->frozen = false;
  ASSERT_EQ(particles->Update(0), kOk);
  EXPECT_TRUE(particles->inWorldSpace && particles->normalsValid);
  EXPECT_EQ(particles->worldPositions[1], (V{4, 5, 6}));

  // A copy has the capacity and the vector, not the particles; assigning the same capacity
  // keeps the target's particles, another capacity replaces them.
  particles->particleVector = {1, 2, 3};
  particles->particleState1[0] = {9, 9, 9};
  CRefPtr<CBase> cloned;
  ASSERT_EQ(particles->Clone(cloned), kOk);
  auto* copy = KindOf<CParticles>(cloned.get());
  ASSERT_TRUE(copy && copy->capacity == 3);
  EXPECT_EQ(copy->particleVector, (V{1, 2, 3}));
  EXPECT_EQ(copy->particleState1[0], V{});
  copy->particleState1[0] = {7, 7, 7};
  ReleasedList released;
  ASSERT_EQ(particles->AssignTo(copy, released), kOk);
  EXPECT_EQ(copy->particleState1[0], (V{7, 7, 7}));
  ASSERT_EQ(particles->SetCapacity(5), kOk);
  ASSERT_EQ(particles->AssignTo(copy, released), kOk);
  EXPECT_EQ(copy->particleState1, std::vector<V>(5));

  // No capacity frees every particle array.
  ASSERT_EQ(copy->SetCapacity(0), kOk);
  EXPECT_TRUE(copy->particleColors.empty() && copy->particleState1.empty() &&
              copy->particleState10.empty());
}

std::string Names(const std::vector<CBase*>& objects) {
  std::string names;
  for (const CBase* object : objects) {
    if (!names.empty()) names += ' ';
    names.append(object->name.begin(), object->name.end());
  }
  return names;
}

TEST_F(SceneEffects, BillboardsKeepTheirSubObjectsOutOfSearches) {
  auto named = [](CCorva* object, const char16_t* name) {
    object->name = name;
    return object;
  };
  CRefPtr<CBillboard> billboard(new CBillboard);
  billboard->name = u"bb";
  billboard->attachment = named(new test::CTestObject, u"att");
  billboard->material = KindOf<CMaterialBase>(named(new CStandardMaterial, u"mat"));
  billboard->subObjects = {named(new test::CTestObject, u"sub1"), nullptr,
                           named(new test::CTestObject, u"sub2")};
  CRefPtr<CImageLayer> layer(new CImageLayer);
  layer->name = u"il";
  layer->attachment = named(new test::CTestObject, u"att");
  layer->layerSource = named(new test::CTestObject, u"src");
  layer->layerObjects = {named(new test::CTestObject, u"o1"), layer->layerSource};
  CRefPtr<CAudioInstance> emitter(new CAudioInstance);
  emitter->name = u"ai";
  emitter->audio = KindOf<CAudioData>(named(new CAudioData, u"snd"));

  struct Case {
    CBase* start;
    const char* search;
    const char* collect;
    const char* resolveAndRemap;
  };
  const Case cases[] = {
      {billboard.get(), "bb att mat", "bb att mat sub1 sub2", "bb mat"},
      {layer.get(), "il att src o1", "il att src o1", "il src o1"},
      {emitter.get(), "ai snd", "ai snd", "ai snd"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.search);
    std::vector<CBase*> found;
    c.start->FindObjects(found, std::nullopt, nullptr, false);
    EXPECT_EQ(Names(found), c.search);
    CPersistContext context;
    ASSERT_EQ(c.start->CollectForSave(context), kOk);
    EXPECT_EQ(Names(context.saveList), c.collect);
    for (Walks walk : {kResolve, kRemap}) {
      std::vector<CBase*> reached;
      ASSERT_EQ(Walk(c.start, walk,
                     [&](CBase* object) {
                       reached.push_back(object);
                       return WalkStep::kDescend;
                     }),
                kOk);
      EXPECT_EQ(Names(reached), c.resolveAndRemap);
    }
  }

  // The update moves the rest positions into world space, computes no normals, and updates the
  // sub-objects.
  billboard->positions.items = {{1, 0, 0}};
  billboard->normals.items = {{0, 0, 1}};
  ASSERT_EQ(billboard->SizeWorkingBuffers(), kOk);
  billboard->transform.Mutable().SetRow(3, {0, 0, 5}, 1.0f);
  CRefPtr<test::CTestControl> control(new test::CTestControl);
  ASSERT_EQ(KindOf<CCorva>(billboard->subObjects[2].get())->AttachController(control.get()), kOk);
  ASSERT_EQ(billboard->Update(0), kOk);
  EXPECT_EQ(billboard->worldPositions.items, (std::vector<V>{{1, 0, 5}}));
  EXPECT_EQ(billboard->worldNormals.items, (std::vector<V>{{}}));
  EXPECT_EQ(control->updates, 1);

  // A copy has copies of the sub-objects, shared where the original shares; an assignment
  // shares this billboard's sub-objects and releases the target's.
  billboard->subObjects[2] = billboard->subObjects[0];
  DuplicateMap map;
  CRefPtr<CBase> duplicated;
  ASSERT_EQ(billboard->Duplicate(duplicated, map), kOk);
  auto* copy = KindOf<CBillboard>(duplicated.get());
  ASSERT_TRUE(copy && copy->subObjects.size() == 3);
  EXPECT_NE(copy->subObjects[0], billboard->subObjects[0]);
  EXPECT_EQ(copy->subObjects[0], copy->subObjects[2]);
  ReleasedList released;
  ASSERT_EQ(billboard->AssignTo(copy, released), kOk);
  EXPECT_EQ(copy->subObjects, billboard->subObjects);
  EXPECT_EQ(released.size(), 4u);  // the copy's attachment, material and two sub-object entries
  EXPECT_EQ(billboard->AssignTo(emitter.get(), released), kErrMalformed);
}

TEST_F(SceneEffects, SoundCopiesKeepTheirHeaderAndBecomeWaveFiles) {
  CRefPtr<CAudioData> sound(new CAudioData);
  sound->format = Format(1, 11025, 8);
  sound->samples = {0x80, 0xFF, 0x00};
  // The copy's samples are 8-bit like the original's, so is its header.
  CRefPtr<CBase> cloned;
  ASSERT_EQ(sound->Clone(cloned), kOk);
  auto* copy = KindOf<CAudioData>(cloned.get());
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->format, sound->format);
  EXPECT_EQ(copy->samples, sound->samples);

  CRefPtr<CAudioData> target(new CAudioData);
  target->samples = {1, 2, 3, 4, 5, 6};
  ReleasedList released;
  ASSERT_EQ(sound->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->format.bitsPerSample, 8);
  EXPECT_EQ(target->samples, sound->samples);

  // A wave file: the RIFF header, the header as stored, the samples and a pad byte for an odd
  // count; a header without a format tag says PCM.
  sound->format.formatTag = 0;
  std::vector<uint8_t> wave;
  ASSERT_EQ(EncodeWave(*sound, wave), kOk);
  const Bytes expected = Bytes()
                             .Text("RIFF")
                             .U32(40)
                             .Text("WAVEfmt ")
                             .U32(16)
                             .I16(1)
                             .I16(1)
                             .U32(11025)
                             .U32(11025)
                             .I16(1)
                             .I16(8)
                             .Text("data")
                             .U32(3)
                             .U8(0x80)
                             .U8(0xFF)
                             .U8(0x00)
                             .U8(0);
  EXPECT_EQ(wave, expected.data);
}

}  // namespace
}  // namespace KX
