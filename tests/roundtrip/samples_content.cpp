// Round-trip samples of the content records.
#include "content/content_data.h"
#include "support/round_trip.h"

namespace KX::test {
namespace {

CRefPtr<CBase> Sky() {
  CRefPtr<CSkyData> sky(new CSkyData);
  sky->name = u"sky";
  sky->entries = {{{1, 2, 3}}, {{-1, 0, 7}}};
  return sky;
}

CRefPtr<CBase> Water() {
  CRefPtr<CWaterData> water(new CWaterData);
  water->entries = {{{9, 9, 9}}};
  water->floatValue = 0.25f;
  water->intValue = -3;
  return water;
}

CRefPtr<CBase> ExCnt() {
  CRefPtr<CExCntData> ex(new CExCntData);
  ex->text1 = u"pack";
  ex->text2 = u"item";
  return ex;
}

CRefPtr<CBase> Rose() {
  CRefPtr<CRoseData> rose(new CRoseData);
  rose->block1.fill(1);
  rose->block2.fill(2);
  rose->block3[0] = 3;
  rose->flag = true;
  rose->extra = 77;
  return rose;
}

CRefPtr<CBase> Acc() {
  CRefPtr<CAccData> acc(new CAccData);
  acc->entries[u"Hat"] = CAccValue{{1, 2, 3, 4, 5, 6, 7}};
  acc->entries[u"Boot"] = CAccValue{{7, 6, 5, 4, 3, 2, 1}};
  acc->text = u"accessory";
  return acc;
}

CRefPtr<CBase> Head() {
  CRefPtr<CHeadData> head(new CHeadData);
  CRefPtr<CRawData> other(new CRawData);
  head->next = other;
  head->reference = other.get();
  head->list1 = {other.get()};
  head->list2 = {head.get(), nullptr};
  head->vectors1 = {{1, 2, 3}, {4, 5, 6}};
  head->block[100] = 42;
  return head;
}

const RoundTripRegistrar sky("CSkyData", Sky);
const RoundTripRegistrar water("CWaterData", Water);
const RoundTripRegistrar exCnt("CExCntData", ExCnt);
const RoundTripRegistrar rose("CRoseData", Rose);
const RoundTripRegistrar acc("CAccData", Acc);
const RoundTripRegistrar head("CHeadData", Head);

}  // namespace
}  // namespace KX::test
