#pragma once
// Lights: spatial objects whose position and direction are given in their own space and turned
// into world values from the current transform at every update. The range, falloff, attenuation
// and cone values are stored, copied and handed on; nothing here lights anything.
#include <cstdint>

#include "scene/spatial.h"

namespace KX {

// The light kinds GetLightType answers.
enum LightType : int32_t {
  kLightDirectional = 1,
  kLightPoint = 2,
  kLightSpot = 3,
};

// Range of a new point or spot light: large enough to reach everything.
float DefaultLightRange();

// Shared by the light kinds and the camera: a point through the current transform, and a
// direction through its rotation alone (scale and mirroring taken out, no translation).
CVector3<float> TransformPoint(const CVector3<float>& point, const CMatrix4& transform);
CVector3<float> RotateVector(const CVector3<float>& vector, const CMatrix4& transform);

class CLight : public CSpatial {
  KX_DECLARE_CLASS(CLight)

 public:
  CVector3<float> color;
  bool enabled = true;

  CLight() = default;
  CLight(const CLight&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // A light is a leaf of the hierarchy and has no geometry to bound.
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override { return kNothingDone; }

  virtual int32_t GetLightType() const = 0;
};

class CDirectionalLight : public CLight {
  KX_DECLARE_CLASS(CDirectionalLight)

 public:
  CVector3<float> localDirection{0.0f, 0.0f, -1.0f};
  CVector3<float> worldDirection{0.0f, 0.0f, -1.0f};  // computed by Update, never saved

  CDirectionalLight() = default;
  CDirectionalLight(const CDirectionalLight&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  Status Update(float time) override;
  int32_t GetLightType() const override { return kLightDirectional; }
};

class CPointLight : public CLight {
  KX_DECLARE_CLASS(CPointLight)

 public:
  CVector3<float> localPosition;
  CVector3<float> worldPosition;  // computed by Update, never saved
  float range = DefaultLightRange();
  float attenuation0 = 1.0f;
  float attenuation1 = 0.0f;
  float attenuation2 = 0.0f;

  CPointLight() = default;
  CPointLight(const CPointLight&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  Status Update(float time) override;
  int32_t GetLightType() const override { return kLightPoint; }
};

class CSpotLight : public CLight {
  KX_DECLARE_CLASS(CSpotLight)

 public:
  CVector3<float> localPosition;
  CVector3<float> worldPosition;  // computed by Update, never saved
  CVector3<float> localDirection{0.0f, 0.0f, -1.0f};
  CVector3<float> worldDirection{0.0f, 0.0f, -1.0f};  // computed by Update, never saved
  float range = DefaultLightRange();
  float falloff = 0.0f;
  float attenuation0 = 1.0f;
  float attenuation1 = 0.0f;
  float attenuation2 = 0.0f;
  float theta = 0.0f;  // inner cone angle, radians
  float phi;           // outer cone angle, radians; a quarter turn when new

  CSpotLight();
  CSpotLight(const CSpotLight&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  Status Update(float time) override;
  int32_t GetLightType() const override { return kLightSpot; }
};

}  // namespace KX
