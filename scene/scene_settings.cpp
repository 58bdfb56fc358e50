#include "scene/scene_settings.h"

#include "core/alloc.h"
#include "object/archive.h"
#include "scene/spatial.h"

namespace KX {

KX_DEFINE_CLASS(CScene, CCorva, 2, 1)
KX_DEFINE_CLASS(CCameraSwitcher, CCorva, 1, 2)

namespace {

// Scene blocks from this version on store object7.
constexpr int32_t kObject7Version = 201;
// Switcher blocks store the active camera from 1.1 on, the secondary camera and the extra object
// from 1.2 on.
constexpr int32_t kActiveCameraVersion = 101;
constexpr int32_t kSecondaryCameraVersion = 102;

constexpr int64_t kSceneMemory = 92;
constexpr int64_t kSwitcherMemory = 68;

constexpr const char* kObjectNames[8] = {"object1", "object2", "object3", "object4",
                                         "object5", "object6", "object7", "object8"};
// Stored, searched and saved: object1 to object7; the first six of them hold scene objects only.
constexpr size_t kStoredObjects = 7;
constexpr size_t kSceneObjectSlots = 6;

template <class T>
Status DuplicateInto(const CRefPtr<T>& original, CRefPtr<T>& slot, DuplicateMap& map) {
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(original->Duplicate(copy, map));
  slot = KindOf<T>(copy.get());
  return kOk;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Scene

std::array<CRefPtr<CBase>*, 8> CScene::Objects() {
  return {&object1, &object2, &object3, &object4, &object5, &object6, &object7, &object8};
}

std::array<const CRefPtr<CBase>*, 8> CScene::Objects() const {
  return {&object1, &object2, &object3, &object4, &object5, &object6, &object7, &object8};
}

Status CScene::Set(CRefPtr<CBase>& slot, CBase* object, bool mark) {
  if (!object) return kErrBadArgument;
  slot = object;
  if (mark) modified = 1;
  return kOk;
}

Status CScene::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CScene*>(out.get());
  const auto mine = Objects();
  const auto theirs = copy->Objects();
  for (size_t i = 0; i < mine.size(); ++i) {
    if (!*mine[i]) continue;
    KX_RETURN_IF_FAILED(DuplicateInto(*mine[i], *theirs[i], map));
    if (theirs[i] != &copy->object8) copy->modified = 1;
  }
  return kOk;
}

Status CScene::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* scene = KindOf<CScene>(target);
  if (!scene) return kErrMalformed;
  scene->value1 = value1;
  scene->value2 = value2;
  scene->value3 = value3;
  scene->value4 = value4;
  scene->value5 = value5;
  scene->value6 = value6;
  auto share = [&](CRefPtr<CBase>& theirs, const CRefPtr<CBase>& mine) -> Status {
    if (theirs) KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(theirs.get())));
    theirs = mine;
    return kOk;
  };
  KX_RETURN_IF_FAILED(share(scene->object1, object1));
  KX_RETURN_IF_FAILED(share(scene->object2, object2));
  KX_RETURN_IF_FAILED(share(scene->object3, object3));
  KX_RETURN_IF_FAILED(share(scene->object4, object4));
  KX_RETURN_IF_FAILED(share(scene->object6, object6));
  return share(scene->object7, object7);
}

Status CScene::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  const auto objects = Objects();
  for (size_t i = 0; i < kSceneObjectSlots; ++i) ar.RefAs<CCorva>(kObjectNames[i], *objects[i]);
  if (version >= kObject7Version) ar.Ref(kObjectNames[6], object7);
  ar("value1", value1)("value2", value2)("value3", value3)("value4", value4);
  ar("value5", value5)("value6", value6);
  return ar.status();
}

int64_t CScene::GetMemorySize() const { return CCorva::GetMemorySize() + kSceneMemory; }

bool CScene::HasAttachments() const {
  const auto objects = Objects();
  for (size_t i = 0; i < kStoredObjects; ++i)
    if (*objects[i]) return true;
  return CCorva::HasAttachments();
}

void CScene::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  const auto objects = Objects();
  for (size_t i = 0; i < kStoredObjects; ++i) visit(*objects[i]);
  visit(object8, kResolve | kRemap);
}

