#include "app/class_registration.h"

#include "core/base.h"
#include "core/custom_data.h"

namespace KX {

void RegisterAllClasses() {
  RegisterClass<CRawData>();
  RegisterClass<CAuthorInfo>();
  RegisterClass<CXmlRawData>();
}

}  // namespace KX
