#pragma once
// Flexible chains: a row of objects, each with a flexible-chain controller, that share one chain
// data object. The chain trails behind the animated poses of its objects and settles onto them.
//
// Simulation: every object is a point of the chain, in the order the controllers first
// evaluated (parents before children). The first point is pinned to its animated position; each
// other point moves by Verlet integration with its velocity damped by `damping`, is pulled toward
// its animated position by `stiffness` of the remaining distance, and the links between
// neighbours are then held at their animated lengths (four passes from the pinned end). Steps are
// fixed at 60 per second, so a scene plays back the same way at any frame rate.
#include <array>
#include <vector>

#include "control/rts_control.h"
#include "object/fields.h"

namespace KX {

class CFlexiControl;

// Per controller, 36 bytes as stored.
struct FlexiSettings {
  float stiffness = 0.2f;  // share of the way to the animated position per step, (0, 1]
  float damping = 0.1f;    // share of the velocity lost per step, [0, 1]
  float reserved[7] = {};
};
static_assert(sizeof(FlexiSettings) == 36);

inline void DescribeValue(CFieldSink& sink, const char* name, const FlexiSettings& s) {
  CFieldRecord(sink, name)("stiffness", s.stiffness)("damping", s.damping)("reserved", s.reserved);
}

// 20 bytes per record as stored; kept for the tools that edit chains.
struct FlexiRecord {
  uint8_t bytes[20] = {};
};
static_assert(sizeof(FlexiRecord) == 20);

// The record's bytes are opaque to the library.
inline void DescribeValue(CFieldSink& sink, const char* name, const FlexiRecord& r) {
  CFieldRecord record(sink, name);
  sink.Bytes("bytes", std::span<const uint8_t>(r.bytes));
}

class CFlexiData : public CCorva {
  KX_DECLARE_CLASS(CFlexiData)

 public:
  // Stored and copied for the tools that edit chains; the simulation does not read them.
  std::vector<FlexiRecord> flexiRecords;
  std::vector<CMatrix4> flexiMatrices;
  std::vector<CCorva*> flexiObjects;  // not owned
  std::array<uint32_t, 6> flexiValues{};
  bool flexiFlag = false;
  uint32_t flexiValue7 = 0;
  float flexiValue8;  // an angle; loads below 4 pi are lifted by 4 pi
  CVector3<float> flexiVector1;
  CVector3<float> flexiVector2;
  std::array<uint32_t, 2> flexiPair{};

  // Transient: the chain's points, one per registered controller, in registration order.
  struct Point {
    CFlexiControl* control = nullptr;
    CVector3<float> animated;  // where the controller's object is animated to be
    CVector3<float> position;
    CVector3<float> previous;
  };
  std::vector<Point> points;

  CFlexiData();
  // Copies the stored data; the copy has no points.
  CFlexiData(const CFlexiData& other);
  ~CFlexiData() override;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  // Enters `control` as a point (at the end, the first time) with its animated position; with
  // `restart` the point is put back there at rest. Answers the point's index.
  size_t Register(CFlexiControl* control, const CVector3<float>& animated, bool restart);
  void Unregister(const CFlexiControl* control);
  // The controller registered last drives the simulation.
  bool IsDriver(const CFlexiControl* control) const;
  // One fixed step of the whole chain.
  void Step();
};

class CFlexiControl : public CRTSControl {
  KX_DECLARE_CLASS(CFlexiControl)

 public:
  // Shared by the controllers of one chain. Change it with SetData, which leaves the old chain.
  CRefPtr<CFlexiData> data;
  FlexiSettings settings;
  // Transient: whether the chain was started, and where its simulation is, in milliseconds.
  bool started = false;
  float simulationTime = 0.0f;

  CFlexiControl() = default;
  // Shares the chain data and copies the settings; the copy starts afresh.
  CFlexiControl(const CFlexiControl& other);
  ~CFlexiControl() override;

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;

  float GetDuration() const override { return 0.0f; }
  // Answers kNothingDone: the owner applies `matrix` as usual.
  Status EvaluateTransform(float time) override;

  void SetData(CFlexiData* chain);

 private:
  // The pose the chain pulls this object toward: what a transform controller before this one
  // computed, or the owner's rest pose in its parent's space.
  CMatrix4 AnimatedPose() const;
};

}  // namespace KX
