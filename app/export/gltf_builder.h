#pragma once
// Turns a loaded scene tree into a glTF 2.0 document: the JSON part, one binary buffer of vertex
// and index data, and the pictures the materials show. What glTF cannot hold is left out with a
// warning, never written half-formed: the document always passes the reference validator.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/status.h"
#include "scene/spatial.h"

namespace KX {

// A picture of the document, in a format every glTF reader takes.
struct GltfPicture {
  std::vector<uint8_t> bytes;
  std::string mimeType;  // "image/png" or "image/jpeg"
};

struct GltfScene {
  // Everything but "buffers" and the place of the pictures: the writer adds those, since they
  // differ between the binary and the text form. Accessors point into bufferViews over `binary`.
  nlohmann::ordered_json json;
  std::vector<uint8_t> binary;        // a multiple of 4 bytes
  std::vector<GltfPicture> pictures;  // json["images"][i] shows pictures[i]
  std::vector<std::string> warnings;  // what was left out or changed, one line each
};

// Builds the document of the tree under `root` (the tree must not change meanwhile). Answers
// kErrOutOfMemory when the buffers cannot be had; everything a file may hold that glTF cannot
// is a warning, not a failure.
Status BuildGltfScene(CSpatial& root, GltfScene& out);
// The same for several trees, one glTF scene each, the first the default.
Status BuildGltfScene(const std::vector<CSpatial*>& roots, GltfScene& out);

}  // namespace KX
