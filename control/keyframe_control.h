#pragma once
// Keyframed transforms: rotation, position and scale keys, either on one shared list of key times
// (with a transition length and an interpolation type per key) or on a time list per channel, and
// the variant that plays named ranges of its keys (clips) in a sequence.
#include <string_view>
#include <vector>

#include "control/rts_control.h"
#include "object/fields.h"
#include "core/held_value.h"
#include "core/math/vector.h"
#include "core/small_array.h"

namespace KX {

// Key times of each channel on its own, for the blocks that key their channels at different
// times; few do.
struct ChannelKeyTimes {
  CSmallArray<float> rotationTimes;
  CSmallArray<float> positionTimes;
  CSmallArray<float> scaleTimes;
  // Where the last search of each list ended.
  int32_t rotationCursor = 0;
  int32_t positionCursor = 0;
  int32_t scaleCursor = 0;

  bool empty() const {
    return rotationTimes.empty() && positionTimes.empty() && scaleTimes.empty();
  }
};

class CKeyframeControl : public CRTSControl {
  KX_DECLARE_CLASS(CKeyframeControl)

 public:
  // Key lists are mostly short; a single key or up to three times need no heap block.
  CSmallArray<CQuaternion, std::allocator<CQuaternion>, sizeof(CQuaternion)> rotationKeys;
  CSmallArray<CVector3<float>> positionKeys;
  CSmallArray<CVector3<float>> scaleKeys;
  // Per shared key: how long the change into the key takes, and its shape (KeyInterpolation).
  CSmallArray<float> transition;
  CSmallArray<int32_t> type;
  // Shared key times: when not empty, key k of every channel is at keyTimes[k] and the channel
  // time lists are not used.
  CSmallArray<float> keyTimes;
  // Where the last search of keyTimes ended.
  int32_t keyCursor = 0;
  // The time lists of each channel: empty, and without a heap block, unless a block has them.
  CHeldValue<ChannelKeyTimes> channelTimes;
  // Kept by the oldest blocks only; nothing reads it.
  float legacyValue = 0.0f;

  CKeyframeControl() = default;
  CKeyframeControl(const CKeyframeControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  float GetDuration() const override;
  Status EvaluateTransform(float time) override;

  // Gives every shared key a transition and type (no transition, linear) when the lists do not
  // match the key times one to one.
  void RebuildTransitions();
  // Sets the channel time lists; empty lists give back their heap block.
  void SetChannelTimes(CSmallArray<float> rotation, CSmallArray<float> position,
                       CSmallArray<float> scale);
  // Every search starts from the first key again.
  void ResetCursors();

 protected:
  // The keyed local pose at controller time `t`, combined with the owner's parent.
  void EvaluateKeys(float t);
};

// A named range of the keys.
struct ClipRecord {
  char16_t name[32] = {};  // zero-terminated, zero-padded
  int32_t id = 0;
  // 0 holds the clip's start pose, kClipDefault plays when the sequence has run out, any other
  // value loops the clip.
  int32_t mode = 0;
  float start = 0.0f;
  float end = 0.0f;

  // The name up to its terminator (or all 32 units when a file left it out).
  std::u16string_view Name() const;
  void SetName(std::u16string_view text);
};
static_assert(sizeof(ClipRecord) == 80);

// The name is listed unit by unit: a loaded clip keeps whatever its file held after the
// terminator, and saves it again.
inline void DescribeValue(CFieldSink& sink, const char* name, const ClipRecord& c) {
  CFieldRecord(sink, name)("name", c.name)("id", c.id)("mode", c.mode)("start", c.start)("end",
                                                                                         c.end);
}

// One step of the clip sequence: from startTime, clips[clipIndex] plays `repeat` times.
struct SequenceEntry {
  float startTime = 0.0f;
  uint32_t clipIndex = 0;
  uint32_t repeat = 1;
};
static_assert(sizeof(SequenceEntry) == 12);

inline void DescribeValue(CFieldSink& sink, const char* name, const SequenceEntry& e) {
  CFieldRecord(sink, name)("startTime", e.startTime)("clipIndex", e.clipIndex)("repeat", e.repeat);
}

inline constexpr int32_t kClipHold = 0;
inline constexpr int32_t kClipDefault = 2;

class CKeyframeClipControl : public CKeyframeControl {
  KX_DECLARE_CLASS(CKeyframeClipControl)

 public:
  std::vector<ClipRecord> clips;
  std::vector<SequenceEntry> sequence;

  CKeyframeClipControl() = default;
  CKeyframeClipControl(const CKeyframeClipControl&) = default;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  Status EvaluateTransform(float time) override;

  // The time in the keys that the sequence plays at scaled time x.
  float ClipTime(float x) const;

 private:
  // Blocks before 2.0 stored clip names as 32 bytes of 8-bit text.
  Status LoadNarrowClips(CReader& in);
};

}  // namespace KX
