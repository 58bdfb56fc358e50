// References a file may fill with any object keep what it stores: a picture where the scene
// objects usually go comes back from a save and a load as it went in, and without a warning.
#include <gtest/gtest.h>

#include <functional>

#include "control/image_control.h"
#include "image/image.h"
#include "material/texture.h"
#include "scene/billboard.h"
#include "scene/image_layer.h"
#include "scene/node.h"
#include "scene/scene_settings.h"
#include "support/round_trip.h"
#include "support/test_classes.h"

namespace KX::test {
namespace {

struct WidenedField {
  const char* field;
  // A root holding `picture` in the field.
  std::function<CRefPtr<CBase>(CImage* picture)> make;
  // What the field holds in the loaded root.
  std::function<CBase*(CBase* root)> read;
};

template <class T>
T* As(CBase* object) {
  auto* typed = KindOf<T>(object);
  EXPECT_TRUE(typed);
  return typed;
}

const WidenedField kFields[] = {
    {"CImageLayer.layerSource",
     [](CImage* picture) {
       CRefPtr<CImageLayer> layer(new CImageLayer);
       layer->layerSource = picture;
       return CRefPtr<CBase>(layer.get());
     },
     [](CBase* root) { return As<CImageLayer>(root)->layerSource.get(); }},
    {"CImageLayer.layerObjects",
     [](CImage* picture) {
       CRefPtr<CImageLayer> layer(new CImageLayer);
       layer->layerObjects = {nullptr, picture};
       return CRefPtr<CBase>(layer.get());
     },
     [](CBase* root) { return As<CImageLayer>(root)->layerObjects.at(1).get(); }},
    {"CBillboard.subObjects",
     [](CImage* picture) {
       CRefPtr<CBillboard> billboard(new CBillboard);
       billboard->subObjects = {picture};
       return CRefPtr<CBase>(billboard.get());
     },
     [](CBase* root) { return As<CBillboard>(root)->subObjects.at(0).get(); }},
    {"CScene.object7",
     [](CImage* picture) {
       CRefPtr<CScene> scene(new CScene);
       EXPECT_EQ(scene->SetObject7(picture), kOk);
       return CRefPtr<CBase>(scene.get());
     },
     [](CBase* root) { return As<CScene>(root)->object7.get(); }},
    {"CCameraSwitcher.primaryCamera",
     [](CImage* picture) {
       CRefPtr<CCameraSwitcher> switcher(new CCameraSwitcher);
       switcher->primaryCamera = picture;
       return CRefPtr<CBase>(switcher.get());
     },
     [](CBase* root) { return As<CCameraSwitcher>(root)->primaryCamera.get(); }},
    {"CCameraSwitcher.extraObject and secondaryCamera",
     [](CImage* picture) {
       CRefPtr<CCameraSwitcher> switcher(new CCameraSwitcher);
       switcher->extraObject = picture;
       switcher->secondaryCamera = picture;
       return CRefPtr<CBase>(switcher.get());
     },
     [](CBase* root) {
       auto* switcher = As<CCameraSwitcher>(root);
       EXPECT_EQ(switcher->secondaryCamera, switcher->extraObject.get());
       return switcher->extraObject.get();
     }},
    {"CAnmImageControl.owner",
     [](CImage* picture) {
       // The controller rides in a texture map's chain and names the picture as its owner.
       CRefPtr<CTextureMap> map(new CTextureMap);
       map->image = picture;
       CRefPtr<CAnmImageControl> control(new CAnmImageControl);
       EXPECT_EQ(map->AttachController(control.get()), kOk);
       control->owner = picture;
       return CRefPtr<CBase>(map.get());
     },
     [](CBase* root) {
       auto* control = As<CAnmImageControl>(As<CTextureMap>(root)->controllers.get());
       EXPECT_EQ(control->TargetImage(), control->owner);
       return control->owner;
     }},
};

TEST(WidenedReferences, APictureComesBackWhereAFileStoredIt) {
  RegisterForTests();
  for (const WidenedField& c : kFields) {
    SCOPED_TRACE(c.field);
    CRefPtr<CImage> picture(new CImage);
    picture->name = u"picture";
    const CRefPtr<CBase> loaded = ExpectRoundTrip(c.make(picture.get()).get());
    ASSERT_TRUE(loaded);
    CBase* held = c.read(loaded.get());
    ASSERT_TRUE(KindOf<CImage>(held));
    EXPECT_EQ(held->name, u"picture");
  }
}

}  // namespace
}  // namespace KX::test
