#include "material/material.h"

#include <algorithm>

#include "core/alloc.h"
#include "object/container.h"
#include "object/persist.h"

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

// Reads `count` stored values of which the first `kept` go to `values`; the rest are passed over
// so that the fields behind them are found.
template <class T, size_t N>
void ReadChannels(CReader& in, std::array<T, N>& values, int32_t count) {
  const int32_t kept = std::min<int32_t>(count, static_cast<int32_t>(N));
  for (int32_t i = 0; i < kept; ++i) in.Read(values[i]);
  in.Skip(static_cast<uint64_t>(count - kept) * sizeof(T));
}

}  // namespace

Status CMaterial::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CMaterialBase::Load(in));
  in.Version(classRecord);
  return in.status();
}

Status CMaterial::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CMaterialBase::Save(out));
  out.Version(classRecord);
  return out.status();
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

Status CStandardMaterial::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CMaterial::Load(in));
  const int32_t version = in.Version(classRecord);
  const bool old = version < kCurrentBlockVersion;
  if (old) in.Read(materialFlag);
  in.Read(ambient).Read(diffuse).Read(specular).Read(emissive).Read(param);
  if (!old) in.Read(materialFlag);
  const int32_t count = in.Get<int32_t>();
  const bool amounts = version >= kCurrentBlockVersion;
  const bool offsets = version >= kOffsetsVersion;
  const size_t perChannel = kIdSize + (amounts ? 4 : 0) + (offsets ? 16 : 0);
  if (!in.CanHold(count, perChannel)) return in.status();

  // Only the ids of the channels there are are queued; objects named by the others are let go
  // of with the load.
  const int32_t kept = std::min(count, kChannels);
  for (int32_t i = 0; i < kept; ++i) in.Ref();
  in.Skip(static_cast<uint64_t>(count - kept) * kIdSize);
  if (amounts) ReadChannels(in, channelAmount, count);
  if (offsets) {
    ReadChannels(in, channelOffset, count);
    ReadChannels(in, channelTiling, count);
  }
  if (!in.ok()) return in.status();
  channelCount = kept;
  // Old files did not store amounts; channel 4 was meant to be weaker than the others.
  if (old) channelAmount[kLegacyAmountChannel] = kLegacyAmount;
  return kOk;
}

Status CStandardMaterial::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CMaterial::Link(in));
  for (int32_t i = 0; i < UsedChannels(); ++i) in.Resolve(channelTexture[i]);
  return kOk;
}

Status CStandardMaterial::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CMaterial::Save(out));
  const int32_t count = UsedChannels();
  out.Version(classRecord).Field("ambient", ambient).Field("diffuse", diffuse);
  out.Field("specular", specular).Field("emissive", emissive);
  out.FieldArray("param", std::span<const float>(param)).Field("materialFlag", materialFlag);
  // What is stored of the channel count: the channels the arrays below hold.
  out.Field("channelCount", count);
  {
    auto list = out.List("channelTexture");
    for (int32_t i = 0; i < count; ++i) out.Ref(nullptr, channelTexture[i].get());
  }
  const auto used = static_cast<size_t>(count);
  out.FieldArray("channelAmount", std::span<const float>(channelAmount.data(), used));
  out.FieldArray("channelOffset", std::span<const CUvPair>(channelOffset.data(), used));
  out.FieldArray("channelTiling", std::span<const CUvPair>(channelTiling.data(), used));
  return out.status();
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

Status CMultiMaterial::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CMaterial::Load(in));
  if (in.Version(classRecord) < kCurrentBlockVersion) in.Skip(1);
  const uint32_t count = in.Get<uint32_t>();
  std::vector<int32_t> ids;
  in.ReadArray(ids, count);
  if (!in.ok()) return in.status();
  try {
    for (const int32_t id : ids) in.QueueId(id);
    subMaterials.assign(ids.size(), nullptr);
  } catch (const std::bad_alloc&) {
    return kErrOutOfMemory;
  }
  return kOk;
}

Status CMultiMaterial::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CMaterial::Link(in));
  for (auto& material : subMaterials) in.Resolve(material);
  return kOk;
}

Status CMultiMaterial::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CMaterial::Save(out));
  if (subMaterials.size() > static_cast<size_t>(INT32_MAX)) {
    out.Fail(kErrBadArgument);
    return out.status();
  }
  out.Version(classRecord).Count(static_cast<uint32_t>(subMaterials.size()));
  auto list = out.List("subMaterials");
  for (const auto& material : subMaterials) out.Ref(nullptr, material.get());
  return out.status();
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

Status CBlendMaterial::Load(CReader& in) {
  KX_RETURN_IF_FAILED(CMaterial::Load(in));
  if (in.Version(classRecord) < kCurrentBlockVersion) in.Skip(1);
  in.Read(blendValue).Ref().Ref().Ref();
  return in.status();
}

Status CBlendMaterial::Link(CLinker& in) {
  KX_RETURN_IF_FAILED(CMaterial::Link(in));
  in.Resolve(extraObject);
  in.Resolve(material1);
  in.Resolve(material2);
  return kOk;
}

Status CBlendMaterial::Save(CWriter& out) const {
  KX_RETURN_IF_FAILED(CMaterial::Save(out));
  out.Version(classRecord).Field("blendValue", blendValue).Ref("extraObject", extraObject.get());
  out.Ref("material1", material1.get()).Ref("material2", material2.get());
  return out.status();
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
