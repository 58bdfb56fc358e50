#pragma once
// The wind of our tree runtime: a steady sway plus gusts, spread over a number of wind matrices
// that tree vertices follow (each vertex names one, see CTreeStrip). Its settings travel in scene
// files as a small framed block of our own (saved_form.h); blocks of other runtimes are kept and
// written back unchanged.
#include <cstdint>
#include <vector>

#include "core/math/matrix.h"
#include "core/math/vector.h"
#include "core/status.h"

namespace KX {

struct CWindSettings {
  static constexpr uint32_t kMaxMatrices = 64;

  uint32_t matrixCount = 10;         // 1 to kMaxMatrices
  float strength = 0.3f;             // steady bend, radians at full weight, >= 0
  CVector3<float> direction{1.0f, 0.0f, 0.0f};  // where the wind blows to; only its heading counts
  float gustStrength = 0.2f;         // extra bend of a gust, radians, >= 0
  float gustFrequency = 0.5f;        // gusts per second, >= 0
  float swayFrequency = 1.2f;        // sways per second, >= 0

  // Every value finite and in its range.
  bool IsValid() const;
};

class CWindEngine {
 public:
  static constexpr uint32_t kFormatVersion = 1;

  CWindEngine() = default;
  CWindEngine(const CWindEngine&) = default;
  CWindEngine& operator=(const CWindEngine&) = default;

  const CWindSettings& Settings() const { return settings_; }
  // Refused with kErrBadArgument when not valid. Lets go of a block of another runtime.
  Status SetSettings(const CWindSettings& settings);
  // False while the engine holds a block of another runtime, which it keeps to write back.
  bool HasSettings() const { return foreign_.empty(); }
  int32_t GetNumWindMatrices() const { return static_cast<int32_t>(settings_.matrixCount); }

  // The rotation of every wind matrix at `time` (seconds): matrix i bends about the horizontal
  // axis across the wind, by the sway and gusts with a phase of its own, so that neighbouring
  // branches do not move in step. The count follows the settings.
  Status GetWindMatrices(float time, std::vector<CMatrix4>& out) const;

  // Reads a saved form: a block without our signature (or of a later version) is kept byte for
  // byte; our own block is checked (frame, checksum, every value) and a damaged one refused with
  // kErrMalformed, leaving the engine as it was. An empty block: kErrBadArgument.
  Status Load(const uint8_t* data, size_t size);
  Status Save(std::vector<uint8_t>& out) const;

 private:
  CWindSettings settings_;
  std::vector<uint8_t> foreign_;
};

}  // namespace KX
