#include "environment/tree_runtime/wind_engine.h"

#include <cmath>

#include "core/alloc.h"
#include "environment/tree_runtime/saved_form.h"

namespace KX {

namespace {

constexpr float kTwoPi = 6.28318530717959f;
// Phases of the matrices step by this much, an irrational share of a turn, so none repeat.
constexpr float kPhaseStep = 2.39996323f;

bool FiniteAtLeastZero(float v) { return std::isfinite(v) && v >= 0.0f; }

// The rotation by `angle` radians about the unit `axis` (row vectors).
CMatrix4 Rotation(const CVector3<float>& axis, float angle) {
  const float c = std::cos(angle), s = std::sin(angle), t = 1.0f - c;
  const float x = axis.x, y = axis.y, z = axis.z;
  CMatrix4 m;
  m.m[0][0] = t * x * x + c;     m.m[0][1] = t * x * y + s * z; m.m[0][2] = t * x * z - s * y;
  m.m[1][0] = t * x * y - s * z; m.m[1][1] = t * y * y + c;     m.m[1][2] = t * y * z + s * x;
  m.m[2][0] = t * x * z + s * y; m.m[2][1] = t * y * z - s * x; m.m[2][2] = t * z * z + c;
  return m;
}

}  // namespace

bool CWindSettings::IsValid() const {
  return matrixCount >= 1 && matrixCount <= kMaxMatrices && FiniteAtLeastZero(strength) &&
         std::isfinite(direction.x) && std::isfinite(direction.y) && std::isfinite(direction.z) &&
         FiniteAtLeastZero(gustStrength) && FiniteAtLeastZero(gustFrequency) &&
         FiniteAtLeastZero(swayFrequency);
}

Status CWindEngine::SetSettings(const CWindSettings& settings) {
  if (!settings.IsValid()) return kErrBadArgument;
  settings_ = settings;
  foreign_ = {};
  return kOk;
}

Status CWindEngine::GetWindMatrices(float time, std::vector<CMatrix4>& out) const {
  if (!std::isfinite(time)) return kErrBadArgument;
  KX_RETURN_IF_FAILED(TryResize(out, settings_.matrixCount));
  // Trees grow along +y; the wind bends them about the level axis across its heading. A wind
  // with no heading only sways about x.
  const CVector3<float> heading{settings_.direction.x, 0.0f, settings_.direction.z};
  CVector3<float> axis = Normalised(Cross(CVector3<float>{0.0f, 1.0f, 0.0f}, heading));
  if (Length(axis) == 0.0f) axis = {1.0f, 0.0f, 0.0f};
  for (uint32_t i = 0; i < settings_.matrixCount; ++i) {
    const float phase = kPhaseStep * static_cast<float>(i);
    const float sway = std::sin(kTwoPi * settings_.swayFrequency * time + phase);
    // Gusts only ever push with the wind.
    const float gust = 0.5f * (1.0f + std::sin(kTwoPi * settings_.gustFrequency * time + 0.5f * phase));
    const float bend = settings_.strength * (0.5f + 0.5f * sway) + settings_.gustStrength * gust;
    out[i] = Rotation(axis, bend);  // up turns towards the heading
  }
  return kOk;
}

Status CWindEngine::Load(const uint8_t* data, size_t size) {
  if (!data || size == 0) return kErrBadArgument;
  const std::span<const uint8_t> block(data, size);
  tree_runtime::BlockKind kind;
  std::span<const uint8_t> payload;
  // Wind blocks are a few dozen bytes: the checksum is always worth checking.
  KX_RETURN_IF_FAILED(tree_runtime::OpenBlock(block, tree_runtime::kWindSignature, kFormatVersion,
                                              true, kind, payload));
  if (kind != tree_runtime::BlockKind::kOurs) {
    std::vector<uint8_t> kept;
    KX_RETURN_IF_FAILED(TryAllocate([&] { kept.assign(block.begin(), block.end()); }));
    foreign_ = std::move(kept);
    settings_ = CWindSettings();
    return kOk;
  }
  CWindSettings settings;
  tree_runtime::CPayloadReader in(payload);
  in.Read(settings.matrixCount).Read(settings.strength).Read(settings.direction);
  in.Read(settings.gustStrength).Read(settings.gustFrequency).Read(settings.swayFrequency);
  if (!in.Finished() || !settings.IsValid()) return kErrMalformed;
  return SetSettings(settings);
}

Status CWindEngine::Save(std::vector<uint8_t>& out) const {
  if (!HasSettings()) return TryAssign(out, foreign_);
  tree_runtime::CPayloadWriter w;
  w.Write(settings_.matrixCount).Write(settings_.strength).Write(settings_.direction);
  w.Write(settings_.gustStrength).Write(settings_.gustFrequency).Write(settings_.swayFrequency);
  KX_RETURN_IF_FAILED(w.status());
  return tree_runtime::SealBlock(tree_runtime::kWindSignature, kFormatVersion, w.bytes(), out);
}

}  // namespace KX
