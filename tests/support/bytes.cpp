#include "support/bytes.h"

namespace KX::test {

Bytes NewHeader() { return Bytes().Text("_KXBrix").I32(2).I32(1); }

Bytes OldHeader(const std::string& version) {
  std::string field = "Version: " + version;
  field.resize(14, '\0');
  return Bytes().Text("KXCorva").Text(field);
}

Bytes OldEmptyThumbnail() {
  return Bytes().A("_CorvaThumbnail").I32(0).I32(0).I32(0).I16(0).I32(96).I32(96).I32(0).I32(1)
      .I32(0).U8(0).I32(0);
}

}  // namespace KX::test
