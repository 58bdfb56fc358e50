#pragma once
// Key searches over ascending key-time arrays. Each array has a cursor (where the previous search
// ended) so that playback in small steps costs constant work per search.
#include <cstdint>
#include <limits>
#include <span>

namespace KX {

// Two key times closer than this are the same key.
inline constexpr float kKeyTolerance = 0.008333334f;
// Transition length of a key that changes over the whole segment.
inline constexpr float kNoTransition = std::numeric_limits<float>::max();

enum KeyInterpolation : int32_t {
  kKeyLinear = 0,
  kKeyStep = 1,
  kKeyEaseOut = 2,
  kKeyEaseIn = 3,
};

// Where a time falls among the keys.
enum KeyCode : int32_t {
  kKeyNone = 0,     // no keys
  kKeyBefore = 1,   // at or before the first key
  kKeyBackward = 2, // between keys, found walking backward
  kKeyExact = 3,    // on a key
  kKeyForward = 4,  // between keys, found walking forward
  kKeyAfter = 5,    // at or after the last key
};

struct KeySegment {
  KeyCode code = kKeyNone;
  int32_t a = 0;  // key at or before the time
  int32_t b = 0;  // key after the time (a when on or outside the keys)
  float t = 0.0f; // 0 at key a, 1 at key b
};

// Plain search: t is the linear position of `time` between keys a and b.
KeySegment FindKeySegment(float time, std::span<const float> times, int32_t& cursor);

// Eased search: the change from key a to key b takes the last transition[b] seconds before key b,
// shaped by type[b]. Missing entries of `transition` or `type` count as no transition and linear.
KeySegment FindKeySegmentEased(float time, std::span<const float> times,
                               std::span<const float> transition, std::span<const int32_t> type,
                               int32_t& cursor);

struct KeyNear {
  KeyCode code = kKeyNone;
  int32_t index = 0;
};

// Tolerant lookup: the key at or before `time`, with kKeyExact when within kKeyTolerance of the
// key where the search starts or stops.
KeyNear FindKeyNear(float time, std::span<const float> times, int32_t start);
// The same, starting from max(start, 0) and answering index -1 for an empty array; used for
// target lists.
KeyNear FindKeyNearFrom(float time, std::span<const float> times, int32_t start);

}  // namespace KX
