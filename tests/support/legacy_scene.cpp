#include "support/legacy_scene.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "core/math/transform.h"

namespace KX::test {

namespace {

// Old blocks store wide strings as 8-bit text, one byte per UTF-16 unit.
std::string Narrow(const std::u16string& text) {
  std::string narrow(text.size(), '\0');
  for (size_t i = 0; i < text.size(); ++i) narrow[i] = static_cast<char>(text[i] & 0xFF);
  return narrow;
}

void Vec(test::Bytes& out, const CVector3<float>& v) {
  out.F32(v.x).F32(v.y).F32(v.z);
}

void Matrix(test::Bytes& out, const CMatrix4& m) {
  for (const auto& row : m.m)
    for (float v : row) out.F32(v);
}

// A buffer written with exactly `count` elements after a presence word, shorter ones padded
// with zeros, as the geometry blocks hold them.
template <class T, class Put>
void PresentArray(test::Bytes& out, const std::vector<T>& values, int64_t count, Put put) {
  const bool present = !values.empty() && count > 0;
  out.I32(present ? 1 : 0);
  if (!present) return;
  for (int64_t i = 0; i < count; ++i)
    put(static_cast<size_t>(i) < values.size() ? values[static_cast<size_t>(i)] : T{});
}

void U32Array(test::Bytes& out, const std::vector<uint32_t>& values, int64_t count) {
  PresentArray(out, values, count, [&](uint32_t v) { out.U32(v); });
}

void VecArray(test::Bytes& out, const std::vector<CVector3<float>>& values, int64_t count) {
  PresentArray(out, values, count, [&](const CVector3<float>& v) { Vec(out, v); });
}

void PictureBlock(test::Bytes& out, int32_t width, int32_t height, int32_t format,
                  const std::vector<uint8_t>& rows) {
  out.I32(width).I32(height).I32(format).I16(0).I32(96).I32(96).I32(rows.empty() ? 0 : 1);
  out.Raw(rows.data(), rows.size());
}

// A key list as stored: uint32 count, then the elements; times moved by `shift`.
test::Bytes FloatList(const std::vector<float>& values, float shift = 0.0f) {
  test::Bytes out;
  out.U32(static_cast<uint32_t>(values.size()));
  for (float v : values) out.F32(v + shift);
  return out;
}

test::Bytes VecList(const std::vector<CVector3<float>>& values) {
  test::Bytes out;
  out.U32(static_cast<uint32_t>(values.size()));
  for (const auto& v : values) Vec(out, v);
  return out;
}

template <class T>
test::Bytes PlainList(const std::vector<T>& values) {
  test::Bytes out;
  out.U32(static_cast<uint32_t>(values.size()));
  return out.Raw(values.data(), values.size() * sizeof(T));
}

}  // namespace

CMatrix4 Transform(const CVector3<float>& position, const CVector3<float>& euler,
                   const CVector3<float>& scale) {
  return ComposeMatrix(scale, RotationFromEuler(euler), position);
}

CMatrix4 Translation(const CVector3<float>& position) {
  return MatrixTranslation(position);
}

LegacyMesh LegacyMesh::Triangle(float size) {
  LegacyMesh mesh;
  mesh.positions = {{0, 0, 0}, {size, 0, 0}, {0, size, 0}};
  mesh.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  mesh.mapVertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
  mesh.indexList1 = {0, 1, 2};
  mesh.indexList2 = {0, 1, 2};
  mesh.indexList3 = {0, 1, 2};
  mesh.faceCount = 1;
  mesh.facePositionIndices = {0, 1, 2};
  mesh.faceNormalIndices = {0, 1, 2};
  mesh.faceMapIndices = {0, 1, 2};
  mesh.faceTriples4 = {0, 1, 2};
  mesh.faceValues1 = {0};
  mesh.faceValues2 = {0};
  return mesh;
}

LegacyMesh LegacyMesh::Quad(float size) {
  LegacyMesh mesh;
  mesh.positions = {{0, 0, 0}, {size, 0, 0}, {size, size, 0}, {0, size, 0}};
  mesh.normals = {{0, 0, 1}, {0, 0, 1}, {0, 0, 1}, {0, 0, 1}};
  mesh.mapVertices = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}};
  mesh.indexList1 = {0, 1, 2, 3};
  mesh.indexList2 = {0, 1, 2, 3};
  mesh.indexList3 = {0, 1, 2, 3};
  mesh.faceCount = 2;
  mesh.facePositionIndices = {0, 1, 2, 0, 2, 3};
  mesh.faceNormalIndices = mesh.facePositionIndices;
  mesh.faceMapIndices = mesh.facePositionIndices;
  mesh.faceTriples4 = mesh.facePositionIndices;
  mesh.faceValues1 = {0, 0};
  mesh.faceValues2 = {0, 0};
  return mesh;
}

LegacyScene::LegacyScene(std::string version) : version_(std::move(version)) {
  int major = 0, minor = 0;
  if (version_.size() < 4 || std::sscanf(version_.c_str(), "%1d.%2d", &major, &minor) != 2 ||
      major * 100 + minor >= 200)
    throw std::invalid_argument("an old stream version below 2.00, as M.mm");
  streamVersion_ = major * 100 + minor;
}

