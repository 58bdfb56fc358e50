#include "support/round_trip.h"

#include <gtest/gtest.h>

#include "content/project_data.h"
#include "object/custom_data.h"
#include "image/thumbnail.h"

namespace KX::test {

std::vector<RoundTripSample>& RoundTripSamples() {
  static std::vector<RoundTripSample> samples;
  return samples;
}

std::vector<uint8_t> SaveToBytes(CPersistContext& context, Status* status) {
  CMemoryIo out;
  const Status s = SaveToStream(context, out, 0);
  if (status) *status = s;
  return out.TakeBytes();
}

std::vector<uint8_t> SaveRootToBytes(CBase* root) {
  CPersistContext context;
  EXPECT_EQ(AddRoot(context, root), kOk);
  Status status = kOk;
  auto bytes = SaveToBytes(context, &status);
  EXPECT_EQ(status, kOk) << "saving a " << root->GetRuntimeClass()->className;
  return bytes;
}

void AddThumbnailAndExtendedInfo(CPersistContext& context) {
  CRefPtr<CThumbnail> thumbnail(new CThumbnail);
  ASSERT_EQ(thumbnail->picture.Create(3, 2, 1, 0x00405060), kOk);
  context.thumbnail = thumbnail;
  CRefPtr<CProjectData> project(new CProjectData);
  project->text = u"ext";
  context.extInfo = {project, CRefPtr<CBase>(new CAuthorInfo)};
}

Status LoadFromBytes(const std::vector<uint8_t>& bytes, CPersistContext& context) {
  CMemoryIo in(bytes);
  return LoadFromStream(context, in, 0);
}

CRefPtr<CBase> ExpectRoundTrip(CBase* root) {
  const std::string className = root->GetRuntimeClass()->className;
  const auto first = SaveRootToBytes(root);
  CPersistContext loaded;
  const Status status = LoadFromBytes(first, loaded);
  EXPECT_EQ(status, kOk) << className << ": " << loaded.diagnostics.Describe();
  EXPECT_TRUE(loaded.diagnostics.warnings.empty()) << className << ": " << loaded.diagnostics.Describe();
  if (loaded.roots.size() != 1) {
    ADD_FAILURE() << className << ": expected one root, got " << loaded.roots.size();
    return nullptr;
  }
  EXPECT_STREQ(loaded.roots[0]->GetRuntimeClass()->className, className.c_str());
  const auto second = SaveRootToBytes(loaded.roots[0].get());
  EXPECT_EQ(first, second) << className << ": the second save differs from the first";
  return loaded.roots[0];
}

}  // namespace KX::test
