#pragma once
// Materials: the surface description meshes share. A standard material holds colours, scalar
// parameters and twelve texture channels; a multi-material lists sub-materials a mesh picks from
// per face; a blend material mixes two materials.
#include <array>
#include <cstdint>
#include <vector>

#include "object/fields.h"
#include "core/math/vector.h"
#include "material/material_base.h"
#include "material/texture.h"

namespace KX {

class CMaterial : public CMaterialBase {
  KX_DECLARE_CLASS(CMaterial)

 public:
  CMaterial() = default;
  CMaterial(const CMaterial&) = default;

  Status Persist(CArchive& ar) override;
};

// A texture-coordinate pair, as the channels store their offsets and tilings.
struct CUvPair {
  float u = 0.0f;
  float v = 0.0f;
  friend constexpr bool operator==(const CUvPair&, const CUvPair&) = default;
};
static_assert(sizeof(CUvPair) == 8);

inline void DescribeValue(CFieldSink& sink, const char* name, const CUvPair& p) {
  CFieldRecord(sink, name)("u", p.u)("v", p.v);
}

class CStandardMaterial : public CMaterial {
  KX_DECLARE_CLASS(CStandardMaterial)

 public:
  static constexpr int32_t kChannels = 12;

  CVector3<float> ambient{0.2f, 0.2f, 0.2f};
  CVector3<float> diffuse{0.8f, 0.0f, 0.0f};
  CVector3<float> specular{0.5f, 0.5f, 0.5f};
  CVector3<float> emissive;
  std::array<float, 10> param{0.5f, 1.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  bool materialFlag = false;
  bool valid = false;  // never saved: up to date since the last Invalidate
  // Channels in use, from the first; saving writes at most kChannels.
  int32_t channelCount = kChannels;
  std::array<CRefPtr<CTexture>, kChannels> channelTexture;
  std::array<float, kChannels> channelAmount;
  std::array<CUvPair, kChannels> channelOffset;
  std::array<CUvPair, kChannels> channelTiling;

  CStandardMaterial();
  // Copies every field; the copy shares the channel textures.
  CStandardMaterial(const CStandardMaterial&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  void Invalidate() override { valid = false; }
  void Validate() override { valid = true; }
  bool IsValid() const override { return valid; }

  // channelCount limited to the channels there are: what saving and collecting walk.
  int32_t UsedChannels() const;
};

class CMultiMaterial : public CMaterial {
  KX_DECLARE_CLASS(CMultiMaterial)

 public:
  // In the order faces index them; entries may be null.
  std::vector<CRefPtr<CMaterialBase>> subMaterials;

  CMultiMaterial() = default;
  // The copy starts with an empty list.
  CMultiMaterial(const CMultiMaterial& other) : CMaterial(other) {}

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  void Invalidate() override;
  void Validate() override;
  // True when every sub-material is up to date (an empty list is).
  bool IsValid() const override;
};

class CBlendMaterial : public CMaterial {
  KX_DECLARE_CLASS(CBlendMaterial)

 public:
  float blendValue = 0.0f;
  CRefPtr<CBase> extraObject;  // stored and copied along with the material
  CRefPtr<CMaterialBase> material1;
  CRefPtr<CMaterialBase> material2;

  CBlendMaterial() = default;
  // Copies the value; the copy shares the three references.
  CBlendMaterial(const CBlendMaterial&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  void Invalidate() override;
  void Validate() override;
  // False when a set material is out of date.
  bool IsValid() const override;
};

}  // namespace KX