LegacyRef LegacyScene::Add(Kind kind, std::u16string name) {
  Record record;
  record.kind = kind;
  record.name = std::move(name);
  records_.push_back(std::move(record));
  return LegacyRef{static_cast<int32_t>(records_.size())};
}

LegacyScene::Record& LegacyScene::At(LegacyRef ref) {
  if (ref.id < 1 || static_cast<size_t>(ref.id) > records_.size())
    throw std::out_of_range("no such object in this scene");
  return records_[static_cast<size_t>(ref.id - 1)];
}

LegacyRef LegacyScene::Node(std::u16string name, const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kNode, std::move(name));
  At(ref).transform = transform;
  return ref;
}

LegacyRef LegacyScene::BillboardNode(std::u16string name, const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kBillboardNode, std::move(name));
  At(ref).transform = transform;
  return ref;
}

LegacyRef LegacyScene::Root(std::u16string name, const CMatrix4& transform) {
  const LegacyRef ref = Node(std::move(name), transform);
  MarkRoot(ref);
  return ref;
}

LegacyRef LegacyScene::Mesh(std::u16string name, const LegacyMesh& mesh,
                            const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kMesh, std::move(name));
  At(ref).transform = transform;
  At(ref).mesh = mesh;
  return ref;
}

LegacyRef LegacyScene::Camera(std::u16string name, const CMatrix4& transform, LegacyRef target) {
  const LegacyRef ref = Add(Kind::kCamera, std::move(name));
  At(ref).transform = transform;
  At(ref).target = target;
  return ref;
}

LegacyRef LegacyScene::CameraTarget(std::u16string name, const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kCameraTarget, std::move(name));
  At(ref).transform = transform;
  return ref;
}

LegacyRef LegacyScene::Light(std::u16string name, int32_t type, const CVector3<float>& color,
                             const CMatrix4& transform) {
  if (type < 1 || type > 3) throw std::invalid_argument("light kinds are 1 to 3");
  const LegacyRef ref = Add(Kind::kLight, std::move(name));
  At(ref).transform = transform;
  At(ref).channel = type;
  At(ref).color = color;
  return ref;
}

LegacyRef LegacyScene::Billboard(std::u16string name, const std::vector<CVector3<float>>& positions,
                                 const CMatrix4& transform,
                                 const std::vector<LegacyRef>& subObjects) {
  const LegacyRef ref = Add(Kind::kBillboard, std::move(name));
  At(ref).transform = transform;
  At(ref).mesh.positions = positions;
  At(ref).refs = subObjects;
  return ref;
}

LegacyRef LegacyScene::Particles(std::u16string name, int32_t capacity, const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kParticles, std::move(name));
  At(ref).transform = transform;
  At(ref).capacity = capacity;
  At(ref).mesh.positions.assign(static_cast<size_t>(std::max(capacity, 0)), CVector3<float>{});
  return ref;
}

LegacyRef LegacyScene::ImageLayer(std::u16string name, LegacyRef source,
                                  const std::vector<LegacyRef>& objects,
                                  const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kImageLayer, std::move(name));
  At(ref).transform = transform;
  At(ref).target = source;
  At(ref).refs = objects;
  return ref;
}

LegacyRef LegacyScene::AudioInstance(std::u16string name, LegacyRef sound,
                                     const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kAudioInstance, std::move(name));
  At(ref).transform = transform;
  At(ref).target = sound;
  return ref;
}

LegacyRef LegacyScene::Sound(std::u16string name, const PcmFormat& format,
                             const std::vector<uint8_t>& samples) {
  const LegacyRef ref = Add(Kind::kAudioData, std::move(name));
  At(ref).pcm = format;
  At(ref).bytes = samples;
  return ref;
}

void LegacyScene::MarkRoot(LegacyRef object) {
  At(object);
  if (std::find(roots_.begin(), roots_.end(), object) == roots_.end()) roots_.push_back(object);
}

void LegacyScene::AddChild(LegacyRef parent, LegacyRef child) {
  At(child);
  At(parent).children.push_back(child);
}

void LegacyScene::SetVisible(LegacyRef spatial, bool visible) {
  At(spatial).visible = visible;
}

LegacyRef LegacyScene::Material(const LegacyMaterial& material, std::u16string name) {
  const LegacyRef ref = Add(Kind::kStandardMaterial, std::move(name));
  At(ref).standard = material;
  return ref;
}

LegacyRef LegacyScene::MultiMaterial(const std::vector<LegacyRef>& subMaterials,
                                     std::u16string name) {
  const LegacyRef ref = Add(Kind::kMultiMaterial, std::move(name));
  At(ref).refs = subMaterials;
  return ref;
}

void LegacyScene::SetMaterial(LegacyRef geometry, LegacyRef material) {
  At(geometry).material = material;
}

LegacyRef LegacyScene::TextureMap(LegacyRef image, int32_t channel, std::u16string name) {
  const LegacyRef ref = Add(Kind::kTextureMap, std::move(name));
  At(ref).refs = {image};
  At(ref).channel = channel;
  return ref;
}

