#include "material/material_base.h"

#include "object/persist.h"

namespace KX {

KX_DEFINE_CLASS(CMaterialBase, CCorva, 2, 0)

Status CMaterialBase::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  return kOk;
}

Status CMaterialBase::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCorva::Load(in));
  in.Version(classRecord);
  return in.status();
}

Status CMaterialBase::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCorva::Save(out));
  out.Version(classRecord);
  return out.status();
}

}  // namespace KX
