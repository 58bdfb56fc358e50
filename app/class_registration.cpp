#include "app/class_registration.h"

#include "core/base.h"
#include "content/content_data.h"
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
  RegisterClass<CThumbnail>();
  RegisterClass<CBillboardNode>();
  RegisterClass<CRawData>();
  RegisterClass<CAuthorInfo>();
  RegisterClass<CXmlRawData>();
  RegisterClass<CAccData>();
  RegisterClass<CRoseData>();
  RegisterClass<CWaterData>();
  RegisterClass<CSkyData>();
  RegisterClass<CHeadData>();
  RegisterClass<CExCntData>();
}

}  // namespace KX
