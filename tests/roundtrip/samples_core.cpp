// Round-trip samples of the custom data records.
#include "object/custom_data.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> RawSample() {
  CRefPtr<CRawData> raw(new CRawData);
  raw->name = u"raw sample";
  raw->key = u"key";
  raw->param1 = 3;
  raw->param2 = -9;
  const uint8_t payload[] = {0, 1, 2, 255};
  EXPECT_TRUE(::KX::Succeeded(raw->SetPayload(payload)));
  CRefPtr<CRawData> next(new CRawData);
  next->name = u"next";
  raw->next = next;
  return raw;
}

CRefPtr<CBase> XmlSample() {
  CRefPtr<CXmlRawData> xml(new CXmlRawData);
  xml->name = u"xml";
  const std::string text = "<scene version=\"2\"/>";
  EXPECT_TRUE(::KX::Succeeded(xml->SetPayload({reinterpret_cast<const uint8_t*>(text.data()), text.size()})));
  return xml;
}

CRefPtr<CBase> AuthorSample() {
  CRefPtr<CAuthorInfo> info(new CAuthorInfo);
  info->name = u"author";
  info->text1 = u"Name";
  info->text2 = u"Company \u00e9";
  info->text3 = u"";
  info->text4 = u"2026";
  info->text5 = u"notes";
  return info;
}

const RoundTripRegistrar raw("CRawData", RawSample);
const RoundTripRegistrar xml("CXmlRawData", XmlSample);
const RoundTripRegistrar author("CAuthorInfo", AuthorSample);

}  // namespace
}  // namespace KX::test
