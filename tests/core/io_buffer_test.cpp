#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/io_buffer.h"
#include "object/persist.h"
#include "support/bytes.h"
#include "support/field_trace.h"
#include "support/temp_dir.h"

namespace KX {
namespace {

using test::TempDir;

TEST(FileIo, EmptyFileIsAtEndAfterOpening) {
  TempDir dir;
  CFileIo io;
  ASSERT_EQ(io.OpenRead(dir.File("empty", "")), kOk);
  EXPECT_TRUE(io.IsEnd());
  EXPECT_EQ(io.size, 0u);
}

TEST(FileIo, ShortReadFailsAndConsumesNothing) {
  TempDir dir;
  CFileIo io;
  ASSERT_EQ(io.OpenRead(dir.File("five", "12345")), kOk);
  char buffer[8] = {};
  EXPECT_EQ(io.Read(buffer, sizeof buffer, 7, 0), kErrStream);
  EXPECT_EQ(io.position, 0u);
  EXPECT_EQ(io.Read(buffer, sizeof buffer, 5, 0), kOk);
  EXPECT_EQ(std::string(buffer, 5), "12345");
  EXPECT_TRUE(io.IsEnd());
  EXPECT_EQ(io.Read(buffer, 2, 3, 0), kErrBadArgument);  // more than the destination holds
}

TEST(FileIo, OpenFailuresAndFolder) {
  TempDir dir;
  CFileIo io;
  EXPECT_EQ(io.OpenRead(""), kErrBadArgument);
  EXPECT_EQ(io.OpenRead(dir.Path("missing")), kErrFileSize);
  EXPECT_EQ(io.OpenWrite(dir.Path("no/such/folder/file")), kErrOpen);
  ASSERT_EQ(io.OpenWrite(dir.Path("out.crv")), kOk);
  EXPECT_EQ(io.Write("abc", 3, 0), kOk);
  std::string folder;
  EXPECT_EQ(io.GetFolder(folder), kOk);
  EXPECT_EQ(folder, GetFolderOf(dir.Path("out.crv")));
  EXPECT_EQ(io.Close(), kOk);
  EXPECT_TRUE(io.FileExists(dir.Path("out.crv")));
  EXPECT_FALSE(io.FileExists(dir.Path("other")));
  EXPECT_EQ(io.Close(), kOk);  // closing twice does nothing
}

TEST(FileIo, SkipStaysInsideTheFile) {
  TempDir dir;
  CFileIo io;
  ASSERT_EQ(io.OpenRead(dir.File("ten", "0123456789")), kOk);
  EXPECT_EQ(io.Skip(4), kOk);
  char c = 0;
  EXPECT_EQ(io.Read(&c, 1, 1, 0), kOk);
  EXPECT_EQ(c, '4');
  EXPECT_EQ(io.Skip(-2), kOk);
  EXPECT_EQ(io.Read(&c, 1, 1, 0), kOk);
  EXPECT_EQ(c, '3');
  EXPECT_EQ(io.Skip(100), kErrStream);
  EXPECT_EQ(io.Skip(-100), kErrStream);
  EXPECT_EQ(io.position, 4u);
}

// A skip while writing waits for what is queued and moves the file's end there: the next bytes
// overwrite the ones it went back over, and the queue goes on from the new place.
TEST(FileIo, SkipWhileWritingLandsAfterTheQueuedBytes) {
  const size_t total = 3 * CWriteQueue::kBufferBytes + 17;
  std::vector<uint8_t> bytes(total);
  for (size_t i = 0; i < total; ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 97);
  TempDir dir;
  CFileIo out;
  ASSERT_EQ(out.OpenWrite(dir.Path("skipped")), kOk);
  ASSERT_EQ(out.Write(bytes.data(), total, 0), kOk);
  const size_t back = CWriteQueue::kBufferBytes + 5;
  ASSERT_EQ(out.Skip(-static_cast<int64_t>(back)), kOk);
  ASSERT_EQ(out.Write("XY", 2, 0), kOk);
  EXPECT_EQ(out.Tell(), total - back + 2);
  ASSERT_EQ(out.Close(), kOk);
  bytes[total - back] = 'X';
  bytes[total - back + 1] = 'Y';
  std::ifstream file(dir.Path("skipped"), std::ios::binary);
  const std::vector<uint8_t> got((std::istreambuf_iterator<char>(file)),
                                 std::istreambuf_iterator<char>());
  EXPECT_TRUE(got == bytes);
}

// Small fields go through the stream's buffer and large arrays straight to the file; mixed in
// any order, and read back in other pieces than they were written, the bytes stay in order.
TEST(FileIo, BufferedAndDirectTransfersKeepTheBytesInOrder) {
  constexpr size_t kLarge = CFileIo::kDirectSize;
  constexpr size_t kBuffer = CFileIo::kBufferSize;
  const std::vector<size_t> writes = {1,          3, kLarge,  5, kBuffer - 7, 9, 2 * kBuffer + 1, 4,
                                      kLarge - 1, 1, kBuffer, 2};
  // After a large read the buffer reads ahead only a little; reads around that size, and
  // small ones past it, still see the bytes in order.
  constexpr size_t kShort = CFileIo::kShortFillSize;
  const std::vector<size_t> reads = {
      2, kLarge + 3, 1,     kBuffer, 7, 3 * kBuffer, 11, kLarge - 2, 4, kShort - 1,
      3, kShort,     40000, 5,       6, kShort + 1,  12, kShort / 2, 9, kShort / 2};
  size_t total = 0;
  for (size_t n : writes) total += n;
  std::vector<uint8_t> expected(total);
  for (size_t i = 0; i < total; ++i) expected[i] = static_cast<uint8_t>(i * 7 + i / 251);

  TempDir dir;
  CFileIo out;
  ASSERT_EQ(out.OpenWrite(dir.Path("mixed")), kOk);
  size_t at = 0;
  for (size_t n : writes) {
    ASSERT_EQ(out.Write(expected.data() + at, n, 0), kOk);
    at += n;
    EXPECT_EQ(out.Tell(), at);
  }
  ASSERT_EQ(out.Close(), kOk);

  CFileIo in;
  ASSERT_EQ(in.OpenRead(dir.Path("mixed")), kOk);
  ASSERT_EQ(in.size, total);
  std::vector<uint8_t> got(total);
  at = 0;
  for (size_t i = 0; at < total; ++i) {
    const size_t n = std::min(reads[i % reads.size()], total - at);
    ASSERT_EQ(in.Read(got.data() + at, n, n, 0), kOk) << "read " << i;
    at += n;
    EXPECT_EQ(in.Tell(), at);
  }
  EXPECT_TRUE(in.IsEnd());
  EXPECT_EQ(got, expected);

  // Skips inside the buffered bytes and far outside them land where they say.
  const int64_t skips[] = {
      -1, -static_cast<int64_t>(kLarge),     -static_cast<int64_t>(2 * kBuffer),
      5,  static_cast<int64_t>(kBuffer) + 3, -9};
  int64_t position = static_cast<int64_t>(total);
  for (int64_t skip : skips) {
    ASSERT_EQ(in.Skip(skip), kOk) << skip;
    position += skip;
    uint8_t byte = 0;
    ASSERT_EQ(in.Read(&byte, 1, 1, 0), kOk) << skip;
    EXPECT_EQ(byte, expected[static_cast<size_t>(position)]) << skip;
    position += 1;
  }
}

// A file that stops taking bytes part way: a FIFO whose reader goes after a few buffers. The
// write queue's thread meets the failure; the writer hears the system's reason at its next
// write or at the latest when it closes, runs at most the queue's buffers past the failure,
// never waits for a buffer that does not come back, and what reached the reader came in order.
TEST(FileIo, AWriteThatFailsPartWayStopsTheQueueAndSaysWhy) {
  TempDir dir;
  const std::string fifo = dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const auto previous = std::signal(SIGPIPE, SIG_IGN);  // a write after the reader went: EPIPE
  constexpr size_t kTaken = 3 * CWriteQueue::kBufferBytes + 1000;
  std::vector<uint8_t> bytes(8 * kTaken);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 13 + i / 509);
  std::vector<uint8_t> received;
  std::thread reader([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return;
    std::vector<uint8_t> piece(1 << 16);
    while (received.size() < kTaken) {
      const ssize_t got = ::read(fd, piece.data(), std::min(piece.size(), kTaken - received.size()));
      if (got <= 0) break;
      received.insert(received.end(), piece.begin(), piece.begin() + got);
    }
    ::close(fd);
  });

