#pragma once
// Textures: what a standard material's channels point to. A texture map refers to its picture
// through a shared image object; the other kinds mix or combine textures, or carry a value.
#include <cstdint>

#include "material/material_base.h"

namespace KX {

class CTexture : public CMaterialBase {
  KX_DECLARE_CLASS(CTexture)

 public:
  CTexture() = default;
  CTexture(const CTexture&) = default;

  Status Persist(CArchive& ar) override;

  // Textures keep no derived state.
  void Invalidate() override {}
  void Validate() override {}
  bool IsValid() const override { return true; }
};

class CTextureMap : public CTexture {
  KX_DECLARE_CLASS(CTextureMap)

 public:
  int32_t channel = 0;  // texture-coordinate channel, counted from 0
  // A CImage or a CAnmImage, shared with every other texture that shows the same picture.
  CRefPtr<CBase> image;

  CTextureMap() = default;
  // Copies the channel; the copy has no image.
  CTextureMap(const CTextureMap& other) : CTexture(other), channel(other.channel) {}

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

class CBlendTex : public CTexture {
  KX_DECLARE_CLASS(CBlendTex)

 public:
  float weight1 = 1.0f;
  float weight2 = 1.0f;
  CRefPtr<CMaterialBase> texture1;
  CRefPtr<CMaterialBase> texture2;

  CBlendTex() = default;
  // Copies the weights; the copy mixes nothing yet.
  CBlendTex(const CBlendTex& other)
      : CTexture(other), weight1(other.weight1), weight2(other.weight2) {}

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

class CNormalBumpTex : public CTexture {
  KX_DECLARE_CLASS(CNormalBumpTex)

 public:
  bool use1 = true;
  bool use2 = true;
  float amount1 = 1.0f;
  float amount2 = 1.0f;
  CRefPtr<CTexture> map1;
  CRefPtr<CTexture> map2;

  CNormalBumpTex() = default;
  // Copies the switches and amounts; the copy has no maps.
  CNormalBumpTex(const CNormalBumpTex& other)
      : CTexture(other),
        use1(other.use1),
        use2(other.use2),
        amount1(other.amount1),
        amount2(other.amount2) {}

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
};

class CRefractionMap : public CTexture {
  KX_DECLARE_CLASS(CRefractionMap)

 public:
  float refraction = 0.95f;

  CRefractionMap() = default;
  CRefractionMap(const CRefractionMap&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

class CCubeMap : public CTexture {
  KX_DECLARE_CLASS(CCubeMap)

 public:
  CCubeMap() = default;
  CCubeMap(const CCubeMap&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Persist(CArchive& ar) override;
};

}  // namespace KX
