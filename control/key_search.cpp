#include "control/key_search.h"

#include <algorithm>
#include <cmath>

namespace KX {

namespace {

float Fraction(float time, float from, float to) {
  return static_cast<float>((static_cast<double>(time) - from) / (static_cast<double>(to) - from));
}

// Steps 1-7 of both searches; t is left for the caller.
KeySegment Locate(float time, std::span<const float> times, int32_t& cursor) {
  KeySegment seg;
  if (times.empty()) return seg;
  const auto last = static_cast<int32_t>(times.size() - 1);
  if (time <= times[0]) {
    cursor = 0;
    seg.code = kKeyBefore;
    return seg;
  }
  if (time >= times[last]) {
    cursor = last;
    seg.code = kKeyAfter;
    seg.a = seg.b = last;
    return seg;
  }
  if (cursor < 0 || cursor > last) cursor = 0;
  // The walks are bounded explicitly: key times from files may be unordered or NaN.
  if (time > times[cursor]) {
    int32_t i = cursor + 1;
    while (i < last && time >= times[i]) cursor = i++;
    seg.a = cursor;
    seg.b = i;
    seg.code = kKeyForward;
  } else if (time == times[cursor]) {
    seg.a = seg.b = cursor;
    seg.code = kKeyExact;
  } else if (cursor == 0) {
    // Only reachable with NaN times: hold the first key.
    seg.code = kKeyBefore;
  } else {
    int32_t i = cursor - 1;
    while (i > 0 && time <= times[i]) cursor = i--;
    seg.a = i;
    seg.b = cursor;
    seg.code = kKeyBackward;
  }
  return seg;
}

}  // namespace

KeySegment FindKeySegment(float time, std::span<const float> times, int32_t& cursor) {
  KeySegment seg = Locate(time, times, cursor);
  if (seg.code == kKeyForward || seg.code == kKeyBackward)
    seg.t = Fraction(time, times[seg.a], times[seg.b]);
  return seg;
}

KeySegment FindKeySegmentEased(float time, std::span<const float> times,
                               std::span<const float> transition, std::span<const int32_t> type,
                               int32_t& cursor) {
  KeySegment seg = Locate(time, times, cursor);
  if (seg.code != kKeyForward && seg.code != kKeyBackward) return seg;
  const auto b = static_cast<size_t>(seg.b);
  const int32_t kind = b < type.size() ? type[b] : kKeyLinear;
  if (kind == kKeyStep) return seg;
  const float length = b < transition.size() ? transition[b] : kNoTransition;
  const float span = std::min(times[seg.b] - times[seg.a], length);
  const float rest = std::min(times[seg.b] - time, span);
  float t = rest;
  if (span > 0.00001f) t = (span - rest) / span;
  if (kind == kKeyEaseIn)
    t = t * t;
  else if (kind == kKeyEaseOut)
    t = 2 * t - t * t;
  seg.t = t;
  return seg;
}

KeyNear FindKeyNear(float time, std::span<const float> times, int32_t start) {
  KeyNear near;
  if (times.empty()) return near;
  const auto last = static_cast<int32_t>(times.size() - 1);
  if (time < times[0]) return {kKeyBefore, 0};
  if (time > times[last]) return {kKeyAfter, last};
  int32_t i = std::clamp(start, 0, last);
  auto close = [&](int32_t k) { return std::fabs(time - times[k]) < kKeyTolerance; };
  if (close(i)) return {kKeyExact, i};
  if (times[i] <= time) {
    while (i < last && times[i + 1] <= time) ++i;
    return {close(i) ? kKeyExact : kKeyForward, i};
  }
  // time >= times[0] here, so the walk stops at a key at or before the time.
  while (i > 0 && times[i] > time) --i;
  return {close(i) ? kKeyExact : kKeyBackward, i};
}

KeyNear FindKeyNearFrom(float time, std::span<const float> times, int32_t start) {
  if (times.empty()) return {kKeyNone, -1};
  return FindKeyNear(time, times, std::max(start, 0));
}

}  // namespace KX