  CFileIo out;
  ASSERT_EQ(out.OpenWrite(fifo), kOk);  // waits for the reader
  const size_t pieces[] = {7, CFileIo::kDirectSize, 100, CWriteQueue::kBufferBytes + 3, 1};
  Status status = kOk;
  for (size_t at = 0, i = 0; at < bytes.size() && Succeeded(status); ++i) {
    const size_t n = std::min(pieces[i % std::size(pieces)], bytes.size() - at);
    status = out.Write(bytes.data() + at, n, 0);
    at += n;
  }
  const uint64_t accepted = out.Tell();
  const Status closed = out.Close();
  reader.join();
  std::signal(SIGPIPE, previous);

  EXPECT_EQ(status, kErrStream);
  EXPECT_EQ(closed, kErrStream);
  EXPECT_EQ(out.writeError, EPIPE);
  // The reader's part, what the pipe held, the queue's buffers and the piece being copied.
  EXPECT_LE(accepted, kTaken + (CWriteQueue::kBuffers + 2) * CWriteQueue::kBufferBytes);
  ASSERT_EQ(received.size(), kTaken);
  EXPECT_TRUE(std::equal(received.begin(), received.end(), bytes.begin()));
}

TEST(WholeFile, ReadsEverythingOrReportsWhy) {
  TempDir dir;
  std::vector<uint8_t> bytes;
  EXPECT_EQ(ReadWholeFile(dir.File("f", "hello"), bytes), kOk);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "hello");
  EXPECT_EQ(ReadWholeFile(dir.Path("missing"), bytes), kErrFileSize);
}

