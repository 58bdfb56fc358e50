#include "bench/generate_scenes.h"
#include "bench/require.h"

#include <sys/stat.h>

#include <vector>

#include "object/custom_data.h"

namespace KX::bench {

void GenerateRecordScene(CPersistContext& context, int32_t roots, int32_t chain,
                         int32_t payloadBytes) {
  std::vector<uint8_t> payload(static_cast<size_t>(payloadBytes));
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<uint8_t>(i * 31 + 7);
  for (int32_t r = 0; r < roots; ++r) {
    CRefPtr<CRawData> head;
    CRawData* tail = nullptr;
    for (int32_t i = 0; i < chain; ++i) {
      CRefPtr<CRawData> raw(new CRawData);
      raw->name = u"record " + std::u16string(1, static_cast<char16_t>(u'A' + i % 26));
      raw->key = u"bench";
      raw->param1 = i;
      Require(raw->SetPayload(payload));
      if (i % 2 == 0) {
        CRefPtr<CAuthorInfo> info(new CAuthorInfo);
        info->text1 = u"generated";
        Require(raw->AttachCustomData(info.get()));
      }
      if (tail)
        tail->next = raw;
      else
        head = raw;
      tail = raw.get();
    }
    Require(AddRoot(context, head.get()));
  }
}

int64_t WriteScene(CPersistContext& context, const std::string& path) {
  if (Failed(SaveFile(0, context, path))) return -1;
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

}  // namespace KX::bench
