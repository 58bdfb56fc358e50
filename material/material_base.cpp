#include "material/material_base.h"

#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CMaterialBase, CCorva, 2, 0)

Status CMaterialBase::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  return kOk;
}

Status CMaterialBase::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

}  // namespace KX
