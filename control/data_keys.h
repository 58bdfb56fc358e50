#pragma once
// Key lists of the keyed data controllers: stored as a uint32 count and the elements (UintCounted,
// control/control_archive.h), searched through their own time list, and blended between the two
// keys a search found. A file may carry fewer values than times; a time without a value has
// nothing to give, and the value it would have replaced stays as it was.
#include <cstdint>
#include <vector>

#include "control/key_search.h"
#include "object/archive.h"
#include "object/control.h"

namespace KX {

// value = keys[a] + t (keys[b] - keys[a]); false, and `value` untouched, when either key is
// missing from the list or the search found no keys.
template <class T>
bool BlendKeys(const std::vector<T>& keys, const KeySegment& segment, T& value) {
  if (segment.code == kKeyNone) return false;
  const auto a = static_cast<size_t>(segment.a), b = static_cast<size_t>(segment.b);
  if (a >= keys.size() || b >= keys.size()) return false;
  value = keys[a] + segment.t * (keys[b] - keys[a]);
  return true;
}

// value = keys[index], for values that do not interpolate.
template <class T>
bool HoldKey(const std::vector<T>& keys, int32_t index, T& value) {
  if (index < 0 || static_cast<size_t>(index) >= keys.size()) return false;
  value = keys[static_cast<size_t>(index)];
  return true;
}

// Keyed blocks stored at this version or older kept their key times in scene time.
constexpr int32_t kLegacyKeysVersion = 200;

// Old blocks kept their key times in scene time; they become relative to the controller's start.
inline void ShiftKeyTimes(std::vector<float>& times, float start) {
  if (start == 0.0f) return;
  for (float& t : times) t -= start;
}

// The load-only step of a keyed block: the key times of one stored at kLegacyKeysVersion or
// older become relative to `control`'s start.
inline void ShiftLegacyKeyTimes(CArchive& ar, const CControl& control, int32_t version,
                                std::vector<float>& times) {
  if (ar.Loading() && ar.ok() && version <= kLegacyKeysVersion)
    ShiftKeyTimes(times, control.LegacyStartTime(ar.reader()));
}

// Bytes the elements of a list take, for memory estimates.
template <class T>
int64_t ListBytes(const std::vector<T>& list) {
  return static_cast<int64_t>(list.size() * sizeof(T));
}

inline float LastKeyTime(const std::vector<float>& times) {
  return times.empty() ? 0.0f : times.back();
}

}  // namespace KX
