#include "app/export/gltf_writer.h"

#include <cstring>
#include <filesystem>
#include <new>

namespace KX {

namespace {

using Json = nlohmann::ordered_json;

constexpr uint32_t kGlbMagic = 0x46546C67;     // "glTF"
constexpr uint32_t kChunkJson = 0x4E4F534A;    // "JSON"
constexpr uint32_t kChunkBinary = 0x004E4942;  // "BIN\0"

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

std::string Dump(const Json& json) {
  // Names are UTF-8 already; anything else would be replaced rather than fail the export.
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// A relative URI for a file name: unreserved characters as they are, every other byte escaped.
std::string UriOf(const std::string& fileName) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string uri;
  for (unsigned char c : fileName) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      uri += kHex[c >> 4];
      uri += kHex[c & 15];
    }
  }
  return uri;
}

}  // namespace

Status EncodeGlb(const GltfScene& scene, std::vector<uint8_t>& out) {
  out.clear();
  try {
    Json json = scene.json;
    std::vector<uint8_t> binary = scene.binary;
    for (size_t i = 0; i < scene.pictures.size(); ++i) {
      const GltfPicture& picture = scene.pictures[i];
      const size_t offset = binary.size();
      binary.insert(binary.end(), picture.bytes.begin(), picture.bytes.end());
      binary.resize((binary.size() + 3) & ~size_t{3}, 0);
      Json& views = json["bufferViews"];
      if (views.is_null()) views = Json::array();
      views.push_back(
          {{"buffer", 0}, {"byteOffset", offset}, {"byteLength", picture.bytes.size()}});
      json["images"][i]["bufferView"] = views.size() - 1;
      json["images"][i]["mimeType"] = picture.mimeType;
    }
    if (!binary.empty()) json["buffers"] = Json::array({{{"byteLength", binary.size()}}});
    std::string text = Dump(json);
    text.resize((text.size() + 3) & ~size_t{3}, ' ');
    if (binary.size() > UINT32_MAX - 28 - text.size()) return kErrFileSize;
    const size_t total = 12 + 8 + text.size() + (binary.empty() ? 0 : 8 + binary.size());
    out.reserve(total);
    PutU32(out, kGlbMagic);
    PutU32(out, 2);
    PutU32(out, static_cast<uint32_t>(total));
    PutU32(out, static_cast<uint32_t>(text.size()));
    PutU32(out, kChunkJson);
    out.insert(out.end(), text.begin(), text.end());
    if (!binary.empty()) {
      PutU32(out, static_cast<uint32_t>(binary.size()));
      PutU32(out, kChunkBinary);
      out.insert(out.end(), binary.begin(), binary.end());
    }
    return kOk;
  } catch (const std::bad_alloc&) {
    out.clear();
    return kErrOutOfMemory;
  }
}

Status LayOutGltf(const GltfScene& scene, const std::string& gltfPath,
                  std::vector<GltfFile>& files) {
  files.clear();
  try {
    const std::filesystem::path target(gltfPath);
    const std::string stem = target.stem().string();
    auto beside = [&](const std::string& name) { return (target.parent_path() / name).string(); };
    Json json = scene.json;
    for (size_t i = 0; i < scene.pictures.size(); ++i) {
      const GltfPicture& picture = scene.pictures[i];
      const std::string name =
          stem + "_" + std::to_string(i + 1) + (picture.mimeType == "image/jpeg" ? ".jpg" : ".png");
      json["images"][i]["uri"] = UriOf(name);
      files.push_back({beside(name), picture.bytes});
    }
    if (!scene.binary.empty()) {
      const std::string name = stem + ".bin";
      json["buffers"] = Json::array({{{"uri", UriOf(name)}, {"byteLength", scene.binary.size()}}});
      files.push_back({beside(name), scene.binary});
    }
    const std::string text = json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
    files.push_back({gltfPath, std::vector<uint8_t>(text.begin(), text.end())});
    return kOk;
  } catch (const std::bad_alloc&) {
    files.clear();
    return kErrOutOfMemory;
  }
}

}  // namespace KX