LegacyRef LegacyScene::BlendTex(LegacyRef texture1, float weight1, LegacyRef texture2,
                                float weight2) {
  const LegacyRef ref = Add(Kind::kBlendTex, u"");
  At(ref).refs = {texture1, texture2};
  At(ref).weight1 = weight1;
  At(ref).weight2 = weight2;
  return ref;
}

LegacyRef LegacyScene::NormalBumpTex(LegacyRef map1, LegacyRef map2, float amount1, float amount2) {
  const LegacyRef ref = Add(Kind::kNormalBumpTex, u"");
  At(ref).refs = {map1, map2};
  At(ref).weight1 = amount1;
  At(ref).weight2 = amount2;
  return ref;
}

LegacyRef LegacyScene::Image(std::u16string name, const std::vector<uint8_t>& encoded) {
  const LegacyRef ref = Add(Kind::kImage, std::move(name));
  At(ref).bytes = encoded;
  return ref;
}

LegacyRef LegacyScene::RawImage(std::u16string name, int32_t width, int32_t height, int32_t format,
                                const std::vector<uint8_t>& rows) {
  const LegacyRef ref = Add(Kind::kRawImage, std::move(name));
  Record& r = At(ref);
  r.width = width;
  r.height = height;
  r.format = format;
  r.bytes = rows;
  return ref;
}

LegacyRef LegacyScene::AnmImage(std::u16string name, const std::vector<LegacyRef>& frames,
                                int32_t step) {
  const LegacyRef ref = Add(Kind::kAnmImage, std::move(name));
  At(ref).refs = frames;
  At(ref).channel = step;
  return ref;
}

LegacyRef LegacyScene::Tree(std::u16string name, const std::vector<uint8_t>& block, uint32_t seed,
                            const std::vector<LegacyRef>& parts) {
  if (parts.size() > 10) throw std::invalid_argument("a tree has ten part slots");
  const LegacyRef ref = Add(Kind::kTree, std::move(name));
  At(ref).bytes = block;
  At(ref).channel = static_cast<int32_t>(seed);
  At(ref).refs = parts;
  return ref;
}

LegacyRef LegacyScene::TreeInstance(std::u16string name, LegacyRef tree,
                                    const CMatrix4& transform) {
  const LegacyRef ref = Add(Kind::kTreeInstance, std::move(name));
  At(ref).transform = transform;
  At(ref).target = tree;
  return ref;
}

LegacyRef LegacyScene::Grass(std::u16string name, const std::vector<int32_t>& bladesPerLayer) {
  const LegacyRef ref = Add(Kind::kGrass, std::move(name));
  At(ref).counts = bladesPerLayer;
  return ref;
}

LegacyRef LegacyScene::Wind(std::u16string name, const std::vector<uint8_t>& block) {
  const LegacyRef ref = Add(Kind::kWind, std::move(name));
  At(ref).bytes = block;
  return ref;
}

void LegacyScene::AppendController(LegacyRef owner, LegacyRef controller) {
  At(controller).owner = owner;
  LegacyRef* slot = &At(owner).controllers;
  while (*slot) slot = &At(*slot).next;
  *slot = controller;
}

void LegacyScene::AppendCustomData(LegacyRef holder, LegacyRef record) {
  LegacyRef* slot = &At(holder).customData;
  while (*slot) slot = &At(*slot).next;
  *slot = record;
}

LegacyRef LegacyScene::KeyframeController(LegacyRef owner, const std::vector<LegacyKey>& keys,
                                          float startTime) {
  const LegacyRef ref = Add(Kind::kKeyframe, u"");
  At(ref).keys = keys;
  At(ref).startTime = startTime;
  AppendController(owner, ref);
  return ref;
}

LegacyRef LegacyScene::LinkController(LegacyRef owner, LegacyRef parent, float time) {
  const LegacyRef ref = Add(Kind::kLink, u"");
  At(ref).target = parent;
  LegacyKey key;
  key.time = time;
  At(ref).keys = {key};
  AppendController(owner, ref);
  return ref;
}

LegacyRef LegacyScene::MorphController(LegacyRef owner, const std::vector<CVector3<float>>& deltas,
                                       const std::vector<float>& weightKeys,
                                       const std::vector<float>& weightTimes) {
  const LegacyRef ref = Add(Kind::kMorph, u"");
  At(ref).deltas = deltas;
  At(ref).weightKeys = weightKeys;
  At(ref).weightTimes = weightTimes;
  AppendController(owner, ref);
  return ref;
}

LegacyRef LegacyScene::DataController(LegacyRef owner, std::string className,
                                      std::vector<test::Bytes> lists, float startTime) {
  const LegacyRef ref = Add(Kind::kDataControl, u"");
  At(ref).className = std::move(className);
  At(ref).lists = std::move(lists);
  At(ref).startTime = startTime;
  AppendController(owner, ref);
  return ref;
}

LegacyRef LegacyScene::MaterialController(LegacyRef material, const CVector3<float>& from,
                                          const CVector3<float>& to, float startTime, bool attach) {
  const LegacyRef ref = Add(Kind::kMaterialControl, u"");
  At(ref).deltas = {from, to};
  At(ref).startTime = startTime;
  At(ref).owner = material;
  if (attach) AppendController(material, ref);
  return ref;
}

