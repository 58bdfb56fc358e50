#pragma once
// Writes scene files in the old "KXCorva" layout, which the library reads but never writes, for
// tests and for the example generator. A scene is described object by object and serialised
// only by Bytes(), so links may be made in any order:
//
//   test::LegacyScene scene("1.50");
//   auto root = scene.Root(u"Props");
//   auto group = scene.Node(u"Group", test::Translation({0, 2, 0}));
//   auto box = scene.Mesh(u"Box", test::LegacyMesh::Triangle(), test::Translation({1, 0, 0}));
//   scene.SetMaterial(box, scene.Material({}));
//   scene.AddChild(root, group);
//   scene.AddChild(group, box);
//   scene.KeyframeController(group, {{0.0f, {0, 0, 0}}, {1.0f, {0, 5, 0}}});
//   std::vector<uint8_t> bytes = scene.Bytes();
//
// Every record is written as the class's Load reads it from a stream below 2.00: no record
// sizes, no version pairs, wide strings as 8-bit strings, the spatial rest transform as one
// matrix followed by a list of unused ids, the one-byte fields old texture and multi-material
// blocks carried, controllers with their start time in place of the priority, and so on.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/math/matrix.h"
#include "core/math/quaternion.h"
#include "core/math/vector.h"
#include "scene/audio.h"
#include "support/bytes.h"

namespace KX::test {

// An object of the scene being described; 0 is no object.
struct LegacyRef {
  int32_t id = 0;
  explicit operator bool() const { return id != 0; }
  friend bool operator==(LegacyRef, LegacyRef) = default;
};

// A rest transform: scale, then rotation (Euler angles in radians, x then y then z), then
// translation.
CMatrix4 Transform(const CVector3<float>& position, const CVector3<float>& euler = {},
                   const CVector3<float>& scale = {1, 1, 1});
CMatrix4 Translation(const CVector3<float>& position);

// The buffers of a triangle mesh as the old block stores them. Index lists 1 to 3 share one
// count (the longest); per-face lists hold 3 values per face, faceValues 1 per face.
struct LegacyMesh {
  std::vector<CVector3<float>> positions;
  std::vector<uint32_t> vertexValues;  // one per position, or none
  std::vector<CVector3<float>> normals;
  std::vector<CVector3<float>> mapVertices;
  std::vector<uint32_t> indexList1, indexList2, indexList3;
  int32_t faceCount = 0;
  std::vector<uint32_t> facePositionIndices, faceNormalIndices, faceMapIndices, faceTriples4;
  std::vector<uint32_t> faceValues1, faceValues2;
  std::vector<std::array<uint32_t, 3>> extraVectors;

  // One triangle in the z = 0 plane, complete: normals, index lists and face lists.
  static LegacyMesh Triangle(float size = 1.0f);
  // A quad of two triangles in the z = 0 plane, complete.
  static LegacyMesh Quad(float size = 1.0f);
};

struct LegacyMaterial {
  CVector3<float> ambient{0.2f, 0.2f, 0.2f};
  CVector3<float> diffuse{0.8f, 0.8f, 0.8f};
  CVector3<float> specular{0.5f, 0.5f, 0.5f};
  CVector3<float> emissive{0, 0, 0};
  std::array<float, 10> param{0.5f, 1.0f, 0, 1.0f, 0, 0, 0, 0, 0, 0};
  bool flag = false;
  // Texture of each channel (at most 12 are read back); the count written is the size.
  std::vector<LegacyRef> channels = std::vector<LegacyRef>(12);
};

// One key of a keyframe controller; the rotation is (w, x, y, z).
struct LegacyKey {
  float time = 0;
  CVector3<float> position;
  CQuaternion rotation{1, 0, 0, 0};
  CVector3<float> scale{1, 1, 1};
};

// The lists of a camera controller: group A times with the values they key, group B times with
// param3.
struct LegacyCameraKeys {
  std::vector<float> timesA, param8, param9, param10;
  std::vector<uint32_t> param11;
  std::vector<float> timesB, param3;
};

// A named raw-data record of a custom-data chain.
struct LegacyRawData {
  std::u16string name;
  std::vector<uint8_t> payload;
  std::u16string key;
};

struct LegacyRose {
  std::u16string name;
  std::u16string key;
  int32_t param1 = 0, param2 = 0;
  std::array<uint8_t, 21> block1{};
  std::array<uint8_t, 23> block2{};
  std::array<uint8_t, 15> block3{};
};

class LegacyScene {
 public:
  // `version` is the stream version text, "M.mm" below "2.00". From 1.01 on a CCorva block
  // holds all three chains; "1.00" files keep the controller chain only.
  explicit LegacyScene(std::string version = "1.50");

