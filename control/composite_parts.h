#pragma once
// The parts that composite controllers are made of: CLayer<T>, an ordered list of owned
// sub-controllers of one kind, and CClip<T>, that list plus a clip table which plays the
// sub-controllers one after another on a timeline. A composite controller holds one of them as a
// member, states its sub-controllers among its references and passes copies and its owner on.
// T is a controller class: everything here only needs CControl's interface.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <new>
#include <vector>

#include "object/control.h"
#include "control/control_archive.h"
#include "core/alloc.h"
#include "object/fields.h"
#include "object/scene_object_base.h"

namespace KX {

template <class T>
class CLayer {
 public:
  // In list order; entries may be null (a file may name objects it does not hold).
  std::vector<CRefPtr<T>> subControllers;

  CLayer() = default;
  // The list is a set of links: a copy starts without sub-controllers (Duplicate copies them).
  CLayer(const CLayer&) {}
  CLayer& operator=(const CLayer&) = delete;
  virtual ~CLayer() = default;

  // The sub-controller at `index`, or null when there is none.
  T* At(size_t index) const {
    return index < subControllers.size() ? subControllers[index].get() : nullptr;
  }

  // Copies every sub-controller through `map` into `copy`, which must be empty.
  Status DuplicateInto(CLayer& copy, DuplicateMap& map) const {
    KX_RETURN_IF_FAILED(
        TryAllocate([&] { copy.subControllers.assign(subControllers.size(), nullptr); }));
    for (size_t i = 0; i < subControllers.size(); ++i) {
      if (!subControllers[i]) continue;
      CRefPtr<CBase> sub;
      KX_RETURN_IF_FAILED(subControllers[i]->Duplicate(sub, map));
      copy.subControllers[i] = KindOf<T>(sub.get());
    }
    return kOk;
  }

  // The target shares this list's sub-controllers; those it held before go to `released`.
  Status ShareWith(CLayer& target, ReleasedList& released) const {
    if (&target == this) return kOk;
    try {
      std::vector<CRefPtr<T>> shared(subControllers);
      released.reserve(released.size() + target.subControllers.size());
      for (const auto& old : target.subControllers)
        if (old) released.emplace_back(old.get());
      target.subControllers = std::move(shared);
    } catch (const std::bad_alloc&) {
      return kErrOutOfMemory;
    }
    return kOk;
  }

  // The sub-controllers animate the composite's owner.
  void SetOwner(CCorva* object) const {
    for (const auto& sub : subControllers)
      if (sub) sub->SetOwner(object);
  }

  // Every sub-controller, in list order, followed by every walk.
  void VisitReferences(CReferenceVisitor& visit) { visit.Each(subControllers); }

  // Stored as an int32 count and one object id per entry, listed as `name`; a read gives the
  // list one null slot per entry, which the link fills in the same order.
  void PersistIds(CArchive& ar, const char* name) {
    auto count = static_cast<int32_t>(subControllers.size());
    ar.Count(count);
    if (ar.Loading()) {
      if (!ar.reader().CanHold(count, kIdSize)) return;
      if (const Status s =
              TryAllocate([&] { subControllers.assign(static_cast<size_t>(count), nullptr); });
          Failed(s)) {
        ar.reader().Fail(s);
        return;
      }
    }
    const auto list = ListScope(ar, name);
    for (auto& sub : subControllers) ar.Ref(nullptr, sub);
  }

  // The longest sub-controller, in the composite's time: duration over time scale. Controllers
  // that cannot be played (a zero or unusable scale) do not count.
  float LongestDuration() const {
    float longest = 0.0f;
    for (const auto& sub : subControllers) {
      if (!sub || sub->timeScale == 0.0f) continue;
      const float d = sub->GetDuration() / sub->timeScale;
      if (std::isfinite(d)) longest = std::max(longest, d);
    }
    return longest;
  }