// ---------------------------------------------------------------------------------------------
// Camera switcher

CCameraSwitcher::CCameraSwitcher(const CCameraSwitcher& other)
    : CCorva(other),
      cameras(other.cameras),
      switchTimes(other.switchTimes),
      extraObject(other.extraObject),
      switching(other.switching) {}

Status CCameraSwitcher::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CCorva::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = KindOf<CCameraSwitcher>(out.get());
  if (!copy) return kErrMalformed;
  if (primaryCamera) {
    KX_RETURN_IF_FAILED(DuplicateInto(primaryCamera, copy->primaryCamera, map));
    copy->modified = 1;
  }
  if (extraObject) {
    KX_RETURN_IF_FAILED(DuplicateInto(extraObject, copy->extraObject, map));
    copy->modified = 1;
  }
  return kOk;
}

Status CCameraSwitcher::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* switcher = KindOf<CCameraSwitcher>(target);
  if (!switcher) return kErrMalformed;
  if (switcher == this) return kOk;
  KX_RETURN_IF_FAILED(TryAssign(switcher->cameras, cameras));
  KX_RETURN_IF_FAILED(TryAssign(switcher->switchTimes, switchTimes));
  switcher->switching = switching;
  switcher->activeCamera = activeCamera;
  switcher->secondaryCamera = secondaryCamera;
  if (switcher->primaryCamera)
    KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(switcher->primaryCamera.get())));
  switcher->primaryCamera = primaryCamera;
  if (switcher->extraObject)
    KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(switcher->extraObject.get())));
  switcher->extraObject = extraObject;
  return kOk;
}

Status CCameraSwitcher::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar.RefList("cameras", cameras).Counted("switchTimes", switchTimes);
  ar.Ref("primaryCamera", primaryCamera)("switching", switching);
  if (version >= kActiveCameraVersion) ar.Ref("activeCamera", activeCamera);
  if (version >= kSecondaryCameraVersion)
    ar.Ref("secondaryCamera", secondaryCamera).Ref("extraObject", extraObject);
  return ar.status();
}

int64_t CCameraSwitcher::GetMemorySize() const {
  return CCorva::GetMemorySize() + kSwitcherMemory + 4 * static_cast<int64_t>(cameras.size()) +
         4 * static_cast<int64_t>(switchTimes.size());
}

bool CCameraSwitcher::HasAttachments() const {
  return !cameras.empty() || primaryCamera || activeCamera || extraObject || secondaryCamera ||
         CCorva::HasAttachments();
}

void CCameraSwitcher::VisitReferences(CReferenceVisitor& visit) {
  CCorva::VisitReferences(visit);
  visit.Each(cameras, kRetargetOrFail);
  visit(activeCamera, kRetargetOrFail);
  visit(primaryCamera);
  visit(secondaryCamera, kSearch | kRemap);
  visit(extraObject);
}

Status CCameraSwitcher::Update(float time) {
  if (switching == 0) {
    // The fixed camera is driven only while it is the active one.
    CBase* fixed = primaryCamera && primaryCamera.get() == activeCamera ? primaryCamera.get()
                   : secondaryCamera && secondaryCamera == activeCamera ? secondaryCamera
                                                                        : nullptr;
    if (auto* camera = KindOf<CSpatial>(fixed))
      return camera->UpdateHierarchy(time, 0.0f, 0.0f, true);
    return kNothingDone;
  }
  if (switchTimes.empty() || cameras.empty()) {
    activeCamera = nullptr;
  } else {
    bool passed = false;
    size_t interval = switchTimes.size();  // none found
    for (size_t i = 0; i < switchTimes.size(); ++i) {
      if (!(switchTimes[i] <= time)) continue;
      passed = true;
      if (i + 1 < switchTimes.size() && time < switchTimes[i + 1]) interval = i;
    }
    if (!passed)
      activeCamera = nullptr;
    else if (interval == switchTimes.size())
      activeCamera = cameras.back();
    else
      // A list with fewer cameras than times keeps its last camera for the intervals it lacks.
      activeCamera = interval < cameras.size() ? cameras[interval] : cameras.back();
  }
  modified = 1;
  return kOk;
}

}  // namespace KX
