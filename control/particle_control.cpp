#include "control/particle_control.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "control/control_archive.h"
#include "control/data_keys.h"
#include "control/key_search.h"
#include "core/alloc.h"
#include "scene/particles.h"

namespace KX {

KX_DEFINE_CLASS(CParticleDataControl, CDataControl, 2, 0)
KX_DEFINE_CLASS(CParticleControl, CParticleDataControl, 2, 1)
KX_DEFINE_CLASS(CParticleClipControl, CParticleDataControl, 2, 1)

namespace {

// Blocks of old streams carry four bytes before the settings; the event lists are stored from
// 2.01 on, and blocks up to 2.00 keep the first event in the controller's timing fields.
constexpr int32_t kFirstCurrentVersion = 200;
constexpr int32_t kEventListsVersion = 201;
// A step back in time larger than this restarts the particles.
constexpr float kBackwards = -0.005f;

// The particle slots every array of the system has: what the controller may touch.
size_t Slots(const CParticles& p) {
  size_t n = static_cast<size_t>(std::max(p.capacity, 0));
  for (size_t size : {p.worldPositions.size(), p.particleColors.size(), p.particleState1.size(),
                      p.particleState2.size(), p.particleState3.size(), p.particleState4.size()})
    n = std::min(n, size);
  return n;
}

}  // namespace

// --- per-kind base ----------------------------------------------------------------------------

Status CParticleDataControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CDataControl::AssignTo(target, released));
  return CopyLevel(*this, target, released);
}

Status CParticleDataControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CDataControl::Persist(ar));
  ar.Version(classRecord);
  return ar.status();
}

// --- emitter ----------------------------------------------------------------------------------

CParticleControl::CParticleControl(const CParticleControl& other)
    : CParticleDataControl(other),
      emitValue1(other.emitValue1),
      emitVector1(other.emitVector1),
      emitValue2(other.emitValue2),
      emitVector2(other.emitVector2),
      emitValue3(other.emitValue3),
      emitVector3(other.emitVector3),
      emitVector4(other.emitVector4),
      emitVector5(other.emitVector5),
      emitVector6(other.emitVector6),
      emitColor1(other.emitColor1),
      emitColor2(other.emitColor2),
      emitVector7(other.emitVector7),
      emitVector8(other.emitVector8),
      emitValue4(other.emitValue4),
      emitValue5(other.emitValue5),
      emitValue6(other.emitValue6),
      emitValue7(other.emitValue7),
      emitValue8(other.emitValue8),
      emitValue9(other.emitValue9),
      eventTimes(other.eventTimes),
      eventFlags(other.eventFlags) {}

Status CParticleControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CParticleDataControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // The target plays its new settings afresh.
  auto* c = static_cast<CParticleControl*>(target);
  c->eventCursor = 0;
  c->previousScaled = c->carry = 0.0f;
  c->seeded_ = false;
  c->modified = 1;
  return kOk;
}

Status CParticleControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CParticleDataControl::Persist(ar));
  const int32_t version = ar.Version(classRecord);
  if (version < kFirstCurrentVersion && ar.Loading()) ar.reader().Skip(4);
  ar("emitValue1", emitValue1)("emitVector1", emitVector1)("emitValue2", emitValue2);
  ar("emitVector2", emitVector2)("emitValue3", emitValue3)("emitVector3", emitVector3);
  ar("emitVector4", emitVector4)("emitVector5", emitVector5)("emitVector6", emitVector6);
  ar("emitColor1", emitColor1)("emitColor2", emitColor2)("emitVector7", emitVector7);
  ar("emitVector8", emitVector8)("emitValue4", emitValue4)("emitValue5", emitValue5);
  ar("emitValue6", emitValue6)("emitValue7", emitValue7)("emitValue8", emitValue8);
  ar("emitValue9", emitValue9);
  if (ar.Loading()) {
    eventCursor = 0;
    previousScaled = carry = 0.0f;
    seeded_ = false;
  }
  if (version >= kEventListsVersion) {
    UintCounted(ar, "eventTimes", eventTimes);
    UintCounted(ar, "eventFlags", eventFlags);
    return ar.status();
  }
  if (!ar.Loading() || !ar.ok()) return ar.status();
  // Older blocks had one emission window, kept in the timing fields that the link resets: it
  // starts at the value held in auxValue and, unless the controller repeats, ends at the one held
  // in priority. A repeating controller emits from its start on and repeats no more.
  return TryAllocate([&] {
    eventTimes.assign(1, auxValue);
    eventFlags.assign(1, 1);
    if (outOfRange == kOutOfRangeNone) {
      eventTimes.push_back(priority);
      eventFlags.push_back(0);
    } else {
      outOfRange = kOutOfRangeNone;
    }
  });
}

int64_t CParticleControl::GetMemorySize() const {
  return CParticleDataControl::GetMemorySize() + 212 + 4 * static_cast<int64_t>(eventTimes.size()) +
         static_cast<int64_t>(eventFlags.size());
}

