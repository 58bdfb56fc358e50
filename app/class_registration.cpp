#include "app/class_registration.h"

#include "core/base.h"
#include "core/custom_data.h"
#include "scene/node.h"

namespace KX {

void RegisterAllClasses() {
  RegisterClass<CNode>();
  RegisterClass<CBillboardNode>();
  RegisterClass<CRawData>();
  RegisterClass<CAuthorInfo>();
  RegisterClass<CXmlRawData>();
}

}  // namespace KX
