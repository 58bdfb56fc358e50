#include "bench/generate_hierarchy.h"
#include "bench/require.h"

#include <cmath>
#include <vector>

#include "control/keyframe_control.h"

namespace KX::bench {

CRefPtr<CNode> GenerateKeyedHierarchy(int32_t nodes, int32_t keys, float duration,
                                      int32_t fanout) {
  std::vector<CRefPtr<CNode>> all;
  all.reserve(static_cast<size_t>(nodes));
  for (int32_t n = 0; n < nodes; ++n) {
    CRefPtr<CNode> node(new CNode);
    CRefPtr<CKeyframeControl> control(new CKeyframeControl);
    for (int32_t k = 0; k < keys; ++k) {
      const float t = duration * static_cast<float>(k) / static_cast<float>(std::max(keys - 1, 1));
      const float angle = 0.1f * static_cast<float>((n + k) % 31);
      control->keyTimes.push_back(t);
      control->rotationKeys.push_back({std::cos(angle), 0.0f, 0.0f, std::sin(angle)});
      control->positionKeys.push_back({0.01f * static_cast<float>(k % 7), 1.0f, 0.0f});
      control->scaleKeys.push_back({1.0f, 1.0f, 1.0f});
    }
    control->RebuildTransitions();
    Require(node->AttachController(control.get()));
    if (n > 0) Require(all[static_cast<size_t>((n - 1) / fanout)]->AddChild(node.get()));
    all.push_back(node);
  }
  return all.empty() ? CRefPtr<CNode>() : all.front();
}

}  // namespace KX::bench
