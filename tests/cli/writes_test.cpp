// The tool's writes and messages as a user meets them: where outputs may land, what is never
// replaced, failures that must not pass for success, signals, escaping, and batches split over
// several runs. Each case runs the real program through a shell.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "object/container.h"
#include "scene/node.h"
#include "support/temp_dir.h"
#include "support/test_classes.h"

namespace KX {
namespace {

namespace fs = std::filesystem;

struct ShellRun {
  int exitCode = -1;
  std::string out;  // standard output and error together
};

struct ShellCase {
  const char* what;
  const char* script;
  int exitCode;
  const char* says;  // expected in the output; empty for anything
};

class WritesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterForTests();
    fs::copy_file(KX_SAMPLE_SCENE, dir.Path("scene.crv"));
  }

  // Runs `script` with sh in the test's folder; $R is the program, $S the sample scene.
  ShellRun Shell(const std::string& script) {
    ShellRun run;
    const std::string command = "cd '" + dir.path + "' && R='" + KX_RECASTER_PATH +
                                "' S=scene.crv; { " + script + "\n} 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer;
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
      run.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
  }

  std::string Read(const std::string& name) {
    std::ifstream in(dir.Path(name), std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  nlohmann::json Report(const std::string& name) { return nlohmann::json::parse(Read(name)); }

  // Temporary files left anywhere below the test's folder.
  size_t Leftovers() {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(dir.path))
      if (entry.path().filename().string().starts_with(".recaster-")) ++count;
    return count;
  }

  // A current-layout file whose root has `name`.
  void NamedFile(const std::string& file, const std::u16string& name) {
    CPersistContext context;
    CRefPtr<CNode> root(new CNode);
    root->name = name;
    ASSERT_TRUE(Succeeded(AddRoot(context, root.get())));
    ASSERT_EQ(SaveFile(0, context, dir.Path(file)), kOk);
  }

  void ExpectCases(std::initializer_list<ShellCase> cases) {
    for (const ShellCase& c : cases) {
      const ShellRun run = Shell(c.script);
      EXPECT_EQ(run.exitCode, c.exitCode) << c.what << "\n" << run.out;
      EXPECT_NE(run.out.find(c.says), std::string::npos)
          << c.what << ": wanted \"" << c.says << "\" in\n"
          << run.out;
    }
  }

  test::TempDir dir{"kx_writes"};
};

TEST_F(WritesTest, OutputsThatAreNoPlainFilesAreNeverReplaced) {
  dir.File("kept.fbprop", "kept");
  ExpectCases({
      {"a link", "ln -s kept.fbprop link.fbprop; $R convert $S -o link.fbprop --force", 2,
       "link.fbprop: is a symbolic link"},
      {"a dangling link", "ln -s nowhere dangling.fbprop; $R convert $S -o dangling.fbprop --force",
       2, "is a symbolic link"},
      {"a folder, without a hint at --force", "mkdir folder; $R convert $S -o folder", 2,
       "folder: is a folder; not replaced"},
      {"a FIFO", "mkfifo fifo; $R convert $S -o fifo --force", 2, "fifo: is a FIFO"},
      {"a device", "$R convert $S -o /dev/null --force", 2, "/dev/null: is a device"},
      {"a thumbnail onto a link", "$R thumbnail $S -o link.fbprop --format png --force", 2,
       "is a symbolic link"},
  });
  EXPECT_EQ(Read("kept.fbprop"), "kept");
  EXPECT_TRUE(fs::is_symlink(dir.Path("link.fbprop")));
  EXPECT_FALSE(fs::exists(dir.Path("nowhere")));
  EXPECT_TRUE(fs::is_fifo(dir.Path("fifo")));
  struct stat st;
  ASSERT_EQ(::stat("/dev/null", &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Writes that fail say so with the system's reason and leave what was there; a file-size limit
// stands in for a full disk.
TEST_F(WritesTest, FailedWritesAreNeverReportedAsSuccess) {
  dir.File("old.bmp", "old picture");
  const std::string limited = "(ulimit -f 0; trap '' XFSZ; ";
  ExpectCases({
      {"a prop", (limited + "$R convert $S -o big.fbprop)").c_str(), 6, "File too large"},
      {"a new picture", (limited + "$R thumbnail $S -o new.bmp)").c_str(), 6,
       "new.bmp: write failed: File too large"},
      {"a picture replaced", (limited + "$R thumbnail $S -o old.bmp --force)").c_str(), 6,
       "File too large"},
      {"a report", (limited + "$R batch $S -o out --report report.json)").c_str(), 1,
       "(the report)"},
      {"info", "$R info $S > /dev/full", 6,
       "standard output: write failed: No space left on device"},
      {"info --tree", "$R info --tree $S > /dev/full", 6, "No space left on device"},
      {"info --json", "$R info --json $S > /dev/full", 6, "No space left on device"},
      {"check", "$R check $S > /dev/full", 6, "No space left on device"},
      {"a prop to standard output", "$R convert $S -o - > /dev/full", 6, "No space left on device"},
  });
  EXPECT_EQ(Read("old.bmp"), "old picture");
  EXPECT_FALSE(fs::exists(dir.Path("big.fbprop")));
  EXPECT_FALSE(fs::exists(dir.Path("new.bmp")));
  EXPECT_FALSE(fs::exists(dir.Path("report.json")));
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(WritesTest, LoadFailuresNameTheReason) {
  ExpectCases({
      {"missing", "$R info missing.crv", 5, "missing.crv: No such file or directory"},
      {"a folder", "mkdir d; $R info d", 5, "d: is a folder"},
      {"a FIFO, without waiting for a writer", "mkfifo f; $R check f", 5, "f: is not a plain file"},
      {"a device", "$R info /dev/zero", 5, "/dev/zero: is not a plain file"},
      {"convert", "$R convert missing.crv", 5, "No such file or directory"},
      {"a damaged file keeps offset and class", "head -c 2000 $S > cut.crv; $R info cut.crv", 5,
       "offset"},
  });
}

// Of several converts racing for one new output without --force, exactly one writes it.
TEST_F(WritesTest, RacingConvertsWithoutForceLeaveOneWinner) {
  const ShellRun run = Shell(
      "for i in 1 2 3 4 5 6; do ($R -q convert $S -o same.fbprop >/dev/null 2>&1; echo \"code "
      "$?\") & done; wait");
  size_t zeros = 0, twos = 0;
  for (size_t at = run.out.find("code "); at != std::string::npos;
       at = run.out.find("code ", at + 1)) {
    zeros += run.out.compare(at, 6, "code 0") == 0;
    twos += run.out.compare(at, 6, "code 2") == 0;
  }
  EXPECT_EQ(zeros, 1u) << run.out;
  EXPECT_EQ(twos, 5u) << run.out;
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(WritesTest, TheLongestLegalOutputNameIsWritten) {
  const std::string name = std::string(248, 'p') + ".fbprop";  // 255 bytes
  const ShellRun run = Shell("$R -q convert $S -o " + name);
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_TRUE(fs::exists(dir.Path(name)));
}

TEST_F(WritesTest, NamesAndPathsFromOutsideAreEscaped) {
  NamedFile("colour.crv", u"\x1b[31mred\x07");
  const ShellRun info = Shell("$R info --tree colour.crv");
  EXPECT_EQ(info.exitCode, 0);
  EXPECT_EQ(info.out.find('\x1b'), std::string::npos) << info.out;
  EXPECT_NE(info.out.find("\\x1B[31mred\\x07"), std::string::npos) << info.out;

  // A byte that is no UTF-8 in a path and in a class name (one flipped bit) reaches the report
  // and the terminal escaped, and the report stays valid JSON.
  std::string bytes = Read("colour.crv");
  const size_t at = bytes.find("CNode");
  ASSERT_NE(at, std::string::npos);
  bytes[at + 3] = static_cast<char>(bytes[at + 3] ^ 0x80);  // 'd' becomes 0xE4
  fs::create_directory(dir.Path("in"));
  dir.File("in/flipped.crv", bytes);
  dir.File("in/bad\xff.crv", "junk");
  const ShellRun batch = Shell("$R batch in -o out --report report.json");
  EXPECT_EQ(batch.exitCode, 1) << batch.out;
  EXPECT_EQ(batch.out.find('\xff'), std::string::npos);
  EXPECT_NE(batch.out.find("bad\\xFF.crv"), std::string::npos) << batch.out;
  const auto report = Report("report.json");
  ASSERT_EQ(report["files"].size(), 2u);
  EXPECT_EQ(report["files"][0]["input"], "in/bad\\xFF.crv");
  EXPECT_NE(report["files"][1]["detail"].get<std::string>().find("CNo\\xE4e"), std::string::npos)
      << report["files"][1]["detail"];
}

TEST_F(WritesTest, BatchOutputsStayInsideTheOutputFolder) {
  fs::create_directories(dir.Path("in/sub"));
  fs::create_directories(dir.Path("elsewhere"));
  fs::copy_file(dir.Path("scene.crv"), dir.Path("elsewhere/victim.crv"));
  dir.File("elsewhere/victim.fbprop", "precious");
  fs::create_symlink("../../elsewhere/victim.crv", dir.Path("in/sub/relative.crv"));
  fs::create_symlink(dir.Path("elsewhere/victim.crv"), dir.Path("in/absolute.crv"));
  fs::create_symlink("nowhere.crv", dir.Path("in/dangling.crv"));
  // A folder inside the output folder that leads elsewhere.
  fs::create_directories(dir.Path("out"));
  fs::create_directory_symlink(dir.Path("elsewhere"), dir.Path("out/sub"));
  const ShellRun run = Shell("$R batch in -o out --force --report report.json");
  EXPECT_EQ(run.exitCode, 1) << run.out;
  EXPECT_NE(run.out.find("in/dangling.crv: a link to nothing"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("leads outside the output folder"), std::string::npos) << run.out;
  EXPECT_EQ(Read("elsewhere/victim.fbprop"), "precious");
  EXPECT_FALSE(fs::exists(dir.Path("elsewhere/relative.fbprop")));
  EXPECT_TRUE(fs::is_regular_file(dir.Path("out/absolute.fbprop")));
  const auto report = Report("report.json");
  for (const auto& file : report["files"])
    EXPECT_EQ(file["output"].get<std::string>().find(".."), std::string::npos);
  EXPECT_EQ(report["dangling"].size(), 1u);
}

// Stopped, a batch stops its workers, leaves no partial file, still reports and sums up, and
// ends by the signal.
TEST_F(WritesTest, AStoppedBatchCleansUpAndReports) {
  fs::create_directory(dir.Path("in"));
  for (int i = 0; i < 200; ++i)
    fs::copy_file(dir.Path("scene.crv"), dir.Path("in/s" + std::to_string(i) + ".crv"));
  const ShellRun run = Shell(
      "$R batch in -o out -j 2 --report report.json > summary.txt 2> progress.txt & pid=$!; "
      // Stopped once the first file is done, however slow the build.
      "for i in $(seq 600); do grep -q '^\\[1/' progress.txt && break; sleep 0.05; done; "
      "kill -TERM $pid; wait $pid; echo \"code $?\"");
  EXPECT_NE(run.out.find("code 143"), std::string::npos) << run.out;
  EXPECT_NE(Read("summary.txt").find("interrupted"), std::string::npos) << Read("summary.txt");
  const auto report = Report("report.json");
  EXPECT_EQ(report["files"].size(), 200u);
  EXPECT_GT(report["summary"]["interrupted"].get<int>(), 0);
  size_t props = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path("out")))
    props += entry.path().extension() == ".fbprop";
  EXPECT_EQ(props, report["summary"]["converted"].get<size_t>());
  EXPECT_EQ(Leftovers(), 0u);
}

TEST_F(WritesTest, CommandsBehaveAsTheGuideSays) {
  ExpectCases({
      {"version", "$R --version", 0, "recaster 0."},
      {"unknown command", "$R bogus", 2,
       "unknown command 'bogus'; the commands are: convert check"},
      {"exit codes in the help", "$R --help", 0, "Exit codes:"},
      {"quiet after the command", "$R convert -q $S -o q.fbprop > said.txt && test ! -s said.txt",
       0, ""},
      {"a folder given exists", "mkdir empty; $R batch empty nonexist -o out", 1,
       "no .crv files found"},
      {"no folder given exists", "$R batch nonexist -o out", 2, "nonexist: no such file or folder"},
      {"a prop in the current format, without -o",
       "$R -q convert $S -o p.fbprop; $R convert p.fbprop", 3, "already compatible"},
      {"folders of the output are made",
       "$R -q convert $S -o props/new/room.fbprop && test -f props/new/room.fbprop", 0, ""},
      {"the output is checked before loading",
       "echo x > exists.fbprop; $R convert missing.crv -o exists.fbprop", 2,
       "exists.fbprop: exists already; pass --force"},
      {"--tree and --json together", "$R info --tree --json $S", 2, "excludes"},
      {"the report's folder is checked first",
       "$R batch $S -o early --report nodir/r.json; test ! -e early", 0,
       "the report's folder does not exist"},
      {"check --json", "$R check --json $S", 0, "\"outcome\": \"would be converted\""},
      {"thumbnail keeps a picture without --force", "echo x > t.png; $R thumbnail $S -o t.png", 2,
       "t.png: exists already"},
      {"standard input", "cat $S | $R -q convert - -o stdin.fbprop && $R check stdin.fbprop", 0,
       "already compatible"},
      {"standard input needs -o", "cat $S | $R convert -", 2, "needs -o OUTPUT"},
      {"standard output", "$R convert $S -o - 2>/dev/null | $R check -", 0, "already compatible"},
      {"a thumbnail to standard output", "$R thumbnail $S -o - | head -c 4 | od -c", 0,
       "P   N   G"},
  });
}

TEST_F(WritesTest, BatchCountsAFileOnceAndTellsARefusalOnce) {
  EXPECT_EQ(Shell("$R batch $S $S -o out").out.find("1 file(s)") != std::string::npos, true);
  const ShellRun again = Shell("$R batch $S -o out");
  EXPECT_EQ(again.exitCode, 1);
  const size_t first = again.out.find("exists already");
  ASSERT_NE(first, std::string::npos) << again.out;
  EXPECT_EQ(again.out.find("exists already", first + 1), std::string::npos) << again.out;
}

// N shares of one list convert every file exactly once, whatever order each run listed them in,
// and their reports merge into the report of one run.
TEST_F(WritesTest, SharesTogetherConvertEveryFileOnce) {
  fs::create_directories(dir.Path("in/a"));
  std::string list, reversed;
  for (int i = 0; i < 24; ++i) {
    const std::string name =
        "in/" + std::string(i % 2 ? "a/" : "") + "s" + std::to_string(i) + ".crv";
    fs::copy_file(dir.Path("scene.crv"), dir.Path(name));
    list += name + "\n";
    reversed = name + "\n" + reversed;
  }
  dir.File("list.txt", list);
  dir.File("reversed.txt", reversed);
  const ShellRun run = Shell(
      "$R -q batch --files-from list.txt --shard 0/3 -o out --report r0.json && "
      "cat reversed.txt | $R -q batch --files-from - --shard 1/3 -o out --report r1.json && "
      "$R -q batch --files-from list.txt --shard 2/3 -o out --report r2.json && "
      "$R report merge r0.json r1.json r2.json -o merged.json");
  ASSERT_EQ(run.exitCode, 0) << run.out;
  std::set<std::string> inputs;
  size_t entries = 0;
  for (const char* name : {"r0.json", "r1.json", "r2.json"}) {
    const auto report = Report(name);
    for (const auto& file : report["files"]) {
      ++entries;
      inputs.insert(file["input"].get<std::string>());
      EXPECT_EQ(file["outcome"], "converted");
    }
  }
  EXPECT_EQ(entries, 24u);
  EXPECT_EQ(inputs.size(), 24u);
  const auto merged = Report("merged.json");
  EXPECT_EQ(merged["files"].size(), 24u);
  EXPECT_EQ(merged["summary"]["converted"], 24);
  EXPECT_EQ(Shell("$R batch $S -o out --shard 3/3").exitCode, 2);
  EXPECT_EQ(Shell("$R report merge list.txt").exitCode, 5);
}

// The cluster recipe of the user guide, with the schedulers' index variables set by hand and
// with GNU parallel.
TEST_F(WritesTest, TheClusterRecipeRunsAsDocumented) {
  fs::create_directories(dir.Path("scenes/x"));
  for (int i = 0; i < 12; ++i)
    fs::copy_file(dir.Path("scene.crv"), dir.Path("scenes/" + std::string(i % 3 ? "x/" : "") + "r" +
                                                  std::to_string(i) + ".crv"));
  const std::string script = KX_CLUSTER_SCRIPT;
  const ShellRun run = Shell(
      "export RECASTER=$R; find scenes -name '*.crv' > scenes.txt; mkdir reports && "
      "SLURM_ARRAY_TASK_ID=0 " +
      script +
      " scenes.txt props reports 3 && "
      "SLURM_ARRAY_TASK_ID=1 " +
      script +
      " scenes.txt props reports 3 && "
      "JOB_COMPLETION_INDEX=2 " +
      script +
      " scenes.txt props reports 3 && "
      "$R report merge reports/report-*.json -o report.json && "
      "mkdir reports2 && parallel " +
      script +
      " scenes.txt props2 reports2 4 ::: 0 1 2 3 && "
      "$R report merge reports2/report-*.json -o report2.json");
  ASSERT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(Report("report.json")["summary"]["converted"], 12);
  EXPECT_EQ(Report("report2.json")["summary"]["converted"], 12);
  size_t props = 0;
  for (const auto& entry : fs::directory_iterator(dir.Path("props2")))
    props += entry.path().extension() == ".fbprop";
  EXPECT_EQ(props, 12u);
}

}  // namespace
}  // namespace KX