LegacyRef LegacyScene::UvwMap(LegacyRef mesh, const std::vector<CVector3<float>>& coordinates) {
  const LegacyRef ref = Add(Kind::kUvwMap, u"");
  At(ref).deltas = coordinates;
  At(mesh).channels.push_back(ref);
  return ref;
}

LegacyRef LegacyScene::UvwMapController(LegacyRef map, const std::vector<CVector3<float>>& keys,
                                        const std::vector<float>& times, bool attach) {
  const LegacyRef ref = Add(Kind::kUvwMapControl, u"");
  At(ref).deltas = keys;
  At(ref).weightTimes = times;
  At(ref).owner = map;
  if (attach) AppendController(map, ref);
  return ref;
}

LegacyRef LegacyScene::ParticleController(LegacyRef system, float start, float stop, float rate,
                                          bool attach) {
  const LegacyRef ref = Add(Kind::kParticleControl, u"");
  At(ref).startTime = start;
  At(ref).weight1 = stop;
  At(ref).rate = rate;
  At(ref).owner = system;
  if (attach) AppendController(system, ref);
  return ref;
}

LegacyRef LegacyScene::DataComposite(const std::string& className, LegacyRef owner,
                                     const std::vector<LegacyRef>& subs) {
  const LegacyRef ref = Add(Kind::kDataComposite, u"");
  At(ref).className = className;
  At(ref).refs = subs;
  AppendController(owner, ref);
  return ref;
}

LegacyRef LegacyScene::LightController(LegacyRef light, const std::vector<CVector3<float>>& colors,
                                       const std::vector<float>& times, float startTime) {
  return DataController(light, "CLightControl", {VecList(colors), FloatList(times, startTime)},
                        startTime);
}

LegacyRef LegacyScene::PointLightController(LegacyRef light, const std::vector<float>& ranges,
                                            const std::vector<float>& times, float startTime) {
  return DataController(light, "CPointLightControl",
                        {FloatList(ranges), FloatList(times, startTime)}, startTime);
}

LegacyRef LegacyScene::SpotLightController(LegacyRef light, const std::vector<float>& times,
                                           const std::vector<CVector3<float>>& cones,
                                           const std::vector<float>& ranges, float startTime) {
  return DataController(light, "CSpotLightControl",
                        {FloatList(times, startTime), VecList(cones), FloatList(ranges)},
                        startTime);
}

LegacyRef LegacyScene::CameraController(LegacyRef camera, const LegacyCameraKeys& keys,
                                        float startTime) {
  return DataController(camera, "CCameraControl",
                        {FloatList(keys.timesA, startTime), FloatList(keys.param8),
                         FloatList(keys.param9), FloatList(keys.param10), PlainList(keys.param11),
                         FloatList(keys.timesB, startTime), FloatList(keys.param3)},
                        startTime);
}

LegacyRef LegacyScene::VisibilityController(LegacyRef spatial, const std::vector<float>& times,
                                            const std::vector<uint8_t>& values, float startTime) {
  return DataController(spatial, "CBooleanControl",
                        {FloatList(times, startTime), PlainList(values)}, startTime);
}

LegacyRef LegacyScene::AnmImageController(LegacyRef textureMap, LegacyRef animation,
                                          LegacyRef storedOwner) {
  At(animation);
  const LegacyRef ref =
      DataController(textureMap, "CAnmImageControl", {test::Bytes().I32(animation.id)}, 0.0f);
  if (storedOwner) At(ref).owner = storedOwner;
  return ref;
}

LegacyRef LegacyScene::RawDataChain(const std::vector<LegacyRawData>& records) {
  LegacyRef head, last;
  for (const LegacyRawData& data : records) {
    const LegacyRef ref = Add(Kind::kRawData, data.name);
    At(ref).bytes = data.payload;
    At(ref).key = data.key;
    if (last)
      At(last).next = ref;
    else
      head = ref;
    last = ref;
  }
  if (head) MarkRoot(head);
  return head;
}

LegacyRef LegacyScene::RawData(LegacyRef holder, const LegacyRawData& record) {
  const LegacyRef ref = Add(Kind::kRawData, record.name);
  At(ref).bytes = record.payload;
  At(ref).key = record.key;
  AppendCustomData(holder, ref);
  return ref;
}

LegacyRef LegacyScene::RoseData(LegacyRef holder, const LegacyRose& rose) {
  const LegacyRef ref = Add(Kind::kRoseData, rose.name);
  At(ref).rose = rose;
  At(ref).key = rose.key;
  AppendCustomData(holder, ref);
  return ref;
}

LegacyRef LegacyScene::ProjectData(LegacyRef holder, float value1, int32_t value2) {
  const LegacyRef ref = Add(Kind::kProjectData, u"");
  At(ref).weight1 = value1;
  At(ref).channel = value2;
  AppendCustomData(holder, ref);
  return ref;
}

LegacyRef LegacyScene::CharacterData(LegacyRef holder, LegacyRef object1, LegacyRef object2) {
  const LegacyRef ref = Add(Kind::kCharacterData, u"");
  At(ref).refs = {object1, object2};
  AppendCustomData(holder, ref);
  return ref;
}

