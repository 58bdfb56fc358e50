#pragma once
// Generator of large animated hierarchies for benchmarks.
#include <cstdint>

#include "scene/node.h"

namespace KX::bench {

// A tree of `nodes` nodes, each with up to `fanout` children (breadth first), every node animated
// by a keyframe controller with `keys` shared keys (rotation, position and scale) spread evenly
// over `duration` seconds.
CRefPtr<CNode> GenerateKeyedHierarchy(int32_t nodes, int32_t keys, float duration,
                                      int32_t fanout);

}  // namespace KX::bench
