#include "environment/wind.h"

#include <climits>

#include "core/alloc.h"
#include "object/container.h"
#include "environment/runtime_block.h"
#include "object/archive.h"

namespace KX {

KX_DEFINE_CLASS(CWind, CCorva, 2, 0)

namespace {

// The status old files answered for a wind block the engine would not take.
constexpr Status kWindRefused = kErrOpen;
constexpr int64_t kWindMemory = 64;

// Both lists as long as the engine has matrices (none without an engine), all zeros.
Status SizeValues(const CWindEngine* engine, std::vector<float>& values1,
                  std::vector<float>& values2) {
  const size_t count = engine ? static_cast<size_t>(engine->GetNumWindMatrices()) : 0;
  return TryAllocate([&] {
    values1.assign(count, 0.0f);
    values2.assign(count, 0.0f);
  });
}

}  // namespace

CWind::CWind() : engine(std::make_unique<CWindEngine>()) {}

CWind::CWind(const CWind& other)
    : CCorva(other), windValues1(other.windValues1), windValues2(other.windValues2) {}

CWind::~CWind() = default;

Status CWind::Clone(CRefPtr<CBase>& out) const {
  CRefPtr<CWind> copy;
  KX_RETURN_IF_FAILED(TryAllocate([&] { copy = new CWind(*this); }));
  if (engine) KX_RETURN_IF_FAILED(TryAllocate([&] { copy->engine = std::make_unique<CWindEngine>(*engine); }));
  out = copy;
  return kOk;
}

Status CWind::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CCorva::AssignTo(target, released));
  auto* wind = KindOf<CWind>(target);
  if (!wind) return kErrMalformed;
  if (wind == this) return kOk;
  std::unique_ptr<CWindEngine> copied;
  if (engine) KX_RETURN_IF_FAILED(TryAllocate([&] { copied = std::make_unique<CWindEngine>(*engine); }));
  std::vector<float> values1, values2;
  KX_RETURN_IF_FAILED(TryAssign(values1, windValues1));
  KX_RETURN_IF_FAILED(TryAssign(values2, windValues2));
  // A wind without an engine leaves the target's engine alone.
  if (copied) wind->engine = std::move(copied);
  wind->windValues1 = std::move(values1);
  wind->windValues2 = std::move(values2);
  wind->windBlock = {};
  return kOk;
}

Status CWind::PrepareSave(CPersistContext&) {
  return PrepareRuntimeBlock(engine.get(), windBlock,
                             [&](std::vector<uint8_t>& block) { return engine->Save(block); });
}

Status CWind::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CCorva::Persist(ar));
  ar.Version(classRecord);
  std::vector<uint8_t> block;  // what a load read, for the engine
  KX_RETURN_IF_FAILED(
      PersistRuntimeBlock(ar, "windBlock", engine.get(), windBlock, block,
                          [&](std::vector<uint8_t>& made) { return engine->Save(made); }));
  if (!ar.Loading()) return ar.status();
  if (!engine) KX_RETURN_IF_FAILED(TryAllocate([&] { engine = std::make_unique<CWindEngine>(); }));
  if (!block.empty()) {
    const Status loaded = engine->Load(block.data(), block.size());
    if (loaded == kErrOutOfMemory) return loaded;
    if (Failed(loaded)) {
      CReader& in = ar.reader();
      if (in.recordOrNull() && in.context().diagnostics.message.empty())
        in.context().diagnostics.message = "the wind's settings block is damaged";
      return kWindRefused;
    }
  }
  return SizeValues(engine.get(), windValues1, windValues2);
}

int64_t CWind::GetMemorySize() const { return CCorva::GetMemorySize() + kWindMemory; }

}  // namespace KX
