#pragma once
// Sound: PCM sound data, and the spatial sound emitter that plays it.
#include <cstdint>
#include <vector>

#include "scene/spatial.h"

namespace KX {

// The format header of PCM sound, with the field order and widths of the standard wave format
// header, which is how it is stored.
struct PcmFormat {
  uint16_t formatTag = 0;
  uint16_t channels = 1;
  uint32_t samplesPerSecond = 22050;
  uint32_t averageBytesPerSecond = 44100;
  uint16_t blockAlign = 2;
  uint16_t bitsPerSample = 16;
  friend bool operator==(const PcmFormat&, const PcmFormat&) = default;
};
static_assert(sizeof(PcmFormat) == 16);

// The wave format tag of plain PCM samples.
inline constexpr uint16_t kWaveFormatPcm = 1;

class CAudioData : public CCorva {
  KX_DECLARE_CLASS(CAudioData)

 public:
  PcmFormat format;
  std::vector<uint8_t> samples;  // the stored sample bytes; their count is the sample byte count

  CAudioData() = default;
  CAudioData(const CAudioData& other);

  // A copy with the same header and its own copy of the samples.
  Status Clone(CRefPtr<CBase>& out) const override;
  // The target takes the whole header and a copy of the samples.
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  uint32_t SampleBytes() const { return static_cast<uint32_t>(samples.size()); }
};

// The sound as a standard wave file (RIFF "WAVE": a 16-byte "fmt " chunk with the header, then a
// "data" chunk with the samples). A header that names no format (tag 0, what a new object
// carries) is written as PCM, which is what the samples are. Sounds too large for a wave file:
// kErrBadArgument.
Status EncodeWave(const CAudioData& sound, std::vector<uint8_t>& bytes);

// A sound emitter placed in the scene.
class CAudioInstance : public CSpatial {
  KX_DECLARE_CLASS(CAudioInstance)

 public:
  uint32_t audioValue0 = 0;  // stored from class version 2.1 on
  uint32_t audioValue1 = 0;
  uint32_t audioValue2 = 0;
  uint32_t audioValue3 = 0;
  uint32_t audioValue4 = 0;
  uint32_t audioValue5 = 0;
  float audioScale1 = 1.0f;
  float audioScale2 = 1.0f;
  float audioScale3 = 1.0f;
  CRefPtr<CAudioData> audio;  // shared with other emitters

  CAudioInstance() = default;
  // Copies every value; the copy shares the sound.
  CAudioInstance(const CAudioInstance&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  // The spatial part's references, then the sound, followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) override;
  // The spatial part; then the sound, whose answer does not matter to the emitter.
  Status Update(float time) override;
  void CollectSpatials(SpatialQueue& queue) override { queue.push_back(this); }
  Status UpdateBound() override { return kNothingDone; }

  // Stores `object` (null allowed) and marks the emitter modified.
  void SetAudio(CAudioData* object);
};

}  // namespace KX