  // Spatial objects, with their rest transform. Root() also marks the node as a root; roots
  // are written first, in the order they were marked.
  LegacyRef Node(std::u16string name, const CMatrix4& transform = MatrixIdentity());
  LegacyRef BillboardNode(std::u16string name, const CMatrix4& transform = MatrixIdentity());
  LegacyRef Root(std::u16string name, const CMatrix4& transform = MatrixIdentity());
  LegacyRef Mesh(std::u16string name, const LegacyMesh& mesh,
                 const CMatrix4& transform = MatrixIdentity());
  // A camera looking at `target` (a CameraTarget of this scene, or none).
  LegacyRef Camera(std::u16string name, const CMatrix4& transform = MatrixIdentity(),
                   LegacyRef target = {});
  LegacyRef CameraTarget(std::u16string name, const CMatrix4& transform = MatrixIdentity());
  // A light of `type` (1 directional, 2 point, 3 spot) with this colour, otherwise as new.
  LegacyRef Light(std::u16string name, int32_t type, const CVector3<float>& color = {1, 1, 1},
                  const CMatrix4& transform = MatrixIdentity());
  // A billboard with these rest positions (no normals or faces), updating `subObjects` with it.
  LegacyRef Billboard(std::u16string name, const std::vector<CVector3<float>>& positions,
                      const CMatrix4& transform = MatrixIdentity(),
                      const std::vector<LegacyRef>& subObjects = {});
  // A particle system of `capacity` particles, stored with as many (zero) positions, as the
  // tools wrote it.
  LegacyRef Particles(std::u16string name, int32_t capacity,
                      const CMatrix4& transform = MatrixIdentity());
  // An image layer with its source and further objects; old blocks have no third flag.
  LegacyRef ImageLayer(std::u16string name, LegacyRef source, const std::vector<LegacyRef>& objects,
                       const CMatrix4& transform = MatrixIdentity());
  // A sound emitter playing `sound` (a Sound of this scene, or none).
  LegacyRef AudioInstance(std::u16string name, LegacyRef sound,
                          const CMatrix4& transform = MatrixIdentity());
  LegacyRef Sound(std::u16string name, const PcmFormat& format,
                  const std::vector<uint8_t>& samples);
  void MarkRoot(LegacyRef object);
  void AddChild(LegacyRef parent, LegacyRef child);
  void SetVisible(LegacyRef spatial, bool visible);

  // Materials and textures. A texture map's channel is given counted from 0, as the library
  // holds it; it is stored counted from 1, as old tools did.
  LegacyRef Material(const LegacyMaterial& material, std::u16string name = u"");
  LegacyRef MultiMaterial(const std::vector<LegacyRef>& subMaterials, std::u16string name = u"");
  void SetMaterial(LegacyRef geometry, LegacyRef material);
  LegacyRef TextureMap(LegacyRef image, int32_t channel = 0, std::u16string name = u"");
  LegacyRef BlendTex(LegacyRef texture1, float weight1, LegacyRef texture2, float weight2);
  LegacyRef NormalBumpTex(LegacyRef map1, LegacyRef map2 = {}, float amount1 = 1.0f,
                          float amount2 = 1.0f);
  // A picture embedded as its encoded file bytes (any codec format; old blocks carry no format
  // code, readers tell it by the signature). Empty bytes make an image without a picture.
  LegacyRef Image(std::u16string name, const std::vector<uint8_t>& encoded);
  // A picture embedded as raw rows of `format` (0 BGRA, 1 BGR), width * bytes per pixel each.
  LegacyRef RawImage(std::u16string name, int32_t width, int32_t height, int32_t format,
                     const std::vector<uint8_t>& rows);
  // An embedded animated picture whose frames are these images, each `step` after the one
  // before (the frame's second value).
  LegacyRef AnmImage(std::u16string name, const std::vector<LegacyRef>& frames, int32_t step = 1);

