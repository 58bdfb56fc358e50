#include "object/custom_data.h"

#include <cstring>

#include "core/alloc.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CCustomData, CCorva, 2, 0)
KX_DEFINE_CLASS(CRawData, CCustomData, 2, 0)
KX_DEFINE_CLASS(CXmlRawData, CRawData, 2, 0)
KX_DEFINE_CLASS(CAuthorInfo, CCustomData, 2, 0)

CCustomData::CCustomData(const CCustomData& other)
    : CChainLink(other), key(other.key), param1(other.param1), param2(other.param2) {}

CCustomData::~CCustomData() = default;

Status CCustomData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* record = KindOf<CCustomData>(target);
  if (!record) return kErrMalformed;
  KX_RETURN_IF_FAILED(TryAssign(record->key, key));
  record->param1 = param1;
  record->param2 = param2;
  ShareNextWith(*record, released);
  return kOk;
}

Status CCustomData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  ar("key", key)("param1", param1)("param2", param2).Ref("next", next);
  return ar.status();
}

int64_t CCustomData::GetMemorySize() const {
  return CCorva::GetMemorySize() + 2 * static_cast<int64_t>(key.size()) + 40;
}

// ---------------------------------------------------------------------------------------------

CRawData::CRawData(const CRawData& other) : CCustomData(other), size(other.size) {
  if (other.data && size > 0) {
    data.reset(new uint8_t[static_cast<size_t>(size)]);
    std::memcpy(data.get(), other.data.get(), static_cast<size_t>(size));
  }
}

CRawData::~CRawData() = default;

Status CRawData::SetPayload(std::span<const uint8_t> bytes) {
  if (bytes.size() > static_cast<size_t>(INT32_MAX)) return kErrBadArgument;
  std::unique_ptr<uint8_t[]> copy;
  if (!bytes.empty()) {
    copy.reset(new (std::nothrow) uint8_t[bytes.size()]);
    if (!copy) return kErrOutOfMemory;
    std::memcpy(copy.get(), bytes.data(), bytes.size());
  }
  data = std::move(copy);
  size = static_cast<int32_t>(bytes.size());
  modified = 1;
  return kOk;
}

Status CRawData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CRawData::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* raw = KindOf<CRawData>(target);
  if (!raw) return kErrMalformed;
  if (raw == this) return kOk;
  if (!data || size <= 0) {
    raw->data.reset();
  } else {
    // A target whose buffer is large enough keeps it.
    if (!raw->data || raw->size < size) {
      raw->data.reset();
      raw->data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
      if (!raw->data) {
        raw->size = 0;
        return kErrOutOfMemory;
      }
    }
    std::memcpy(raw->data.get(), data.get(), static_cast<size_t>(size));
  }
  raw->size = size;
  raw->param1 = param1;
  raw->param2 = param2;
  return kOk;
}

Status CRawData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  ar.Version(classRecord);
  // The presence word is a non-zero marker; old writers stored an address there.
  int32_t present = data ? 1 : 0;
  ar("size", size).Count(present);
  if (ar.Loading()) {
    CReader& in = ar.reader();
    data.reset();
    if (in.ok() && present != 0 && in.CanHold(size, 1) && size > 0) {
      data.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size)]);
      if (!data) return ar.Fail(kErrOutOfMemory);
      in.ReadBytes(data.get(), static_cast<size_t>(size));
    }
  } else if (ar.Saving()) {
    if (data)
      ar.writer().FieldBytes("data", data.get(), static_cast<size_t>(size));
    else
      ar.writer().Absent("data");
  }
  return ar.status();
}

int64_t CRawData::GetMemorySize() const { return CCustomData::GetMemorySize() + size + 8; }

// ---------------------------------------------------------------------------------------------

Status CXmlRawData::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CXmlRawData::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CRawData::Persist(ar));
  // Streams of version 2.00 wrote no block for this level.
  if (ar.StreamVersion() > kFirstNewLayoutVersion) ar.Version(classRecord);
  return ar.status();
}

// ---------------------------------------------------------------------------------------------

int64_t CAuthorInfo::TextUnits() const {
  return static_cast<int64_t>(text1.size() + text2.size() + text3.size() + text4.size() +
                              text5.size());
}

Status CAuthorInfo::Clone(CRefPtr<CBase>& out) const { return CloneByCopy(*this, out); }

Status CAuthorInfo::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCustomData::AssignTo(target, released));
  auto* info = KindOf<CAuthorInfo>(target);
  if (!info) return kErrMalformed;
  return TryAllocate([&] {
    info->text1 = text1;
    info->text2 = text2;
    info->text3 = text3;
    info->text4 = text4;
    info->text5 = text5;
  });
}

Status CAuthorInfo::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCustomData::Persist(ar));
  ar.Version(classRecord);
  ar("text1", text1)("text2", text2)("text3", text3)("text4", text4)("text5", text5);
  return ar.status();
}

int64_t CAuthorInfo::GetMemorySize() const {
  return CCustomData::GetMemorySize() + 2 * TextUnits() + 140;
}

// ---------------------------------------------------------------------------------------------

CRawData* FindRawData(CCustomData* head, std::u16string_view name) {
  for (CCustomData* record = head; record; record = record->next.get())
    if (auto* raw = KindOf<CRawData>(record); raw && raw->name == name) return raw;
  return nullptr;
}

}  // namespace KX
