#pragma once
// Particle systems: geometry sized to a particle capacity, with per-particle state that the
// particle controllers fill. Particle positions are written in world space by the controllers.
#include <cstdint>
#include <vector>

#include "scene/geometry.h"

namespace KX {

class CParticles : public CGeometry {
  KX_DECLARE_CLASS(CParticles)

 public:
  int32_t capacity = 0;
  int32_t liveCount = 0;  // never saved
  uint32_t particleValue = 0;
  // Sized to the capacity; never saved.
  CBuffer<CVector4<float>> particleColors;
  // Per-particle state, capacity elements each (empty without a capacity); never saved. What
  // each holds is up to the particle controllers.
  std::vector<CVector3<float>> particleState1;
  std::vector<float> particleState2;
  std::vector<float> particleState3;
  std::vector<CVector3<float>> particleState4;
  std::vector<CVector3<float>> particleState5;
  std::vector<CVector3<float>> particleState6;
  std::vector<float> particleState7;
  std::vector<float> particleState8;
  std::vector<CVector4<float>> particleState9;
  std::vector<float> particleState10;
  CVector3<float> particleVector;  // never saved; copies carry it

  CParticles() = default;
  // Copies the geometry, particleValue and particleVector; the copy has no capacity and no
  // particle state (Clone sizes it).
  CParticles(const CParticles& other);

  // A copy of the same capacity whose particle state starts afresh.
  Status Clone(CRefPtr<CBase>& out) const override;
  // Copies particleValue; a target of another capacity takes this one (and loses its particles).
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  // The stored capacity is refused as malformed when it exceeds the particle positions the
  // record's geometry block stores: every particle system is saved with exactly `capacity`
  // positions, so a larger capacity only comes from a damaged or crafted file, and would make a
  // few bytes of file claim memory for billions of particles.
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  // Frozen: kNothingDone, nothing changes. Otherwise the spatial part and the material; the
  // positions are left as the controllers wrote them, already in world space.
  Status Update(float time) override;

  // Frees the particle state; with n > 0 sizes positions, worldPositions, particleColors and the
  // ten state arrays to n zeroed elements. Positions the object had stay when n is 0. No live
  // particles afterwards. Negative n: kErrBadArgument, nothing changes; failed allocation:
  // kErrOutOfMemory with no capacity and no particle state left.
  Status SetCapacity(int32_t n);

 private:
  void FreeParticleState();
};

}  // namespace KX
