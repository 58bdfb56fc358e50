#pragma once
// Clip controllers of the data kinds (materials, texture-coordinate maps, particles): the clip
// table plays one sub-controller at a time, and the clip in force is the one whose start is the
// last at or before the controller's time. There is no blend between clips: a data value cannot
// be taken apart and mixed the way a pose can.
//
// Stored after the per-kind block: the version pair, the sub-controller ids and the clip table;
// tables of blocks up to 2.0 hold the 24-byte records in unscaled time.
#include <span>

#include "control/composite_parts.h"
#include "control/key_search.h"

namespace KX {

// `Self` is the registered clip class; the template gives it its whole persistence and copy.
template <class Base, class T, class Self>
class CDataClipControl : public CCompositeControl<Base, T> {
  using Composite = CCompositeControl<Base, T>;

 public:
  CClip<T> clip;
  // Where the last search over the clip starts ended; transient.
  int32_t clipCursor = 0;

  CDataClipControl() = default;
  // Copies the clip table; the sub-controllers are links and are not copied.
  CDataClipControl(const CDataClipControl& other) : Composite(other), clip(other.clip) {}

  Status Clone(CRefPtr<CBase>& out) const override {
    return CloneByCopy(static_cast<const Self&>(*this), out);
  }
  Status AssignTo(CBase* target, ReleasedList& released) const override {
    KX_RETURN_IF_FAILED(Base::AssignTo(target, released));
    KX_RETURN_IF_FAILED(CopyLevel(static_cast<const Self&>(*this), target, released));
    if (target == this) return kOk;
    KX_RETURN_IF_FAILED(this->ShareSubControllers(target, released));
    static_cast<CDataClipControl*>(target)->clipCursor = 0;
    return kOk;
  }
  Status Persist(CArchive& ar) override {
    KX_RETURN_IF_FAILED(Base::Persist(ar));
    const int32_t version = ar.Version(Self::classRecord);
    clip.PersistIds(ar, "subControllers");
    clip.PersistTable(ar, version, this->timeScale);
    if (ar.Loading()) clipCursor = 0;
    return ar.status();
  }

  CLayer<T>& Part() override { return clip; }
  const CLayer<T>& Part() const override { return clip; }

  // The end of the clip that ends last, in scaled time.
  float GetDuration() const override { return clip.LastEnd(); }

  // The clip in force plays its source at the clip's local time; the source's status is the
  // answer. Before the first clip, without clips or without a source to play: kNothingDone.
  Status Update(float time) override {
    if (const Status s = this->IsDisabled(); s != kOk) {
      this->priority = 0.0f;
      return s;
    }
    if (!this->owner) return kErrBadArgument;
    const float t = this->MapTime(time);
    const std::span<const float> starts(clip.clipStart.data(), clip.ClipCount());
    const KeyNear found = FindKeyNear(t, starts, clipCursor);
    if (found.code == kKeyNone || found.code == kKeyBefore) return kNothingDone;
    clipCursor = found.index;
    const auto index = static_cast<size_t>(found.index);
    const ClipEntry& entry = clip.clipRecords[index];
    T* source = clip.SourceOf(entry);
    if (!source) return kNothingDone;
    const Status status = source->Update(clip.ClipLocalTime(t - starts[index], entry));
    if (Succeeded(status)) TakeFrom(*source);
    return status;
  }

 protected:
  // What a kind keeps of the source it played; nothing unless its value lives in the controller.
  virtual void TakeFrom(const T&) {}
};

}  // namespace KX
