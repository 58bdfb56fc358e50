#include "support/bytes.h"

namespace KX::test {

Bytes NewHeader() { return Bytes().Text("_KXBrix").I32(2).I32(1); }

Bytes OldHeader(const std::string& version) {
  std::string field = "Version: " + version;
  field.resize(14, '\0');
  return Bytes().Text("KXCorva").Text(field);
}

}  // namespace KX::test
