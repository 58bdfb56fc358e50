// The start-up registration: every name the files of the authoring product use, in the order the
// program registers them, each with the class its creator makes; abstract levels have none.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "app/class_registration.h"
#include "object/base.h"
#include "object/custom_data.h"

namespace KX {
namespace {

struct Expected {
  const char* name;
  const char* creates = nullptr;  // the class the creator makes, when not the name's own
};

// clang-format off
const Expected kStartUp[] = {
    {"CImage"}, {"CAnmImage"},
    {"CScene"}, {"CWater"}, {"CSky"}, {"CTerrain"}, {"CCameraSwitcher"}, {"CImageLayer"},
    {"CHeightMap"}, {"CHeightData"}, {"CQuadTree"}, {"CNode"}, {"CBoundingBox"}, {"CBoundingMesh"},
    {"CRTSLayerControl"}, {"CRTSSelectorControl"}, {"CRTSClipControl"}, {"CTriMesh"},
    {"CTriMeshUVWMap", "CUvwMap"}, {"CUvwMap"}, {"CBoneMesh", "CTriMesh"},
    {"CBoneNodeMesh", "CTriMesh"}, {"CBoneShapeMesh", "CTriMesh"}, {"CParticles"}, {"CBillboard"},
    {"CPointLight"}, {"CDirectionalLight"}, {"CSpotLight"}, {"CStandardMaterial"},
    {"CBlendMaterial"}, {"CMultiMaterial"}, {"CTextureMap"}, {"CBlendTex"}, {"CNormalBumpTex"},
    {"CCubeMap"}, {"CRefractionMap"}, {"CCamera"}, {"CCameraTarget"}, {"CBoneSkinControl"},
    {"CKeyframeControl"}, {"CKeyframeClipControl"}, {"CMorphControl"}, {"CConnectControl"},
    {"CConnectData"}, {"CMeshSelControl"}, {"CLightControl"}, {"CCameraControl"},
    {"CAnmImageControl"}, {"CLinkControl"}, {"CParticleControl"}, {"CParticleClipControl"},
    {"CLookAtControl"}, {"CSpringControl"}, {"CMaterialControl"}, {"CMaterialClipControl"},
    {"CMaterialLayerControl"}, {"CBooleanControl"}, {"CSpotLightControl"}, {"CPointLightControl"},
    {"CShareControl"}, {"CAudioData"}, {"CAudioInstance"}, {"CThumbnail"}, {"CBillboardNode"},
    {"CTriMeshUVWMapControl", "CUvwMapControl"}, {"CUvwMapControl"}, {"CUvwMapClipControl"},
    {"CUvwMapDataControl"}, {"CRawData"}, {"CAuthorInfo"}, {"CTree"}, {"CTreeInstance"}, {"CWind"},
    {"CGrass"}, {"CFlexiControl"}, {"CFlexiData"},
    {"CXmlRawData"},
    {"CCharacterData"}, {"CAccData"}, {"CProjectData"}, {"CRoseData"}, {"CWaterData"},
    {"CSkyData"}, {"CHeadData"}, {"CExCntData"},
};
// clang-format on

// Levels no file stores an object of; "CGizmo" has a class record and nothing else.
const char* const kWithoutCreator[] = {
    "CBase",
    "CCorva",
    "CSpatial",
    "CGeometry",
    "CLight",
    "CControl",
    "CRTSControl",
    "CDataControl",
    "CCameraDataControl",
    "CLightDataControl",
    "CMaterialDataControl",
    "CParticleDataControl",
    "CMaterialBase",
    "CMaterial",
    "CTexture",
    "CCustomData",
    "CGizmo",
};

// Classes the test programs register for themselves.
const std::set<std::string> kTestOnly = {"CTestControl", "CTestObject"};

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (const auto& name : names) text += (text.empty() ? "" : ", ") + name;
  return text.empty() ? "(none)" : text;
}

TEST(RegistrationOrder, MatchesTheStartUpListWithAliasesAndNoAbstractLevels) {
  RegisterAllClasses();
  std::vector<std::string> actual;
  for (const auto& entry : RegisteredClassesInOrder())
    if (!kTestOnly.contains(entry.name)) actual.push_back(entry.name);
  std::vector<std::string> expected;
  for (const auto& e : kStartUp) expected.push_back(e.name);
  const std::set<std::string> actualSet(actual.begin(), actual.end());
  const std::set<std::string> expectedSet(expected.begin(), expected.end());

  std::vector<std::string> missing, unexpected, expectedCommon, actualCommon;
  for (const auto& name : expected)
    (actualSet.contains(name) ? expectedCommon : missing).push_back(name);
  for (const auto& name : actual)
    (expectedSet.contains(name) ? actualCommon : unexpected).push_back(name);
  EXPECT_TRUE(missing.empty()) << "not registered: " << Join(missing);
  EXPECT_TRUE(unexpected.empty()) << "registered but not in the start-up list: "
                                  << Join(unexpected);
  // The names both have must come in the same order; the first difference says where.
  const auto [e, a] = std::mismatch(expectedCommon.begin(), expectedCommon.end(),
                                    actualCommon.begin(), actualCommon.end());
  EXPECT_TRUE(e == expectedCommon.end() && a == actualCommon.end())
      << "out of order from position " << (e - expectedCommon.begin()) << ": expected "
      << (e == expectedCommon.end() ? "(end)" : *e) << ", registered "
      << (a == actualCommon.end() ? "(end)" : *a);

  for (const auto& entry : kStartUp) {
    if (!actualSet.contains(entry.name)) continue;
    CRefPtr<CBase> object;
    ASSERT_EQ(CreateObject(entry.name, object), kOk) << entry.name;
    EXPECT_STREQ(object->GetRuntimeClass()->className, entry.creates ? entry.creates : entry.name)
        << "what the creator of " << entry.name << " makes";
  }
  for (const char* name : kWithoutCreator) EXPECT_FALSE(IsClassRegistered(name)) << name;
}

TEST(RegistrationOrder, RegisteringANameAgainKeepsItsPlaceAndTakesTheNewCreator) {
  RegisterAllClasses();
  const auto before = RegisteredClassesInOrder();
  RegisterClass<CRawData>("CImage");
  const auto after = RegisteredClassesInOrder();
  RegisterAllClasses();
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(before[i].name, after[i].name);
    EXPECT_EQ(before[i].creator != after[i].creator, before[i].name == "CImage") << before[i].name;
  }
  EXPECT_EQ(RegisteredClassesInOrder().front().creator, before.front().creator);
}

}  // namespace
}  // namespace KX