void LegacyScene::Thumbnail(int32_t width, int32_t height, const std::vector<uint8_t>& rows,
                            int32_t format) {
  hasThumbnail_ = true;
  thumbWidth_ = width;
  thumbHeight_ = height;
  thumbFormat_ = format;
  thumbRows_ = rows;
}

// ---------------------------------------------------------------------------------------------
// Serialisation, level by level as the Load functions read old streams.

void LegacyScene::WriteCorva(test::Bytes& out, int32_t id, const Record& r) const {
  out.I32(id).A(Narrow(r.name));  // CBase: id, name
  out.I32(r.controllers.id);      // CCorva: the controller chain...
  // ...and, from 1.01 on, the second controller chain (never used here) and the custom data.
  if (streamVersion_ > 100) out.I32(0).I32(r.customData.id);
}

void LegacyScene::WriteSpatial(test::Bytes& out, int32_t id, const Record& r) const {
  WriteCorva(out, id, r);
  Matrix(out, r.transform);
  out.U8(r.visible ? 1 : 0);
  out.I32(0);  // the list of ids old tools kept and nothing reads
}

void LegacyScene::WriteControl(test::Bytes& out, int32_t id, const Record& r) const {
  WriteCorva(out, id, r);
  // Out-of-range mode, start time, the value standing in for the priority, a dropped value,
  // time scale, enabled, owner, next.
  const float held = r.kind == Kind::kParticleControl ? r.weight1 : 0.0f;
  out.I32(0).F32(r.startTime).F32(held).F32(0).F32(1.0f).U8(1);
  out.I32(r.owner.id).I32(r.next.id);
}

void LegacyScene::WriteCustomData(test::Bytes& out, int32_t id, const Record& r) const {
  WriteCorva(out, id, r);
  out.A(Narrow(r.key)).I32(r.rose.param1).I32(r.rose.param2).I32(r.next.id);
}

void LegacyScene::WriteTexture(test::Bytes& out, int32_t id, const Record& r) const {
  WriteCorva(out, id, r);  // CMaterialBase: no block of its own in old files
  out.U8(0);               // the byte old texture blocks carried
}

void LegacyScene::WriteGeometry(test::Bytes& out, const LegacyMesh& m, const Record& r) const {
  const auto n = static_cast<int32_t>(m.positions.size());
  out.I32(n);
  for (const auto& p : m.positions) Vec(out, p);  // no presence word
  U32Array(out, m.vertexValues, n);
  out.I32(static_cast<int32_t>(m.normals.size()));
  VecArray(out, m.normals, static_cast<int64_t>(m.normals.size()));
  out.I32(static_cast<int32_t>(m.mapVertices.size()));
  VecArray(out, m.mapVertices, static_cast<int64_t>(m.mapVertices.size()));
  const auto k = static_cast<int32_t>(
      std::max({m.indexList1.size(), m.indexList2.size(), m.indexList3.size()}));
  out.I32(k);
  U32Array(out, m.indexList1, k);
  U32Array(out, m.indexList2, k);
  U32Array(out, m.indexList3, k);
  out.I32(r.material.id).U8(0);  // material, geometry flag
}