TEST(Paths, FolderOf) {
  EXPECT_EQ(GetFolderOf(u"C:\\Props\\wood.jpg"), u"C:\\Props");
  EXPECT_EQ(GetFolderOf(u"/home/u/scenes/"), u"/home/u/scenes");
  EXPECT_EQ(GetFolderOf(u"/home/u/scenes"), u"/home/u/scenes");
  EXPECT_EQ(GetFolderOf(u"wood.jpg"), u"");
  EXPECT_EQ(GetFolderOf(u"a/b.c/d"), u"a/b.c/d");  // the dot is before the last separator
  EXPECT_EQ(GetFolderOf(std::string("a\\b/c.crv")), "a\\b");
}

TEST(Paths, ExtensionOf) {
  EXPECT_EQ(GetExtensionOf(u"scene.old.crv"), u"crv");
  EXPECT_EQ(GetExtensionOf(u"scene"), u"");
  EXPECT_EQ(GetExtensionOf(std::string("prop.fbprop")), "fbprop");
}

TEST(Primitives, EncodingsAreLittleEndianWithoutPadding) {
  CMemoryIo out;
  CWriter w(out, 0);
  w.Write(int32_t{-2}).Write(int16_t{0x1234}).Write(true).Write(1.0f).Write(std::string("ab"));
  w.Write(std::u16string(u"xyz")).Write(std::string());
  ASSERT_EQ(w.status(), kOk);
  const auto expected =
      test::Bytes().I32(-2).I16(0x1234).U8(1).F32(1.0f).A("ab").I32(3).Raw(u"xyz", 6).I32(0).data;
  EXPECT_EQ(out.bytes(), expected);
  EXPECT_EQ(w.BytesWritten(), expected.size());
}

