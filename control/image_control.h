#pragma once
// A data controller that plays an animated picture into a still one: at each update the frame
// due at the controller's time is drawn into its owner, a still picture (or the picture of the
// texture map it is attached to).
#include <cstdint>
#include <vector>

#include "object/control.h"

namespace KX {

class CAnmImage;
class CImage;

// Its record's base is CControl: the stored record has no data-controller level, and the class
// tests do not count it among the data controllers (an owner's data pass passes it by).
class CAnmImageControl : public CDataControl {
  KX_DECLARE_CLASS(CAnmImageControl)

 public:
  CRefPtr<CAnmImage> animation;  // shared with the textures that show it
  int32_t cursor = 0;            // where the last search over the frame start times ended

  CAnmImageControl() = default;
  // The copy shares the animation; Duplicate gives it a copy.
  CAnmImageControl(const CAnmImageControl& other);

  Status Clone(CRefPtr<CBase>& out) const override { return CloneByCopy(*this, out); }
  Status Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const override;
  Status AssignTo(CBase* target, ReleasedList& released) const override;
  Status Persist(CArchive& ar) override;
  int64_t GetMemorySize() const override;
  bool HasAttachments() const override;
  void VisitReferences(CReferenceVisitor& visit) override;
  // Draws the frame due at `time` into the owner's picture. Without frames, or when the frame
  // has no picture: kNothingDone.
  Status Update(float time) override;
  // Start time of the last frame: frame i starts 10 x frameValue2 of frame i after frame i - 1.
  float GetDuration() const override;
  // Update writes into the picture itself.
  Status ApplyData() override;

  // The picture the frames are drawn into: the owner itself when it is a still image, as files
  // store it; the still image of a texture map that the controller was attached to here; null
  // for any other owner.
  CImage* TargetImage() const;

 private:
  std::vector<float> startTimes_;  // rebuilt from the frames at every update
};

}  // namespace KX