  // Vegetation and wind. A tree carries its description block as stored (ours or another
  // runtime's) and objects in its part slots; an instance places it; grass holds layers of
  // blades and its record has no spatial level; a wind carries its settings block.
  LegacyRef Tree(std::u16string name, const std::vector<uint8_t>& block, uint32_t seed = 1,
                 const std::vector<LegacyRef>& parts = {});
  LegacyRef TreeInstance(std::u16string name, LegacyRef tree,
                         const CMatrix4& transform = MatrixIdentity());
  // One layer per entry, with that many blades, each blade's bytes all equal to its layer index.
  LegacyRef Grass(std::u16string name, const std::vector<int32_t>& bladesPerLayer);
  LegacyRef Wind(std::u16string name, const std::vector<uint8_t>& block);

  // Controllers join the end of `owner`'s controller chain.
  LegacyRef KeyframeController(LegacyRef owner, const std::vector<LegacyKey>& keys,
                               float startTime = 0.0f);
  // A link controller that links `owner` to `parent` from `time` on.
  LegacyRef LinkController(LegacyRef owner, LegacyRef parent, float time = 0.0f);
  // A morph controller moving the first vertices of its mesh by `deltas` at full weight.
  LegacyRef MorphController(LegacyRef owner, const std::vector<CVector3<float>>& deltas,
                            const std::vector<float>& weightKeys = {0.0f, 1.0f},
                            const std::vector<float>& weightTimes = {0.0f, 1.0f});

  // Data controllers, keys in controller time; they are stored after `startTime`, as old tools
  // kept them. Shorter value lists than time lists are written as given.
  LegacyRef LightController(LegacyRef light, const std::vector<CVector3<float>>& colors,
                            const std::vector<float>& times, float startTime = 0.0f);
  LegacyRef PointLightController(LegacyRef light, const std::vector<float>& ranges,
                                 const std::vector<float>& times, float startTime = 0.0f);
  // Cone keys are (falloff, phi, theta).
  LegacyRef SpotLightController(LegacyRef light, const std::vector<float>& times,
                                const std::vector<CVector3<float>>& cones,
                                const std::vector<float>& ranges, float startTime = 0.0f);
  LegacyRef CameraController(LegacyRef camera, const LegacyCameraKeys& keys,
                             float startTime = 0.0f);
  LegacyRef VisibilityController(LegacyRef spatial, const std::vector<float>& times,
                                 const std::vector<uint8_t>& values, float startTime = 0.0f);
  // Plays `animation` (an AnmImage of this scene) into the picture of `textureMap`.
  // Stored with `storedOwner` as its owner when given (a picture, say), else the texture map.
  LegacyRef AnmImageController(LegacyRef textureMap, LegacyRef animation,
                               LegacyRef storedOwner = {});

  // Controllers of materials, map channels and particle systems. With `attach` false the
  // controller is only made, owned by `owner`, for a composite to play.
  // A material controller whose ambient colour runs from `from` at `startTime` to `to` 2 s later.
  LegacyRef MaterialController(LegacyRef material, const CVector3<float>& from,
                               const CVector3<float>& to, float startTime = 0.0f,
                               bool attach = true);
  // A map channel of `mesh` with these coordinates.
  LegacyRef UvwMap(LegacyRef mesh, const std::vector<CVector3<float>>& coordinates);
  // n coordinates per key time, n being the map's count; times in scene time, as stored.
  LegacyRef UvwMapController(LegacyRef map, const std::vector<CVector3<float>>& keys,
                             const std::vector<float>& times, bool attach = true);
  // An emitter of `rate` particles a second from `start` to `stop`, the one window old blocks
  // keep in their timing fields.
  LegacyRef ParticleController(LegacyRef system, float start, float stop, float rate,
                               bool attach = true);
  // A layer ("CMaterialLayerControl": equal weights) or clip (any other class name: sub i starts
  // at i seconds) playing `subs`, on `owner`.
  LegacyRef DataComposite(const std::string& className, LegacyRef owner,
                          const std::vector<LegacyRef>& subs);

  // Custom data. RawDataChain makes a chain of raw-data records whose head becomes the next
  // root (the second root of a scene whose first root was marked before). The other two join
  // the end of `holder`'s custom-data chain.
  LegacyRef RawDataChain(const std::vector<LegacyRawData>& records);
  LegacyRef RawData(LegacyRef holder, const LegacyRawData& record);
  LegacyRef RoseData(LegacyRef holder, const LegacyRose& rose);
  // A project record (old blocks hold the first revision: values 1 and 2 given, the rest zero)
  // and a character record keeping two objects of this scene alive (either may be none).
  LegacyRef ProjectData(LegacyRef holder, float value1, int32_t value2);
  LegacyRef CharacterData(LegacyRef holder, LegacyRef object1, LegacyRef object2);

