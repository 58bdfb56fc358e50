#pragma once
// Golden-byte builders shared by the material and texture tests.
#include <algorithm>
#include <string>
#include <vector>

#include "support/bytes.h"

namespace KX::test {

// A current-layout file up to its first record, which is the root.
inline Bytes NewFile() { return NewHeader().I32(0).I32(0).A("_Root"); }

inline Bytes Record(const char* cls, const Bytes& body) {
  return Bytes().A(cls).I32(static_cast<int32_t>(body.size())).Append(body);
}

// The object, scene-object and material-base blocks every material and texture starts with.
inline Bytes BaseBlocks(int32_t id, const std::u16string& name) {
  return Bytes().Version(2, 0).I32(id).W(name).Version(2, 0).I32(0).I32(0).I32(0).Version(2, 0);
}
// ... followed by the material level, or the texture level.
inline Bytes MaterialBlocks(int32_t id, const std::u16string& name) {
  return BaseBlocks(id, name).Version(2, 0);
}
inline Bytes TextureBlocks(int32_t id, const std::u16string& name) {
  return BaseBlocks(id, name).Version(2, 0);
}
inline Bytes CubeMapBody(int32_t id, const std::u16string& name) {
  return TextureBlocks(id, name).Version(2, 0);
}

// Whether `saved` holds `root` as its first record (what follows are the objects it refers to).
inline bool StartsWithRecord(const std::vector<uint8_t>& saved, const Bytes& root) {
  const Bytes head = NewFile().Append(root);
  return saved.size() >= head.size() && std::equal(head.data.begin(), head.data.end(), saved.begin());
}

}  // namespace KX::test
