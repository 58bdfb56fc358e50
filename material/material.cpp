#include "material/material.h"

#include <algorithm>

#include "content/archive_shapes.h"
#include "core/alloc.h"
#include "object/archive.h"
#include "object/container.h"

namespace KX {

KX_DEFINE_CLASS(CMaterial, CMaterialBase, 2, 0)
KX_DEFINE_CLASS(CStandardMaterial, CMaterial, 2, 1)
KX_DEFINE_CLASS(CMultiMaterial, CMaterial, 2, 0)
KX_DEFINE_CLASS(CBlendMaterial, CMaterial, 2, 0)

namespace {

// Stored versions at which the blocks changed: 2.0 moved the standard material's flag behind the
// parameters, added the channel amounts and dropped the byte that older multi and blend material
// blocks carried; 2.1 added the channel offsets and tilings.
constexpr int32_t kCurrentBlockVersion = 200;
constexpr int32_t kOffsetsVersion = 201;

// The amount old files meant for channel 4, which they did not store.
constexpr int32_t kLegacyAmountChannel = 4;
constexpr float kLegacyAmount = 0.2f;

// What memory estimates add per level. A standard material holds four colours, ten parameters,
// two flags, the channel count, then per channel a reference, an amount, an offset and a tiling.
constexpr int64_t kStandardFixedFields = 4 * 12 + 10 * 4 + 1 + 4;
constexpr int64_t kStandardChannelFields = kIdSize + 4 + 8 + 8;
constexpr int64_t kStandardMemory =
    kStandardFixedFields + 2 + CStandardMaterial::kChannels * kStandardChannelFields;
constexpr int64_t kMultiMemory = 24;
constexpr int64_t kBlendMemory = 16;

template <class T>
Status DuplicateInto(const CRefPtr<T>& mine, CRefPtr<T>& theirs, DuplicateMap& map) {
  if (!mine) return kOk;
  CRefPtr<CBase> copy;
  KX_RETURN_IF_FAILED(mine->Duplicate(copy, map));
  theirs = KindOf<T>(copy.get());
  return kOk;
}

// The first `kept` values of a channel array. A load passes over the `dropped` values that a
// record with more channels than there are stores behind them, so that the fields after them
// are found.
template <class T, size_t N>
void ChannelValues(CArchive& ar, const char* name, std::array<T, N>& values, int32_t kept,
                   int32_t dropped) {
  const std::span<T> used(values.data(), static_cast<size_t>(kept));
  if (ar.Loading()) {
    CReader& in = ar.reader();
    for (T& value : used) in.Read(value);
    in.Skip(static_cast<uint64_t>(dropped) * sizeof(T));
  } else if (ar.Saving()) {
    ar.writer().FieldArray(name, std::span<const T>(used));
  }
}

}  // namespace

Status CMaterial::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterialBase::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

// ---------------------------------------------------------------------------------------------

CStandardMaterial::CStandardMaterial() {
  channelAmount.fill(1.0f);
  channelTiling.fill(CUvPair{1.0f, 1.0f});
}

int32_t CStandardMaterial::UsedChannels() const { return std::clamp(channelCount, 0, kChannels); }

Status CStandardMaterial::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CMaterial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CStandardMaterial*>(out.get());
  for (int32_t i = 0; i < kChannels; ++i)
    KX_RETURN_IF_FAILED(DuplicateInto(channelTexture[i], copy->channelTexture[i], map));
  return kOk;
}

Status CStandardMaterial::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CMaterial::AssignTo(target, released));
  auto* material = KindOf<CStandardMaterial>(target);
  if (!material) return kErrMalformed;
  material->ambient = ambient;
  material->diffuse = diffuse;
  material->specular = specular;
  material->emissive = emissive;
  material->param = param;
  material->materialFlag = materialFlag;
  material->channelCount = channelCount;
  for (int32_t i = 0; i < kChannels; ++i) {
    KX_RETURN_IF_FAILED(ShareReference(material->channelTexture[i], channelTexture[i], released));
    material->channelAmount[i] = channelAmount[i];
    material->channelOffset[i] = channelOffset[i];
    material->channelTiling[i] = channelTiling[i];
  }
  return kOk;
}

Status CStandardMaterial::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterial::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  const bool old = version < kCurrentBlockVersion;
  if (old) ar("materialFlag", materialFlag);
  ar("ambient", ambient)("diffuse", diffuse)("specular", specular)("emissive", emissive);
  FixedArray(ar, "param", param);
  if (!old) ar("materialFlag", materialFlag);
  // What is stored of the channel count: the channels the arrays below hold.
  int32_t count = UsedChannels();
  ar("channelCount", count);
  const bool amounts = version >= kCurrentBlockVersion;
  const bool offsets = version >= kOffsetsVersion;
  if (ar.Loading()) {
    const size_t perChannel = kIdSize + (amounts ? 4 : 0) + (offsets ? 16 : 0);
    if (!ar.reader().CanHold(count, perChannel)) return ar.status();
  }
  // Only the ids of the channels there are are queued; objects named by the others are let go
  // of with the load.
  const int32_t kept = std::min(count, kChannels);
  const int32_t dropped = count - kept;
  RefSlots(ar, "channelTexture", std::span(channelTexture.data(), static_cast<size_t>(kept)));
  PassOver(ar, static_cast<uint64_t>(dropped) * kIdSize);
  if (amounts) ChannelValues(ar, "channelAmount", channelAmount, kept, dropped);
  if (offsets) {
    ChannelValues(ar, "channelOffset", channelOffset, kept, dropped);
    ChannelValues(ar, "channelTiling", channelTiling, kept, dropped);
  }
  if (ar.Loading() && ar.ok()) {
    channelCount = kept;
    // Old files did not store amounts; channel 4 was meant to be weaker than the others.
    if (old) channelAmount[kLegacyAmountChannel] = kLegacyAmount;
  }
  return ar.status();
}

