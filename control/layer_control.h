#pragma once
// Composite transform controllers: a clip controller plays its sub-controllers one after another
// on a timeline, a layer controller adds weighted sub-controllers on top of each other, and a
// selector blends between alternative sub-controllers by their priorities. The sub-controllers
// animate the composite's owner and are not on its controller chain: the composite evaluates them.
#include <vector>

#include "control/composite_parts.h"
#include "control/rts_control.h"

namespace KX {

using CRTSComposite = CCompositeControl<CRTSControl, CRTSControl>;

class CRTSClipControl : public CRTSComposite {
  KX_DECLARE_CLASS(CRTSClipControl)

 public:
  CClip<CRTSControl> clip;
  // Where the last clip search ended; transient.
  uint32_t currentClip = 0;
  // One flag per sub-controller, kept for the tools that edit clips; evaluation does not read it.
  std::vector<uint8_t> subFlags;

  CRTSClipControl() = default;
  // Copies the clip table and the flags; the sub-controllers are links and are not copied.
  CRTSClipControl(const CRTSClipControl& other)
      : CRTSComposite(other), clip(other.clip), subFlags(other.subFlags) {}

  CLayer<CRTSControl>& Part() override { return clip; }
  const CLayer<CRTSControl>& Part() const override { return clip; }

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  // The end of the clip that ends last, in scaled time; clips that never end do not count.
  float GetDuration() const override;
  Status EvaluateTransform(float time) override;
  // The clip in force answers through its source, in the source's time; times it reports come
  // back in this controller's time.
  void CollectActive(float start, float length, std::vector<float>& times,
                     std::vector<float>& priorities) override;
  bool CheckStart(float& time, float limit, float level) override;
  bool CheckEnd(float end, float& time, float level, bool& hit) override;
  bool IsActiveAt(float time) override;
  float GetPriorityAt(float time) override;

 private:
  // The clip in force at scene time `time`, found without moving `currentClip`; false before the
  // first clip and without clips.
  struct InForce {
    uint32_t index = 0;
    float scaled = 0.0f;  // the mapped time
    float local = 0.0f;   // the time the clip's source plays at
    CRTSControl* source = nullptr;
  };
  bool ClipAt(float time, InForce& found) const;
  // A time of the source, near `found`, in this controller's scene time.
  float ToSceneTime(float time, const InForce& found, float sourceTime) const;
  // The priority of the clip in force: its source's plus the clip's offset while the clip plays
  // or holds, 1 once an inactive clip has ended.
  float ClipPriority(uint32_t index, float scaled, float sourcePriority) const;
};

class CRTSLayerControl : public CRTSComposite {
  KX_DECLARE_CLASS(CRTSLayerControl)

 public:
  CLayer<CRTSControl> layer;
  // One track per sub-controller: its weight at each of the weight keys.
  std::vector<std::vector<float>> weightTracks;
  std::vector<float> weightTimes;
  std::vector<float> weightTransition;
  std::vector<int32_t> weightType;
  // Where the last weight-key search ended; transient.
  int32_t weightCursor = 0;

  CRTSLayerControl() = default;
  // Copies the weights; the sub-controllers are links and are not copied.
  CRTSLayerControl(const CRTSLayerControl& other)
      : CRTSComposite(other),
        layer(other.layer),
        weightTracks(other.weightTracks),
        weightTimes(other.weightTimes),
        weightTransition(other.weightTransition),
        weightType(other.weightType) {}

  CLayer<CRTSControl>& Part() override { return layer; }
  const CLayer<CRTSControl>& Part() const override { return layer; }

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;

  float GetDuration() const override { return layer.LongestDuration(); }
  Status EvaluateTransform(float time) override;

  // The weight of every sub-controller at scene time `time`.
  std::vector<float> WeightsAt(float time);
};

class CRTSSelectorControl : public CRTSComposite {
  KX_DECLARE_CLASS(CRTSSelectorControl)

 public:
  CLayer<CRTSControl> layer;
  // How long the blend from one selected sub-controller to the next takes, in scaled time.
  float transitionTime = 0.0f;

  // Selection state; transient.
  int32_t selected = -1;       // none before the first evaluation
  int32_t previous = -1;       // the one `selected` took over from
  float switchTime = 0.0f;     // when it took over, in scaled time
  float lastScaled = 0.0f;     // the scaled time of the last evaluation
  float lastTime = 0.0f;       // and its scene time

  CRTSSelectorControl() = default;
  // Copies the transition time; the sub-controllers are links and are not copied.
  CRTSSelectorControl(const CRTSSelectorControl& other)
      : CRTSComposite(other), layer(other.layer), transitionTime(other.transitionTime) {}

  CLayer<CRTSControl>& Part() override { return layer; }
  const CLayer<CRTSControl>& Part() const override { return layer; }

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;

  float GetDuration() const override { return layer.LongestDuration(); }
  Status EvaluateTransform(float time) override;

  // The sub-controller that is to be selected at scene time `time`: the enabled one with the
  // highest priority above 0 there, the first on ties, 0 when none is above 0; -1 without
  // sub-controllers.
  int32_t SelectAt(float time) const;
  // Moves the selection to scene time `time`.
  void Select(float time);
  // The weight of every sub-controller at scaled time t under the current selection.
  std::vector<float> Weights(float t) const;
  // Forgets the selection: the next evaluation starts without a blend.
  void ResetSelection() { selected = previous = -1; }
};

}  // namespace KX
