// A save to a file writes each record as it is made; a save to a stream that wants the size of
// the whole file first holds every record until the end. Both must give the same bytes.
#include <gtest/gtest.h>

#include "object/archive.h"

#include <string>
#include <vector>

#include "object/container.h"
#include "object/custom_data.h"
#include "support/round_trip.h"
#include "support/save_paths.h"
#include "support/test_classes.h"

namespace KX {
namespace {

// Raw data whose Save fails as many times as asked and notes how much its stream held when it
// was last saved.
class CTestRaw final : public CRawData {
 public:
  mutable int failures = 0;
  const CIoBuffer* watched = nullptr;
  mutable uint64_t seenWritten = 0;

  Status Persist(CArchive& ar) override {
    if (ar.Saving()) {
      if (watched) seenWritten = watched->Tell();
      if (failures > 0) {
        --failures;
        return ar.Fail(kErrBadArgument);
      }
    }
    return CRawData::Persist(ar);
  }
};

CRefPtr<CTestRaw> Raw(size_t payloadSize, char fill) {
  CRefPtr<CTestRaw> raw(new CTestRaw);
  raw->name = std::u16string(1, static_cast<char16_t>(fill));
  const std::vector<uint8_t> payload(payloadSize, static_cast<uint8_t>(fill));
  EXPECT_EQ(raw->SetPayload(payload), kOk);
  return raw;
}

class SaveAsMadeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterForTests();
    // Records on both sides of the largest one staged (a root's record takes 101 bytes and its
    // payload), some much larger, and enough small ones to fill the staging many times over.
    const size_t largestStagedPayload = 64 * 1024 - 101;
    const size_t sizes[] = {0,
                            100,
                            30000,
                            largestStagedPayload - 1,
                            largestStagedPayload,
                            largestStagedPayload + 1,
                            70000,
                            300000};
    char fill = 'a';
    for (const size_t size : sizes) {
      raws.push_back(Raw(size, fill++));
      ASSERT_EQ(AddRoot(context, raws.back().get()), kOk);
    }
    // Chains under three roots: the records they reach are written without a root marker.
    for (int i = 0; i < 3; ++i) {
      CRefPtr<test::CTestObject> holder(new test::CTestObject);
      for (int j = 0; j < 40; ++j) {
        const size_t size = j % 10 == 9 ? sizes[(i + j) % std::size(sizes)] : 5000 + 37 * j;
        raws.push_back(Raw(size, static_cast<char>('A' + j % 26)));
        ASSERT_EQ(holder->AttachCustomData(raws.back().get()), kOk);
      }
      ASSERT_EQ(AddRoot(context, holder.get()), kOk);
    }
    context.extInfo = {CRefPtr<CBase>(new CAuthorInfo), CRefPtr<CBase>(Raw(70000, 'x'))};
  }

  std::vector<uint8_t> Held(Status expected = kOk) {
    Status status = kOk;
    auto bytes = test::SaveToBytes(context, &status);
    EXPECT_EQ(status, expected);
    return bytes;
  }
  std::vector<uint8_t> AsMade(Status expected = kOk) {
    Status status = kOk;
    auto bytes = test::SaveToBytesAsMade(context, &status);
    EXPECT_EQ(status, expected);
    return bytes;
  }

  CPersistContext context;
  std::vector<CRefPtr<CTestRaw>> raws;
};

TEST_F(SaveAsMadeTest, BothWaysGiveTheSameBytesAndTheFileLoads) {
  const auto held = Held();
  test::CAsMadeIo stream;
  ASSERT_EQ(SaveToStream(context, stream, 0), kOk);
  EXPECT_EQ(stream.reserves, 0) << "a stream that does not want the total is not told one";
  ASSERT_EQ(stream.inner.bytes(), held);

  CPersistContext loaded;
  ASSERT_EQ(test::LoadFromBytes(held, loaded), kOk) << loaded.diagnostics.Describe();
  EXPECT_EQ(loaded.roots.size(), context.roots.size());
  EXPECT_EQ(loaded.extInfo.size(), 2u);
  // Saved again, the loaded document gives the same file both ways.
  EXPECT_EQ(test::SaveToBytesAsMade(loaded), held);
}

// Records reach the stream while later ones are still to be made, unless the stream wants the
// total first.
TEST_F(SaveAsMadeTest, RecordsReachTheStreamAsTheyAreMade) {
  CTestRaw& last = *raws.back();
  test::CAsMadeIo asMade;
  last.watched = &asMade;
  ASSERT_EQ(SaveToStream(context, asMade, 0), kOk);
  EXPECT_GT(last.seenWritten, asMade.Tell() / 2);

  CMemoryIo held;
  last.watched = &held;
  ASSERT_EQ(SaveToStream(context, held, 0), kOk);
  EXPECT_EQ(last.seenWritten, 0u) << "the first Save of a held record comes before any byte";
  EXPECT_EQ(held.bytes(), asMade.inner.bytes());
}

// A record whose Save fails where it is staged is counted and written straight to the stream
// between the staged records around it; one that fails every time fails the save at the same
// point both ways.
TEST_F(SaveAsMadeTest, RecordsWhoseSaveFailsAreWrittenOrFailTheSameBothWays) {
  const auto expected = Held();
  for (const size_t i : {size_t{1}, size_t{9}, size_t{30}, raws.size() - 1}) {
    raws[i]->failures = 1;
    EXPECT_EQ(Held(), expected) << "record " << i;
    EXPECT_EQ(raws[i]->failures, 0);
    raws[i]->failures = 1;
    EXPECT_EQ(AsMade(), expected) << "record " << i;
    EXPECT_EQ(raws[i]->failures, 0);

    raws[i]->failures = 1000;
    const auto heldPart = Held(kErrBadArgument);
    const auto asMadePart = AsMade(kErrBadArgument);
    raws[i]->failures = 0;
    EXPECT_EQ(asMadePart, heldPart) << "record " << i;
    EXPECT_LT(asMadePart.size(), expected.size());
    EXPECT_TRUE(std::equal(asMadePart.begin(), asMadePart.end(), expected.begin()));
  }
}

}  // namespace
}  // namespace KX
