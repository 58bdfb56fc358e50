#pragma once
// Animation controllers: attached to the object they animate (the owner), chained through `next`,
// mapping scene time through their own time scale and out-of-range mode.
#include <vector>

#include "object/chain_link.h"
#include "object/scene_object_base.h"

namespace KX {

class CReader;

// What happens to times beyond a controller's duration.
enum OutOfRange : int32_t {
  kOutOfRangeNone = 0,  // time passes unchanged; evaluators hold the first or last key
  kOutOfRangeLoop = 1,
  kOutOfRangePingPong = 2,
};

class CControl;

class CControl : public CChainLink<CCorva, CControl> {
  KX_DECLARE_CLASS(CControl)

 public:
  int32_t outOfRange = kOutOfRangeNone;
  float timeScale = 1.0f;
  // Not owned. Set by attaching to a scene object, but a file may name any object: an animated
  // picture's controller names the picture it draws into.
  CBase* owner = nullptr;
  float auxValue = 1.0f;
  float priority = 0.0f;
  bool enabled = true;
  // `next`, the following controller of the same chain, comes with CChainLink.

  CControl() = default;
  // Copies the settings; owner and next are links and stay unset.
  CControl(const CControl& other);

  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
  Status Update(float time) override = 0;

  virtual void SetOwner(CCorva* object);
  // Time of the last key; 0 without keys.
  virtual float GetDuration() const = 0;
  virtual Status EvaluateTransform(float time) = 0;
  // The object a controller looks at at `time`, for evaluation order; null for most.
  virtual CBase* GetTargetAt(float time);
  virtual Status ApplyTransform() = 0;
  virtual Status ApplyData() = 0;
  virtual void CollectActive(float start, float length, std::vector<float>& times,
                             std::vector<float>& priorities);
  virtual bool CheckStart(float& time, float limit, float level);
  virtual bool CheckEnd(float end, float& time, float level, bool& hit);
  virtual bool IsActiveAt(float time);
  virtual float GetPriorityAt(float time);

  // Scene time -> controller time; `cycles` receives the number of whole cycles.
  float MapTime(float time, int32_t& cycles) const;
  float MapTime(float time) const {
    int32_t cycles = 0;
    return MapTime(time, cycles);
  }
  // kNothingDone when disabled, else kOk; keyed evaluators answer it first.
  Status IsDisabled() const { return enabled ? kOk : kNothingDone; }

  // Start time that blocks stored at version 2.0 or older kept in `auxValue`, for keyed
  // subclasses to subtract from their key times while loading; 0 for newer blocks.
  float LegacyStartTime(const CReader& in) const;

 protected:
  // What a controller states after its object's own references: the rest of its chain, then its
  // owner. A controller whose own parts are walked before the rest of the chain states
  // CCorva's references, then those parts, then these.
  void VisitChainLinks(CReferenceVisitor& visit) {
    VisitNext(visit);
    visit(owner);
  }
};

// Base of every controller that computes values into its owner rather than a transform.
class CDataControl : public CControl {
  KX_DECLARE_CLASS(CDataControl)

 public:
  CDataControl() = default;
  CDataControl(const CDataControl&) = default;

  Status Persist(CArchive& ar) override;

  Status EvaluateTransform(float) override { return kNothingDone; }
  Status ApplyTransform() override { return kNothingDone; }
};

}  // namespace KX