  int64_t GetMemorySize() const { return 16 + 4 * static_cast<int64_t>(subControllers.size()); }
};

// One clip of a clip table, 36 bytes as stored.
struct ClipEntry {
  float speed = 1.0f;           // source time per unit of elapsed time
  uint32_t source = 0xFFFFFFFFu;  // index into the sub-controllers; none by default
  uint32_t repeat = 1;          // passes through the source
  float inPoint = 0.0f;         // lowest local time answered
  float trim = 0.0f;            // cut from the end of the repeated source
  float transition = 200.0f;    // length of the blend into this clip before its start
  float priorityOffset = 0.0f;  // added to the source's priority while the clip is in force
  uint32_t reserved = 0x3F800000u;  // 1.0f; kept as stored, bit for bit
  uint8_t active = 0;  // 1: the clip's priority holds after its end
  uint8_t padding[3] = {};
};
static_assert(sizeof(ClipEntry) == 36);

inline void DescribeValue(CFieldSink& sink, const char* name, const ClipEntry& c) {
  CFieldRecord(sink, name)("speed", c.speed)("source", c.source)("repeat", c.repeat)(
      "inPoint", c.inPoint)("trim", c.trim)("transition", c.transition)(
      "priorityOffset", c.priorityOffset)("reserved", c.reserved)("active", c.active)(
      "padding", c.padding);
}

// The clip records of the oldest clip blocks, 24 bytes each.
struct LegacyClipEntry {
  float start = 0.0f;  // in unscaled time
  float transition = 0.0f;
  uint32_t source = 0;
  uint32_t repeat = 0;  // 0 meant one pass
  float inPoint = 0.0f;
  float trim = 0.0f;
};
static_assert(sizeof(LegacyClipEntry) == 24);

// Where a time falls in a clip table.
enum ClipCode : int32_t {
  kClipNone = 0,      // no clips
  kClipBefore = 1,    // before the first clip
  kClipBackward = 2,  // between two starts, found walking backward
  kClipExact = 3,     // on the start of the clip the search started from
  kClipForward = 4,   // between two starts, found walking forward
  kClipLast = 5,      // in the last clip
};

struct ClipSearch {
  ClipCode code = kClipNone;
  uint32_t a = 0;       // the clip in force
  uint32_t b = 0;       // the clip that starts next (a when none does)
  float rest = 0.0f;    // time until b starts
};

// Clip blocks up to this version kept their records in the 24-byte form.
inline constexpr int32_t kLegacyClipTableVersion = 200;

template <class T>
class CClip : public CLayer<T> {
 public:
  // One start per clip, in the composite's scaled time, and the clip records.
  std::vector<float> clipStart;
  std::vector<ClipEntry> clipRecords;

  CClip() = default;
  // The clip table is the composite's own data and is copied; the sub-controllers are not.
  CClip(const CClip& other)
      : CLayer<T>(other), clipStart(other.clipStart), clipRecords(other.clipRecords) {}
  CClip& operator=(const CClip&) = delete;

  // Clips that have both a start and a record.
  uint32_t ClipCount() const {
    return static_cast<uint32_t>(std::min(clipStart.size(), clipRecords.size()));
  }

  // The sub-controller a clip plays, or null when its index names none.
  T* SourceOf(const ClipEntry& clip) const { return this->At(clip.source); }

  // Length of one pass of a sub-controller, in the time its evaluation takes; 0 when it has
  // none that can be played.
  static float PassLength(const T* source) {
    if (!source || source->timeScale == 0.0f) return 0.0f;
    const float h = source->GetDuration() / source->timeScale;
    return std::isfinite(h) && h > 0.0f ? h : 0.0f;
  }
  float SourceLength(const ClipEntry& clip) const { return PassLength(SourceOf(clip)); }

  // Length of a clip in the composite's scaled time, its source's pass taking `pass`; infinite
  // for a clip of speed 0 that has something left to play.
  static float ClipLength(const ClipEntry& clip, float pass) {
    const double played = static_cast<double>(pass) * clip.repeat - clip.trim;
    if (clip.speed == 0.0f) return played > 0.0 ? std::numeric_limits<float>::infinity() : 0.0f;
    const double length = played / clip.speed;
    return std::isnan(length) ? 0.0f : static_cast<float>(length);
  }
  float ClipLength(uint32_t index) const {
    if (index >= ClipCount()) return 0.0f;
    return ClipLength(clipRecords[index], SourceLength(clipRecords[index]));
  }
  float ClipEnd(uint32_t index) const {
    if (index >= ClipCount()) return 0.0f;
    return clipStart[index] + ClipLength(index);
  }

  // The end of the clip that ends last; clips that never end do not count. Each sub-controller's
  // length is taken once, however many clips play it.
  // Without memory for that table each clip asks its sub-controller again: slower, same answer.
  float LastEnd() const {
    std::vector<float> passes;
    const bool cached = Succeeded(TryResize(passes, this->subControllers.size()));
    for (size_t i = 0; i < passes.size(); ++i) passes[i] = PassLength(this->subControllers[i].get());
    float last = 0.0f;
    for (uint32_t i = 0; i < ClipCount(); ++i) {
      const ClipEntry& clip = clipRecords[i];
      const float pass = !cached                         ? SourceLength(clip)
                         : clip.source < passes.size() ? passes[clip.source]
                                                       : 0.0f;
      const float end = clipStart[i] + ClipLength(clip, pass);
      if (std::isfinite(end)) last = std::max(last, end);
    }
    return last;
  }

