// Atomic files: what replaces what, permissions, racing writers, interrupting signals and the
// leftovers of writers that are gone.
#include "core/atomic_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/io_buffer.h"
#include "support/temp_dir.h"

namespace KX {
namespace {

namespace fs = std::filesystem;

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Temporaries(const std::string& folder) {
  size_t count = 0;
  for (const auto& entry : fs::directory_iterator(folder))
    if (entry.path().filename().string().starts_with(".recaster-")) ++count;
  return count;
}

Status WriteText(const std::string& path, const std::string& text, bool replace,
                 CAtomicFile& file) {
  Status status = file.Create(path, replace);
  if (Succeeded(status)) status = file.Write(text.data(), text.size());
  if (Succeeded(status)) status = file.Commit();
  return status;
}

TEST(AtomicFile, ReplacesOnlyPlainFilesAndOnlyWhenAllowed) {
  test::TempDir dir("kx_atomic");
  dir.File("plain", "old");
  fs::create_directory(dir.Path("folder"));
  fs::create_symlink(dir.Path("plain"), dir.Path("link"));
  ASSERT_EQ(::mkfifo(dir.Path("fifo").c_str(), 0600), 0);
  struct Case {
    const char* name;
    bool replace;
    bool written;
    int error;
  } cases[] = {
      {"new", false, true, 0},       {"plain", false, false, EEXIST},
      {"plain", true, true, 0},      {"folder", true, false, EISDIR},
      {"link", true, false, EISDIR}, {"fifo", true, false, EISDIR},
  };
  for (const Case& c : cases) {
    CAtomicFile file;
    const Status status = WriteText(dir.Path(c.name), "new text", c.replace, file);
    EXPECT_EQ(Succeeded(status), c.written) << c.name << ": " << file.reason();
    EXPECT_EQ(file.error(), c.error) << c.name;
  }
  EXPECT_EQ(Read(dir.Path("plain")), "new text");
  EXPECT_TRUE(fs::is_symlink(dir.Path("link")));
  EXPECT_TRUE(fs::is_fifo(dir.Path("fifo")));
  EXPECT_TRUE(fs::is_directory(dir.Path("folder")));
  EXPECT_EQ(Temporaries(dir.path), 0u);
}

TEST(AtomicFile, KeepsTheModeOfTheFileItReplacesAndTheMaskForNewOnes) {
  test::TempDir dir("kx_atomic");
  const std::string old = dir.File("old", "x");
  ASSERT_EQ(::chmod(old.c_str(), 0640), 0);
  const mode_t mask = ::umask(027);
  CAtomicFile a, b;
  EXPECT_EQ(WriteText(old, "y", true, a), kOk);
  EXPECT_EQ(WriteText(dir.Path("new"), "z", false, b), kOk);
  ::umask(mask);
  struct stat st;
  ASSERT_EQ(::stat(old.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(::stat(dir.Path("new").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);  // 0666 under the mask 027
}

// The second of two writers that both found no file must not replace the first one's.
TEST(AtomicFile, AWriterThatFindsTheNameTakenMeanwhileGivesUp) {
  test::TempDir dir("kx_atomic");
  const std::string target = dir.Path("prop");
  CAtomicFile first, second;
  ASSERT_EQ(first.Create(target, false), kOk);
  ASSERT_EQ(second.Create(target, false), kOk);
  ASSERT_EQ(first.Write("first", 5), kOk);
  ASSERT_EQ(second.Write("second", 6), kOk);
  EXPECT_EQ(first.Commit(), kOk);
  EXPECT_TRUE(Failed(second.Commit()));
  EXPECT_EQ(second.error(), EEXIST);
  EXPECT_EQ(Read(target), "first");
  EXPECT_EQ(Temporaries(dir.path), 0u);
}

TEST(AtomicFile, TheLongestLegalNameFits) {
  test::TempDir dir("kx_atomic");
  CAtomicFile file;
  const std::string name(255, 'n');
  EXPECT_EQ(WriteText(dir.Path(name), "text", false, file), kOk) << file.reason();
  EXPECT_EQ(Read(dir.Path(name)), "text");
}

TEST(AtomicFile, AFolderThatCannotBeOpenedIsNamedWithTheSystemsReason) {
  test::TempDir dir("kx_atomic");
  CAtomicFile file;
  EXPECT_TRUE(Failed(file.Create(dir.Path("missing/prop"), false)));
  EXPECT_NE(file.reason().find("No such file or directory"), std::string::npos) << file.reason();
}

// A writer stopped by a signal leaves nothing behind, whichever of the three signals it is.
TEST(AtomicFile, InterruptingSignalsRemoveTheTemporary) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    test::TempDir dir("kx_atomic");
    const pid_t child = ::fork();
    if (child == 0) {
      RemoveTemporariesOnSignals();
      CAtomicFile file;
      if (Failed(file.Create(dir.Path("prop"), false)) || Failed(file.Write("partial", 7)))
        ::_exit(3);
      ::raise(signal);
      ::_exit(4);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal << " exit " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(Temporaries(dir.path), 0u) << "signal " << signal;
    EXPECT_FALSE(fs::exists(dir.Path("prop")));
  }
}

// A writer killed outright cannot clean up; the next save into its folder does.
TEST(AtomicFile, LeftoversOfWritersThatAreGoneAreSwept) {
  test::TempDir dir("kx_atomic");
  const pid_t child = ::fork();
  if (child == 0) {
    CAtomicFile file;
    if (Failed(file.Create(dir.Path("prop"), false))) ::_exit(3);
    ::kill(::getpid(), SIGKILL);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_EQ(Temporaries(dir.path), 1u);
  // The next save sweeps it; a running writer's temporary (this process's) and a file that only
  // looks alike stay.
  dir.File(".recaster-notes.tmp", "someone else's");
  CAtomicFile mine;
  ASSERT_EQ(mine.Create(dir.Path("mine"), false), kOk);
  EXPECT_EQ(Temporaries(dir.path), 2u);
  EXPECT_TRUE(fs::exists(mine.temporaryPath()));
  EXPECT_TRUE(fs::exists(dir.Path(".recaster-notes.tmp")));
  EXPECT_EQ(SweepStaleTemporaries(dir.path), 0);  // looked at once per process
}

// Files of several write-back steps, so that the disk is asked for the first while the last
// are written.
constexpr size_t kLargeFile = 5 * CWriteBehind::kStep + 12345;

std::vector<char> Pattern(size_t size) {
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 131 + i / 4093);
  return bytes;
}

// Writes `bytes` through a file stream in pieces of every kind: small ones through its buffer,
// large ones straight to the file.
Status WriteInPieces(CFileIo& io, const std::vector<char>& bytes) {
  const size_t pieces[] = {7, 1 << 20, 3, CFileIo::kDirectSize - 1, (3 << 20) + 5, 100};
  for (size_t at = 0, i = 0; at < bytes.size(); ++i) {
    const size_t n = std::min(pieces[i % std::size(pieces)], bytes.size() - at);
    KX_RETURN_IF_FAILED(io.Write(bytes.data() + at, n, 0));
    at += n;
  }
  return kOk;
}

// The disk starts on a large file while it is written; what arrives is the same, and a write
// that fails part way (a file-size limit stands in for a full disk) is reported with the
// system's reason and leaves nothing behind, through either way of writing.
TEST(AtomicFile, LargeFilesArriveWholeOrNotAtAll) {
  test::TempDir dir("kx_atomic");
  const std::vector<char> bytes = Pattern(kLargeFile);
  {
    CAtomicFile streamed;
    ASSERT_EQ(streamed.Create(dir.Path("streamed"), false), kOk);
    CFileIo io;
    ASSERT_EQ(io.OpenWrite(streamed.temporaryPath()), kOk);
    ASSERT_EQ(WriteInPieces(io, bytes), kOk);
    ASSERT_EQ(io.Close(), kOk);
    ASSERT_EQ(streamed.Commit(), kOk);
    CAtomicFile whole;
    ASSERT_EQ(whole.Create(dir.Path("whole"), false), kOk);
    ASSERT_EQ(whole.Write(bytes.data(), bytes.size()), kOk);
    ASSERT_EQ(whole.Commit(), kOk);
  }
  const std::string expected(bytes.begin(), bytes.end());
  EXPECT_TRUE(Read(dir.Path("streamed")) == expected);
  EXPECT_TRUE(Read(dir.Path("whole")) == expected);

  // Children under the limit: exit 0 when the failure came as expected, else the step that
  // went wrong.
  const rlim_t limit = 3 * CWriteBehind::kStep + 4321;
  for (const bool streamedWay : {true, false}) {
    const pid_t child = ::fork();
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit size{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &size) != 0) ::_exit(2);
      CAtomicFile file;
      if (Failed(file.Create(dir.Path(streamedWay ? "cut-streamed" : "cut-whole"), false)))
        ::_exit(3);
      if (streamedWay) {
        CFileIo io;
        if (Failed(io.OpenWrite(file.temporaryPath()))) ::_exit(4);
        const Status status = WriteInPieces(io, bytes);
        // The stream runs ahead of the file by at most the buffers its queue holds.
        const uint64_t ahead = (CWriteQueue::kBuffers + 1) * CWriteQueue::kBufferBytes;
        if (status != kErrStream || io.writeError != EFBIG || io.Tell() > limit + ahead) ::_exit(5);
      } else {
        if (file.Write(bytes.data(), bytes.size()) != kErrStream || file.error() != EFBIG ||
            file.reason() != std::string("write failed: ") + std::strerror(EFBIG))
          ::_exit(5);
      }
      // Given up like every failed save: the temporary goes with the writer.
      file.Abandon();
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << (streamedWay ? "streamed" : "whole");
  }
  EXPECT_EQ(Temporaries(dir.path), 0u);
  EXPECT_FALSE(fs::exists(dir.Path("cut-streamed")));
  EXPECT_FALSE(fs::exists(dir.Path("cut-whole")));
}

}  // namespace
}  // namespace KX
