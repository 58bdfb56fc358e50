// Round-trip samples of the scene graph classes.
#include "scene/node.h"
#include "scene/scene_fixtures.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

const RoundTripRegistrar node("CNode", [] { return SampleTree(new CNode); });
const RoundTripRegistrar billboardNode("CBillboardNode", [] { return SampleTree(new CBillboardNode); });

}  // namespace
}  // namespace KX::test