  // The clip in force at scaled time t, searched from `current`, which moves to it.
  ClipSearch FindClip(float t, uint32_t& current) const {
    ClipSearch found;
    const uint32_t n = ClipCount();
    if (n == 0) return found;
    const uint32_t last = n - 1;
    // A time that is not a number plays the start.
    if (std::isnan(t)) t = clipStart[0];
    if (t >= clipStart[last]) {
      found = {kClipLast, last, last, 0.0f};
    } else if (t < clipStart[0]) {
      found = {kClipBefore, 0, 0, 0.0f};
    } else {
      if (current >= n) current = 0;
      uint32_t i = current;
      if (t > clipStart[i]) {
        // t < clipStart[last], so the walk stops before the last clip.
        while (i + 1 < n && clipStart[i + 1] < t) ++i;
        found = {kClipForward, i, i + 1, clipStart[i + 1] - t};
      } else if (t < clipStart[i]) {
        // t >= clipStart[0], so the walk stops at 1 at the latest.
        while (i > 1 && t < clipStart[i - 1]) --i;
        found = {kClipBackward, i - 1, i, clipStart[i] - t};
      } else {
        found = {kClipExact, i, i, 0.0f};
      }
    }
    current = found.a;
    return found;
  }

  // The time the clip's source plays at, e seconds of scaled time after the clip's start.
  float ClipLocalTime(float e, const ClipEntry& clip) const {
    const float c = clip.speed * e;
    if (!(c > clip.inPoint)) return clip.inPoint;
    const float h = SourceLength(clip);
    // Past the end the source holds its last pose; a source without length has nothing to repeat.
    if (c >= static_cast<float>(clip.repeat) * h - clip.trim || !(h > 0.0f)) return c;
    const double q = static_cast<double>(c) / h;
    return static_cast<float>((q - std::floor(q)) * h);
  }

  // The clip table stored after the sub-controller ids. Blocks up to 2.0 kept 24-byte records
  // with their starts in unscaled time, which `timeScale` carries into scaled time; only a read
  // meets them.
  void PersistTable(CArchive& ar, int32_t version, float timeScale) {
    if (version > kLegacyClipTableVersion)
      ar.Counted("clipStart", clipStart).Counted("clipRecords", clipRecords);
    else if (ar.Loading())
      LoadLegacyTable(ar.reader(), timeScale);
  }

  int64_t GetMemorySize() const {
    return CLayer<T>::GetMemorySize() + 32 + 4 * static_cast<int64_t>(clipStart.size()) +
           static_cast<int64_t>(sizeof(ClipEntry)) * static_cast<int64_t>(clipRecords.size());
  }

 private:
  void LoadLegacyTable(CReader& in, float timeScale) {
    std::vector<LegacyClipEntry> legacy;
    in.ReadCountedArray(legacy);
    if (!in.ok()) return;
    if (const Status s = TryAllocate([&] {
          clipStart.resize(legacy.size());
          clipRecords.assign(legacy.size(), ClipEntry{});
        });
        Failed(s)) {
      in.Fail(s);
      return;
    }
    // 0 passes meant one.
    for (size_t i = 0; i < legacy.size(); ++i) {
      const LegacyClipEntry& old = legacy[i];
      ClipEntry& entry = clipRecords[i];
      clipStart[i] = old.start * timeScale;
      entry.source = old.source;
      entry.repeat = old.repeat == 0 ? 1 : old.repeat;
      entry.inPoint = old.inPoint;
      entry.trim = old.trim;
      entry.transition = old.transition;
    }
  }
};

// What every composite controller does with its sub-controllers, on top of its controller base
// (a transform or data controller): every walk reaches the composite and its own chains first,
// then the sub-controllers in list order, then the rest of the composite's chain; copies and the
// owner are passed on to every sub-controller in list order.
template <class Base, class T>
class CCompositeControl : public Base {
 public:
  CCompositeControl() = default;
  CCompositeControl(const CCompositeControl&) = default;

  virtual CLayer<T>& Part() = 0;
  virtual const CLayer<T>& Part() const = 0;

  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override {
    const Status status = Base::Duplicate(out, map);
    if (status != kOk) return status;
    return Part().DuplicateInto(static_cast<CCompositeControl*>(out.get())->Part(), map);
  }

  bool HasAttachments() const override {
    return !Part().subControllers.empty() || Base::HasAttachments();
  }

  // The controller bases between CControl and a composite state nothing of their own, so the
  // sub-controllers go between CCorva's references and the chain links.
  void VisitReferences(CReferenceVisitor& visit) override {
    CCorva::VisitReferences(visit);
    Part().VisitReferences(visit);
    this->VisitChainLinks(visit);
  }

  void SetOwner(CCorva* object) override {
    Base::SetOwner(object);
    Part().SetOwner(object);
  }

  int64_t GetMemorySize() const override { return Base::GetMemorySize() + Part().GetMemorySize(); }

 protected:
  // AssignTo's part: the target shares the sub-controllers. Their ids are stated one by one, in
  // the list's own storage, where CopyLevel does not reach: a composite's AssignTo calls this
  // after it.
  Status ShareSubControllers(CBase* target, ReleasedList& released) const {
    auto* composite = dynamic_cast<CCompositeControl*>(target);
    if (!composite) return kErrMalformed;
    return Part().ShareWith(composite->Part(), released);
  }
};

}  // namespace KX
