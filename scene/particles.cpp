#include "scene/particles.h"

#include <optional>
#include <string>

#include "core/alloc.h"
#include "object/archive.h"
#include "object/container.h"

namespace KX {

KX_DEFINE_CLASS(CParticles, CGeometry, 2, 0)

namespace {

// What an estimate of a particle system's memory adds to the geometry part, besides its arrays.
constexpr int64_t kParticlesMemorySize = 80;
constexpr int64_t kPerParticleMemory = 64;
constexpr int64_t kPerColourMemory = 16;
constexpr int64_t kPerVertexMemory = 20;

}  // namespace

CParticles::CParticles(const CParticles& other)
    : CGeometry(other), particleValue(other.particleValue), particleVector(other.particleVector) {}

Status CParticles::Clone(CRefPtr<CBase>& out) const {
  CRefPtr<CParticles> copy;
  KX_RETURN_IF_FAILED(TryNew<CParticles>(copy, *this));
  KX_RETURN_IF_FAILED(copy->SetCapacity(capacity));
  out = copy.get();
  return kOk;
}

Status CParticles::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CGeometry::AssignTo(target, released));
  auto* particles = KindOf<CParticles>(target);
  if (!particles) return kErrMalformed;
  if (particles == this) return kOk;
  particles->particleValue = particleValue;
  // The same capacity keeps the target's particles.
  if (particles->capacity != capacity) return particles->SetCapacity(capacity);
  return kOk;
}

void CParticles::FreeParticleState() {
  particleColors.Free();
  std::vector<CVector3<float>>().swap(particleState1);
  std::vector<float>().swap(particleState2);
  std::vector<float>().swap(particleState3);
  std::vector<CVector3<float>>().swap(particleState4);
  std::vector<CVector3<float>>().swap(particleState5);
  std::vector<CVector3<float>>().swap(particleState6);
  std::vector<float>().swap(particleState7);
  std::vector<float>().swap(particleState8);
  std::vector<CVector4<float>>().swap(particleState9);
  std::vector<float>().swap(particleState10);
}

Status CParticles::SetCapacity(int32_t n) {
  if (n < 0) return kErrBadArgument;
  FreeParticleState();
  capacity = n;
  liveCount = 0;
  if (n == 0) return kOk;
  const Status status = Guarded([&]() -> Status {
    KX_RETURN_IF_FAILED(positions.Resize(n));
    KX_RETURN_IF_FAILED(worldPositions.Resize(n));
    KX_RETURN_IF_FAILED(particleColors.Resize(n));
    const auto size = static_cast<size_t>(n);
    particleState1.resize(size);
    particleState2.resize(size);
    particleState3.resize(size);
    particleState4.resize(size);
    particleState5.resize(size);
    particleState6.resize(size);
    particleState7.resize(size);
    particleState8.resize(size);
    particleState9.resize(size);
    particleState10.resize(size);
    return kOk;
  });
  if (Failed(status)) {
    // No arrays that disagree with the capacity are left behind.
    FreeParticleState();
    positions.Free();
    worldPositions.Free();
    capacity = 0;
  }
  return status;
}

Status CParticles::Persist(CArchive& ar) {
  // The working buffers below start from the positions: a load reads them in place.
  std::optional<CReadInPlace> inPlace;
  if (ar.Loading()) inPlace.emplace(ar.reader());
  KX_RETURN_IF_FAILED(CGeometry::Persist(ar));
  // The capacity below sizes the working positions itself, which the controllers then write.
  if (ar.Loading()) KX_RETURN_IF_FAILED(PrepareWorkingBuffers());
  ar.Version(classRecord);
  int32_t stored = capacity;
  ar("capacity", stored)("particleValue", particleValue);
  if (!ar.Loading() || !ar.ok()) return ar.status();
  if (stored < 0 || static_cast<size_t>(stored) > positions.size()) {
    CReader& in = ar.reader();
    if (CPersistContext* context = in.contextOrNull(); context && context->diagnostics.message.empty())
      context->diagnostics.message =
          "a particle capacity of " + std::to_string(stored) + " where the record stores " +
          std::to_string(positions.size()) + " particle positions";
    return ar.Fail(kErrMalformed);
  }
  return SetCapacity(stored);
}

int64_t CParticles::GetMemorySize() const {
  return CGeometry::GetMemorySize() + kParticlesMemorySize + kPerParticleMemory * capacity +
         kPerColourMemory * static_cast<int64_t>(particleColors.size()) +
         kPerVertexMemory * static_cast<int64_t>(VertexCount());
}

Status CParticles::Update(float time) {
  if (frozen) return kNothingDone;
  normalsValid = false;
  inWorldSpace = false;
  KX_RETURN_IF_FAILED(CSpatial::Update(time));
  if (material) KX_RETURN_IF_FAILED(material->Update(time));
  normalsValid = true;
  inWorldSpace = true;
  return kOk;
}

}  // namespace KX
