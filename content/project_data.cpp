#include "content/project_data.h"

#include "core/alloc.h"
#include "object/persist.h"

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

Status CProjectData::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CCustomData::Load(in));
  const int32_t version = in.Version(classRecord);
  in.Read(value1).Read(value2).Read(pair1).Read(pair2).Read(value3).Read(value4).Read(value5);
  if (version >= kTextFrom) in.Read(text);
  if (version >= kValues6And7From) in.Read(value6).Read(value7);
  if (version >= kFlagFrom) in.Read(flag);
  if (version >= kValue8From) in.Read(value8);
  if (version >= kValues9And10From) in.Read(value9).Read(value10);
  if (version >= kValue11From) in.Read(value11);
  return in.status();
}

Status CProjectData::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CCustomData::Save(out));
  out.Version(classRecord).Field("value1", value1).Field("value2", value2);
  out.FieldBytes("pair1", pair1.data(), pair1.size());
  out.FieldBytes("pair2", pair2.data(), pair2.size());
  out.Field("value3", value3).Field("value4", value4).Field("value5", value5);
  out.Field("text", text).Field("value6", value6).Field("value7", value7).Field("flag", flag);
  out.Field("value8", value8).Field("value9", value9).Field("value10", value10);
  out.Field("value11", value11);
  return out.status();
}

int64_t CProjectData::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 92 + 2 * static_cast<int64_t>(text.size());
}

}  // namespace KX
