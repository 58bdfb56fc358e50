#include <gtest/gtest.h>

#include <cstring>

#include "object/container.h"
#include "scene/bounding_objects.h"
#include "scene/camera.h"
#include "scene/scene_settings.h"
#include "scene_fixtures.h"
#include "support/round_trip.h"

namespace KX {
namespace {

using test::Bytes;
using V = CVector3<float>;

Bytes NewFile() { return test::NewHeader().I32(0).I32(0); }
Bytes BaseBlocks(int32_t id) { return Bytes().Version(2, 0).I32(id).I32(0).Version(2, 0).I32(0).I32(0).I32(0); }
Bytes Record(const char* className, const Bytes& body) {
  return Bytes().A(className).I32(static_cast<int32_t>(body.size())).Append(body);
}
// A box record whose first corner is (marker, 0, 0).
Bytes BoxRecord(int32_t id, float marker) {
  Bytes body = BaseBlocks(id).Version(2, 0).F32(marker);
  for (int i = 1; i < 24; ++i) body.F32(0);
  return Record("CBoundingBox", body);
}
Bytes SceneValues(const CScene& s) {
  Bytes b;
  b.F32(s.value1.x).F32(s.value1.y).F32(s.value1.z);
  b.F32(s.value2.x).F32(s.value2.y).F32(s.value2.z).F32(s.value2.w).U8(s.value3);
  for (const V& v : {s.value4, s.value5}) b.F32(v.x).F32(v.y).F32(v.z);
  return b.F32(s.value6);
}

class SceneObjects : public ::testing::Test {
 protected:
  void SetUp() override { test::RegisterForTests(); }
  Status Load(const Bytes& file) {
    const Status status = test::LoadFromBytes(file.data, context);
    EXPECT_TRUE(context.diagnostics.warnings.empty()) << context.diagnostics.Describe();
    return status;
  }
  CPersistContext context;
};

CRefPtr<CScene> SceneWithValues() {
  CRefPtr<CScene> scene(new CScene);
  scene->value1 = {1, 2, 3};
  scene->value2 = {4, 5, 6, 7};
  scene->value3 = true;
  scene->value4 = {8, 9, 10};
  scene->value6 = 0.25f;
  return scene;
}

TEST_F(SceneObjects, SceneBlockIsByteExactAndOlderBlocksLackObject7) {
  CRefPtr<CScene> scene = SceneWithValues();
  CRefPtr<CBoundingBox> box(new CBoundingBox);
  box->corners[0].x = 5;
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject2(box.get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject8(new CBoundingBox)));  // never saved
  const Bytes sceneBody = BaseBlocks(1).Version(2, 1).I32(0).I32(2).I32(0).I32(0).I32(0).I32(0).I32(0)
                              .Append(SceneValues(*scene));
  const Bytes expected = NewFile().A("_Root").Append(Record("CScene", sceneBody)).Append(BoxRecord(2, 5));
  EXPECT_EQ(test::SaveRootToBytes(scene.get()), expected.data);
  EXPECT_EQ(sceneBody.size() - BaseBlocks(1).size(), 93u);
  EXPECT_EQ(scene->GetSaveSize(), static_cast<int64_t>(Record("CScene", sceneBody).size()));