void LegacyScene::WriteRecord(test::Bytes& out, int32_t id, const Record& r) const {
  switch (r.kind) {
    case Kind::kNode:
    case Kind::kBillboardNode: {
      out.A(r.kind == Kind::kNode ? "CNode" : "CBillboardNode");
      WriteSpatial(out, id, r);
      out.U32(0).U8(1).U8(1);  // a tag slot old tools filled with something else; two options
      out.I32(static_cast<int32_t>(r.children.size()));
      for (LegacyRef child : r.children) out.I32(child.id);
      break;
    }
    case Kind::kMesh: {
      const LegacyMesh& m = r.mesh;
      out.A("CTriMesh");
      WriteSpatial(out, id, r);
      WriteGeometry(out, m, r);
      const int64_t triples = 3 * static_cast<int64_t>(std::max(m.faceCount, 0));
      out.I32(m.faceCount);
      U32Array(out, m.facePositionIndices, triples);
      U32Array(out, m.faceNormalIndices, triples);
      U32Array(out, m.faceMapIndices, triples);
      U32Array(out, m.faceTriples4, triples);
      U32Array(out, m.faceValues1, std::max(m.faceCount, 0));
      U32Array(out, m.faceValues2, std::max(m.faceCount, 0));
      // Old files lead the map channels with an entry no mesh kept.
      out.I32(r.channels.empty() ? 0 : static_cast<int32_t>(r.channels.size() + 1));
      if (!r.channels.empty()) out.I32(0);
      for (LegacyRef channel : r.channels) out.I32(channel.id);
      out.I32(static_cast<int32_t>(m.extraVectors.size()));
      for (const auto& e : m.extraVectors) out.U32(e[0]).U32(e[1]).U32(e[2]);
      break;
    }
    case Kind::kCamera: {
      out.A("CCamera");
      WriteSpatial(out, id, r);
      out.F32(1.0f).F32(2.0f).F32(1.0f).F32(0.0f).F32(1.0f).F32(0.0f).F32(1.0f);
      Vec(out, {0, 0, 0});   // eye
      Vec(out, {0, 1, 0});   // up
      Vec(out, {0, 0, -1});  // target point
      out.U8(1).U8(r.target ? 0 : 1).I32(r.target.id);
      break;
    }
    case Kind::kCameraTarget:
      out.A("CCameraTarget");
      WriteSpatial(out, id, r);
      break;
    case Kind::kStandardMaterial: {
      const LegacyMaterial& m = r.standard;
      out.A("CStandardMaterial");
      WriteCorva(out, id, r);
      out.U8(m.flag ? 1 : 0);  // old blocks lead with the flag
      Vec(out, m.ambient);
      Vec(out, m.diffuse);
      Vec(out, m.specular);
      Vec(out, m.emissive);
      for (float p : m.param) out.F32(p);
      out.I32(static_cast<int32_t>(m.channels.size()));
      for (LegacyRef texture : m.channels) out.I32(texture.id);  // no amounts, offsets, tilings
      break;
    }
    case Kind::kMultiMaterial:
      out.A("CMultiMaterial");
      WriteCorva(out, id, r);
      out.U8(0).U32(static_cast<uint32_t>(r.refs.size()));
      for (LegacyRef sub : r.refs) out.I32(sub.id);
      break;
    case Kind::kTextureMap:
      out.A("CTextureMap");
      WriteTexture(out, id, r);
      out.I32(r.channel + 1).I32(r.refs[0].id);  // channels counted from 1
      break;
    case Kind::kBlendTex:
      out.A("CBlendTex");
      WriteTexture(out, id, r);
      out.F32(r.weight1).F32(r.weight2).I32(r.refs[0].id).I32(r.refs[1].id);
      break;
    case Kind::kNormalBumpTex:
      out.A("CNormalBumpTex");
      WriteTexture(out, id, r);
      out.U8(1).U8(1).F32(r.weight1).F32(r.weight2).I32(r.refs[0].id).I32(r.refs[1].id);
      break;
    case Kind::kImage:
    case Kind::kRawImage: {
      out.A("CImage");
      out.I32(id).A(Narrow(r.name));
      // Words old image blocks carried: three of them from 1.01 on, one before.
      for (int i = 0; i < (streamVersion_ >= 101 ? 3 : 1); ++i) out.I32(0);
      out.A("").I16(0);  // no external path; heap storage
      if (r.kind == Kind::kImage) {
        out.U8(1).I32(static_cast<int32_t>(r.bytes.size()));  // encoded, no format code
        out.Raw(r.bytes.data(), r.bytes.size());
      } else {
        out.U8(0);
        PictureBlock(out, r.width, r.height, r.format, r.bytes);
      }
      break;
    }
    case Kind::kKeyframe: {
      out.A("CKeyframeControl");
      WriteControl(out, id, r);                // CRTSControl: no block of its own in old files
      for (int i = 0; i < 65; ++i) out.U8(0);  // a matrix and a byte old blocks carried
      const auto count = static_cast<int32_t>(r.keys.size());
      out.I32(count);
      for (const auto& k : r.keys)
        out.F32(k.rotation.w).F32(k.rotation.x).F32(k.rotation.y).F32(k.rotation.z);
      out.I32(count);
      for (const auto& k : r.keys) Vec(out, k.position);
      out.I32(count);
      for (const auto& k : r.keys) Vec(out, k.scale);
      // Keys in scene time, as old blocks kept them; shared times only.
      out.I32(count);
      for (const auto& k : r.keys) out.F32(k.time + r.startTime);
      out.I32(0).I32(0).I32(0);
      out.F32(0.0f);  // the value the old block ends with
      break;
    }
    case Kind::kLink: {
      out.A("CLinkControl");
      WriteControl(out, id, r);
      out.I32(1);
      Matrix(out, MatrixIdentity());                        // offsets
      out.I32(1).I32(r.target.id);                          // parents
      out.I32(1).F32(r.keys.empty() ? 0 : r.keys[0].time);  // times
      out.I32(1).U8(0);                                     // flags
      out.I32(1).I32(0);                                    // modes
      out.I32(1);
      Matrix(out, MatrixIdentity());  // bases
      break;
    }
    case Kind::kMorph: {
      out.A("CMorphControl");
      WriteControl(out, id, r);  // CDataControl: no block of its own in old files
      out.I32(static_cast<int32_t>(r.deltas.size()));
      for (const auto& d : r.deltas) Vec(out, d);
      out.U32(static_cast<uint32_t>(r.weightKeys.size()));
      for (float w : r.weightKeys) out.F32(w);
      out.U32(static_cast<uint32_t>(r.weightTimes.size()));
      for (float t : r.weightTimes) out.F32(t);
      break;
    }
    case Kind::kLight: {
      static const char* const kLightClasses[] = {"CDirectionalLight", "CPointLight", "CSpotLight"};
      out.A(kLightClasses[r.channel - 1]);
      WriteSpatial(out, id, r);
      Vec(out, r.color);
      out.I32(0).U8(1);  // the word old light blocks carried; enabled
      if (r.channel == 1) {
        Vec(out, {0, 0, -1});
      } else {
        Vec(out, {0, 0, 0});
        if (r.channel == 3) Vec(out, {0, 0, -1});
        out.F32(100.0f);                                 // range
        if (r.channel == 3) out.F32(0);                  // falloff
        out.F32(1).F32(0).F32(0);                        // attenuation
        if (r.channel == 3) out.F32(0).F32(1.5707964f);  // theta, phi
      }
      break;
    }
    case Kind::kAnmImage:
      out.A("CAnmImage");
      out.I32(id).A(Narrow(r.name));
      for (int i = 0; i < (streamVersion_ >= 101 ? 3 : 1); ++i) out.I32(0);
      out.A("").I32(static_cast<int32_t>(r.refs.size()));  // embedded frames
      for (LegacyRef frame : r.refs) out.I32(0).I32(r.channel).I32(0).I32(0).I32(0).I32(frame.id);
      break;
    case Kind::kDataControl:
      // Data-controller levels have no block of their own in old files.
      out.A(r.className);
      WriteControl(out, id, r);
      for (const test::Bytes& list : r.lists) out.Append(list);
      break;
    case Kind::kMaterialControl: {
      out.A("CMaterialControl");
      WriteControl(out, id, r);  // no data-controller blocks in old files
      // Group 1: the ambient colour over two keys, in scene time; nothing else is keyed.
      out.U32(2).F32(r.startTime).F32(r.startTime + 2.0f).U32(2);
      for (const auto& c : r.deltas) Vec(out, c);
      for (int i = 0; i < 5 + 4 + 2; ++i) out.U32(0);
      for (int channel = 0; channel < 6; ++channel) out.U32(0).U32(0);
      break;
    }
    case Kind::kUvwMap:
      out.A("CUvwMap");
      WriteCorva(out, id, r);
      out.I32(static_cast<int32_t>(r.deltas.size()));
      VecArray(out, r.deltas, static_cast<int64_t>(r.deltas.size()));
      out.I32(0).I32(0).I32(0).I32(0);  // no faces, no values
      break;
    case Kind::kUvwMapControl:
      out.A("CUvwMapControl");
      WriteControl(out, id, r);
      out.U32(static_cast<uint32_t>(r.deltas.size()));
      for (const auto& c : r.deltas) Vec(out, c);
      out.U32(static_cast<uint32_t>(r.weightTimes.size()));
      for (float t : r.weightTimes) out.F32(t);
      break;
    case Kind::kParticleControl:
      out.A("CParticleControl");
      WriteControl(out, id, r);
      out.U32(0);             // the word old emitter blocks lead with
      out.F32(1.0f);          // life
      Vec(out, {0, 1, 0});    // velocity
      out.F32(0.0f);          // life variation
      Vec(out, {0, -1, 0});   // acceleration
      out.F32(r.rate);        // rate
      Vec(out, {-1, 0, -1});  // the box
      Vec(out, {1, 0, 1});
      for (int i = 0; i < 2; ++i) Vec(out, {0, 0, 0});
      for (int i = 0; i < 8; ++i) out.F32(1.0f);  // two colours
      for (int i = 0; i < 2; ++i) Vec(out, {0, 0, 0});
      for (int i = 0; i < 6; ++i) out.U32(static_cast<uint32_t>(i));  // seed and kept values
      break;
    case Kind::kDataComposite: {
      out.A(r.className);
      WriteControl(out, id, r);
      const auto n = static_cast<int32_t>(r.refs.size());
      if (r.className == "CMaterialLayerControl") {
        out.U32(static_cast<uint32_t>(n));
        for (int32_t i = 0; i < n; ++i) out.U32(1).F32(1.0f / static_cast<float>(n));
        out.I32(n);
        for (LegacyRef sub : r.refs) out.I32(sub.id);
        out.U32(0);  // no weight keys
      } else {
        out.I32(n);
        for (LegacyRef sub : r.refs) out.I32(sub.id);
        // Old clip records: start, transition, source, passes (0: one), in point, trim.
        out.I32(n);
        for (int32_t i = 0; i < n; ++i)
          out.F32(static_cast<float>(i))
              .F32(0.5f)
              .U32(static_cast<uint32_t>(i))
              .U32(0)
              .F32(0)
              .F32(0);
      }
      break;
    }
    case Kind::kRawData:
      out.A("CRawData");
      WriteCustomData(out, id, r);
      out.I32(static_cast<int32_t>(r.bytes.size())).I32(r.bytes.empty() ? 0 : 1);
      out.Raw(r.bytes.data(), r.bytes.size());
      break;
    case Kind::kBillboard:
      out.A("CBillboard");
      WriteSpatial(out, id, r);
      WriteGeometry(out, r.mesh, r);
      out.U32(0).U32(0).I32(static_cast<int32_t>(r.refs.size()));  // two values, the objects
      for (LegacyRef object : r.refs) out.I32(object.id);
      break;
    case Kind::kParticles:
      out.A("CParticles");
      WriteSpatial(out, id, r);
      WriteGeometry(out, r.mesh, r);
      out.I32(r.capacity).U32(0);  // capacity, particleValue
      break;
    case Kind::kImageLayer: {
      out.A("CImageLayer");
      WriteSpatial(out, id, r);
      // Old blocks: no version, and two flags only.
      out.F32(1.0f);
      for (int i = 0; i < 8; ++i) out.U8(0);
      out.U32(0).U32(0);
      for (int i = 0; i < 8; ++i) out.U8(0);
      for (int i = 0; i < 7; ++i) out.U32(0);
      out.U8(0).U8(0).U32(0).I32(r.target.id).I32(static_cast<int32_t>(r.refs.size()));
      for (LegacyRef object : r.refs) out.I32(object.id);
      break;
    }
    case Kind::kAudioInstance:
      out.A("CAudioInstance");
      WriteSpatial(out, id, r);
      // Five values, the three scales (second, third, first); no fourth-word value before 2.01.
      for (int i = 0; i < 5; ++i) out.U32(0);
      out.F32(1.0f).F32(1.0f).F32(1.0f).I32(r.target.id);
      break;
    case Kind::kAudioData:
      out.A("CAudioData");
      WriteCorva(out, id, r);
      out.Raw(&r.pcm, sizeof r.pcm).U32(static_cast<uint32_t>(r.bytes.size()));
      out.Raw(r.bytes.data(), r.bytes.size());
      break;
    case Kind::kRoseData:
      out.A("CRoseData");
      WriteCustomData(out, id, r);
      // Old blocks end with the three fixed blocks: no flag, no extra value.
      out.Raw(r.rose.block1.data(), r.rose.block1.size());
      out.Raw(r.rose.block2.data(), r.rose.block2.size());
      out.Raw(r.rose.block3.data(), r.rose.block3.size());
      break;
    case Kind::kProjectData:
      out.A("CProjectData");
      WriteCustomData(out, id, r);
      out.F32(r.weight1).I32(r.channel);
      for (int i = 0; i < 28; ++i) out.U8(0);  // two 8-byte blocks, three values
      break;
    case Kind::kCharacterData:
      out.A("CCharacterData");
      WriteCustomData(out, id, r);
      out.U8(1).U8(0).U8(0).F32(2).F32(1).F32(1).U32(0).U32(0);
      for (int i = 0; i < 32; ++i) out.U8(0);  // two 16-byte blocks
      out.I32(r.refs[0].id).I32(r.refs[1].id);
      break;
    case Kind::kTree:
      out.A("CTree");
      WriteCorva(out, id, r);
      out.I32(static_cast<int32_t>(r.bytes.size())).Raw(r.bytes.data(), r.bytes.size());
      out.U32(static_cast<uint32_t>(r.channel)).F32(-1.0f).F32(-1.0f);  // seed, model's own size
      for (size_t i = 0; i < 10; ++i) out.I32(i < r.refs.size() ? r.refs[i].id : 0);
      break;
    case Kind::kTreeInstance:
      out.A("CTreeInstance");
      WriteSpatial(out, id, r);
      out.I32(r.target.id).I32(0).I32(0);                  // tree, no object, value
      for (int i = 0; i < 8 + 3 * 13; ++i) out.F32(0.0f);  // the block and the three records
      break;
    case Kind::kGrass:
      out.A("CGrass");
      WriteCorva(out, id, r);  // no spatial level
      out.I32(0).I32(0);
      Vec(out, {0, 0, 0});
      out.I32(0).F32(1.0f).F32(1.0f).I32(0).I32(0);
      out.I32(static_cast<int32_t>(r.counts.size()));
      for (size_t layer = 0; layer < r.counts.size(); ++layer) {
        Vec(out, {0, 0, 0});
        Vec(out, {0, 1, 0});
        Vec(out, {1, 1, 1});
        out.U32(static_cast<uint32_t>(layer));
        out.I32(r.counts[layer]);
        for (int32_t blade = 0; blade < 60 * r.counts[layer]; ++blade)
          out.U8(static_cast<uint8_t>(layer));
      }
      Vec(out, {0.5f, 0.5f, 0.5f});  // the area: centre, radius, box
      out.F32(0.87f);
      Vec(out, {0, 0, 0});
      Vec(out, {1, 1, 1});
      out.I32(0).I32(0);
      break;
    case Kind::kWind:
      out.A("CWind");
      WriteCorva(out, id, r);
      out.I32(static_cast<int32_t>(r.bytes.size())).Raw(r.bytes.data(), r.bytes.size());
      break;
  }
}

std::vector<uint8_t> LegacyScene::Bytes() const {
  test::Bytes out = OldHeader(version_);
  if (hasThumbnail_) {
    // The section holds the thumbnail level's fields alone.
    out.A("_CorvaThumbnail");
    PictureBlock(out, thumbWidth_, thumbHeight_, thumbFormat_, thumbRows_);
    out.I32(1).I32(0).U8(0).I32(0);
  } else {
    out.Append(OldEmptyThumbnail());
  }
  // Roots first, in the order they were marked, then everything else in the order made.
  std::vector<bool> written(records_.size(), false);
  for (LegacyRef root : roots_) {
    out.A("_CorvaRoot");
    WriteRecord(out, root.id, records_[static_cast<size_t>(root.id - 1)]);
    written[static_cast<size_t>(root.id - 1)] = true;
  }
  for (size_t i = 0; i < records_.size(); ++i)
    if (!written[i]) WriteRecord(out, static_cast<int32_t>(i + 1), records_[i]);
  return out.data;
}

}  // namespace KX::test
