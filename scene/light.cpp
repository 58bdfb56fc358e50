#include "scene/light.h"

#include <bit>
#include <cmath>

#include "core/math/transform.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CLight, CSpatial, 2, 0)
KX_DEFINE_CLASS(CDirectionalLight, CLight, 2, 0)
KX_DEFINE_CLASS(CPointLight, CLight, 2, 0)
KX_DEFINE_CLASS(CSpotLight, CLight, 2, 0)

namespace {

// Files older than this kept four more bytes between a light's colour and its switch.
constexpr int32_t kCurrentBlockVersion = 200;

// What a memory estimate adds for each level.
constexpr int64_t kLightMemory = 16;
constexpr int64_t kDirectionalMemory = 24;
constexpr int64_t kPointMemory = 40;
constexpr int64_t kSpotMemory = 76;

}  // namespace

float DefaultLightRange() { return std::bit_cast<float>(0x5C11AFB4u); }

CVector3<float> TransformPoint(const CVector3<float>& point, const CMatrix4& transform) {
  return TransformCoord(point, transform);
}

CVector3<float> RotateVector(const CVector3<float>& vector, const CMatrix4& transform) {
  CVector3<float> scale, position;
  CMatrix3 rotation;
  DecomposeMatrix(transform, scale, rotation, position);
  return TransformVector(vector, rotation);
}

// ---------------------------------------------------------------------------------------------

Status CLight::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CSpatial::AssignTo(target, released));
  auto* light = KindOf<CLight>(target);
  if (!light) return kErrMalformed;
  light->color = color;
  light->enabled = enabled;
  return kOk;
}

Status CLight::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CSpatial::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("color", color);
  if (version < kCurrentBlockVersion && ar.Loading()) ar.reader().Skip(4);
  ar("enabled", enabled);
  return ar.status();
}

int64_t CLight::GetMemorySize() const { return CSpatial::GetMemorySize() + kLightMemory; }

// ---------------------------------------------------------------------------------------------

Status CDirectionalLight::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CLight::AssignTo(target, released));
  auto* light = KindOf<CDirectionalLight>(target);
  if (!light) return kErrMalformed;
  light->localDirection = localDirection;
  light->worldDirection = worldDirection;
  return kOk;
}

Status CDirectionalLight::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CLight::Persist(ar));
  ar.Version(classRecord);
  ar("localDirection", localDirection);
  return ar.status();
}

int64_t CDirectionalLight::GetMemorySize() const {
  return CLight::GetMemorySize() + kDirectionalMemory;
}

Status CDirectionalLight::Update(float time) {
  KX_RETURN_IF_FAILED(CLight::Update(time));
  worldDirection = RotateVector(localDirection, transform);
  return kOk;
}

// ---------------------------------------------------------------------------------------------

Status CPointLight::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CLight::AssignTo(target, released));
  auto* light = KindOf<CPointLight>(target);
  if (!light) return kErrMalformed;
  light->localPosition = localPosition;
  light->worldPosition = worldPosition;
  light->range = range;
  light->attenuation0 = attenuation0;
  light->attenuation1 = attenuation1;
  light->attenuation2 = attenuation2;
  return kOk;
}

Status CPointLight::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CLight::Persist(ar));
  ar.Version(classRecord);
  ar("localPosition", localPosition)("range", range)("attenuation0", attenuation0);
  ar("attenuation1", attenuation1)("attenuation2", attenuation2);
  return ar.status();
}

int64_t CPointLight::GetMemorySize() const { return CLight::GetMemorySize() + kPointMemory; }

Status CPointLight::Update(float time) {
  KX_RETURN_IF_FAILED(CLight::Update(time));
  worldPosition = TransformPoint(localPosition, transform);
  return kOk;
}

// ---------------------------------------------------------------------------------------------

// pi as 4 atan(1), as the tools that wrote our files computed it, so that a new light saves the
// same outer angle they did.
CSpotLight::CSpotLight() : phi(static_cast<float>(4.0 * std::atan(1.0) / 2.0)) {}

Status CSpotLight::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CLight::AssignTo(target, released));
  auto* light = KindOf<CSpotLight>(target);
  if (!light) return kErrMalformed;
  light->localPosition = localPosition;
  light->worldPosition = worldPosition;
  light->localDirection = localDirection;
  light->worldDirection = worldDirection;
  light->range = range;
  light->falloff = falloff;
  light->attenuation0 = attenuation0;
  light->attenuation1 = attenuation1;
  light->attenuation2 = attenuation2;
  light->theta = theta;
  light->phi = phi;
  return kOk;
}

Status CSpotLight::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CLight::Persist(ar));
  ar.Version(classRecord);
  ar("localPosition", localPosition)("localDirection", localDirection)("range", range);
  ar("falloff", falloff)("attenuation0", attenuation0)("attenuation1", attenuation1);
  ar("attenuation2", attenuation2)("theta", theta)("phi", phi);
  return ar.status();
}

int64_t CSpotLight::GetMemorySize() const { return CLight::GetMemorySize() + kSpotMemory; }

Status CSpotLight::Update(float time) {
  KX_RETURN_IF_FAILED(CLight::Update(time));
  worldPosition = TransformPoint(localPosition, transform);
  worldDirection = RotateVector(localDirection, transform);
  return kOk;
}

}  // namespace KX