float CParticleControl::Random() {
  if (!seeded_) {
    random_ = emitValue4;
    seeded_ = true;
  }
  // SplitMix64: small, fast and good enough to scatter particles; the same seed always gives
  // the same sequence.
  uint64_t z = (random_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  return static_cast<float>(z >> 40) * (1.0f / 16777216.0f);
}

void CParticleControl::Reset(CParticles& system) {
  system.liveCount = 0;
  carry = 0.0f;
  seeded_ = false;
}

void CParticleControl::Emit(CParticles& system, size_t count, float elapsed) {
  const CVector3<float> lo{std::min(emitVector3.x, emitVector4.x),
                           std::min(emitVector3.y, emitVector4.y),
                           std::min(emitVector3.z, emitVector4.z)};
  const CVector3<float> hi{std::max(emitVector3.x, emitVector4.x),
                           std::max(emitVector3.y, emitVector4.y),
                           std::max(emitVector3.z, emitVector4.z)};
  auto spread = [&] { return 2.0f * Random() - 1.0f; };
  for (size_t k = 0; k < count; ++k) {
    const auto i = static_cast<size_t>(system.liveCount++);
    CVector3<float> p = system.position + lo;
    p.x += (hi.x - lo.x) * Random();
    p.y += (hi.y - lo.y) * Random();
    p.z += (hi.z - lo.z) * Random();
    CVector3<float> v = emitVector1;
    v.x += emitVector5.x * spread();
    v.y += emitVector5.y * spread();
    v.z += emitVector5.z * spread();
    const float life =
        emitValue1 > 0.0f ? std::max(0.0f, emitValue1 * (1.0f + emitValue2 * spread())) : 0.0f;
    system.particleState4[i] = p;
    system.particleState1[i] = v;
    // Births are spread evenly over the step: particle k is born k/count of the way through it.
    system.particleState2[i] = -elapsed * static_cast<float>(k) / static_cast<float>(count);
    system.particleState3[i] = std::isfinite(life) ? life : 0.0f;
    system.particleColors[i] = emitColor1;
    system.worldPositions[i] = p;
  }
}

void CParticleControl::Advance(CParticles& system, float elapsed) const {
  const CVector3<float> a = emitVector2;
  auto& position = system.particleState4;
  auto& velocity = system.particleState1;
  auto& age = system.particleState2;
  auto& life = system.particleState3;
  auto& colour = system.particleColors;
  size_t live = static_cast<size_t>(system.liveCount);
  for (size_t i = 0; i < live;) {
    // A particle born within this step moves for the part of it since its birth.
    const float dt = std::min(elapsed, std::max(0.0f, age[i] + elapsed));
    age[i] += elapsed;
    if (life[i] > 0.0f && age[i] >= life[i]) {
      // Dies: the last living particle takes its slot.
      --live;
      position[i] = position[live];
      velocity[i] = velocity[live];
      age[i] = age[live];
      life[i] = life[live];
      colour[i] = colour[live];
      continue;
    }
    // Exact for a constant acceleration.
    position[i] += velocity[i] * dt + a * (0.5f * dt * dt);
    velocity[i] += a * dt;
    const float u = life[i] > 0.0f ? std::clamp(age[i] / life[i], 0.0f, 1.0f) : 0.0f;
    colour[i] = {emitColor1.x + (emitColor2.x - emitColor1.x) * u,
                 emitColor1.y + (emitColor2.y - emitColor1.y) * u,
                 emitColor1.z + (emitColor2.z - emitColor1.z) * u,
                 emitColor1.w + (emitColor2.w - emitColor1.w) * u};
    system.worldPositions[i] = position[i];
    ++i;
  }
  system.liveCount = static_cast<int32_t>(live);
}

Status CParticleControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  auto* system = KindOf<CParticles>(owner);
  if (!system) return kErrBadArgument;
  system->particleVector = system->position + (emitVector3 + emitVector4) * 0.5f;

  const float s = timeScale * time;
  float elapsed = s - previousScaled;
  previousScaled = s;
  if (!std::isfinite(elapsed)) elapsed = 0.0f;

  const KeyNear event = FindKeyNear(MapTime(time), eventTimes, eventCursor);
  if (event.code == kKeyNone || event.code == kKeyBefore) return kOk;
  eventCursor = event.index;

  // Playing from the first event, or going back in time, starts the particles afresh.
  if (std::fabs(s - eventTimes[0]) < kKeyTolerance) Reset(*system);
  if (elapsed < kBackwards) {
    Reset(*system);
    elapsed = 0.0f;
  }

  const size_t slots = Slots(*system);
  system->liveCount =
      static_cast<int32_t>(std::min(static_cast<size_t>(std::max(system->liveCount, 0)), slots));
  if (FlagAt(event.index) && emitValue3 > 0.0f && std::isfinite(emitValue3)) {
    const double owed = static_cast<double>(emitValue3) * elapsed + carry;
    const double whole = std::floor(owed);
    carry = static_cast<float>(owed - whole);
    const size_t free = slots - static_cast<size_t>(system->liveCount);
    const size_t count =
        whole > 0.0 ? static_cast<size_t>(std::min(whole, static_cast<double>(free))) : 0;
    Emit(*system, count, elapsed);
  }
  Advance(*system, elapsed);
  system->modified = 1;
  return kOk;
}

}  // namespace KX
