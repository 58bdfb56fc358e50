#pragma once
// Builds expected file bytes by hand, field by field, for golden-byte tests and for files in the
// old layout, which the library itself never writes.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace KX::test {

class Bytes {
 public:
  std::vector<uint8_t> data;

  Bytes& I32(int32_t v) { return Raw(&v, 4); }
  Bytes& U32(uint32_t v) { return Raw(&v, 4); }
  Bytes& I16(int16_t v) { return Raw(&v, 2); }
  Bytes& F32(float v) { return Raw(&v, 4); }
  Bytes& U8(uint8_t v) { return Raw(&v, 1); }
  // 8-bit string: int32 length, bytes.
  Bytes& A(const std::string& s) {
    I32(static_cast<int32_t>(s.size()));
    return Raw(s.data(), s.size());
  }
  // Wide string of the current layout: int32 count, UTF-16LE units.
  Bytes& W(const std::u16string& s) {
    I32(static_cast<int32_t>(s.size()));
    return Raw(s.data(), s.size() * 2);
  }
  // Magic or other text without a length.
  Bytes& Text(const std::string& s) { return Raw(s.data(), s.size()); }
  Bytes& Raw(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    data.insert(data.end(), b, b + n);
    return *this;
  }
  Bytes& Append(const Bytes& other) { return Raw(other.data.data(), other.data.size()); }
  Bytes& Version(int32_t major, int32_t minor) { return I32(major).I32(minor); }
  size_t size() const { return data.size(); }
};

// Header of the current layout: "_KXBrix", 2, 1.
Bytes NewHeader();
// Header of the old layout: "KXCorva" and the 14-byte text field with "M.mm" from byte 9.
Bytes OldHeader(const std::string& version);  // e.g. "1.50"
// The thumbnail section old files must have: "_CorvaThumbnail" and an empty picture's block.
Bytes OldEmptyThumbnail();

}  // namespace KX::test
