#pragma once
// Custom data records: metadata chained off any scene object, or standing as a root of a file.
#include <memory>
#include <span>
#include <string>

#include "object/chain_link.h"
#include "object/scene_object_base.h"

namespace KX {

class CCustomData;

class CCustomData : public CChainLink<CCorva, CCustomData> {
  KX_DECLARE_CLASS(CCustomData)

 public:
  std::u16string key;
  int32_t param1 = 0;
  int32_t param2 = 0;
  // `next`, the following record of the chain, comes with CChainLink.

  CCustomData() = default;
  // Copies key and parameters; next stays unset.
  CCustomData(const CCustomData& other);
  ~CCustomData() override;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

// A keyed byte payload.
class CRawData : public CCustomData {
  KX_DECLARE_CLASS(CRawData)

 public:
  int32_t size = 0;
  std::unique_ptr<uint8_t[]> data;

  CRawData() = default;
  // Copies the payload. Throws std::bad_alloc when it cannot; Clone answers kErrOutOfMemory.
  CRawData(const CRawData& other);
  ~CRawData() override;

  // Replaces the payload with a copy of `bytes`.
  Status SetPayload(std::span<const uint8_t> bytes);
  std::span<const uint8_t> Payload() const {
    return data ? std::span<const uint8_t>(data.get(), static_cast<size_t>(size))
                : std::span<const uint8_t>();
  }

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
};

// A payload of XML text.
class CXmlRawData : public CRawData {
  KX_DECLARE_CLASS(CXmlRawData)

 public:
  CXmlRawData() = default;
  CXmlRawData(const CXmlRawData&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status Persist(CArchive& ar) override;
};

// Five texts about the author of a file.
class CAuthorInfo : public CCustomData {
  KX_DECLARE_CLASS(CAuthorInfo)

 public:
  std::u16string text1, text2, text3, text4, text5;

  CAuthorInfo() = default;
  CAuthorInfo(const CAuthorInfo&) = default;

  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

 private:
  int64_t TextUnits() const;
};

// The first record of the chain from `head` that is a CRawData named `name`, or null.
CRawData* FindRawData(CCustomData* head, std::u16string_view name);

}  // namespace KX
