#pragma once
// Outdoor environment objects that are not placed in space themselves: the sky, the water and the
// terrain. Each holds one content object (the geometry a renderer builds them from) and, for sky
// and water, a few settings that are stored and copied but not computed with here.
#include <cstdint>

#include "object/scene_object_base.h"
#include "core/math/vector.h"

namespace KX {

// What sky, water and terrain have in common: the content reference, which every walk follows
// after the chains. Not a class of the file format: its field is stored (and stated) in each
// concrete class's own block.
class CEnvironmentObject : public CCorva {
 public:
  CRefPtr<CCorva> content;

  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

 protected:
  CEnvironmentObject() = default;
  // A copy starts without content.
  CEnvironmentObject(const CEnvironmentObject& other) : CCorva(other) {}

  // The target shares the content; what it held before goes to `released`. The caller has
  // checked that the target is of its own class.
  Status ShareContentWith(CEnvironmentObject& target, ReleasedList& released) const;
};

class CSky : public CEnvironmentObject {
  KX_DECLARE_CLASS(CSky)

 public:
  bool skyFlag = false;

  CSky() = default;
  CSky(const CSky&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

class CWater : public CEnvironmentObject {
  KX_DECLARE_CLASS(CWater)

 public:
  CVector3<float> waterVector1{0.0f, 0.0f, 0.0f};
  bool waterFlag1 = false;
  CVector3<float> waterVector2{0.0f, 0.0f, 1.0f};
  CVector3<float> waterVector3{0.0f, 0.0f, 0.0f};
  float waterValue1 = 0.5f;
  float waterValue2 = 1.0f, waterValue3 = 1.0f, waterValue4 = 1.0f, waterValue5 = 1.0f;
  float waterValue6 = 0.0f, waterValue7 = 0.0f, waterValue8 = 0.0f;
  float waterValue9 = 0.0f;  // stored from class version 2.1 on
  bool waterFlag2 = false;
  bool waterFlag3 = false;

  CWater() = default;
  CWater(const CWater&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

 private:
  void CopySettingsTo(CWater& target) const;
};

class CTerrain : public CEnvironmentObject {
  KX_DECLARE_CLASS(CTerrain)

 public:
  CTerrain() = default;
  CTerrain(const CTerrain&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

}  // namespace KX
