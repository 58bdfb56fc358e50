#include "scene/camera.h"

#include "core/alloc.h"
#include "object/archive.h"
#include "object/container.h"
#include "scene/light.h"

namespace KX {

KX_DEFINE_CLASS(CCamera, CSpatial, 2, 0)
KX_DEFINE_CLASS(CCameraTarget, CSpatial, 2, 0)

namespace {

// Blocks stored from this version on end with param8 to param11.
constexpr int32_t kExtraParamsVersion = 200;

constexpr int64_t kCameraMemory = 124;

}  // namespace

Status CCamera::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CSpatial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CCamera*>(out.get());
  if (target) {
    CRefPtr<CBase> targetCopy;
    KX_RETURN_IF_FAILED(target->Duplicate(targetCopy, map));
    copy->target = KindOf<CSpatial>(targetCopy.get());
    copy->modified = 1;
  }
  return kOk;
}

Status CCamera::AssignTo(CBase* targetObject, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CSpatial::AssignTo(targetObject, released));
  auto* camera = KindOf<CCamera>(targetObject);
  if (!camera) return kErrMalformed;
  camera->param1 = param1;
  camera->param2 = param2;
  camera->param3 = param3;
  camera->param4 = param4;
  camera->param5 = param5;
  camera->param6 = param6;
  camera->param7 = param7;
  camera->localEye = localEye;
  camera->localUp = localUp;
  camera->worldEye = worldEye;
  camera->worldUp = worldUp;
  camera->cameraFlag = cameraFlag;
  camera->fixedTarget = fixedTarget;
  camera->localTarget = localTarget;
  camera->worldTarget = worldTarget;
  camera->param8 = param8;
  camera->param9 = param9;
  camera->param10 = param10;
  camera->param11 = param11;
  // The target camera shares this camera's target object; the one it had goes to the caller.
  if (camera->target && camera->target != target)
    KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(camera->target.get())));
  camera->target = target;
  return kOk;
}

Status CCamera::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("param1", param1)("param2", param2)("param3", param3)("param4", param4);
  ar("param5", param5)("param6", param6)("param7", param7)("localEye", localEye);
  ar("localUp", localUp)("localTarget", localTarget)("cameraFlag", cameraFlag);
  ar("fixedTarget", fixedTarget).Ref("target", target);
  if (version >= kExtraParamsVersion)
    ar("param8", param8)("param9", param9)("param10", param10)("param11", param11);
  return ar.status();
}

int64_t CCamera::GetMemorySize() const {
  return CSpatial::GetMemorySize() + kCameraMemory;
}

bool CCamera::HasAttachments() const {
  return target || CSpatial::HasAttachments();
}

void CCamera::VisitReferences(CReferenceVisitor& visit) {
  CSpatial::VisitReferences(visit);
  visit(target);
}

Status CCamera::Update(float time) {
  KX_RETURN_IF_FAILED(CSpatial::Update(time));
  worldUp = RotateVector(localUp, transform);
  worldEye = TransformPoint(localEye, transform);
  worldTarget = fixedTarget || !target ? TransformPoint(localTarget, transform)
                                       : target->transform.get().Translation();
  return kOk;
}

void CCamera::CollectSpatials(SpatialQueue& queue) {
  queue.push_back(this);
  if (target) target->CollectSpatials(queue);
}

// ---------------------------------------------------------------------------------------------

Status CCameraTarget::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

}  // namespace KX
