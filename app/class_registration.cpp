#include "app/class_registration.h"

#include "core/base.h"
#include "core/custom_data.h"
#include "image/image.h"
#include "image/thumbnail.h"

namespace KX {

void RegisterAllClasses() {
  RegisterClass<CImage>();
  RegisterClass<CAnmImage>();
  RegisterClass<CThumbnail>();
  RegisterClass<CRawData>();
  RegisterClass<CAuthorInfo>();
  RegisterClass<CXmlRawData>();
}

}  // namespace KX
