#pragma once
// Our tree-modelling runtime: a seeded, deterministic branching model. A tree is a trunk with up
// to three levels of branches, each a tapered cylinder; the runtime grows one from a model
// description and a seed, and turns it into triangle strips per level of detail, with bounds.
// The description travels in scene files as a small framed block of our own (saved_form.h).
//
// Coordinates: the trunk grows from the origin along +y. Strips wind so that the faces look
// outwards: for strip position i the triangle is (s[i+1], s[i], s[i+2]) when i is even and
// (s[i], s[i+1], s[i+2]) when it is odd, and its normal (V - U) x (W - U) points away from the
// branch axis.
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/math/matrix.h"
#include "core/math/vector.h"
#include "core/status.h"

namespace KX {

// One level of branches: how many grow from each branch of the level below, and their shape.
struct CBranchLevel {
  uint32_t count = 0;        // per parent branch, 0 to kMaxBranchesPerParent
  float lengthRatio = 0.5f;  // of the parent's length, [0, 1]
  float radiusRatio = 0.5f;  // of the parent's radius where the branch starts, [0, 1]
  float angle = 45.0f;       // degrees away from the parent's axis, [0, 180]
  float startAt = 0.3f;      // where along the parent the first branch starts, [0, 1)
  float taper = 0.2f;        // tip radius over base radius, [0, 1]
  float jitter = 0.3f;       // random spread of count, angle, length and placement, [0, 1]
};

// What a saved tree describes. Sizes are in scene units.
struct CTreeModel {
  static constexpr uint32_t kMaxLevels = 3;
  static constexpr uint32_t kMaxBranchesPerParent = 8;
  static constexpr uint32_t kMinSides = 3;
  static constexpr uint32_t kMaxSides = 16;
  static constexpr uint32_t kMaxLods = 4;

  float size = 10.0f;         // trunk length, > 0
  float trunkRadius = 0.04f;  // base radius of the trunk over its length, (0, 1]
  float trunkTaper = 0.3f;    // tip radius over base radius, [0, 1]
  float trunkLean = 0.2f;     // how far the trunk may lean, as a share of 15 degrees, [0, 1]
  uint32_t sides = 8;         // sides of every cylinder at the finest level of detail
  uint32_t lodCount = 3;      // each coarser level halves the sides and drops the finest branches
  uint32_t levelCount = 2;
  std::array<CBranchLevel, kMaxLevels> levels{{
      {6, 0.45f, 0.5f, 50.0f, 0.35f, 0.2f, 0.3f},
      {4, 0.5f, 0.5f, 40.0f, 0.2f, 0.1f, 0.3f},
      {3, 0.5f, 0.5f, 35.0f, 0.2f, 0.1f, 0.3f},
  }};

  // True when every value lies in its range; only such models are computed, saved or loaded.
  bool IsValid() const;
};

// One triangle strip. The optional channels are filled as the lighting and wind methods ask.
struct CTreeStrip {
  std::vector<CVector3<float>> positions;
  std::vector<CVector3<float>> normals;  // with dynamic branch lighting
  std::vector<uint8_t> windMatrices;     // with a branch wind method: the matrix each vertex follows
  std::vector<float> windWeights;        // and how strongly, 0 at the root to 1 at the top
};

// The branch geometry, finest level of detail first. With composite strips each level is one
// strip, the branches joined by degenerate triangles that keep every branch's winding.
struct CBranchGeometry {
  std::vector<std::vector<CTreeStrip>> lods;
};

class CTreeRuntime {
 public:
  enum : int32_t { kLightingStatic = 0, kLightingDynamic = 1 };
  enum : int32_t { kWindNone = 0, kWindCpu = 1, kWindGpu = 2 };
  static constexpr int32_t kMaxWindMatrices = 64;
  // The saved form this runtime writes.
  static constexpr uint32_t kFormatVersion = 1;

  // Process-wide: whether LoadTree checks the checksum of our own blocks (off until switched
  // on). The frame and every value are checked in any case.
  static void SetVerifyChecksums(bool on);
  static bool VerifyChecksums();

  CTreeRuntime() = default;

  // Lighting and wind methods. Values out of range are refused (false) and change nothing. The
  // model grows branches only: the leaf and frond methods are kept for callers that set them.
  bool SetBranchLightingMethod(int32_t method);
  bool SetLeafLightingMethod(int32_t method);
  bool SetFrondLightingMethod(int32_t method);
  bool SetBranchWindMethod(int32_t method);
  bool SetLeafWindMethod(int32_t method);
  bool SetFrondWindMethod(int32_t method);
  // The trunk length of the next Compute: size, varied per seed by up to +-variance (never below
  // 0), in place of the model's own size.
  void SetTreeSize(float size, float variance);
  // Back to the model's own size.
  void ResetTreeSize() { sizeSet_ = false; }
  // How many wind matrices the vertices are spread over, 1 to kMaxWindMatrices.
  bool SetNumWindMatrices(int32_t count);
  int32_t GetNumWindMatrices() const { return windMatrices_; }
  // Per runtime: bounds from the computed vertices (on) or from the branch skeleton (off: a
  // little larger, known before the strips are built).
  void SetTightBounds(bool on) { tightBounds_ = on; }

  // Grows the tree for `seed` and builds its strips, every vertex through `transform` when one
  // is given. kErrMalformed when the result is not finite (a size far out of range), with no
  // geometry; kErrOutOfMemory. A runtime that holds another runtime's block has nothing to grow:
  // kOk, no geometry.
  Status Compute(const CMatrix4* transform, uint32_t seed, bool compositeStrips);
  // The box of the computed tree; false (and nothing written) when there is no geometry.
  bool GetBoundingBox(CVector3<float>& min, CVector3<float>& max) const;
  const CBranchGeometry& GetBranchGeometry() const { return geometry_; }

  // The model, and a new one (refused with kErrBadArgument when not valid). Setting a model
  // lets go of a block of another runtime.
  const CTreeModel& Model() const { return model_; }
  Status SetModel(const CTreeModel& model);
  // False while the runtime holds a block written by another runtime (or a later version of
  // this one), which it keeps to write back unchanged.
  bool HasModel() const { return foreign_.empty(); }

  // Reads a saved form. A block without our signature (or of a later version) is kept byte for
  // byte and written back by SaveTree; our own blocks are parsed and checked, and a damaged one
  // is refused with kErrMalformed, leaving the runtime as it was. An empty block:
  // kErrBadArgument.
  Status LoadTree(const uint8_t* data, size_t size);
  Status SaveTree(std::vector<uint8_t>& out) const;
  // A copy of the whole runtime: model, settings, kept block and computed geometry.
  Status Clone(std::unique_ptr<CTreeRuntime>& out) const;

 private:
  CTreeModel model_;
  std::vector<uint8_t> foreign_;
  bool sizeSet_ = false;  // SetTreeSize was called: its size replaces the model's
  float size_ = 0.0f;
  float sizeVariance_ = 0.0f;
  int32_t branchLighting_ = kLightingStatic;
  int32_t leafLighting_ = kLightingStatic;
  int32_t frondLighting_ = kLightingStatic;
  int32_t branchWind_ = kWindNone;
  int32_t leafWind_ = kWindNone;
  int32_t frondWind_ = kWindNone;
  int32_t windMatrices_ = 1;
  bool tightBounds_ = false;

  CBranchGeometry geometry_;
  bool computed_ = false;
  CVector3<float> tightMin_, tightMax_;
  CVector3<float> skeletonMin_, skeletonMax_;
};

}  // namespace KX
