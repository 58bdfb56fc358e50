#include <gtest/gtest.h>

#include "material/material.h"
#include "support/test_classes.h"
#include "walk_probe.h"

namespace KX {
namespace {

using test::WalkCase;
using Parts = std::vector<CRefPtr<CCubeMap>>;

// Materials take their parts into every walk; a texture's parts are not name-bound with it; a
// standard material saves only the channels it uses.
const WalkCase kCases[] = {
    {"standard material, channels in use", kFollowAll, 2,
     [](const Parts& p) {
       CRefPtr<CStandardMaterial> m(new CStandardMaterial);
       m->channelCount = 6;
       m->channelTexture[1] = p[0];
       m->channelTexture[5] = p[1];
       return CRefPtr<CCorva>(m.get());
     }},
    {"standard material, channels beyond the count", kFollowAll & ~kCollect, 2,
     [](const Parts& p) {
       CRefPtr<CStandardMaterial> m(new CStandardMaterial);
       m->channelCount = 6;
       m->channelTexture[6] = p[0];
       m->channelTexture[11] = p[1];
       return CRefPtr<CCorva>(m.get());
     }},
    {"multi-material", kFollowAll, 2,
     [](const Parts& p) {
       CRefPtr<CMultiMaterial> m(new CMultiMaterial);
       m->subMaterials = {nullptr, p[0], nullptr, p[1]};
       return CRefPtr<CCorva>(m.get());
     }},
    {"blend material", kFollowAll, 3,
     [](const Parts& p) {
       CRefPtr<CBlendMaterial> m(new CBlendMaterial);
       m->material2 = p[2];
       m->material1 = p[1];
       m->extraObject = p[0];
       return CRefPtr<CCorva>(m.get());
     }},
    {"texture map", kSearch | kCollect | kRemap, 1,
     [](const Parts& p) {
       CRefPtr<CTextureMap> t(new CTextureMap);
       t->image = p[0];
       return CRefPtr<CCorva>(t.get());
     }},
    {"blend texture", kSearch | kCollect | kRemap, 2,
     [](const Parts& p) {
       CRefPtr<CBlendTex> t(new CBlendTex);
       t->texture2 = p[1];
       t->texture1 = p[0];
       return CRefPtr<CCorva>(t.get());
     }},
    {"normal-bump texture", kSearch | kCollect | kRemap, 2,
     [](const Parts& p) {
       CRefPtr<CNormalBumpTex> t(new CNormalBumpTex);
       t->map2 = p[1];
       t->map1 = p[0];
       return CRefPtr<CCorva>(t.get());
     }},
};

TEST(MaterialWalks, EachWalkReachesThePartsItShould) {
  test::RegisterForTests();
  for (const WalkCase& c : kCases) {
    SCOPED_TRACE(c.what);
    test::ExpectWalks(c);
  }
}

}  // namespace
}  // namespace KX