TEST(Primitives, NamedFieldsStoreTheSameBytesAndListTheirValues) {
  auto save = [](CWriter& w) {
    const float keys[] = {0.1f, 2.0f};
    w.Version(CBase::classRecord).Field("count", int32_t{-3}).Field("flag", true);
    w.Field("label", std::u16string(u"h\u00e9")).Field("axis", CVector3<float>{1, 2, 3});
    w.Count(int32_t{2}).FieldArray("keys", std::span<const float>(keys));
    w.FieldBytes("blob", "xy", 2).Absent("missing").Ref("target", nullptr);
    {
      auto list = w.List("entries");
      auto record = w.Record(nullptr);
      w.Field("id", uint16_t{7});
    }
    w.Note("shown", std::string("as text")).Data(int32_t{9});
  };
  std::vector<uint8_t> stored;
  EXPECT_EQ(test::Listing(save, &stored),
            "level CBase count=-3 flag=true label=h\xc3\xa9 axis[ 1 2 3 ] keys[ 0.1 2 ] "
            "blob:bytes(2) missing:absent target->0 entries[ { id=7 } ] shown=as text");
  const auto bytes = test::Bytes()
                         .I32(CBase::classRecord.major)
                         .I32(CBase::classRecord.minor)
                         .I32(-3)
                         .U8(1)
                         .I32(2)
                         .Raw(u"h\u00e9", 4)
                         .F32(1)
                         .F32(2)
                         .F32(3)
                         .I32(2)
                         .F32(0.1f)
                         .F32(2.0f)
                         .Raw("xy", 2)
                         .I32(0)
                         .I16(7)
                         .I32(9)
                         .data;
  EXPECT_EQ(stored, bytes);

  // Unnamed writes still store, and with a sink attached they are counted as unlisted.
  CMemoryIo more;
  test::CFieldTrace trace;
  CWriter unnamed(more, 0, nullptr, &trace);
  unnamed.Write(int32_t{1}).WriteBytes("abc", 3);
  EXPECT_EQ(unnamed.UnlistedBytes(), 7u);
}

TEST(Primitives, ReadsBackAndAnyNonZeroByteIsTrue) {
  const auto bytes = test::Bytes().U8(7).I32(5).Text("hello").I32(2).Raw(u"hi", 4).data;
  CMemoryIo in(bytes);
  CReader r(in, 0, kCurrentStreamVersion);
  bool flag = false;
  std::string text;
  std::u16string wide;
  r.Read(flag).Read(text).Read(wide);
  ASSERT_EQ(r.status(), kOk);
  EXPECT_TRUE(flag);
  EXPECT_EQ(text, "hello");
  EXPECT_EQ(wide, u"hi");
  EXPECT_TRUE(in.IsEnd());
}

TEST(Primitives, OldLayoutWideStringsMapEachByteToOneUnit) {
  const auto bytes = test::Bytes().A("Caf\xe9 \xff").data;
  CMemoryIo in(bytes);
  CReader r(in, 0, 150);
  std::u16string wide;
  r.Read(wide);
  ASSERT_EQ(r.status(), kOk);
  EXPECT_EQ(wide, (std::u16string{u'C', u'a', u'f', 0xE9, u' ', 0xFF}));
}

TEST(Primitives, CountsThatCannotFitFailBeforeAllocating) {
  // A claimed string of two billion characters in a 12-byte stream.
  const auto bytes = test::Bytes().I32(0x7FFFFFFF).I32(0).I32(0).data;
  for (int version : {150, 201}) {
    CMemoryIo in(bytes);
    CReader r(in, 0, version);
    std::u16string wide;
    r.Read(wide);
    EXPECT_EQ(r.status(), kErrStream);
    EXPECT_TRUE(wide.empty());
  }
  CMemoryIo in(bytes);
  CReader r(in, 0, 201);
  std::vector<float> values;
  r.ReadArray(values, -1);
  EXPECT_EQ(r.status(), kErrStream);
  CMemoryIo in2(bytes);
  CReader r2(in2, 0, 201);
  r2.ReadArray(values, 3);  // exactly the 12 bytes left
  EXPECT_EQ(r2.status(), kOk);
  EXPECT_EQ(values.size(), 3u);
}

TEST(Primitives, TheFirstFailureSticks) {
  const auto bytes = test::Bytes().I32(1).data;
  CMemoryIo in(bytes);
  CReader r(in, 0, 201);
  int32_t a = 0, b = 0;
  r.Read(a).Read(b);
  EXPECT_EQ(r.status(), kErrStream);
  EXPECT_EQ(a, 1);
  r.Fail(kErrMalformed);
  EXPECT_EQ(r.status(), kErrStream);
}

}  // namespace
}  // namespace KX
