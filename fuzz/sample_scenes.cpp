#include "fuzz/sample_scenes.h"

#include "core/container.h"
#include "core/custom_data.h"

namespace KX::fuzz {

namespace {

std::vector<uint8_t> Save(CPersistContext& context) {
  CMemoryIo out;
  if (Failed(SaveToStream(context, out, 0))) return {};
  return out.TakeBytes();
}

CRefPtr<CRawData> Raw(const char16_t* name, const std::string& payload) {
  CRefPtr<CRawData> raw(new CRawData);
  raw->name = name;
  raw->key = u"key";
  raw->SetPayload({reinterpret_cast<const uint8_t*>(payload.data()), payload.size()});
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
    AddRoot(context, head.get());
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
    root->AttachCustomData(Raw(u"attached", "a").get());
    AddRoot(context, root.get());
    AddRoot(context, Raw(u"second root", "").get());
    scenes.emplace_back("sections", Save(context));
  }
  return scenes;
}

}  // namespace KX::fuzz