  // The thumbnail picture, raw rows of `format` (0 BGRA, 1 BGR); without it the file carries an
  // empty thumbnail, which old files always have.
  void Thumbnail(int32_t width, int32_t height, const std::vector<uint8_t>& rows,
                 int32_t format = 0);

  std::vector<uint8_t> Bytes() const;

 private:
  enum class Kind {
    kNode,
    kBillboardNode,
    kMesh,
    kCamera,
    kCameraTarget,
    kStandardMaterial,
    kMultiMaterial,
    kTextureMap,
    kBlendTex,
    kNormalBumpTex,
    kImage,
    kRawImage,
    kKeyframe,
    kLink,
    kMorph,
    kRawData,
    kRoseData,
    kTree,
    kTreeInstance,
    kGrass,
    kWind,
    kBillboard,
    kParticles,
    kImageLayer,
    kAudioInstance,
    kAudioData,
    kMaterialControl,
    kUvwMap,
    kUvwMapControl,
    kParticleControl,
    kDataComposite,
    kLight,
    kAnmImage,
    kDataControl,
    kProjectData,
    kCharacterData,
  };
  struct Record {
    Kind kind;
    std::u16string name;
    // Chains every CCorva has: the first controller and the first custom-data record.
    LegacyRef controllers, customData;
    // Spatial objects.
    CMatrix4 transform;
    bool visible = true;
    std::vector<LegacyRef> children;
    LegacyMesh mesh;
    LegacyRef material;
    LegacyRef target;
    // Materials and textures.
    LegacyMaterial standard;
    std::vector<LegacyRef> refs;  // sub-materials; textures' referenced objects; tree parts
    int32_t channel = 0;
    float weight1 = 1, weight2 = 1;
    std::vector<uint8_t> bytes;   // encoded picture, raw rows, raw-data payload, tree or wind block
    std::vector<int32_t> counts;  // grass blades per layer
    int32_t width = 0, height = 0, format = 0;
    // Controllers.
    LegacyRef owner, next;
    float startTime = 0;
    std::vector<LegacyKey> keys;
    std::vector<CVector3<float>> deltas;
    std::vector<float> weightKeys, weightTimes;
    // Lights: the colour (the kind is in `channel`). Data controllers and composites: the class;
    // data controllers also their lists as stored, count and elements each.
    CVector3<float> color;
    std::string className;
    std::vector<test::Bytes> lists;
    // Particles and sound.
    int32_t capacity = 0;
    float rate = 0;
    // Map channels of a mesh.
    std::vector<LegacyRef> channels;
    PcmFormat pcm;
    // Custom data.
    std::u16string key;
    LegacyRose rose;
  };

  LegacyRef Add(Kind kind, std::u16string name);
  Record& At(LegacyRef ref);
  void AppendController(LegacyRef owner, LegacyRef controller);
  void AppendCustomData(LegacyRef holder, LegacyRef record);
  LegacyRef DataController(LegacyRef owner, std::string className, std::vector<test::Bytes> lists,
                           float startTime);
  void WriteRecord(test::Bytes& out, int32_t id, const Record& r) const;
  void WriteCorva(test::Bytes& out, int32_t id, const Record& r) const;
  void WriteSpatial(test::Bytes& out, int32_t id, const Record& r) const;
  void WriteControl(test::Bytes& out, int32_t id, const Record& r) const;
  void WriteCustomData(test::Bytes& out, int32_t id, const Record& r) const;
  void WriteTexture(test::Bytes& out, int32_t id, const Record& r) const;
  // The geometry block of `mesh` with the material of `r`.
  void WriteGeometry(test::Bytes& out, const LegacyMesh& mesh, const Record& r) const;

  std::string version_;
  int32_t streamVersion_ = 150;
  std::vector<Record> records_;  // record i has id i + 1
  std::vector<LegacyRef> roots_;
  bool hasThumbnail_ = false;
  int32_t thumbWidth_ = 0, thumbHeight_ = 0, thumbFormat_ = 0;
  std::vector<uint8_t> thumbRows_;
};

}  // namespace KX::test
