#pragma once
// Particle controllers: the emitter controller starts and moves the particles of the particle
// system it is attached to, switched on and off by a list of events, and a clip controller plays
// emitters one after another.
#include <cstdint>
#include <vector>

#include "object/control.h"
#include "control/data_clip.h"
#include "core/math/vector.h"

namespace KX {

class CParticles;

// The level every particle controller shares; it holds nothing of its own.
class CParticleDataControl : public CDataControl {
  KX_DECLARE_CLASS(CParticleDataControl)

 public:
  CParticleDataControl() = default;
  CParticleDataControl(const CParticleDataControl&) = default;

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  // Particle controllers change their particle system while they update; applying has nothing
  // left to do.
  Status ApplyData() override { return owner ? kNothingDone : kErrBadArgument; }
};

// An emitter. Between an event whose flag is set and the next event it emits emitValue3
// particles per second of scaled time; every living particle moves under a constant
// acceleration and dies at the end of its life.
//
// What it keeps in its particle system, per particle slot below liveCount: particleState4 the
// position, particleState1 the velocity, particleState2 the age in seconds (negative while the
// particle is not yet born within the current step), particleState3 the life span (0: no end),
// particleColors the colour; worldPositions receives the position. particleVector holds the
// emitter centre. Positions are in the space the system's own position is given in.
class CParticleControl : public CParticleDataControl {
  KX_DECLARE_CLASS(CParticleControl)

 public:
  // The emitter settings, in stored order. Each is four bytes (three for a vector, four for a
  // colour); values this emitter does not read are kept as they were stored.
  float emitValue1 = 1.0f;      // life span of a particle, seconds; 0 or less: no end
  CVector3<float> emitVector1;  // initial velocity, units per second
  float emitValue2 = 0.0f;      // life variation: each life is emitValue1 × (1 ± emitValue2)
  CVector3<float> emitVector2;  // constant acceleration (gravity, wind), units per second²
  float emitValue3 = 0.0f;      // particles emitted per second of scaled time
  CVector3<float> emitVector3;  // one corner of the box new particles start in, relative to
  CVector3<float> emitVector4;  // the system's position; the other corner
  CVector3<float> emitVector5;  // velocity spread: each component varies by up to ± this
  CVector3<float> emitVector6;  // kept; not read by emission
  CVector4<float> emitColor1{1, 1, 1, 1};  // colour (r, g, b, a) at birth
  CVector4<float> emitColor2{1, 1, 1, 0};  // colour at the end of life, reached linearly
  CVector3<float> emitVector7;             // kept; not read by emission
  CVector3<float> emitVector8;             // kept; not read by emission
  uint32_t emitValue4 = 0;                 // seed of the emitter's random numbers
  uint32_t emitValue5 = 0;                 // kept; not read by emission
  uint32_t emitValue6 = 0;                 // kept
  uint32_t emitValue7 = 0;                 // kept
  uint32_t emitValue8 = 0;                 // kept
  uint32_t emitValue9 = 0;                 // kept
  // Ascending event times and one flag per event (0 or 1 as stored): from an event with its
  // flag set the emitter emits until the next event.
  std::vector<float> eventTimes;
  std::vector<uint8_t> eventFlags;

  // Transient playback state.
  int32_t eventCursor = 0;
  float previousScaled = 0.0f;  // the scaled time of the last update
  float carry = 0.0f;           // the fraction of a particle owed from the last update

  CParticleControl() = default;
  // Copies the settings and events; the copy starts playing afresh.
  CParticleControl(const CParticleControl& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  float GetDuration() const override { return eventTimes.empty() ? 0.0f : eventTimes.back(); }
  // Places the emitter, then, at or after the first event, emits and advances the particles.
  // The owner must be a particle system (else kErrBadArgument).
  Status Update(float time) override;

  // Forgets the particles and the playback state: the next update starts as the first did.
  void Reset(CParticles& system);

 private:
  bool FlagAt(int32_t index) const {
    return index >= 0 && static_cast<size_t>(index) < eventFlags.size() && eventFlags[index] != 0;
  }
  // A number in [0, 1) from the emitter's own generator.
  float Random();
  void Emit(CParticles& system, size_t count, float elapsed);
  void Advance(CParticles& system, float elapsed) const;

  uint64_t random_ = 0;
  bool seeded_ = false;
};

class CParticleClipControl
    : public CDataClipControl<CParticleDataControl, CParticleDataControl, CParticleClipControl> {
  KX_DECLARE_CLASS(CParticleClipControl)

 public:
  CParticleClipControl() = default;
  CParticleClipControl(const CParticleClipControl&) = default;
};

}  // namespace KX
