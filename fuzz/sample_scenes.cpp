#include "fuzz/sample_scenes.h"

#include <cstdlib>

#include "content/content_data.h"
#include "object/container.h"
#include "object/custom_data.h"
#include "image/thumbnail.h"
#include "scene/node.h"
#include "support/after_load.h"
#include "support/round_trip.h"

namespace KX::fuzz {

namespace {

// The seeds are built through the library's own operations; a failing one is a broken seed.
void Must(Status status) {
  if (Failed(status)) std::abort();
}

std::vector<uint8_t> Save(CPersistContext& context) {
  CMemoryIo out;
  if (Failed(SaveToStream(context, out, 0))) return {};
  return out.TakeBytes();
}

CRefPtr<CRawData> Raw(const char16_t* name, const std::string& payload) {
  CRefPtr<CRawData> raw(new CRawData);
  raw->name = name;
  raw->key = u"key";
  Must(raw->SetPayload({reinterpret_cast<const uint8_t*>(payload.data()), payload.size()}));
  return raw;
}

}  // namespace

std::vector<std::pair<std::string, std::vector<uint8_t>>> SampleScenes() {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> scenes;
  {
    CPersistContext context;
    auto head = Raw(u"head", "payload");
    head->next = Raw(u"second", "");
    CRefPtr<CXmlRawData> xml(new CXmlRawData);
    xml->name = u"xml";
    head->next->next = xml;
    Must(AddRoot(context, head.get()));
    scenes.emplace_back("raw_chain", Save(context));
  }
  {
    CPersistContext context;
    CRefPtr<CAuthorInfo> info(new CAuthorInfo);
    info->text1 = u"author";
    info->text3 = u"notes";
    context.thumbnail = Raw(u"thumb", "pixels");
    context.extInfo.emplace_back(info.get());
    context.extInfo.emplace_back(Raw(u"ext", "x").get());
    auto root = Raw(u"root", "r");
    Must(root->AttachCustomData(Raw(u"attached", "a").get()));
    Must(AddRoot(context, root.get()));
    Must(AddRoot(context, Raw(u"second root", "").get()));
    scenes.emplace_back("sections", Save(context));
  }
  {
    // A node tree with a thumbnail and content records in the root's custom data.
    CPersistContext context;
    CRefPtr<CThumbnail> thumbnail(new CThumbnail);
    Must(thumbnail->picture.Create(4, 3, 1, 0x80402010));
    context.thumbnail = thumbnail;
    CRefPtr<CNode> root(new CNode);
    root->name = u"Scene Root";
    for (int i = 0; i < 3; ++i) {
      CRefPtr<CNode> child(new CNode);
      child->name = u"child";
      child->position = {static_cast<float>(i), 1, 2};
      Must(child->AddChild(new CNode));
      Must(root->AddChild(child.get()));
    }
    CRefPtr<CRoseData> rose(new CRoseData);
    rose->flag = true;
    Must(root->AttachCustomData(rose.get()));
    CRefPtr<CAccData> acc(new CAccData);
    acc->entries[u"Hat"] = CAccValue{};
    Must(root->AttachCustomData(acc.get()));
    CRefPtr<CHeadData> head(new CHeadData);
    head->reference = root->children[0].get();
    head->list1 = {root->children[1].get()};
    Must(root->AttachCustomData(head.get()));
    Must(AddRoot(context, root.get()));
    scenes.emplace_back("nodes", Save(context));
  }
  // One file per class of the program, from the samples the round-trip test checks.
  for (const auto& sample : test::RoundTripSamples()) {
    CPersistContext context;
    CRefPtr<CBase> root = sample.make();
    Must(AddRoot(context, root.get()));
    scenes.emplace_back("class_" + sample.className, Save(context));
  }
  // The same inside a scene, with every plain reference pointed back at the scene: small cycles
  // of each kind the classes can make.
  for (const auto& sample : test::RoundTripSamples()) {
    CRefPtr<CBase> object = sample.make();
    CRefPtr<CBase> scene = test::InScene(object.get());
    if (!scene || test::PointPlainReferencesBack(scene.get(), scene.get()) == 0) continue;
    CPersistContext context;
    Must(AddRoot(context, scene.get()));
    scenes.emplace_back("cycle_" + sample.className, Save(context));
  }
  return scenes;
}

}  // namespace KX::fuzz