  // 2.0: six references, then the values straight away.
  const Bytes old = NewFile().A("_Root")
                        .Append(Record("CScene", BaseBlocks(1).Version(2, 0).I32(2).I32(0).I32(0).I32(0).I32(0).I32(3)
                                                     .Append(SceneValues(*scene))))
                        .Append(BoxRecord(2, 1)).Append(BoxRecord(3, 6));
  ASSERT_EQ(Load(old), kOk) << context.diagnostics.Describe();
  auto* loaded = KindOf<CScene>(context.roots.at(0).get());
  ASSERT_TRUE(loaded);
  ASSERT_TRUE(loaded->object1 && loaded->object6);
  EXPECT_EQ(KindOf<CBoundingBox>(loaded->object1.get())->corners[0].x, 1);
  EXPECT_EQ(KindOf<CBoundingBox>(loaded->object6.get())->corners[0].x, 6);
  EXPECT_FALSE(loaded->object7);
  EXPECT_EQ(loaded->value2, scene->value2);
  EXPECT_EQ(loaded->value5, (V{0, 6000, 6000}));
  EXPECT_EQ(loaded->value6, 0.25f);
}

TEST_F(SceneObjects, SceneCopiesKeepEachFieldInItsPlace) {
  CRefPtr<CScene> scene = SceneWithValues();
  CRefPtr<CBoundingBox> shared(new CBoundingBox);
  CRefPtr<CBoundingBox> objects[8];
  for (auto& object : objects) object = new CBoundingBox;
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject1(objects[0].get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject2(shared.get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject3(objects[2].get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject4(shared.get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject5(objects[4].get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject6(objects[5].get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject7(objects[6].get())));
  EXPECT_TRUE(::KX::Succeeded(scene->SetObject8(objects[7].get())));

  DuplicateMap map;
  CRefPtr<CBase> out;
  ASSERT_EQ(scene->Duplicate(out, map), kOk);
  auto* copy = KindOf<CScene>(out.get());
  const CRefPtr<CBase>* mine[] = {&scene->object1, &scene->object2, &scene->object3, &scene->object4,
                                   &scene->object5, &scene->object6, &scene->object7, &scene->object8};
  const CRefPtr<CBase>* theirs[] = {&copy->object1, &copy->object2, &copy->object3, &copy->object4,
                                     &copy->object5, &copy->object6, &copy->object7, &copy->object8};
  for (int i = 0; i < 8; ++i) {
    ASSERT_TRUE(*theirs[i]) << i;
    EXPECT_NE(theirs[i]->get(), mine[i]->get()) << i;
    EXPECT_EQ(theirs[i]->get(), map.at(mine[i]->get()).get()) << i;
  }
  EXPECT_EQ(copy->object2, copy->object4);  // shared stays shared
  EXPECT_EQ(copy->value2, scene->value2);
  EXPECT_EQ(copy->value6, 0.25f);

  // Assigning shares all but object5 and object8.
  CRefPtr<CScene> target(new CScene);
  CRefPtr<CBoundingBox> before(new CBoundingBox);
  EXPECT_TRUE(::KX::Succeeded(target->SetObject1(before.get())));
  EXPECT_TRUE(::KX::Succeeded(target->SetObject5(before.get())));
  ReleasedList released;
  ASSERT_EQ(scene->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->object1, scene->object1);
  EXPECT_EQ(target->object7, scene->object7);
  EXPECT_EQ(target->object5.get(), before.get());
  EXPECT_FALSE(target->object8);
  EXPECT_EQ(target->value4, scene->value4);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), before.get());
  EXPECT_EQ(scene->AssignTo(CRefPtr<CCameraSwitcher>(new CCameraSwitcher).get(), released), kErrMalformed);

  // Searches reach object1 to object7, never object8.
  objects[7]->name = u"hidden";
  objects[6]->name = u"seventh";
  EXPECT_EQ(scene->FindObject(u"hidden", nullptr, false), nullptr);
  EXPECT_EQ(scene->FindObject(u"seventh", nullptr, false), objects[6].get());
  std::vector<CBase*> found;
  scene->FindObjects(found, std::nullopt, &CBoundingBox::classRecord, false);
  EXPECT_EQ(found.size(), 6u);  // object2 and object4 are one box, found once

  CRefPtr<CScene> fresh(new CScene);
  EXPECT_EQ(fresh->SetObject3(nullptr), kErrBadArgument);
  EXPECT_FALSE(fresh->HasAttachments());
  EXPECT_EQ(fresh->SetObject8(shared.get()), kOk);
  EXPECT_FALSE(fresh->modified);
  EXPECT_FALSE(fresh->HasAttachments());
  EXPECT_EQ(fresh->SetObject7(shared.get()), kOk);
  EXPECT_TRUE(fresh->modified);
  EXPECT_TRUE(fresh->HasAttachments());
}

// Three cameras held by a node, the switcher listing them.
struct Rig {
  CRefPtr<CNode> stage{new CNode};
  CRefPtr<CCamera> cams[3]{new CCamera, new CCamera, new CCamera};
  CRefPtr<CCameraSwitcher> switcher{new CCameraSwitcher};
  Rig() {
    for (auto& cam : cams) {
      EXPECT_TRUE(::KX::Succeeded(stage->AddChild(cam.get())));
      switcher->cameras.push_back(cam.get());
    }
    switcher->switching = 1;
    switcher->switchTimes = {0, 5, 10};
  }
};

TEST_F(SceneObjects, SwitcherPicksTheCameraOfTheInterval) {
  Rig rig;
  CSpatial* const a = rig.cams[0].get();
  CSpatial* const b = rig.cams[1].get();
  CSpatial* const c = rig.cams[2].get();
  const std::pair<float, CSpatial*> expected[] = {
      {-1, nullptr}, {0, a}, {4.9f, a}, {5, b}, {9.99f, b}, {10, c}, {25, c}};
  for (const auto& [time, camera] : expected) {
    ASSERT_EQ(rig.switcher->Update(time), kOk);
    EXPECT_EQ(rig.switcher->activeCamera, camera) << time;
  }
  EXPECT_TRUE(rig.switcher->modified);

  // More cameras than times: past the last time it is the last camera of the list.
  CRefPtr<CCamera> extra(new CCamera);
  rig.switcher->cameras.push_back(extra.get());
  EXPECT_TRUE(::KX::Succeeded(rig.switcher->Update(11)));
  EXPECT_EQ(rig.switcher->activeCamera, extra.get());
  // Fewer cameras than times: the intervals without a camera of their own keep the last one.
  rig.switcher->cameras = {a};
  EXPECT_TRUE(::KX::Succeeded(rig.switcher->Update(7)));
  EXPECT_EQ(rig.switcher->activeCamera, a);
  EXPECT_TRUE(::KX::Succeeded(rig.switcher->Update(2)));
  EXPECT_EQ(rig.switcher->activeCamera, a);
  rig.switcher->cameras.clear();
  EXPECT_TRUE(::KX::Succeeded(rig.switcher->Update(2)));
  EXPECT_EQ(rig.switcher->activeCamera, nullptr);
}

TEST_F(SceneObjects, FixedCameraIsDrivenOnlyWhileActive) {
  Rig rig;
  CRefPtr<CCamera> primary(new CCamera);
  CRefPtr<test::CWaitControl> driven(new test::CWaitControl);
  EXPECT_TRUE(::KX::Succeeded(primary->AttachController(driven.get())));
  CRefPtr<test::CWaitControl> second(new test::CWaitControl);
  EXPECT_TRUE(::KX::Succeeded(rig.cams[1]->AttachController(second.get())));
  rig.switcher->primaryCamera = primary;
  rig.switcher->secondaryCamera = rig.cams[1].get();
  rig.switcher->switching = 0;

  rig.switcher->activeCamera = rig.cams[0].get();
  rig.switcher->modified = 0;
  EXPECT_EQ(rig.switcher->Update(3), kNothingDone);
  EXPECT_EQ(rig.switcher->activeCamera, rig.cams[0].get());
  EXPECT_FALSE(rig.switcher->modified);
  EXPECT_TRUE(driven->times.empty() && second->times.empty());

  rig.switcher->activeCamera = primary.get();
  EXPECT_EQ(rig.switcher->Update(3), kOk);
  EXPECT_EQ(driven->times, std::vector<float>{3});
  rig.switcher->activeCamera = rig.cams[1].get();
  EXPECT_EQ(rig.switcher->Update(4), kOk);
  EXPECT_EQ(second->times, std::vector<float>{4});
  EXPECT_EQ(driven->times.size(), 1u);
}

TEST_F(SceneObjects, SwitcherCopiesAndRemapping) {
  Rig rig;
  rig.switcher->primaryCamera = new CCamera;
  rig.switcher->extraObject = new CBoundingBox;
  rig.switcher->secondaryCamera = rig.cams[2].get();
  EXPECT_TRUE(::KX::Succeeded(rig.switcher->Update(6)));

  CRefPtr<CBase> cloned;
  ASSERT_EQ(rig.switcher->Clone(cloned), kOk);
  auto* clone = KindOf<CCameraSwitcher>(cloned.get());
  EXPECT_EQ(clone->cameras, rig.switcher->cameras);
  EXPECT_EQ(clone->switchTimes, rig.switcher->switchTimes);
  EXPECT_EQ(clone->switching, 1);
  EXPECT_EQ(clone->extraObject, rig.switcher->extraObject);
  EXPECT_FALSE(clone->primaryCamera || clone->secondaryCamera || clone->activeCamera);

  // Stage and switcher copied with one map: the list names the copied cameras.
  DuplicateMap map;
  CRefPtr<CBase> stageCopy, out;
  ASSERT_EQ(rig.stage->Duplicate(stageCopy, map), kOk);
  ASSERT_EQ(rig.switcher->Duplicate(out, map), kOk);
  auto* copy = KindOf<CCameraSwitcher>(out.get());
  ASSERT_TRUE(copy->primaryCamera && copy->extraObject);
  EXPECT_NE(copy->primaryCamera, rig.switcher->primaryCamera);
  EXPECT_NE(copy->extraObject, rig.switcher->extraObject);
  ASSERT_EQ(copy->RemapReferences(map), kOk);
  auto* stage = KindOf<CNode>(stageCopy.get());
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(copy->cameras[i], stage->children[i].get());
  // A second remapping finds copies already and leaves them; the active camera is remapped like
  // the list.
  copy->activeCamera = rig.cams[1].get();
  EXPECT_EQ(copy->RemapReferences(map), kOk);
  EXPECT_EQ(copy->cameras[0], stage->children[0].get());
  EXPECT_EQ(copy->activeCamera, stage->children[1].get());
  CRefPtr<CCamera> uncopied(new CCamera);
  copy->activeCamera = uncopied.get();
  EXPECT_EQ(copy->RemapReferences(map), kErrMalformed);

  // A listed camera that was not copied cannot be remapped.
  DuplicateMap alone;
  CRefPtr<CBase> lone;
  ASSERT_EQ(rig.switcher->Duplicate(lone, alone), kOk);
  EXPECT_EQ(KindOf<CCorva>(lone.get())->RemapReferences(alone), kErrMalformed);

  CRefPtr<CCameraSwitcher> target(new CCameraSwitcher);
  CRefPtr<CBoundingBox> old(new CBoundingBox);
  target->extraObject = old;
  ReleasedList released;
  ASSERT_EQ(rig.switcher->AssignTo(target.get(), released), kOk);
  EXPECT_EQ(target->cameras, rig.switcher->cameras);
  EXPECT_EQ(target->activeCamera, rig.cams[1].get());
  EXPECT_EQ(target->secondaryCamera, rig.cams[2].get());
  EXPECT_EQ(target->primaryCamera, rig.switcher->primaryCamera);
  EXPECT_EQ(target->extraObject, rig.switcher->extraObject);
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0].get(), old.get());
  EXPECT_EQ(rig.switcher->AssignTo(CRefPtr<CScene>(new CScene).get(), released), kErrMalformed);
}

TEST_F(SceneObjects, SwitcherRecords) {
  // Current layout: the cameras are children of a node the extra object holds.
  Rig rig;
  rig.switcher->extraObject = rig.stage;
  rig.switcher->primaryCamera = rig.cams[0];
  rig.switcher->secondaryCamera = rig.cams[2].get();
  rig.switcher->switchTimes = {0, 2.5f};
  EXPECT_TRUE(::KX::Succeeded(rig.switcher->Update(3)));
  const CRefPtr<CBase> loaded = test::ExpectRoundTrip(rig.switcher.get());
  auto* back = KindOf<CCameraSwitcher>(loaded.get());
  ASSERT_TRUE(back && back->extraObject);
  auto* stage = KindOf<CNode>(back->extraObject.get());
  ASSERT_EQ(back->cameras.size(), 3u);
  for (size_t i = 0; i < 3; ++i) EXPECT_EQ(back->cameras[i], stage->children.at(i).get());
  EXPECT_EQ(back->activeCamera, stage->children[2].get());
  EXPECT_EQ(back->secondaryCamera, stage->children[2].get());
  EXPECT_EQ(back->primaryCamera.get(), stage->children[0].get());
  EXPECT_EQ(back->switchTimes, (std::vector<float>{0, 2.5f}));
  EXPECT_EQ(back->GetSaveSize(), rig.switcher->GetSaveSize());

  // 1.0: no active camera, secondary camera or extra object; the next record still reads.
  const Bytes old = NewFile().A("_Root")
                        .Append(Record("CCameraSwitcher", BaseBlocks(1).Version(1, 0).I32(0).I32(2).F32(1).F32(2)
                                                              .I32(0).I32(1)))
                        .A("_Root").Append(BoxRecord(2, 3));
  ASSERT_EQ(Load(old), kOk) << context.diagnostics.Describe();
  auto* first = KindOf<CCameraSwitcher>(context.roots.at(0).get());
  ASSERT_TRUE(first);
  EXPECT_EQ(first->switchTimes, (std::vector<float>{1, 2}));
  EXPECT_EQ(first->switching, 1);
  EXPECT_FALSE(first->activeCamera || first->secondaryCamera || first->extraObject);
  EXPECT_EQ(KindOf<CBoundingBox>(context.roots.at(1).get())->corners[0].x, 3);

  // Counts that cannot fit in the file are stream errors.
  for (const Bytes& body : {BaseBlocks(1).Version(1, 2).I32(0x7FFFFFFF),
                            BaseBlocks(1).Version(1, 2).I32(0).I32(0x40000000)}) {
    CPersistContext ctx;
    EXPECT_EQ(test::LoadFromBytes(NewFile().A("_Root").Append(Record("CCameraSwitcher", body)).data, ctx),
              kErrStream);
  }
}

}  // namespace
}  // namespace KX