int64_t CStandardMaterial::GetMemorySize() const { return CMaterial::GetMemorySize() + kStandardMemory; }

void CStandardMaterial::VisitReferences(CReferenceVisitor& visit) {
  CMaterial::VisitReferences(visit);
  // Every channel is searched, bound and remapped, but only the channels in use are saved: the
  // block stores no more ids than channelCount, so a texture beyond it would be written as a
  // record nothing refers to.
  const int32_t used = UsedChannels();
  for (int32_t i = 0; i < kChannels; ++i)
    visit(channelTexture[i], i < used ? kFollowAll : kFollowAll & ~kCollect);
}

// ---------------------------------------------------------------------------------------------

Status CMultiMaterial::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CMaterial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CMultiMaterial*>(out.get());
  KX_RETURN_IF_FAILED(
      TryAllocate([&] { copy->subMaterials.assign(subMaterials.size(), nullptr); }));
  for (size_t i = 0; i < subMaterials.size(); ++i)
    KX_RETURN_IF_FAILED(DuplicateInto(subMaterials[i], copy->subMaterials[i], map));
  return kOk;
}

Status CMultiMaterial::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CMaterial::AssignTo(target, released));
  auto* multi = KindOf<CMultiMaterial>(target);
  if (!multi) return kErrMalformed;
  if (multi == this) return kOk;
  try {
    std::vector<CRefPtr<CMaterialBase>> copy(subMaterials);
    released.reserve(released.size() + multi->subMaterials.size());
    for (const auto& old : multi->subMaterials)
      if (old) released.emplace_back(old.get());
    multi->subMaterials = std::move(copy);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return kOk;
}

Status CMultiMaterial::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterial::Persist(ar));
  if (ar.Saving() && subMaterials.size() > static_cast<size_t>(INT32_MAX))
    return ar.Fail(kErrBadArgument);
  if (ar.Version(classRecord) < kCurrentBlockVersion) PassOver(ar, 1);
  auto count = static_cast<uint32_t>(subMaterials.size());
  ar.Count(count);
  if (ar.Loading()) {
    CReader& in = ar.reader();
    if (!in.CanHold(count, kIdSize)) return ar.status();
    in.Fail(TryAllocate([&] { subMaterials.assign(count, nullptr); }));
  }
  RefSlots(ar, "subMaterials", subMaterials);
  return ar.status();
}

int64_t CMultiMaterial::GetMemorySize() const {
  return CMaterial::GetMemorySize() + kMultiMemory + static_cast<int64_t>(subMaterials.size());
}

bool CMultiMaterial::HasAttachments() const {
  return !subMaterials.empty() || CMaterial::HasAttachments();
}

void CMultiMaterial::VisitReferences(CReferenceVisitor& visit) {
  CMaterial::VisitReferences(visit);
  for (auto& material : subMaterials) visit(material);
}

void CMultiMaterial::Invalidate() {
  for (const auto& material : subMaterials)
    if (material) material->Invalidate();
}

void CMultiMaterial::Validate() {
  for (const auto& material : subMaterials)
    if (material) material->Validate();
}

bool CMultiMaterial::IsValid() const {
  for (const auto& material : subMaterials)
    if (material && !material->IsValid()) return false;
  return true;
}

// ---------------------------------------------------------------------------------------------

Status CBlendMaterial::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CMaterial::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CBlendMaterial*>(out.get());
  KX_RETURN_IF_FAILED(DuplicateInto(extraObject, copy->extraObject, map));
  KX_RETURN_IF_FAILED(DuplicateInto(material1, copy->material1, map));
  return DuplicateInto(material2, copy->material2, map);
}

Status CBlendMaterial::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CMaterial::AssignTo(target, released));
  auto* blend = KindOf<CBlendMaterial>(target);
  if (!blend) return kErrMalformed;
  blend->blendValue = blendValue;
  KX_RETURN_IF_FAILED(ShareReference(blend->extraObject, extraObject, released));
  KX_RETURN_IF_FAILED(ShareReference(blend->material1, material1, released));
  KX_RETURN_IF_FAILED(ShareReference(blend->material2, material2, released));
  return kOk;
}

Status CBlendMaterial::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CMaterial::Persist(ar));
  if (ar.Version(classRecord) < kCurrentBlockVersion) PassOver(ar, 1);
  ar("blendValue", blendValue).Ref("extraObject", extraObject);
  ar.Ref("material1", material1).Ref("material2", material2);
  return ar.status();
}

int64_t CBlendMaterial::GetMemorySize() const { return CMaterial::GetMemorySize() + kBlendMemory; }

void CBlendMaterial::VisitReferences(CReferenceVisitor& visit) {
  CMaterial::VisitReferences(visit);
  visit(extraObject);
  visit(material1);
  visit(material2);
}

void CBlendMaterial::Invalidate() {
  if (material1) material1->Invalidate();
  if (material2) material2->Invalidate();
}

void CBlendMaterial::Validate() {
  if (material1) material1->Validate();
  if (material2) material2->Validate();
}

bool CBlendMaterial::IsValid() const {
  if (material1 && !material1->IsValid()) return false;
  if (material2 && !material2->IsValid()) return false;
  return true;
}

}  // namespace KX
