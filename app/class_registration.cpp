#include "app/class_registration.h"

#include "control/flexi_control.h"
#include "control/keyframe_control.h"
#include "control/link_control.h"
#include "control/look_at_control.h"
#include "control/share_control.h"
#include "control/spring_control.h"
#include "core/base.h"
#include "core/custom_data.h"
#include "image/image.h"
#include "image/thumbnail.h"
#include "scene/node.h"

namespace KX {

// The start-up order of the converter: the images first, then the scene classes, controllers,
// records and content records. A class not built yet has no line here; files that use it fail
// to load with "unknown class".
void RegisterAllClasses() {
  RegisterClass<CImage>();
  RegisterClass<CAnmImage>();
  RegisterClass<CNode>();
  RegisterClass<CKeyframeControl>();
  RegisterClass<CKeyframeClipControl>();
  RegisterClass<CLinkControl>();
  RegisterClass<CLookAtControl>();
  RegisterClass<CSpringControl>();
  RegisterClass<CShareControl>();
  RegisterClass<CThumbnail>();
  RegisterClass<CBillboardNode>();
  RegisterClass<CRawData>();
  RegisterClass<CAuthorInfo>();
  RegisterClass<CFlexiControl>();
  RegisterClass<CFlexiData>();
  RegisterClass<CXmlRawData>();
}

}  // namespace KX
