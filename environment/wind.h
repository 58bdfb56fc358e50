#pragma once
// Wind: owns an engine of our tree runtime and keeps the engine's saved form in scene files.
#include <cstdint>
#include <memory>
#include <vector>

#include "object/scene_object_base.h"
#include "environment/tree_runtime/wind_engine.h"

namespace KX {

class CWind : public CCorva {
  KX_DECLARE_CLASS(CWind)

 public:
  // Null only after a copy from a wind without one.
  std::unique_ptr<CWindEngine> engine;
  // One value per wind matrix of the engine, sized when the wind is loaded; never saved.
  std::vector<float> windValues1;
  std::vector<float> windValues2;
  // The engine's saved form, made as the wind joins a save and written with the record; kept
  // until the next save makes it again or AssignTo changes the wind.
  std::vector<uint8_t> windBlock;

  CWind();
  ~CWind() override;

  // A copy of the engine and of both lists; no block.
  Status Clone(CRefPtr<CBase>& out) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  // A wind block of our engine that is damaged: kErrOpen. Blocks of other runtimes load and
  // are kept as they are. Writing writes the prepared block, or the engine's saved form made
  // here when nobody prepared one.
  Status Persist(CArchive& ar) override;
  // Makes the engine's saved form afresh.
  Status PrepareSave(CPersistContext& context) override;
  int64_t GetMemorySize() const override;

 protected:
  // Copies both lists; no engine, no block.
  CWind(const CWind& other);
};

}  // namespace KX
