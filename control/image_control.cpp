#include "control/image_control.h"

#include "control/key_search.h"
#include "core/alloc.h"
#include "object/archive.h"
#include "image/image.h"
#include "material/texture.h"

namespace KX {

// The record's base is CControl although the class is a data controller in C++.
KX_DEFINE_CLASS(CAnmImageControl, CControl, 2, 0)

namespace {

constexpr int64_t kAnmImageControlMemory = 8;

// The animation is searched, saved and remapped with the controller; name binding stops at it.
constexpr Walks kAnimationWalks = kFollowAll & ~kResolve;

// Frame start times: 0 for the first frame, then each frame 10 x its frameValue2 after the one
// before.
Status BuildStartTimes(const CAnmImage& animation, std::vector<float>& times) {
  KX_RETURN_IF_FAILED(TryResize(times, animation.frames.size()));
  float start = 0.0f;
  for (size_t i = 0; i < times.size(); ++i) {
    if (i > 0) start += 10.0f * static_cast<float>(animation.frames[i].frameValue2);
    times[i] = start;
  }
  return kOk;
}

}  // namespace

CAnmImageControl::CAnmImageControl(const CAnmImageControl& other)
    : CDataControl(other), animation(other.animation) {}

Status CAnmImageControl::Duplicate(CRefPtr<CBase>& out, DuplicateMap& map) const {
  const Status status = CDataControl::Duplicate(out, map);
  if (status != kOk) return status;
  auto* copy = static_cast<CAnmImageControl*>(out.get());
  copy->animation = nullptr;
  if (animation) {
    CRefPtr<CBase> animationCopy;
    KX_RETURN_IF_FAILED(animation->Duplicate(animationCopy, map));
    copy->animation = KindOf<CAnmImage>(animationCopy.get());
  }
  return kOk;
}

Status CAnmImageControl::AssignTo(CBase* target, ReleasedList& released) const {
  KX_RETURN_IF_FAILED(CControl::AssignTo(target, released));
  KX_RETURN_IF_FAILED(CopyLevel(*this, target, released));
  if (target == this) return kOk;
  // The search over the frames starts over, and the picture takes the new animation.
  auto* control = static_cast<CAnmImageControl*>(target);
  control->cursor = 0;
  control->modified = 1;
  return kOk;
}

// No data-controller block: the record goes from the controller block to this one.
Status CAnmImageControl::Persist(CArchive& ar) {
  KX_RETURN_IF_FAILED(CControl::Persist(ar));
  ar.Version(classRecord);
  ar.Ref("animation", animation);
  if (ar.Loading()) cursor = 0;
  return ar.status();
}

int64_t CAnmImageControl::GetMemorySize() const {
  return CControl::GetMemorySize() + kAnmImageControlMemory;
}

bool CAnmImageControl::HasAttachments() const {
  return animation || CControl::HasAttachments();
}

void CAnmImageControl::VisitReferences(CReferenceVisitor& visit) {
  // The animation comes before the rest of the chain, as an object's own parts come before what
  // follows it.
  CCorva::VisitReferences(visit);
  visit(animation, kAnimationWalks);
  VisitChainLinks(visit);
}

CImage* CAnmImageControl::TargetImage() const {
  if (auto* image = KindOf<CImage>(owner)) return image;
  auto* map = KindOf<CTextureMap>(owner);
  return map ? KindOf<CImage>(map->image.get()) : nullptr;
}

Status CAnmImageControl::Update(float time) {
  if (const Status s = IsDisabled(); s != kOk) return s;
  CImage* target = TargetImage();
  if (!target) return kErrBadArgument;
  if (!animation || animation->frames.empty()) return kNothingDone;
  KX_RETURN_IF_FAILED(BuildStartTimes(*animation, startTimes_));
  const KeySegment segment = FindKeySegment(MapTime(time), startTimes_, cursor);
  const CAnmFrame& frame = animation->frames[static_cast<size_t>(segment.a)];
  // A frame whose picture is the target itself has nothing to add to it.
  if (!frame.image || frame.image.get() == target) return kNothingDone;
  const CPixelBuffer& picture = frame.image->picture;
  return target->BlitFrom(frame.offsetX, frame.offsetY, frame.image.get(), 0, 0, picture.width,
                          picture.height, 255);
}

float CAnmImageControl::GetDuration() const {
  if (!animation || animation->frames.size() < 2) return 0.0f;
  float start = 0.0f;
  for (size_t i = 1; i < animation->frames.size(); ++i)
    start += 10.0f * static_cast<float>(animation->frames[i].frameValue2);
  return start;
}

Status CAnmImageControl::ApplyData() {
  return TargetImage() ? kNothingDone : kErrBadArgument;
}

}  // namespace KX
