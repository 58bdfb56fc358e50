#pragma once
// The common base of materials and textures: scene objects that can be shared by several meshes,
// carry controllers, and know whether the values controllers wrote into them have been taken in.
#include "core/alloc.h"
#include "object/scene_object_base.h"

namespace KX {

class CMaterialBase : public CCorva {
  KX_DECLARE_CLASS(CMaterialBase)

 public:
  CMaterialBase() = default;
  CMaterialBase(const CMaterialBase&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;

  // Marks derived state out of date; a material controller calls it after writing values.
  virtual void Invalidate() = 0;
  virtual void Validate() = 0;
  virtual bool IsValid() const = 0;
};

// The shared-reference copy of AssignTo: the target takes `mine`; what it held before goes to
// `released`, for the caller to let go of when it chooses.
template <class T>
Status ShareReference(CRefPtr<T>& theirs, const CRefPtr<T>& mine, ReleasedList& released) {
  if (theirs == mine) return kOk;
  if (theirs) KX_RETURN_IF_FAILED(TryAppend(released, CRefPtr<CBase>(theirs.get())));
  theirs = mine;
  return kOk;
}

}  // namespace KX
