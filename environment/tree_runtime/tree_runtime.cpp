#include "environment/tree_runtime/tree_runtime.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "core/alloc.h"
#include "environment/tree_runtime/saved_form.h"

namespace KX {

namespace {

using tree_runtime::BlockKind;
using V = CVector3<float>;

constexpr float kPi = 3.14159265358979f;
constexpr float kDegrees = kPi / 180.0f;
constexpr float kMaxLeanDegrees = 15.0f;
// Successive branches of a parent turn by this much around it, so that they spread evenly.
constexpr float kGoldenAngle = 2.39996323f;
constexpr V kUp{0.0f, 1.0f, 0.0f};

std::atomic<bool> verifyChecksums{false};

bool InUnit(float v) { return v >= 0.0f && v <= 1.0f; }  // NaN is in no range

bool Valid(const CBranchLevel& level) {
  return level.count <= CTreeModel::kMaxBranchesPerParent && InUnit(level.lengthRatio) &&
         InUnit(level.radiusRatio) && level.angle >= 0.0f && level.angle <= 180.0f &&
         level.startAt >= 0.0f && level.startAt < 1.0f && InUnit(level.taper) &&
         InUnit(level.jitter);
}

bool ValidLighting(int32_t method) {
  return method == CTreeRuntime::kLightingStatic || method == CTreeRuntime::kLightingDynamic;
}
bool ValidWind(int32_t method) {
  return method >= CTreeRuntime::kWindNone && method <= CTreeRuntime::kWindGpu;
}
bool Finite(const V& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// A small generator with the same sequence on every platform (the standard library's
// distributions may differ between implementations): splitmix64, 24 bits per draw.
class CRandom {
 public:
  explicit CRandom(uint32_t seed) : state_(0x9E3779B97F4A7C15ull * (static_cast<uint64_t>(seed) + 1)) {}
  // [0, 1)
  float Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<float>(z >> 40) * (1.0f / 16777216.0f);
  }
  // [-1, 1)
  float Signed() { return 2.0f * Next() - 1.0f; }

 private:
  uint64_t state_;
};

// One branch (or the trunk) of the grown tree: a tapered cylinder along a unit axis.
struct Segment {
  V base;
  V axis;
  float length = 0;
  float baseRadius = 0;
  float tipRadius = 0;
  uint32_t level = 0;
  uint32_t index = 0;
};

// Two unit vectors across `axis`, p2 = p1 x axis: rings built on them wind the same way around
// every branch, which keeps every face looking outwards.
void Across(const V& axis, V& p1, V& p2) {
  const V helper = std::fabs(axis.y) < 0.9f ? kUp : V{1.0f, 0.0f, 0.0f};
  p1 = Normalised(Cross(helper, axis));
  p2 = Cross(p1, axis);
}

// `axis` tilted by `tilt` radians towards the direction at `azimuth` around it.
V Tilted(const V& axis, float tilt, float azimuth) {
  V p1, p2;
  Across(axis, p1, p2);
  const V side = p1 * std::cos(azimuth) + p2 * std::sin(azimuth);
  return Normalised(axis * std::cos(tilt) + side * std::sin(tilt));
}

// The trunk and every branch, parents before their children. Allocates (callers guard).
void GrowSkeleton(const CTreeModel& model, float height, CRandom& random,
                  std::vector<Segment>& out) {
  Segment trunk;
  const float lean = model.trunkLean * kMaxLeanDegrees * kDegrees * random.Next();
  trunk.axis = Tilted(kUp, lean, 2.0f * kPi * random.Next());
  trunk.length = height;
  trunk.baseRadius = height * model.trunkRadius;
  trunk.tipRadius = trunk.baseRadius * model.trunkTaper;
  out.push_back(trunk);
  for (size_t i = 0; i < out.size(); ++i) {
    const Segment parent = out[i];  // a copy: the pushes below may move the list
    if (parent.level >= model.levelCount) continue;
    const CBranchLevel& level = model.levels[parent.level];
    const float wanted = static_cast<float>(level.count) * (1.0f + 0.5f * level.jitter * random.Signed());
    const auto count = std::min<uint32_t>(CTreeModel::kMaxBranchesPerParent,
                                          static_cast<uint32_t>(std::lround(std::max(0.0f, wanted))));
    const float turn = 2.0f * kPi * random.Next();
    for (uint32_t k = 0; k < count; ++k) {
      const float slot = (static_cast<float>(k) + 0.5f + 0.4f * level.jitter * random.Signed()) /
                         static_cast<float>(count);
      const float t = level.startAt + (1.0f - level.startAt) * std::clamp(slot, 0.0f, 1.0f);
      const float azimuth = turn + static_cast<float>(k) * kGoldenAngle + 0.5f * level.jitter * random.Signed();
      const float tilt = level.angle * kDegrees * (1.0f + 0.3f * level.jitter * random.Signed());
      Segment child;
      child.base = parent.base + parent.axis * (t * parent.length);
      child.axis = Tilted(parent.axis, tilt, azimuth);
      // Branches higher up a parent are shorter, as on most trees.
      child.length = parent.length * level.lengthRatio * (1.0f - 0.5f * t) *
                     (1.0f + 0.5f * level.jitter * random.Signed());
      const float radiusThere = parent.baseRadius + (parent.tipRadius - parent.baseRadius) * t;
      child.baseRadius = radiusThere * level.radiusRatio;
      child.tipRadius = child.baseRadius * level.taper;
      child.level = parent.level + 1;
      child.index = static_cast<uint32_t>(out.size());
      out.push_back(child);
    }
  }
}

struct StripChannels {
  bool normals = false;
  bool wind = false;
  uint32_t windMatrices = 1;
  float height = 0;
};

void Push(CTreeStrip& strip, const V& position, const V& normal, const Segment& segment,
          const StripChannels& channels) {
  strip.positions.push_back(position);
  if (channels.normals) strip.normals.push_back(normal);
  if (channels.wind) {
    strip.windMatrices.push_back(static_cast<uint8_t>(segment.index % channels.windMatrices));
    const float weight = channels.height > 0.0f ? Dot(position, kUp) / channels.height : 0.0f;
    strip.windWeights.push_back(std::clamp(weight, 0.0f, 1.0f));
  }
}

// The open cylinder of one segment: tip and base vertex of each side in turn, the first side
// repeated at the end to close the ring.
void AppendCylinder(const Segment& segment, uint32_t sides, const StripChannels& channels,
                    CTreeStrip& strip) {
  V p1, p2;
  Across(segment.axis, p1, p2);
  const V tip = segment.base + segment.axis * segment.length;
  for (uint32_t j = 0; j <= sides; ++j) {
    const float angle = 2.0f * kPi * static_cast<float>(j % sides) / static_cast<float>(sides);
    const V out = p1 * std::cos(angle) + p2 * std::sin(angle);
    Push(strip, tip + out * segment.tipRadius, out, segment, channels);
    Push(strip, segment.base + out * segment.baseRadius, out, segment, channels);
  }
}

// Appends entry `i` of `from` to every channel of `to`.
void CopyEntry(const CTreeStrip& from, size_t i, CTreeStrip& to) {
  to.positions.push_back(from.positions[i]);
  if (!from.normals.empty()) to.normals.push_back(from.normals[i]);
  if (!from.windMatrices.empty()) {
    to.windMatrices.push_back(from.windMatrices[i]);
    to.windWeights.push_back(from.windWeights[i]);
  }
}

// Joins `next` to the end of `strip` through degenerate triangles (last vertex twice, first
// vertex of `next` once more). Every cylinder has an even length, so `next` starts at an even
// position and keeps its winding.
void AppendJoined(CTreeStrip& strip, const CTreeStrip& next) {
  if (next.positions.empty()) return;
  if (!strip.positions.empty()) {
    CopyEntry(strip, strip.positions.size() - 1, strip);
    CopyEntry(next, 0, strip);
  }
  for (size_t i = 0; i < next.positions.size(); ++i) CopyEntry(next, i, strip);
}

void Grow(V& min, V& max, const V& p) {
  min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
  max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
}

}  // namespace

bool CTreeModel::IsValid() const {
  if (!(std::isfinite(size) && size > 0.0f)) return false;
  if (!(trunkRadius > 0.0f && trunkRadius <= 1.0f) || !InUnit(trunkTaper) || !InUnit(trunkLean))
    return false;
  if (sides < kMinSides || sides > kMaxSides || lodCount < 1 || lodCount > kMaxLods ||
      levelCount > kMaxLevels)
    return false;
  for (uint32_t i = 0; i < levelCount; ++i)
    if (!Valid(levels[i])) return false;
  return true;
}

void CTreeRuntime::SetVerifyChecksums(bool on) { verifyChecksums = on; }
bool CTreeRuntime::VerifyChecksums() { return verifyChecksums; }

bool CTreeRuntime::SetBranchLightingMethod(int32_t method) {
  if (!ValidLighting(method)) return false;
  branchLighting_ = method;
  return true;
}
bool CTreeRuntime::SetLeafLightingMethod(int32_t method) {
  if (!ValidLighting(method)) return false;
  leafLighting_ = method;
  return true;
}
bool CTreeRuntime::SetFrondLightingMethod(int32_t method) {
  if (!ValidLighting(method)) return false;
  frondLighting_ = method;
  return true;
}
bool CTreeRuntime::SetBranchWindMethod(int32_t method) {
  if (!ValidWind(method)) return false;
  branchWind_ = method;
  return true;
}
bool CTreeRuntime::SetLeafWindMethod(int32_t method) {
  if (!ValidWind(method)) return false;
  leafWind_ = method;
  return true;
}
bool CTreeRuntime::SetFrondWindMethod(int32_t method) {
  if (!ValidWind(method)) return false;
  frondWind_ = method;
  return true;
}

void CTreeRuntime::SetTreeSize(float size, float variance) {
  sizeSet_ = true;
  size_ = size;
  sizeVariance_ = variance;
}

bool CTreeRuntime::SetNumWindMatrices(int32_t count) {
  if (count < 1 || count > kMaxWindMatrices) return false;
  windMatrices_ = count;
  return true;
}

Status CTreeRuntime::Compute(const CMatrix4* transform, uint32_t seed, bool compositeStrips) {
  geometry_.lods.clear();
  computed_ = false;
  if (!HasModel()) return kOk;

  CRandom random(seed);
  // Drawn in every case, so that a seed grows the same shape whatever size it is given.
  const float sizeDraw = random.Signed();
  float height = model_.size;
  if (sizeSet_) {
    if (!std::isfinite(size_) || !std::isfinite(sizeVariance_)) return kErrMalformed;
    height = std::max(0.0f, size_ + sizeVariance_ * sizeDraw);
  }
  if (!std::isfinite(height)) return kErrMalformed;

  CBranchGeometry built;
  std::vector<Segment> skeleton;
  KX_RETURN_IF_FAILED(Guarded([&]() -> Status {
    GrowSkeleton(model_, height, random, skeleton);
    StripChannels channels;
    channels.normals = branchLighting_ == kLightingDynamic;
    channels.wind = branchWind_ != kWindNone;
    channels.windMatrices = static_cast<uint32_t>(windMatrices_);
    channels.height = height;
    built.lods.resize(model_.lodCount);
    for (uint32_t lod = 0; lod < model_.lodCount; ++lod) {
      // Coarser levels halve the sides and leave out the finest branches first.
      const uint32_t sides = std::max(CTreeModel::kMinSides, model_.sides >> lod);
      const uint32_t deepest = model_.levelCount - std::min(lod, model_.levelCount);
      auto& strips = built.lods[lod];
      CTreeStrip cylinder;
      for (const Segment& segment : skeleton) {
        if (segment.level > deepest) continue;
        if (!compositeStrips) {
          strips.emplace_back();
          AppendCylinder(segment, sides, channels, strips.back());
          continue;
        }
        cylinder = CTreeStrip();
        AppendCylinder(segment, sides, channels, cylinder);
        if (strips.empty()) strips.emplace_back();
        AppendJoined(strips.back(), cylinder);
      }
    }
    return kOk;
  }));

  // The skeleton's box: each cylinder lies within the spheres around its two ends.
  V skeletonMin{INFINITY, INFINITY, INFINITY}, skeletonMax{-INFINITY, -INFINITY, -INFINITY};
  for (const Segment& s : skeleton) {
    const V tip = s.base + s.axis * s.length;
    for (const auto& [centre, r] : {std::pair{s.base, s.baseRadius}, std::pair{tip, s.tipRadius}}) {
      Grow(skeletonMin, skeletonMax, centre - V{r, r, r});
      Grow(skeletonMin, skeletonMax, centre + V{r, r, r});
    }
  }
  if (transform) {
    const CMatrix3 turn = UpperMatrix3(*transform);
    for (auto& strips : built.lods)
      for (CTreeStrip& strip : strips) {
        for (V& p : strip.positions) p = TransformCoord(p, *transform);
        for (V& n : strip.normals) n = Normalised(TransformVector(n, turn));
      }
    V min{INFINITY, INFINITY, INFINITY}, max{-INFINITY, -INFINITY, -INFINITY};
    for (int corner = 0; corner < 8; ++corner) {
      const V p{(corner & 1) ? skeletonMax.x : skeletonMin.x, (corner & 2) ? skeletonMax.y : skeletonMin.y,
                (corner & 4) ? skeletonMax.z : skeletonMin.z};
      Grow(min, max, TransformCoord(p, *transform));
    }
    skeletonMin = min;
    skeletonMax = max;
  }

  V tightMin{INFINITY, INFINITY, INFINITY}, tightMax{-INFINITY, -INFINITY, -INFINITY};
  for (const auto& strips : built.lods)
    for (const CTreeStrip& strip : strips)
      for (const V& p : strip.positions) {
        // A size near the end of the float range grows past it somewhere.
        if (!Finite(p)) return kErrMalformed;
        if (&strips == &built.lods.front()) Grow(tightMin, tightMax, p);
      }
  if (!Finite(skeletonMin) || !Finite(skeletonMax)) return kErrMalformed;

  geometry_ = std::move(built);
  tightMin_ = tightMin;
  tightMax_ = tightMax;
  skeletonMin_ = skeletonMin;
  skeletonMax_ = skeletonMax;
  computed_ = true;
  return kOk;
}

bool CTreeRuntime::GetBoundingBox(V& min, V& max) const {
  if (!computed_) return false;
  min = tightBounds_ ? tightMin_ : skeletonMin_;
  max = tightBounds_ ? tightMax_ : skeletonMax_;
  return true;
}

Status CTreeRuntime::SetModel(const CTreeModel& model) {
  if (!model.IsValid()) return kErrBadArgument;
  model_ = model;
  foreign_ = {};
  geometry_.lods.clear();
  computed_ = false;
  return kOk;
}

Status CTreeRuntime::LoadTree(const uint8_t* data, size_t size) {
  if (!data || size == 0) return kErrBadArgument;
  const std::span<const uint8_t> block(data, size);
  BlockKind kind;
  std::span<const uint8_t> payload;
  KX_RETURN_IF_FAILED(tree_runtime::OpenBlock(block, tree_runtime::kTreeSignature, kFormatVersion,
                                              VerifyChecksums(), kind, payload));
  if (kind != BlockKind::kOurs) {
    std::vector<uint8_t> kept;
    KX_RETURN_IF_FAILED(TryAllocate([&] { kept.assign(block.begin(), block.end()); }));
    foreign_ = std::move(kept);
    geometry_.lods.clear();
    computed_ = false;
    return kOk;
  }
  CTreeModel model;
  tree_runtime::CPayloadReader in(payload);
  in.Read(model.size).Read(model.trunkRadius).Read(model.trunkTaper).Read(model.trunkLean);
  in.Read(model.sides).Read(model.lodCount).Read(model.levelCount);
  if (!in.ok() || model.levelCount > CTreeModel::kMaxLevels) return kErrMalformed;
  for (uint32_t i = 0; i < model.levelCount; ++i) {
    CBranchLevel& level = model.levels[i];
    in.Read(level.count).Read(level.lengthRatio).Read(level.radiusRatio).Read(level.angle);
    in.Read(level.startAt).Read(level.taper).Read(level.jitter);
  }
  // Exactly the values, each in its range: then writing the model again gives the same bytes.
  if (!in.Finished() || !model.IsValid()) return kErrMalformed;
  return SetModel(model);
}

Status CTreeRuntime::SaveTree(std::vector<uint8_t>& out) const {
  if (!HasModel()) return TryAssign(out, foreign_);
  tree_runtime::CPayloadWriter w;
  w.Write(model_.size).Write(model_.trunkRadius).Write(model_.trunkTaper).Write(model_.trunkLean);
  w.Write(model_.sides).Write(model_.lodCount).Write(model_.levelCount);
  for (uint32_t i = 0; i < model_.levelCount; ++i) {
    const CBranchLevel& level = model_.levels[i];
    w.Write(level.count).Write(level.lengthRatio).Write(level.radiusRatio).Write(level.angle);
    w.Write(level.startAt).Write(level.taper).Write(level.jitter);
  }
  KX_RETURN_IF_FAILED(w.status());
  return tree_runtime::SealBlock(tree_runtime::kTreeSignature, kFormatVersion, w.bytes(), out);
}

Status CTreeRuntime::Clone(std::unique_ptr<CTreeRuntime>& out) const {
  return TryAllocate([&] { out = std::make_unique<CTreeRuntime>(*this); });
}

}  // namespace KX
