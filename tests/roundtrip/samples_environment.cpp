// Round-trip samples of the sky, water and terrain objects and the terrain structure.
#include "environment/environment.h"
#include "environment/terrain.h"
#include "scene/bounding_objects.h"
#include "scene/node.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> SkySample() {
  CRefPtr<CSky> sky(new CSky);
  sky->name = u"sky";
  sky->content = new CNode;
  sky->skyFlag = true;
  return sky;
}

CRefPtr<CBase> WaterSample() {
  CRefPtr<CWater> water(new CWater);
  water->content = new CNode;
  water->waterVector1 = {1, 2, 3};
  water->waterFlag1 = true;
  water->waterVector2 = {0, 1, 0};
  water->waterVector3 = {-1, -2, -3};
  water->waterValue1 = 0.75f;
  water->waterValue3 = 2;
  water->waterValue5 = 3;
  water->waterValue7 = 4;
  water->waterValue9 = 5;
  water->waterFlag3 = true;
  return water;
}

CRefPtr<CBase> TerrainSample() {
  CRefPtr<CTerrain> terrain(new CTerrain);
  terrain->content = new CBoundingBox;
  return terrain;
}

// A root node with one inner node and a leaf in the last slot; the inner node shares the leaf.
CRefPtr<CBase> QuadTreeSample() {
  CRefPtr<CQuadTree> root(new CQuadTree);
  root->origin[0] = -64;
  root->origin[1] = 32;
  root->quadValue1 = 7;
  root->quadValue2 = 0xFFFFFFFFu;
  CRefPtr<CQuadTree> inner(new CQuadTree);
  inner->origin[0] = 16;
  CRefPtr<CBoundingBox> leaf(new CBoundingBox);
  root->children[1] = inner;
  root->children[3] = leaf;
  inner->children[0] = leaf;
  return root;
}

CRefPtr<CBase> HeightMapSample() {
  CRefPtr<CHeightMap> map(new CHeightMap);
  map->name = u"heights";
  map->source = new CHeightData;
  return map;
}

CRefPtr<CBase> HeightDataSample() {
  CRefPtr<CHeightData> data(new CHeightData);
  data->name = u"block";
  return data;
}

const RoundTripRegistrar water("CWater", WaterSample);
const RoundTripRegistrar sky("CSky", SkySample);
const RoundTripRegistrar terrain("CTerrain", TerrainSample);
const RoundTripRegistrar heightMap("CHeightMap", HeightMapSample);
const RoundTripRegistrar heightData("CHeightData", HeightDataSample);
const RoundTripRegistrar quadTree("CQuadTree", QuadTreeSample);

}  // namespace
}  // namespace KX::test
