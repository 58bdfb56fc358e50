// Round-trip samples of the trees, tree instances, grass and wind.
#include "environment/grass.h"
#include "environment/tree.h"
#include "environment/wind.h"
#include "material/material.h"
#include "scene/bounding_objects.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

// A tree of our own runtime grown at a stored size, with parts in two of its slots.
CRefPtr<CTree> TreeWithParts() {
  CRefPtr<CTree> tree(new CTree);
  tree->name = u"oak";
  tree->seed = 77;
  tree->treeSize = 6.5f;
  tree->sizeVariance = 0.5f;
  CTreeModel model;
  model.sides = 5;
  model.levels[0].count = 3;
  EXPECT_EQ(tree->runtime->SetModel(model), kOk);
  tree->parts[0] = new CStandardMaterial;
  tree->parts[7] = new CBoundingBox;
  EXPECT_EQ(tree->ComputeTree(), kOk);
  return tree;
}

CRefPtr<CBase> TreeSample() { return TreeWithParts(); }

CRefPtr<CBase> TreeInstanceSample() {
  CRefPtr<CTreeInstance> instance(new CTreeInstance);
  instance->name = u"oak 1";
  instance->position = {3, 0, -2};
  instance->tree = TreeWithParts();
  instance->instanceObject = new CNode;
  instance->instanceValue = -4;
  instance->instanceBlock = {1, 2, 3, 4, 5, 6, 7, 8};
  instance->instanceRecords[1].vectors[2] = {0.5f, -1, 9};
  instance->instanceRecords[2].value = 12;
  return instance;
}

CRefPtr<CBase> GrassSample() {
  CRefPtr<CGrass> grass(new CGrass);
  grass->name = u"meadow";
  grass->grassValue1 = 3;
  grass->grassVector = {1, 0, 2};
  grass->grassValue4 = 0.25f;
  grass->grassValue7 = -1;
  CGrassLayer layer;
  layer.vector2 = {0, 1, 0};
  layer.value = 0xA5A5A5A5u;
  layer.blades.resize(2);
  layer.blades[1].bytes[59] = 0xFF;
  grass->layers = {layer, CGrassLayer()};
  grass->area = {{1, 1, 1}, 2, {0, 0, 0}, {2, 2, 2}};
  grass->grassObject2 = new CStandardMaterial;
  return grass;
}

CRefPtr<CBase> WindSample() {
  CRefPtr<CWind> wind(new CWind);
  wind->name = u"breeze";
  CWindSettings settings;
  settings.matrixCount = 6;
  settings.direction = {0, 0, 1};
  settings.gustStrength = 0.75f;
  EXPECT_EQ(wind->engine->SetSettings(settings), kOk);
  return wind;
}

const RoundTripRegistrar tree("CTree", TreeSample);
const RoundTripRegistrar treeInstance("CTreeInstance", TreeInstanceSample);
const RoundTripRegistrar wind("CWind", WindSample);
const RoundTripRegistrar grass("CGrass", GrassSample);

}  // namespace
}  // namespace KX::test
