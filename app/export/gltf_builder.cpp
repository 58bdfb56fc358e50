#include "app/export/gltf_builder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <set>
#include <tuple>
#include <new>
#include <unordered_map>
#include <unordered_set>

#include "control/keyframe_control.h"
#include "core/math/transform.h"
#include "core/text.h"
#include "image/codec.h"
#include "image/image.h"
#include "image/pixel_buffer.h"
#include "material/material.h"
#include "material/texture.h"
#include "scene/camera.h"
#include "scene/light.h"
#include "scene/node.h"
#include "scene/tri_mesh.h"

namespace KX {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kFloat = 5126;
constexpr int kUnsignedShort = 5123;
constexpr int kUnsignedInt = 5125;
constexpr int kArrayBuffer = 34962;
constexpr int kElementArrayBuffer = 34963;

// The texture channels of a standard material that hold its diffuse picture and its bump map.
constexpr int kDiffuseChannel = 1;
constexpr int kBumpChannel = 8;
// A standard material's specular colour until a tool sets another.
constexpr CVector3<float> kDefaultSpecular{0.5f, 0.5f, 0.5f};

bool Finite(float v) {
  return std::isfinite(v);
}
bool Finite(const CVector3<float>& v) {
  return Finite(v.x) && Finite(v.y) && Finite(v.z);
}
bool Finite(const CMatrix4& m) {
  for (const auto& row : m.m)
    for (float v : row)
      if (!Finite(v)) return false;
  return true;
}

float Clamp01(float v) {
  return Finite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f;
}

CVector3<float> Normalized(const CVector3<float>& v, bool& ok) {
  const double length = std::sqrt(static_cast<double>(v.x) * v.x + static_cast<double>(v.y) * v.y +
                                  static_cast<double>(v.z) * v.z);
  ok = std::isfinite(length) && length > 1e-12;
  if (!ok) return {};
  return {static_cast<float>(v.x / length), static_cast<float>(v.y / length),
          static_cast<float>(v.z / length)};
}

CVector3<float> Cross(const CVector3<float>& a, const CVector3<float>& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

CVector3<float> Minus(const CVector3<float>& a, const CVector3<float>& b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// The rest transform as glTF holds it: translation, unit rotation and scale, when those give
// back the matrix; glTF has no place for a shear (a node's matrix must split into the three too).
struct RestTransform {
  bool finite = false;
  bool exact = false;  // translation, rotation and scale give back the whole matrix
  CVector3<float> translation, scale{1, 1, 1};
  CQuaternion rotation;
  CMatrix4 matrix;
};

RestTransform SplitRestTransform(const CSpatial& spatial) {
  RestTransform t;
  t.matrix = spatial.GetLocalMatrix();
  t.finite = Finite(t.matrix);
  if (!t.finite) return t;
  DecomposeMatrix(t.matrix, t.scale, t.rotation, t.translation);
  const CQuaternion& q = t.rotation;
  const double norm = std::sqrt(static_cast<double>(q.w) * q.w + static_cast<double>(q.x) * q.x +
                                static_cast<double>(q.y) * q.y + static_cast<double>(q.z) * q.z);
  if (!std::isfinite(norm) || norm < 1e-6 || !Finite(t.scale) || !Finite(t.translation)) {
    // A finite matrix whose parts overflow does not split either: nothing of it is written as
    // parts (a mesh bakes the matrix into its vertices).
    t.rotation = CQuaternion{};
    t.scale = {1, 1, 1};
    t.translation = {0, 0, 0};
    return t;
  }
  t.rotation = {static_cast<float>(q.w / norm), static_cast<float>(q.x / norm),
                static_cast<float>(q.y / norm), static_cast<float>(q.z / norm)};
  const CMatrix4 back = ComposeMatrix(t.scale, t.rotation, t.translation);
  float largest = 1.0f, error = 0.0f;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      largest = std::max(largest, std::fabs(t.matrix.m[r][c]));
      error = std::max(error, std::fabs(back.m[r][c] - t.matrix.m[r][c]));
    }
  t.exact = error <= 1e-5f * largest;
  return t;
}

void WriteTransform(Json& node, const RestTransform& t) {
  if (t.translation.x != 0 || t.translation.y != 0 || t.translation.z != 0)
    node["translation"] = {t.translation.x, t.translation.y, t.translation.z};
  const CQuaternion& q = t.rotation;
  if (q.x != 0 || q.y != 0 || q.z != 0 || q.w != 1) node["rotation"] = {q.x, q.y, q.z, q.w};
  if (t.scale.x != 1 || t.scale.y != 1 || t.scale.z != 1)
    node["scale"] = {t.scale.x, t.scale.y, t.scale.z};
}

std::string NameOf(const CBase& object) {
  return ToUtf8(object.name);
}

std::string Quoted(const std::string& name) {
  return name.empty() ? "(unnamed)" : "'" + name + "'";
}

// A corner of a face: the position, normal and map vertex it names. Corners naming the same three
// become one glTF vertex.
struct Corner {
  uint32_t position, normal, map;
  friend bool operator==(const Corner&, const Corner&) = default;
};
struct CornerHash {
  size_t operator()(const Corner& c) const {
    uint64_t h = c.position;
    h = h * 0x9E3779B97F4A7C15ull ^ c.normal;
    h = h * 0x9E3779B97F4A7C15ull ^ c.map;
    return static_cast<size_t>(h ^ (h >> 29));
  }
};

struct PrimitiveVertices;

class CBuilder {
 public:
  explicit CBuilder(GltfScene& out) : out_(out) {}

  Status Build(const std::vector<CSpatial*>& roots);

 private:
  int AddNode(CSpatial& spatial);
  int AddMesh(CTriMesh& mesh, const std::string& name, const CMatrix4* bake);
  Json WritePrimitive(const PrimitiveVertices& vertices, bool withNormals, bool withMaps,
                      int materialIndex);
  int AddView(const void* bytes, size_t size, int target);
  int AddAccessor(int view, int componentType, size_t count, const char* type);
  int MaterialOf(CMaterialBase* material, bool withMaps, bool withNormals);
  Json PbrOf(const CStandardMaterial& material, int texture);
  Json TextureInfo(const CStandardMaterial& material, int channel, int texture);
  void TellLostChannels(const CStandardMaterial& material, const std::string& name);
  bool ShowsPicture(int materialIndex) const;
  int TextureOf(CMaterialBase* channelTexture, const std::string& materialName);
  int PictureOf(CBase* image, const std::string& materialName);
  void AddLight(Json& node, CLight& light);
  void AddCamera(Json& node, CCamera& camera);
  void AddAnimations();

  void Warn(std::string text) { out_.warnings.push_back(std::move(text)); }
  Json& Array(const char* key) {
    Json& a = out_.json[key];
    if (a.is_null()) a = Json::array();
    return a;
  }

  GltfScene& out_;
  Json nodes_ = Json::array();
  // By material and which pictures it shows (base colour, normal map).
  std::map<std::tuple<const CMaterialBase*, bool, bool>, int> materials_;
  std::unordered_set<const CMaterialBase*> toldChannels_;  // materials whose lost channels were told
  std::set<std::string> extensionsUsed_;                   // besides the lights
  std::unordered_map<const CBase*, int> pictures_;  // -1: could not be had
  std::unordered_map<int, int> textures_;           // picture -> texture
  std::unordered_map<const CTriMesh*, int> meshes_;
  Json lights_ = Json::array();
  CMatrix4 aim_;  // what AimNode put before the rest transform of the node being added
  // Nodes whose keyframe controller becomes an animation, with what goes before their keys.
  struct Animated {
    int node;
    CSpatial* spatial;
    CKeyframeControl* control;
    CMatrix4 aim;
  };
  std::vector<Animated> animated_;
};

int CBuilder::AddView(const void* bytes, size_t size, int target) {
  std::vector<uint8_t>& bin = out_.binary;
  const size_t offset = bin.size();
  bin.insert(bin.end(), static_cast<const uint8_t*>(bytes),
             static_cast<const uint8_t*>(bytes) + size);
  bin.resize((bin.size() + 3) & ~size_t{3}, 0);
  Json view{{"buffer", 0}, {"byteOffset", offset}, {"byteLength", size}};
  if (target) view["target"] = target;
  Json& views = Array("bufferViews");
  views.push_back(std::move(view));
  return static_cast<int>(views.size() - 1);
}

int CBuilder::AddAccessor(int view, int componentType, size_t count, const char* type) {
  Json& accessors = Array("accessors");
  accessors.push_back(
      {{"bufferView", view}, {"componentType", componentType}, {"count", count}, {"type", type}});
  return static_cast<int>(accessors.size() - 1);
}

int CBuilder::PictureOf(CBase* object, const std::string& materialName) {
  if (auto* animated = KindOf<CAnmImage>(object)) {
    // An animated picture shows its first frame.
    object = animated->frames.empty() ? nullptr : animated->frames.front().image.get();
  }
  auto* image = KindOf<CImage>(object);
  if (!image) return -1;
  if (auto found = pictures_.find(image); found != pictures_.end()) return found->second;
  int& index = pictures_[image];
  index = -1;
  const std::string name = NameOf(*image);
  if (!image->path.empty()) {
    Warn("material " + Quoted(materialName) + ": picture " + Quoted(ToUtf8(image->path)) +
         " is a file of its own, not embedded; left out");
    return -1;
  }
  GltfPicture picture;
  if (image->HasBlob()) {
    std::vector<uint8_t> bytes;
    if (Succeeded(image->GetBlob(bytes))) {
      const int32_t format = CodecSniffFormat(bytes.data(), bytes.size());
      if (format == kCodecPNG || format == kCodecJPEG) {
        picture.bytes = std::move(bytes);
        picture.mimeType = format == kCodecPNG ? "image/png" : "image/jpeg";
      }
    }
  }
  if (picture.bytes.empty() && image->picture.HasPixels()) {
    if (Succeeded(EncodeBlob(image->picture, kCodecPNG, picture.bytes)))
      picture.mimeType = "image/png";
    else
      picture.bytes.clear();
  }
  if (picture.bytes.empty()) {
    Warn("material " + Quoted(materialName) + ": picture " + Quoted(name) +
         " holds no pixels that can be encoded; left out");
    return -1;
  }
  out_.pictures.push_back(std::move(picture));
  Json entry = Json::object();
  if (!name.empty()) entry["name"] = name;
  Json& images = Array("images");
  images.push_back(std::move(entry));
  index = static_cast<int>(images.size() - 1);
  return index;
}

int CBuilder::TextureOf(CMaterialBase* channelTexture, const std::string& materialName) {
  auto* map = KindOf<CTextureMap>(channelTexture);
  if (!map || !map->image) return -1;
  const int picture = PictureOf(map->image.get(), materialName);
  if (picture < 0) return -1;
  if (auto found = textures_.find(picture); found != textures_.end()) return found->second;
  Json& textures = Array("textures");
  textures.push_back({{"source", picture}});
  return textures_[picture] = static_cast<int>(textures.size() - 1);
}

// A channel's picture as a texture reference; a channel offset or tiling other than none goes
// with it as a texture transform (offset (u, v), scale the tiling), when finite.
Json CBuilder::TextureInfo(const CStandardMaterial& material, int channel, int texture) {
  Json info{{"index", texture}};
  const CUvPair& offset = material.channelOffset[channel];
  const CUvPair& tiling = material.channelTiling[channel];
  const bool finite = Finite(offset.u) && Finite(offset.v) && Finite(tiling.u) && Finite(tiling.v);
  if (finite && (offset != CUvPair{} || tiling != CUvPair{1.0f, 1.0f})) {
    info["extensions"] = {
        {"KHR_texture_transform", {{"offset", {offset.u, offset.v}}, {"scale", {tiling.u, tiling.v}}}}};
    extensionsUsed_.insert("KHR_texture_transform");
  }
  return info;
}

// The diffuse channel's amount, 0 to 1 (1 where it is not a number).
float DiffuseAmount(const CStandardMaterial& material) {
  const float amount = material.channelAmount[kDiffuseChannel];
  return Finite(amount) ? std::clamp(amount, 0.0f, 1.0f) : 1.0f;
}

// The base colour: the diffuse picture at its channel's amount, else the diffuse colour. glTF
// multiplies factor and picture, so a picture at full amount has a white factor (it replaces the
// colour, as in the source), and one at a part amount a factor mixed from white toward the
// diffuse colour by the rest; at no amount the picture does not show.
Json CBuilder::PbrOf(const CStandardMaterial& material, int texture) {
  const float amount = texture >= 0 ? DiffuseAmount(material) : 0.0f;
  const float rest = 1.0f - amount;
  Json pbr{{"baseColorFactor",
            {amount + rest * Clamp01(material.diffuse.x), amount + rest * Clamp01(material.diffuse.y),
             amount + rest * Clamp01(material.diffuse.z), Clamp01(material.param[1])}}};
  if (texture >= 0) pbr["baseColorTexture"] = TextureInfo(material, kDiffuseChannel, texture);
  pbr["metallicFactor"] = 0.0;
  pbr["roughnessFactor"] = 1.0;
  return pbr;
}

// The normal-bump texture of the bump channel, when it holds one.
const CNormalBumpTex* NormalBumpOf(const CStandardMaterial& material) {
  return material.UsedChannels() > kBumpChannel
             ? KindOf<CNormalBumpTex>(material.channelTexture[kBumpChannel].get())
             : nullptr;
}

// Standard materials become metallic-roughness materials; see the user guide for the mapping.
// `withMaps` is false for primitives without texture coordinates, which cannot show a picture;
// a normal map needs normals as well.
int CBuilder::MaterialOf(CMaterialBase* base, bool withMaps, bool withNormals) {
  auto* material = KindOf<CStandardMaterial>(base);
  if (!material) return -1;
  const std::string name = NameOf(*material);
  int texture = -1, normal = -1;
  if (withMaps) {
    if (DiffuseAmount(*material) > 0.0f && material->UsedChannels() > kDiffuseChannel)
      texture = TextureOf(material->channelTexture[kDiffuseChannel].get(), name);
    if (const CNormalBumpTex* bump = NormalBumpOf(*material); bump && withNormals)
      normal = TextureOf(bump->map1.get(), name);
  }
  // A material that shows no picture is the same with or without texture coordinates.
  const auto key =
      std::make_tuple(static_cast<const CMaterialBase*>(material), texture >= 0, normal >= 0);
  if (auto found = materials_.find(key); found != materials_.end()) return found->second;
  TellLostChannels(*material, name);
  Json entry = Json::object();
  if (!name.empty()) entry["name"] = name;
  entry["pbrMetallicRoughness"] = PbrOf(*material, texture);
  if (normal >= 0) {
    entry["normalTexture"] = TextureInfo(*material, kBumpChannel, normal);
    const float scale = material->channelAmount[kBumpChannel];
    if (Finite(scale) && scale != 1.0f) entry["normalTexture"]["scale"] = scale;
  }
  const CVector3<float> e{Clamp01(material->emissive.x), Clamp01(material->emissive.y),
                          Clamp01(material->emissive.z)};
  if (e.x != 0 || e.y != 0 || e.z != 0) entry["emissiveFactor"] = {e.x, e.y, e.z};
  const CVector3<float>& specular = material->specular;
  if (Finite(specular) && !(specular == kDefaultSpecular)) {
    entry["extensions"]["KHR_materials_specular"] = {
        {"specularColorFactor",
         {std::max(specular.x, 0.0f), std::max(specular.y, 0.0f), std::max(specular.z, 0.0f)}}};
    extensionsUsed_.insert("KHR_materials_specular");
  }
  if (Clamp01(material->param[1]) < 1.0f) entry["alphaMode"] = "BLEND";
  Json& materials = Array("materials");
  materials.push_back(std::move(entry));
  return materials_[key] = static_cast<int>(materials.size() - 1);
}

// True when the material shows a picture, and so needs texture coordinates.
bool CBuilder::ShowsPicture(int materialIndex) const {
  if (materialIndex < 0) return false;
  const Json& material = out_.json["materials"][materialIndex];
  return material["pbrMetallicRoughness"].contains("baseColorTexture") ||
         material.contains("normalTexture");
}

// Only the diffuse channel's picture goes across; every other channel that holds a texture is
// named, once per material.
void CBuilder::TellLostChannels(const CStandardMaterial& material, const std::string& name) {
  if (!toldChannels_.insert(&material).second) return;
  std::string lost;
  for (int32_t k = 0; k < material.UsedChannels(); ++k) {
    if (k == kDiffuseChannel || !material.channelTexture[k]) continue;
    if (k == kBumpChannel && NormalBumpOf(material) &&
        KindOf<CTextureMap>(NormalBumpOf(material)->map1.get()))
      continue;
    lost += (lost.empty() ? "" : ", ") + std::to_string(k) + " (" +
            material.channelTexture[k]->GetRuntimeClass()->className + ")";
  }
  if (!lost.empty())
    Warn("material " + Quoted(name) + ": the textures of channel(s) " + lost +
         " are not carried; only the diffuse picture and a normal-bump map are");
}

// Faces whose corners all name stored, finite positions; the others cannot be drawn.
std::vector<uint32_t> DrawableFaces(const CTriMesh& mesh, size_t faces) {
  std::vector<uint32_t> kept;
  kept.reserve(faces);
  for (size_t f = 0; f < faces; ++f) {
    bool ok = true;
    for (size_t c = 0; c < 3 && ok; ++c) {
      const uint32_t p = mesh.facePositionIndices[3 * f + c];
      ok = p < mesh.positions.size() && Finite(mesh.positions[p]);
    }
    if (ok) kept.push_back(static_cast<uint32_t>(f));
  }
  return kept;
}

// Normals and map coordinates go across only when every kept face has them.
bool EveryFaceHas(const std::vector<uint32_t>& kept, size_t faces, const CIndexBuffer& indices,
                  const CVectorBuffer& values, bool uv) {
  if (values.empty() || indices.size() < 3 * faces) return false;
  for (uint32_t f : kept)
    for (size_t c = 0; c < 3; ++c) {
      const uint32_t i = indices[3 * f + c];
      if (i >= values.size()) return false;
      if (uv && !(Finite(values[i].x) && Finite(values[i].y))) return false;
    }
  return true;
}

// What of a mesh goes across, settled once for all its primitives.
struct MeshPlan {
  const CTriMesh& mesh;
  const CMatrix4* bake;    // a transform baked into the vertices, or null
  bool withNormals = false;
  bool withMaps = false;
  CMatrix3 normalMatrix;  // the transposed inverse of the baked transform
};

// The vertices of one primitive: one for every distinct combination of position, normal and map
// vertex the faces name, in the order the faces first name them.
struct PrimitiveVertices {
  std::vector<float> positions, normals, maps;
  std::vector<uint32_t> indices;
  float lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  size_t count = 0;
};

// Gathers the vertices of the faces of `group`; false when a baked transform takes one out of
// range, where nothing sensible can be drawn.
bool GatherVertices(const MeshPlan& plan, const std::vector<uint32_t>& group, bool groupMaps,
                    PrimitiveVertices& out) {
  const CTriMesh& mesh = plan.mesh;
  std::unordered_map<Corner, uint32_t, CornerHash> numbers;
  out.indices.reserve(group.size() * 3);
  for (uint32_t f : group) {
    CVector3<float> corner[3];
    for (size_t c = 0; c < 3; ++c) {
      corner[c] = mesh.positions[mesh.facePositionIndices[3 * f + c]];
      if (plan.bake) corner[c] = TransformCoord(corner[c], *plan.bake);
    }
    bool flat = false;
    const CVector3<float> faceNormal =
        Normalized(Cross(Minus(corner[1], corner[0]), Minus(corner[2], corner[0])), flat);
    for (size_t c = 0; c < 3; ++c) {
      const Corner key{mesh.facePositionIndices[3 * f + c],
                       plan.withNormals ? mesh.faceNormalIndices[3 * f + c] : 0,
                       groupMaps ? mesh.faceMapIndices[3 * f + c] : 0};
      auto [it, added] = numbers.try_emplace(key, static_cast<uint32_t>(numbers.size()));
      out.indices.push_back(it->second);
      if (!added) continue;
      const CVector3<float>& p = corner[c];
      if (!Finite(p)) return false;
      const float xyz[3] = {p.x, p.y, p.z};
      for (int k = 0; k < 3; ++k) {
        out.positions.push_back(xyz[k]);
        out.lo[k] = std::min(out.lo[k], xyz[k]);
        out.hi[k] = std::max(out.hi[k], xyz[k]);
      }
      if (plan.withNormals) {
        CVector3<float> n = mesh.normals[key.normal];
        if (plan.bake) n = TransformVector(n, plan.normalMatrix);
        bool ok = false;
        n = Normalized(n, ok);
        // A normal of no length or direction takes the face's own, or up for a flat face.
        if (!ok) n = flat ? faceNormal : CVector3<float>{0, 0, 1};
        out.normals.insert(out.normals.end(), {n.x, n.y, n.z});
      }
      if (groupMaps) {
        const CVector3<float>& t = mesh.mapVertices[key.map];
        out.maps.insert(out.maps.end(), {t.x, t.y});
      }
    }
  }
  out.count = numbers.size();
  return true;
}

// Tangents for a normal map, per vertex (x, y, z and the handedness w): each triangle adds the
// direction in which its first texture coordinate grows, weighted by its area in texture space;
// each sum is made perpendicular to the vertex's normal and unit length. A vertex no triangle
// gives a direction takes any perpendicular to its normal.
std::vector<float> TangentsOf(const PrimitiveVertices& v) {
  const size_t n = v.count;
  std::vector<CVector3<float>> along(n), across(n);
  auto at = [](const std::vector<float>& values, size_t i, size_t width) {
    return CVector3<float>{values[i * width], values[i * width + 1],
                           width > 2 ? values[i * width + 2] : 0.0f};
  };
  for (size_t t = 0; t + 2 < v.indices.size(); t += 3) {
    const uint32_t i0 = v.indices[t], i1 = v.indices[t + 1], i2 = v.indices[t + 2];
    const CVector3<float> e1 = Minus(at(v.positions, i1, 3), at(v.positions, i0, 3));
    const CVector3<float> e2 = Minus(at(v.positions, i2, 3), at(v.positions, i0, 3));
    const CVector3<float> d1 = Minus(at(v.maps, i1, 2), at(v.maps, i0, 2));
    const CVector3<float> d2 = Minus(at(v.maps, i2, 2), at(v.maps, i0, 2));
    const float r = d1.x * d2.y - d2.x * d1.y;
    if (!Finite(r) || std::fabs(r) < 1e-20f) continue;
    const float f = 1.0f / r;
    const CVector3<float> tangent{f * (e1.x * d2.y - e2.x * d1.y), f * (e1.y * d2.y - e2.y * d1.y),
                                  f * (e1.z * d2.y - e2.z * d1.y)};
    const CVector3<float> bitangent{f * (e2.x * d1.x - e1.x * d2.x),
                                    f * (e2.y * d1.x - e1.y * d2.x),
                                    f * (e2.z * d1.x - e1.z * d2.x)};
    if (!Finite(tangent) || !Finite(bitangent)) continue;
    for (uint32_t i : {i0, i1, i2}) {
      along[i] = {along[i].x + tangent.x, along[i].y + tangent.y, along[i].z + tangent.z};
      across[i] = {across[i].x + bitangent.x, across[i].y + bitangent.y, across[i].z + bitangent.z};
    }
  }
  std::vector<float> out;
  out.reserve(4 * n);
  for (size_t i = 0; i < n; ++i) {
    const CVector3<float> normal = at(v.normals, i, 3);
    const CVector3<float>& t = along[i];
    const float d = normal.x * t.x + normal.y * t.y + normal.z * t.z;
    bool ok = false;
    CVector3<float> tangent =
        Normalized({t.x - normal.x * d, t.y - normal.y * d, t.z - normal.z * d}, ok);
    if (!ok) {
      // Any direction across the normal: the axis it leans on least.
      const CVector3<float> axis = std::fabs(normal.x) < 0.9f ? CVector3<float>{1, 0, 0}
                                                              : CVector3<float>{0, 1, 0};
      tangent = Normalized(Cross(normal, axis), ok);
      if (!ok) tangent = {1, 0, 0};
    }
    const CVector3<float> side = Cross(normal, tangent);
    const float w = side.x * across[i].x + side.y * across[i].y + side.z * across[i].z < 0.0f
                        ? -1.0f
                        : 1.0f;
    out.insert(out.end(), {tangent.x, tangent.y, tangent.z, w});
  }
  return out;
}

// The buffer views and accessors of one primitive, and the primitive itself.
Json CBuilder::WritePrimitive(const PrimitiveVertices& v, bool withNormals,
                                        bool withMaps, int materialIndex) {
  Json attributes;
  int view = AddView(v.positions.data(), v.positions.size() * sizeof(float), kArrayBuffer);
  int accessor = AddAccessor(view, kFloat, v.count, "VEC3");
  out_.json["accessors"][accessor]["min"] = {v.lo[0], v.lo[1], v.lo[2]};
  out_.json["accessors"][accessor]["max"] = {v.hi[0], v.hi[1], v.hi[2]};
  attributes["POSITION"] = accessor;
  if (withNormals) {
    view = AddView(v.normals.data(), v.normals.size() * sizeof(float), kArrayBuffer);
    attributes["NORMAL"] = AddAccessor(view, kFloat, v.count, "VEC3");
  }
  if (withMaps) {
    view = AddView(v.maps.data(), v.maps.size() * sizeof(float), kArrayBuffer);
    attributes["TEXCOORD_0"] = AddAccessor(view, kFloat, v.count, "VEC2");
  }
  // A normal map turns normals in the tangent space the vertices carry.
  if (withNormals && withMaps && materialIndex >= 0 &&
      out_.json["materials"][materialIndex].contains("normalTexture")) {
    const std::vector<float> tangents = TangentsOf(v);
    view = AddView(tangents.data(), tangents.size() * sizeof(float), kArrayBuffer);
    attributes["TANGENT"] = AddAccessor(view, kFloat, v.count, "VEC4");
  }
  // 16-bit indices when they fit; 65535 is the restart value, which glTF does not allow.
  int indexAccessor;
  if (v.count < 65535) {
    std::vector<uint16_t> narrow(v.indices.begin(), v.indices.end());
    view = AddView(narrow.data(), narrow.size() * sizeof(uint16_t), kElementArrayBuffer);
    indexAccessor = AddAccessor(view, kUnsignedShort, v.indices.size(), "SCALAR");
  } else {
    view = AddView(v.indices.data(), v.indices.size() * sizeof(uint32_t), kElementArrayBuffer);
    indexAccessor = AddAccessor(view, kUnsignedInt, v.indices.size(), "SCALAR");
  }
  Json primitive{{"attributes", std::move(attributes)}, {"indices", indexAccessor}};
  if (materialIndex >= 0) primitive["material"] = materialIndex;
  return primitive;
}

// One primitive per sub-material the faces use; vertices split wherever the position, normal and
// map indices of the corners differ, numbered in the order the faces first name them.
int CBuilder::AddMesh(CTriMesh& mesh, const std::string& name, const CMatrix4* bake) {
  if (!bake) {
    if (auto found = meshes_.find(&mesh); found != meshes_.end()) return found->second;
  }
  const size_t faces = std::min(static_cast<size_t>(std::max(mesh.faceCount, 0)),
                                mesh.facePositionIndices.size() / 3);
  const std::vector<uint32_t> kept = DrawableFaces(mesh, faces);
  if (kept.size() < faces)
    Warn("mesh " + Quoted(name) + ": " + std::to_string(faces - kept.size()) +
         " face(s) name positions that are missing or not finite; left out");
  if (kept.empty()) return -1;

  MeshPlan plan{mesh, bake, false, false, CMatrix3{}};
  bool normalsBakeable = true;
  if (bake) {
    CMatrix4 inverse;
    normalsBakeable = MatrixInverse(inverse, *bake);
    for (int r = 0; r < 3; ++r)
      for (int c = 0; c < 3; ++c) plan.normalMatrix.m[r][c] = inverse.m[c][r];
  }
  plan.withNormals =
      normalsBakeable && EveryFaceHas(kept, faces, mesh.faceNormalIndices, mesh.normals, false);
  plan.withMaps = EveryFaceHas(kept, faces, mesh.faceMapIndices, mesh.mapVertices, true);

  auto* multi = KindOf<CMultiMaterial>(mesh.material.get());
  const size_t subCount = multi ? multi->subMaterials.size() : 0;
  std::map<uint32_t, std::vector<uint32_t>> groups;
  for (uint32_t f : kept) {
    uint32_t sub = 0;
    if (subCount > 0 && f < mesh.faceValues1.size())
      sub = static_cast<uint32_t>(mesh.faceValues1[f] % subCount);
    groups[sub].push_back(f);
  }

  Json primitives = Json::array();
  for (const auto& [sub, group] : groups) {
    CMaterialBase* material =
        multi ? (sub < subCount ? multi->subMaterials[sub].get() : nullptr) : mesh.material.get();
    const int materialIndex = MaterialOf(material, plan.withMaps, plan.withNormals);
    // Map coordinates go across only for a material that shows a picture with them.
    const bool groupMaps = plan.withMaps && ShowsPicture(materialIndex);
    PrimitiveVertices vertices;
    if (!GatherVertices(plan, group, groupMaps, vertices)) {
      Warn("mesh " + Quoted(name) + ": its transform takes vertices out of range");
      return -1;
    }
    primitives.push_back(WritePrimitive(vertices, plan.withNormals, groupMaps, materialIndex));
  }
  Json entry = Json::object();
  if (!name.empty()) entry["name"] = name;
  entry["primitives"] = std::move(primitives);
  Json& meshes = Array("meshes");
  meshes.push_back(std::move(entry));
  const int index = static_cast<int>(meshes.size() - 1);
  if (!bake) meshes_[&mesh] = index;
  return index;
}

// The rotation (glTF's x, y, z, w order of use aside) that turns -Z, where glTF lights and
// cameras look, towards `direction`, with `up` kept as near to +Y as the direction allows.
bool LookRotation(const CVector3<float>& direction, const CVector3<float>& up, CMatrix3& out) {
  bool ok = false;
  const CVector3<float> back = Normalized({-direction.x, -direction.y, -direction.z}, ok);
  if (!ok) return false;
  CVector3<float> side = Normalized(Cross(up, back), ok);
  if (!ok) side = Normalized(Cross(CVector3<float>{0, 1, 0}, back), ok);
  if (!ok) side = Normalized(Cross(CVector3<float>{1, 0, 0}, back), ok);
  if (!ok) return false;
  // Rows are the images of the local axes: x = side, y = the up that is square to both, z = back.
  out.SetRow(0, side);
  out.SetRow(1, Cross(back, side));
  out.SetRow(2, back);
  return true;
}

// The node of a light or camera looks from `eye` along `direction` in its own space: folded into
// its rest transform, since glTF puts them at the node's origin looking down its -Z.
// `aimed` receives the turn and offset put before the rest transform.
void AimNode(Json& node, const CSpatial& spatial, const CVector3<float>& eye,
             const CVector3<float>& direction, const CVector3<float>& up, CMatrix4& aimed) {
  CMatrix3 look;
  if (!Finite(eye) || !Finite(direction) || !Finite(up) || !LookRotation(direction, up, look))
    return;
  aimed = ComposeMatrix({1, 1, 1}, look, eye);
  const CMatrix4 aim = aimed * spatial.GetLocalMatrix();
  if (!Finite(aim)) return;
  RestTransform t;
  DecomposeMatrix(aim, t.scale, t.rotation, t.translation);
  const CQuaternion& q = t.rotation;
  const double norm = std::sqrt(static_cast<double>(q.w) * q.w + static_cast<double>(q.x) * q.x +
                                static_cast<double>(q.y) * q.y + static_cast<double>(q.z) * q.z);
  if (!std::isfinite(norm) || norm < 1e-6) return;
  t.rotation = {static_cast<float>(q.w / norm), static_cast<float>(q.x / norm),
                static_cast<float>(q.y / norm), static_cast<float>(q.z / norm)};
  node.erase("translation");
  node.erase("rotation");
  node.erase("scale");
  WriteTransform(node, t);
}

// Where a spatial object is in the space of the whole tree, through its parents.
CMatrix4 WorldOf(const CSpatial& spatial) {
  CMatrix4 world = spatial.GetLocalMatrix();
  int depth = 0;
  for (const CSpatial* p = spatial.parent; p && depth < 100000; p = p->parent, ++depth)
    world = world * p->GetLocalMatrix();
  return world;
}

void CBuilder::AddLight(Json& node, CLight& light) {
  if (!light.enabled) return;
  Json entry = Json::object();
  if (!light.name.empty()) entry["name"] = NameOf(light);
  // Colours brighter than white keep their hue; their strength becomes the intensity.
  CVector3<float> color{std::max(light.color.x, 0.0f), std::max(light.color.y, 0.0f),
                        std::max(light.color.z, 0.0f)};
  if (!Finite(color)) color = {1, 1, 1};
  const float strongest = std::max({color.x, color.y, color.z});
  if (strongest > 1.0f) {
    color = {color.x / strongest, color.y / strongest, color.z / strongest};
    entry["intensity"] = strongest;
  }
  entry["color"] = {color.x, color.y, color.z};
  auto range = [&](float r) {
    if (Finite(r) && r > 0 && r < 1e30f) entry["range"] = r;
  };
  CVector3<float> eye, direction{0, 0, -1};
  if (auto* d = KindOf<CDirectionalLight>(&light)) {
    entry["type"] = "directional";
    direction = d->localDirection;
  } else if (auto* p = KindOf<CPointLight>(&light)) {
    entry["type"] = "point";
    eye = p->localPosition;
    range(p->range);
  } else if (auto* s = KindOf<CSpotLight>(&light)) {
    entry["type"] = "spot";
    eye = s->localPosition;
    direction = s->localDirection;
    range(s->range);
    // The stored angles span the whole cone; glTF's are measured from its axis.
    constexpr float kQuarter = 1.5707963f;
    float outer = Finite(s->phi) ? std::clamp(s->phi / 2, 0.0f, kQuarter) : kQuarter / 2;
    if (outer <= 0) outer = 1e-3f;
    const float inner = Finite(s->theta) ? std::clamp(s->theta / 2, 0.0f, outer * 0.999f) : 0.0f;
    entry["spot"] = {{"innerConeAngle", inner}, {"outerConeAngle", outer}};
  } else {
    return;
  }
  lights_.push_back(std::move(entry));
  node["extensions"] = {{"KHR_lights_punctual", {{"light", lights_.size() - 1}}}};
  AimNode(node, light, eye, direction, {0, 1, 0}, aim_);
}

// A perspective camera looking at its target. The older camera keeps no lens values of a
// documented meaning, so the view is the common one: 45 degrees high, near plane at 0.1, no far
// plane.
void CBuilder::AddCamera(Json& node, CCamera& camera) {
  CVector3<float> target = camera.localTarget;
  if (!camera.fixedTarget && camera.target) {
    CMatrix4 inverse;
    if (MatrixInverse(inverse, WorldOf(camera)))
      target = TransformCoord(WorldOf(*camera.target).Translation(), inverse);
  }
  Json entry = Json::object();
  if (!camera.name.empty()) entry["name"] = NameOf(camera);
  entry["type"] = "perspective";
  entry["perspective"] = {{"yfov", 0.7853982}, {"znear", 0.1}};
  Array("cameras").push_back(std::move(entry));
  node["camera"] = out_.json["cameras"].size() - 1;
  Warn("camera " + Quoted(NameOf(camera)) +
       ": its lens values are not carried; written as a 45-degree perspective view");
  AimNode(node, camera, camera.localEye, Minus(target, camera.localEye), camera.localUp, aim_);
}

int CBuilder::AddNode(CSpatial& spatial) {
  const std::string name = NameOf(spatial);
  Json node = Json::object();
  if (!name.empty()) node["name"] = name;
  const RestTransform rest = SplitRestTransform(spatial);
  auto* mesh = KindOf<CTriMesh>(&spatial);
  const CMatrix4* bake = nullptr;
  if (!rest.finite) {
    Warn("node " + Quoted(name) +
         ": its rest transform is not finite; placed at its parent's origin");
  } else if (rest.exact) {
    WriteTransform(node, rest);
  } else if (mesh) {
    // A mesh is a leaf: its sheared transform goes into its vertices.
    bake = &rest.matrix;
  } else {
    WriteTransform(node, rest);
    Warn("node " + Quoted(name) +
         ": its rest transform shears, which glTF cannot hold; written without the shear");
  }
  aim_ = MatrixIdentity();
  if (mesh) {
    if (const int m = AddMesh(*mesh, name, bake); m >= 0) node["mesh"] = m;
  } else if (auto* light = KindOf<CLight>(&spatial)) {
    AddLight(node, *light);
  } else if (auto* camera = KindOf<CCamera>(&spatial)) {
    AddCamera(node, *camera);
  }
  // The first keyframe controller moves the node; other controllers follow other objects or
  // drive values glTF has no place for, and are named, a kind at a time.
  int chain = 0;
  bool moved = false;
  std::map<std::string, int> lost;  // class -> how many
  for (CControl* c = spatial.controllers.get(); c && chain < 100000; c = c->next.get(), ++chain) {
    auto* keys = KindOf<CKeyframeControl>(c);
    if (!keys || moved) {
      ++lost[c->GetRuntimeClass()->className];
      continue;
    }
    moved = true;
    if (bake)
      Warn("node " + Quoted(name) + ": its keyframes move a sheared mesh; not animated");
    else
      animated_.push_back({static_cast<int>(nodes_.size()), &spatial, keys, aim_});
  }
  for (const auto& [className, count] : lost)
    Warn("node " + Quoted(name) + ": " +
         (count > 1 ? std::to_string(count) + " controllers " + className + " are"
                    : "its controller " + className + " is") +
         " not carried" + (moved ? "; only its first keyframe controller is" : ""));
  nodes_.push_back(std::move(node));
  return static_cast<int>(nodes_.size() - 1);
}

// Each keyframe controller played once from scene time 0, sampled at 30 per second (fewer for
// very long ones) and at its end, through the controller's own evaluation: whatever its easing,
// clips or channel layout, the node moves as the scene shows it, between samples in straight
// lines and along the shorter arc.
void CBuilder::AddAnimations() {
  constexpr double kRate = 30.0;
  constexpr size_t kMostSamples = 18000;
  Json channels = Json::array(), samplers = Json::array();
  for (const Animated& a : animated_) {
    CKeyframeControl& control = *a.control;
    const std::string name = NameOf(*a.spatial);
    const double duration = static_cast<double>(control.GetDuration()) / control.timeScale;
    if (!std::isfinite(duration) || duration <= 0) continue;
    // Times are written as floats; an animation longer than they can count is none.
    if (duration > 1e30) {
      Warn("node " + Quoted(name) +
           ": its keyframes last longer than glTF can count; not animated");
      continue;
    }
    const double wanted = std::ceil(duration * kRate);
    const size_t steps = wanted < kMostSamples ? static_cast<size_t>(wanted) : kMostSamples;
    // The grid, and the keys themselves, so that no key is cut short between two samples.
    std::vector<double> at;
    for (size_t i = 0; i <= steps; ++i) at.push_back(i == steps ? duration : duration * i / steps);
    const ChannelKeyTimes& channel = control.channelTimes;
    const CSmallArray<float>* lists[] = {&control.keyTimes, &channel.rotationTimes,
                                         &channel.positionTimes, &channel.scaleTimes};
    for (const auto* keyTimes : lists)
      for (size_t i = 0; i < keyTimes->size() && at.size() < 2 * kMostSamples; ++i) {
        const double t = static_cast<double>((*keyTimes)[i]) / control.timeScale;
        if (t >= 0 && t <= duration) at.push_back(t);
      }
    std::sort(at.begin(), at.end());
    std::vector<float> times, translations, rotations, scales;
    bool usable = true;
    // The keys are read in the node's own space: the controller combines them with the parent's
    // current transform, which is not wanted here.
    struct CDetached {
      CSpatial& spatial;
      CNode* parent;
      ~CDetached() { spatial.parent = parent; }
    } detached{*a.spatial, a.spatial->parent};
    a.spatial->parent = nullptr;
    CQuaternion previous;
    for (double when : at) {
      const auto t = static_cast<float>(when);
      if (!times.empty() && !(t > times.back())) continue;
      usable = control.EvaluateTransform(t) == kOk;
      const CMatrix4 local = a.aim * control.matrix;
      usable = usable && Finite(local);
      if (!usable) break;
      CVector3<float> scale, position;
      CQuaternion q;
      DecomposeMatrix(local, scale, q, position);
      const double norm =
          std::sqrt(static_cast<double>(q.w) * q.w + static_cast<double>(q.x) * q.x +
                    static_cast<double>(q.y) * q.y + static_cast<double>(q.z) * q.z);
      usable = std::isfinite(norm) && norm > 1e-6 && Finite(scale) && Finite(position);
      if (!usable) break;
      q = {static_cast<float>(q.w / norm), static_cast<float>(q.x / norm),
           static_cast<float>(q.y / norm), static_cast<float>(q.z / norm)};
      // The same turn as the sample before, on the same side of the sphere: no needless spin.
      if (!times.empty() &&
          q.w * previous.w + q.x * previous.x + q.y * previous.y + q.z * previous.z < 0)
        q = {-q.w, -q.x, -q.y, -q.z};
      previous = q;
      times.push_back(t);
      translations.insert(translations.end(), {position.x, position.y, position.z});
      rotations.insert(rotations.end(), {q.x, q.y, q.z, q.w});
      scales.insert(scales.end(), {scale.x, scale.y, scale.z});
    }
    if (!usable || times.size() < 2) {
      Warn("node " + Quoted(name) + ": its keyframes give no usable transform; not animated");
      continue;
    }
    int view = AddView(times.data(), times.size() * sizeof(float), 0);
    const int input = AddAccessor(view, kFloat, times.size(), "SCALAR");
    out_.json["accessors"][input]["min"] = {times.front()};
    out_.json["accessors"][input]["max"] = {times.back()};
    const std::pair<const char*, std::vector<float>*> paths[] = {
        {"translation", &translations}, {"rotation", &rotations}, {"scale", &scales}};
    for (const auto& [path, values] : paths) {
      view = AddView(values->data(), values->size() * sizeof(float), 0);
      const int output = AddAccessor(view, kFloat, times.size(),
                                     std::string(path) == "rotation" ? "VEC4" : "VEC3");
      samplers.push_back({{"input", input}, {"interpolation", "LINEAR"}, {"output", output}});
      channels.push_back(
          {{"sampler", samplers.size() - 1}, {"target", {{"node", a.node}, {"path", path}}}});
    }
  }
  if (channels.empty()) return;
  Array("animations")
      .push_back({{"name", "Keyframes"},
                  {"channels", std::move(channels)},
                  {"samplers", std::move(samplers)}});
}

Status CBuilder::Build(const std::vector<CSpatial*>& roots) {
  Json& json = out_.json;
  json = Json::object();
  json["asset"] = {{"version", "2.0"}, {"generator", "recaster"}};
  json["scene"] = 0;
  json["scenes"] = Json::array();
  // One scene per root, the first the default. Pre-order over each tree, without recursion; an
  // object met a second time (listed by two parents, or in two roots' trees) is written once, as
  // glTF nodes have one parent.
  std::unordered_set<const CSpatial*> seen;
  for (CSpatial* root : roots) {
    Json scene = Json::object();
    if (!root->name.empty()) scene["name"] = NameOf(*root);
    scene["nodes"] = Json::array();
    std::vector<std::pair<CSpatial*, int>> stack{{root, -1}};
    while (!stack.empty()) {
      auto [spatial, parent] = stack.back();
      stack.pop_back();
      if (!seen.insert(spatial).second) {
        Warn("node " + Quoted(NameOf(*spatial)) + " is listed twice; written once");
        continue;
      }
      const int index = AddNode(*spatial);
      if (parent >= 0) {
        Json& children = nodes_[parent]["children"];
        if (children.is_null()) children = Json::array();
        children.push_back(index);
      } else {
        scene["nodes"].push_back(index);
      }
      if (auto* node = KindOf<CNode>(spatial))
        for (auto child = node->children.rbegin(); child != node->children.rend(); ++child)
          if (*child) stack.emplace_back(child->get(), index);
    }
    json["scenes"].push_back(std::move(scene));
  }
  json["nodes"] = std::move(nodes_);
  AddAnimations();
  if (!lights_.empty()) extensionsUsed_.insert("KHR_lights_punctual");
  if (!extensionsUsed_.empty()) json["extensionsUsed"] = extensionsUsed_;
  if (!lights_.empty())
    json["extensions"] = {{"KHR_lights_punctual", {{"lights", std::move(lights_)}}}};
  return kOk;
}

}  // namespace

Status BuildGltfScene(CSpatial& root, GltfScene& out) {
  return BuildGltfScene(std::vector<CSpatial*>{&root}, out);
}

Status BuildGltfScene(const std::vector<CSpatial*>& roots, GltfScene& out) {
  out = GltfScene{};
  if (roots.empty()) return kErrBadArgument;
  try {
    CBuilder builder(out);
    return builder.Build(roots);
  } catch (const std::bad_alloc&) {
    out = GltfScene{};
    return kErrOutOfMemory;
  }
}

}  // namespace KX
