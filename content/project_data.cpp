#include "content/project_data.h"

#include "content/archive_shapes.h"
#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CProjectData, CCustomData, 2, 6)

namespace {

// The first stored version of each group of fields; a block stored before it leaves the group at
// its defaults.
constexpr int32_t kTextFrom = 201;
constexpr int32_t kValues6And7From = 202;
constexpr int32_t kFlagFrom = 203;
constexpr int32_t kValue8From = 204;
constexpr int32_t kValues9And10From = 205;
constexpr int32_t kValue11From = 206;

}  // namespace

Status CProjectData::Clone(CRefPtr<CBase>& out) const {
  return CloneByCopy(*this, out);
}

Status CProjectData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* project = KindOf<CProjectData>(target);
  if (!project) return kErrMalformed;
  if (project == this) return kOk;
  KX_RETURN_IF_FAILED(TryAssign(project->text, text));
  project->value1 = value1;
  project->value2 = value2;
  project->pair1 = pair1;
  project->pair2 = pair2;
  project->value3 = value3;
  project->value4 = value4;
  project->value5 = value5;
  project->value6 = value6;
  project->value7 = value7;
  project->flag = flag;
  project->value8 = value8;
  project->value9 = value9;
  project->value10 = value10;
  project->value11 = value11;
  return kOk;
}

Status CProjectData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  ar("value1", value1)("value2", value2);
  FixedBytes(ar, "pair1", pair1);
  FixedBytes(ar, "pair2", pair2);
  ar("value3", value3)("value4", value4)("value5", value5);
  if (version >= kTextFrom) ar("text", text);
  if (version >= kValues6And7From) ar("value6", value6)("value7", value7);
  if (version >= kFlagFrom) ar("flag", flag);
  if (version >= kValue8From) ar("value8", value8);
  if (version >= kValues9And10From) ar("value9", value9)("value10", value10);
  if (version >= kValue11From) ar("value11", value11);
  return ar.status();
}

int64_t CProjectData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 92 + 2 * static_cast<int64_t>(text.size());
}

}  // namespace KX
