#pragma once
// The two forms of a glTF document: one binary file (.glb) with everything inside, or a text
// file (.gltf) with its buffer and pictures in files beside it.
#include <cstdint>
#include <string>
#include <vector>

#include "app/export/gltf_builder.h"

namespace KX {

// A file of the document and what it holds.
struct GltfFile {
  std::string path;
  std::vector<uint8_t> bytes;
};

// The whole document as one .glb file: the pictures join the binary chunk.
Status EncodeGlb(const GltfScene& scene, std::vector<uint8_t>& out);

// The document as `gltfPath` and the files it names, all in its folder: STEM.bin and
// STEM_N.png or .jpg for its pictures (STEM is the name of `gltfPath` without its extension).
// The .gltf file comes last, so that a writer who stops on the way leaves no document that
// names missing files.
Status LayOutGltf(const GltfScene& scene, const std::string& gltfPath,
                  std::vector<GltfFile>& files);

}  // namespace KX
