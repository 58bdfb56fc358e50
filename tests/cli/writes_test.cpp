// The tool's writes and messages as a user meets them: where outputs may land, what is never
// replaced, failures that must not pass for success, signals, escaping, and batches split over
// several runs. Each case runs the real program through a shell.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/types.h>
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
#include "cli/recorded_tool.h"

namespace KX {
namespace {

namespace fs = std::filesystem;

struct ShellRun {
  int exitCode = -1;
  std::string out;  // standard output and error together
};

// A cap on the memory of what follows it in the shell; none under the sanitizers, whose shadow
// memory takes more address space than the cap leaves.
std::string MemoryCap(int megabytes) {
#ifdef KX_SANITIZE
  (void)megabytes;
  return "";
#else
  return "ulimit -v " + std::to_string(megabytes * 1000) + "; ";
#endif
}

struct ShellCase {
  const char* what;
  const char* script;
  int exitCode;
  const char* says;             // expected in the output; empty for anything
  const char* never = nullptr;  // must not be in the output
};

class WritesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterForTests();
    fs::copy_file(KX_SAMPLE_SCENE, dir.Path("scene.crv"));
  }

  // Runs `script` with sh in the test's folder; $R is the program (its exit codes noted), $RR the
  // program itself, for a script that signals it by its process id, $S the sample scene.
  ShellRun Shell(const std::string& script) {
    ShellRun run;
    const std::string command = "cd '" + dir.path + "' && R='" + test::RecordedRecaster() +
                                "' RR='" + KX_RECASTER_PATH + "' S=scene.crv; { " + script +
                                "\n} 2>&1";
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
      if (c.never) {
        EXPECT_EQ(run.out.find(c.never), std::string::npos)
            << c.what << ": did not want \"" << c.never << "\" in\n"
            << run.out;
      }
    }
  }

  // A stopped batch's progress ends with "[D/T] stopped after Xs: I interrupted": D files done
  // and I not, of T.
  void ExpectStopLine(const std::string& progress, size_t total, size_t interrupted) {
    const size_t line = progress.rfind("] stopped after ");
    ASSERT_NE(line, std::string::npos) << progress;
    const size_t at = progress.rfind('[', line);
    size_t done = 0, all = 0, left = 0;
    char seconds[32];
    ASSERT_EQ(std::sscanf(progress.c_str() + at, "[%zu/%zu] stopped after %31s %zu interrupted",
                          &done, &all, seconds, &left),
              4)
        << progress.substr(at);
    EXPECT_EQ(all, total);
    EXPECT_EQ(left, interrupted);
    EXPECT_EQ(done + left, total);
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
      "$RR batch in -o out -j 2 --report report.json > summary.txt 2> progress.txt & pid=$!; "
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
  ExpectStopLine(Read("progress.txt"), 200, report["summary"]["interrupted"].get<size_t>());
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
  // Share 0 reads the list reversed, where a split by place in the list would hand it the files
  // of share 2: some files would be converted twice and others never.
  const ShellRun run = Shell(
      "cat reversed.txt | $R -q batch --files-from - --shard 0/3 -o out --report r0.json && "
      "$R -q batch --files-from list.txt --shard 1/3 -o out --report r1.json && "
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

// Standard input is read in bounded pieces, as a file is: input that does not start like a scene
// is refused at once, and a long one never has to fit in memory.
TEST_F(WritesTest, StandardInputIsReadLikeAFile) {
  const std::string zeros =
      "(" + MemoryCap(1000) + "timeout 60 $R convert - -o z.fbprop < /dev/zero)";
  const std::string piped = "(" + MemoryCap(1000) + "cat /dev/zero | timeout 60 $R check -)";
  const std::string longer = "{ printf KXCorva; head -c 200000000 /dev/zero; } | (" +
                             MemoryCap(300) + "TMPDIR=. $R check -)";
  ExpectCases({
      {"endless zeros", zeros.c_str(), 5, "not a scene file (unknown header)"},
      {"endless zeros through a pipe", piped.c_str(), 5, "-: cannot be loaded: status 0x80000005"},
      {"a scene header and 200 MB more, in 300 MB of memory", longer.c_str(), 5,
       "the old scene header has no readable version"},
      {"a pipe and a redirection convert as the file named does",
       "cat $S | $R -q convert - -o piped.fbprop && $R -q convert - -o redirected.fbprop < $S && "
       "$R -q convert $S -o named.fbprop && cmp piped.fbprop named.fbprop && "
       "cmp redirected.fbprop named.fbprop",
       0, ""},
  });
  EXPECT_FALSE(fs::exists(dir.Path("z.fbprop")));
}

TEST_F(WritesTest, ListsOfPathsAreReadInBoundedLines) {
  const std::string zeros =
      "(" + MemoryCap(1000) + "timeout 60 $R batch --files-from /dev/zero -o out)";
  ExpectCases({
      {"endless zeros", zeros.c_str(), 2,
       "/dev/zero: is not a list of paths, one a line: line 1 holds a NUL byte"},
      {"a line no path could fill",
       "{ echo $S; head -c 5000 /dev/zero | tr '\\0' x; } | $R batch --files-from - -o out", 2,
       "standard input: is not a list of paths, one a line: line 2 is longer than 4096 bytes"},
      {"a folder", "mkdir list; $R batch --files-from list -o out", 2, "list: is a folder"},
  });
  EXPECT_FALSE(fs::exists(dir.Path("out")));
}

// A report that is not what batch writes is refused, with what is wrong in it; every summary
// has the same keys.
TEST_F(WritesTest, ReportMergeSaysWhatIsWrongWithAReport) {
  const struct {
    const char* json;
    const char* says;
  } reports[] = {
      {R"({"files":[1]})", "files[0] is the number 1, not a file's entry"},
      {R"({"files":"x"})", R"(its "files" is the text "x", not a list)"},
      {R"({"files":[{"outcome":5}]})", R"(files[0] has no "input")"},
      {R"({"files":[{"input":"a","output":"b","outcome":5}]})", "files[0].outcome is the number 5"},
      {R"({"files":[{"input":"a","output":"b","outcome":null}]})", "files[0].outcome is null"},
      {R"({"files":[{"input":"a","output":"b","outcome":"won"}]})",
       "files[0].outcome is the text \"won\", not one of the outcomes a batch writes"},
      {R"({"files":[{"input":"a","output":"b","outcome":"converted","exitCode":"0"}]})",
       "files[0].exitCode is the text \"0\", not a whole number"},
      {R"({"files":[],"missing":[3]})", R"(its "missing" holds the number 3, not text)"},
      {R"([])", "it holds a list, not an object"},
      {"{\n", "it is not JSON: it ends early, at line 2, column 1"},
      {R"({"files": [} )", "it is not JSON: line 1, column 12 breaks its form"},
      {R"({"files": [], "missing": 1e400})", "it holds a number too large to read"},
  };
  for (const auto& r : reports) {
    dir.File("bad.json", r.json);
    const ShellRun run = Shell("$R report merge bad.json -o merged.json");
    EXPECT_EQ(run.exitCode, 5) << r.json << "\n" << run.out;
    EXPECT_NE(run.out.find(std::string("bad.json: is no batch report: ") + r.says),
              std::string::npos)
        << r.json << "\n" << run.out;
    EXPECT_EQ(run.out.find("exception"), std::string::npos) << run.out;
    EXPECT_FALSE(fs::exists(dir.Path("merged.json")));
  }

  // Nested past any depth a report has, a value would take the stack of every step that walks it.
  dir.File("deep.json", R"({"files": [{"input": "a", "output": "b", "outcome": "converted", "x": )" +
                            std::string(200000, '[') + std::string(200000, ']') + "}]}");
  ExpectCases({{"a value nested deep", "$R report merge deep.json", 5,
                "deep.json: is no batch report: it nests deeper than 64 levels"}});

  const auto keys = [](const nlohmann::json& summary) {
    std::set<std::string> names;
    for (const auto& [name, count] : summary.items()) names.insert(name);
    return names;
  };
  ASSERT_EQ(Shell("$R batch $S -o a --report loud.json && $R -q batch $S -o b --report quiet.json && "
                  "$R report merge quiet.json -o merged.json")
                .exitCode,
            0);
  EXPECT_EQ(keys(Report("loud.json")["summary"]).size(), 8u);
  EXPECT_EQ(keys(Report("quiet.json")["summary"]), keys(Report("loud.json")["summary"]));
  EXPECT_EQ(keys(Report("merged.json")["summary"]), keys(Report("loud.json")["summary"]));
}

// Reports that list the same files would count them twice: the merge names them and refuses.
TEST_F(WritesTest, ReportMergeCountsEachFileOnce) {
  fs::create_directory(dir.Path("in"));
  for (int i = 0; i < 6; ++i)
    fs::copy_file(dir.Path("scene.crv"), dir.Path("in/s" + std::to_string(i) + ".crv"));
  ASSERT_EQ(Shell("$R -q batch in -o out --shard 0/2 --report r0.json && "
                  "$R -q batch in -o out --shard 1/2 --report r1.json && "
                  "$R report merge r0.json r1.json -o merged.json && cp r1.json copy.json")
                .exitCode,
            0);
  ASSERT_FALSE(Report("r0.json")["files"].empty());
  ASSERT_FALSE(Report("r1.json")["files"].empty());
  EXPECT_EQ(Report("merged.json")["summary"]["converted"], 6);
  ExpectCases({
      {"a share's report twice", "$R report merge r0.json r1.json r0.json -o twice.json", 5,
       "r0.json is given twice; nothing was merged"},
      {"a copy of a share's report", "$R report merge r0.json r1.json copy.json -o twice.json", 5,
       "r1.json (share 1/2) and copy.json (share 1/2) both list"},
      {"the merged report with one of its parts", "$R report merge merged.json r0.json", 5,
       "merged.json (a merged report) and r0.json (share 0/2) both list"},
  });
  EXPECT_FALSE(fs::exists(dir.Path("twice.json")));
}

// An output is a file of its own: never the input, never a name that ends as a folder's, never
// an empty name; the folders it needs are made.
TEST_F(WritesTest, OutputsAreFilesApartFromTheInput) {
  const std::string scene = Read("scene.crv");
  ExpectCases({
      {"a thumbnail over its scene", "$R thumbnail $S -o $S --force --format png", 2,
       "scene.crv: the output would replace the file it comes from"},
      {"a thumbnail over another name of its scene", "ln $S hard.png; $R thumbnail $S -o hard.png --force",
       2, "would replace the file it comes from"},
      {"a thumbnail into a new folder", "$R -q thumbnail $S -o new/t.png && test -f new/t.png", 0,
       ""},
      {"a merged report into a new folder",
       "$R -q batch $S -o out --report r.json && $R report merge r.json -o new2/m.json && "
       "test -f new2/m.json",
       0, ""},
      {"a prop named as a folder", "$R convert $S -o made/; c=$?; test ! -e made || c=99; exit $c",
       2, "made/: names a folder; name the file to write"},
      {"a picture named as a folder",
       "$R thumbnail $S -o made/ --format png; c=$?; test ! -e made || c=99; exit $c", 2,
       "names a folder"},
      {"a copy named as a folder", "$R resave $S -o made/.; c=$?; test ! -e made || c=99; exit $c",
       2, "names a folder"},
      {"an empty prop name", "$R convert $S -o ''; c=$?; test ! -e scene.fbprop || c=99; exit $c",
       2, "was given an empty name"},
      {"an empty merged report name", "$R report merge r.json -o ''", 2, "was given an empty name"},
      {"an empty report name", "$R batch $S -o out2 --report ''", 2, "was given an empty name"},
  });
  EXPECT_EQ(Read("scene.crv"), scene);
}

// A write to standard output that fails is told once, with the system's reason; output that was
// asked for and not delivered, help included, is a failure.
TEST_F(WritesTest, AFullOrClosedStandardOutputIsToldOnce) {
  const char* wrong = "Input/output error";
  ExpectCases({
      {"a prop", "$R convert $S -o - > /dev/full", 6, "No space left on device", wrong},
      {"a prop to a closed output", "$R convert $S -o - >&-", 6, "Bad file descriptor", wrong},
      {"a picture", "$R thumbnail $S -o - > /dev/full", 6, "No space left on device", wrong},
      {"a picture to a closed output", "$R thumbnail $S -o - >&-", 6, "Bad file descriptor", wrong},
      {"a report", "$R -q batch $S -o out --report - > /dev/full", 6, "No space left", wrong},
      {"a merged report", "$R -q batch $S -o out2 --report r.json; $R report merge r.json >&-", 6,
       "Bad file descriptor", wrong},
      {"what extract wrote", "$R extract $S -o media > /dev/full", 6, "No space left", wrong},
      {"help", "$R --help > /dev/full", 6, "standard output: write failed: No space left"},
      {"a command's help", "$R convert --help > /dev/full", 6, "No space left on device"},
      {"the version", "$R --version >&-", 6, "Bad file descriptor"},
  });
}

TEST_F(WritesTest, HelpOfACommandAndListsSeparatedByNulBytes) {
  ExpectCases({
      {"help of a command", "$R help convert", 0, "convert [OPTIONS] INPUT"},
      {"help of a command of a command", "$R help report merge", 0, "report merge [OPTIONS] REPORT"},
      {"help of the tool", "$R help", 0, "Exit codes:"},
      {"help of no command", "$R help report bogus", 2, "no command 'bogus' of report"},
      {"a path that holds a newline",
       "cp $S \"$(printf 'two\nlines.crv')\"; printf 'two\nlines.crv\\0' | "
       "$R -q batch --files-from - -0 -o out && test -f \"$(printf 'out/two\nlines.fbprop')\"",
       0, ""},
      {"-0 without a list", "$R batch -0 $S -o out", 2, "--null requires --files-from"},
  });
}

// With --json a command that writes files prints one JSON document of what it did, and nothing
// else, on standard output.
TEST_F(WritesTest, CommandsThatWriteTellWhatTheyDidAsJson) {
  const struct {
    const char* command;
    int exitCode;
    const char* outcome;
    std::vector<std::string> outputs;
    const char* message;
    size_t warnings;
  } cases[] = {
      {"convert $S -o p.fbprop", 0, "converted", {"p.fbprop"}, "Process is finished.", 0},
      {"convert $S -o p.fbprop", 2, "not written", {}, "p.fbprop: exists already", 0},
      {"convert missing.crv -o m.fbprop", 5, "failed to load", {}, "Error when loading file.", 0},
      {"resave $S -o r.crv", 0, "written", {"r.crv"}, "written r.crv (read as stream version", 0},
      {"export $S -o e.gltf", 0, "written", {"e_1.png", "e.bin", "e.gltf"}, "written e.gltf", 2},
      {"export $S -o e.gltf", 2, "not written", {}, "e.gltf: exists already", 0},
      {"extract $S -o media", 0, "written", {"media/oak.png"}, "1 picture(s) and 0 sound(s)", 0},
      {"thumbnail $S -o t.png --size 2", 0, "written", {"t.png"}, "thumbnail 2 x 2 written to t.png", 0},
      {"thumbnail $S -o t.png", 2, "not written", {}, "t.png: exists already", 0},
      {"thumbnail $S -o t.xyz", 2, "not written", {}, "t.xyz: unknown picture format", 0},
      {"thumbnail missing.crv -o m.png", 5, "failed to load", {}, "cannot be loaded: ", 0},
  };
  for (const auto& c : cases) {
    const ShellRun run = Shell("$R " + std::string(c.command) + " --json 2>/dev/null");
    EXPECT_EQ(run.exitCode, c.exitCode) << c.command << "\n" << run.out;
    const auto told = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(told.is_object()) << c.command << "\n" << run.out;
    EXPECT_EQ(told["input"], c.outcome == std::string("failed to load") ? "missing.crv" : "scene.crv");
    EXPECT_EQ(told["outputs"], nlohmann::json(c.outputs)) << c.command;
    EXPECT_EQ(told["outcome"], c.outcome) << c.command;
    EXPECT_EQ(told["exitCode"], c.exitCode) << c.command;
    EXPECT_TRUE(told["message"].get<std::string>().starts_with(c.message)) << told.dump();
    EXPECT_EQ(told["warnings"].size(), c.warnings) << told.dump();
  }
  EXPECT_EQ(Shell("$R convert $S -o - --json").exitCode, 2);
  EXPECT_EQ(Shell("$R thumbnail $S -o - --json").exitCode, 2);
  // A file without a thumbnail: nothing written, and said why.
  NamedFile("bare.crv", u"Bare");
  const auto bare = nlohmann::json::parse(Shell("$R thumbnail bare.crv -o b.png --json 2>/dev/null").out);
  EXPECT_EQ(bare["outcome"], "nothing written");
  EXPECT_EQ(bare["exitCode"], 1);
  EXPECT_EQ(bare["message"], "has no thumbnail picture");
}

// Paths that are no scene files are named for what they are, each once, and the report is
// written even when nothing was found to convert.
TEST_F(WritesTest, BatchNamesWhatItCannotConvert) {
  fs::create_directory(dir.Path("in"));
  fs::copy_file(dir.Path("scene.crv"), dir.Path("in/ok.crv"));
  ASSERT_EQ(::mkfifo(dir.Path("in/pipe.crv").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.Path("named.crv").c_str(), 0600), 0);
  fs::create_symlink("/dev/null", dir.Path("in/device.crv"));
  fs::create_symlink("/dev/null", dir.Path("null.crv"));
  fs::create_symlink("nowhere.crv", dir.Path("in/dangling.crv"));
  fs::create_directory(dir.Path("empty"));
  ExpectCases({
      {"a FIFO named", "$R batch named.crv -o out --report named.json", 1,
       "named.crv: is a FIFO, not a scene file; skipped", "no such file"},
      {"a link to a device named", "$R batch null.crv -o out --report null.json", 1,
       "null.crv: is a device, not a scene file; skipped", "no such file"},
      {"a FIFO below a folder", "$R batch in -o out --report in.json", 1,
       "in/pipe.crv: is a FIFO, not a scene file; skipped"},
      {"a link to a device below a folder", "$R batch in -o out2", 1,
       "in/device.crv: is a device, not a scene file; skipped"},
      {"nothing found", "$R batch empty -o out --report empty.json", 1, "no .crv files found"},
  });
  for (const char* name : {"named.json", "null.json", "empty.json"}) {
    const auto report = Report(name);
    EXPECT_TRUE(report["files"].empty()) << name;
    EXPECT_EQ(report["summary"].size(), 8u) << name;
  }
  EXPECT_EQ(Report("named.json")["skipped"], nlohmann::json::array({"named.crv"}));
  EXPECT_EQ(Report("in.json")["files"].size(), 1u);
  EXPECT_EQ(Report("in.json")["skipped"].size(), 2u);

  // A folder given twice: each path that cannot be converted is told and listed once.
  const ShellRun twice = Shell("$R batch in in/ -o out3 --report twice.json");
  EXPECT_EQ(twice.exitCode, 1) << twice.out;
  const size_t first = twice.out.find("dangling.crv: a link to nothing");
  ASSERT_NE(first, std::string::npos) << twice.out;
  EXPECT_EQ(twice.out.find("dangling.crv: a link to nothing", first + 1), std::string::npos)
      << twice.out;
  const auto report = Report("twice.json");
  EXPECT_EQ(report["dangling"].size(), 1u) << report.dump();
  EXPECT_EQ(report["skipped"].size(), 2u) << report.dump();
  EXPECT_EQ(report["files"].size(), 1u) << report.dump();
}

// A picture that cannot be decoded fails the load with what is damaged first, not with the
// words of a file that cannot be opened.
TEST_F(WritesTest, ADamagedPictureIsNamedForWhatItIs) {
  std::string bytes = Read("scene.crv");
  const size_t at = bytes.find("\x89PNG");
  ASSERT_NE(at, std::string::npos);
  for (size_t i = at + 16; i < at + 60; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5A);
  dir.File("damaged.crv", bytes);
  const char* lead = "the picture of the CImage record starting at offset ";
  const char* misleading = "file cannot be opened";
  ExpectCases({
      {"check", "$R check damaged.crv", 5, "damaged.crv: cannot be loaded: the picture of the CImage",
       misleading},
      {"check --json", "$R check --json damaged.crv", 5, "\"detail\": \"the picture of the CImage",
       misleading},
      {"convert", "$R convert damaged.crv -o d.fbprop", 5, lead, misleading},
      {"info", "$R info damaged.crv", 5, lead, misleading},
      {"a batch's report", "$R batch damaged.crv -o out --report r.json; cat r.json", 0,
       "\"detail\": \"the picture of the CImage", misleading},
  });
}

// On a terminal the progress line fits its width, however long the paths, and a stopped batch's
// last line says how many files it left.
TEST_F(WritesTest, TheProgressLineFitsTheTerminalAndTellsOfAStop) {
  const std::string folder = "in/" + std::string(70, 'f') + "/" + std::string(40, 'g');
  fs::create_directories(dir.Path(folder));
  for (int i = 0; i < 120; ++i)
    fs::copy_file(dir.Path("scene.crv"),
                  dir.Path(folder + "/scene-" + std::string(30, 'n') + std::to_string(i) + ".crv"));
  // A terminal of 60 columns; stopped by Ctrl+C once three files are done.
  const ShellRun run = Shell(
      "script -qfec \"stty cols 60 rows 20; $RR batch in -o out -j 2 --report r.json & "
      "echo \\$! > pid; wait\" tty.txt > /dev/null & "
      "for i in $(seq 600); do grep -q '\\[3/' tty.txt 2>/dev/null && break; sleep 0.05; done; "
      "kill -INT $(cat pid); wait");
  const std::string tty = Read("tty.txt");
  size_t updates = 0;
  for (size_t at = tty.find("\033[K["); at != std::string::npos;
       at = tty.find("\033[K[", at + 1)) {
    const size_t end = tty.find_first_of("\r\n", at);
    const std::string line = tty.substr(at + 3, end - at - 3);
    EXPECT_LE(line.size(), 59u) << line;
    ++updates;
  }
  EXPECT_GE(updates, 3u) << tty;
  ExpectStopLine(tty, 120, Report("r.json")["summary"]["interrupted"].get<size_t>());
}

// How the progress is shown is the user's choice; without one, a terminal gets the fitted line
// and anything else a line per file.
TEST_F(WritesTest, TheProgressIsShownAsAsked) {
  fs::create_directory(dir.Path("in"));
  for (int i = 0; i < 3; ++i)
    fs::copy_file(dir.Path("scene.crv"), dir.Path("in/s" + std::to_string(i) + ".crv"));
  ExpectCases({
      {"auto, to a file", "$R batch in -o o1 --progress=auto 2>&1 >/dev/null", 0,
       "[3/3] in/s", "\033[K"},
      {"never", "$R batch in -o o2 --progress=never 2>&1 >/dev/null", 0, "", "[1/3]"},
      {"always, to a file", "$R batch in -o o3 --progress=always 2>&1 >/dev/null", 0,
       "\r\033[K[3/3]"},
      {"an unknown choice", "$R batch in -o o4 --progress=sometimes", 2, "--progress"},
  });
  // JSON: a line per file, with -q too, and nothing else on standard error.
  ASSERT_EQ(Shell("$R -q batch in $S -o o5 --progress=json 2> p.txt").exitCode, 0);
  std::istringstream lines(Read("p.txt"));
  std::set<std::string> inputs;
  size_t count = 0;
  for (std::string line; std::getline(lines, line);) {
    const auto entry = nlohmann::json::parse(line, nullptr, false);
    ASSERT_TRUE(entry.is_object()) << line;
    EXPECT_EQ(entry["done"], ++count);
    EXPECT_EQ(entry["total"], 4);
    EXPECT_EQ(entry["outcome"], "converted");
    EXPECT_EQ(entry["exitCode"], 0);
    EXPECT_TRUE(entry["elapsed"].is_number());
    inputs.insert(entry["input"].get<std::string>());
  }
  EXPECT_EQ(inputs, (std::set<std::string>{"in/s0.crv", "in/s1.crv", "in/s2.crv", "scene.crv"}));
}

// A dry run prints the plan and writes nothing: no prop, no folder, no report.
TEST_F(WritesTest, ADryRunPrintsThePlanAndWritesNothing) {
  fs::create_directories(dir.Path("in/sub"));
  fs::create_directories(dir.Path("x"));
  for (const char* name : {"in/a.crv", "in/sub/b.crv", "x/a.crv"})
    fs::copy_file(dir.Path("scene.crv"), dir.Path(name));
  dir.File("list.txt", "in\nmissing.crv\n");
  fs::create_directory(dir.Path("kept"));
  dir.File("kept/a.fbprop", "precious");
  const char* nothingWritten =
      "; c=$?; test ! -e out && test ! -e r.json && test \"$(cat kept/a.fbprop)\" = precious "
      "|| c=99; exit $c";
  const auto script = [&](const std::string& line) { return line + nothingWritten; };
  const std::string plan = script("$R batch in -o out --dry-run --report r.json");
  const std::string collision = script("$R batch in/a.crv x/a.crv -o out --dry-run");
  const std::string existing = script("$R batch in/a.crv -o kept --dry-run");
  const std::string forced = script("$R batch in/a.crv -o kept --dry-run --force");
  const std::string missing = script("$R batch --files-from list.txt -o out --dry-run");
  ExpectCases({
      {"the plan", plan.c_str(), 0, "in/sub/b.crv -> out/sub/b.fbprop\n"},
      {"the counts", plan.c_str(), 0,
       "dry run: 2 file(s) found, 2 would be converted, 0 would collide, 0 would not be replaced; "
       "nothing was written"},
      {"a collision", collision.c_str(), 1,
       "x/a.crv -> out/a.fbprop: the same prop as in/a.crv; would not be converted"},
      {"a prop in the way", existing.c_str(), 1,
       "in/a.crv -> kept/a.fbprop: exists already; pass --force to replace it"},
      {"replaced with --force", forced.c_str(), 0, "1 would be converted"},
      {"a missing path", missing.c_str(), 1, "missing.crv: no such file or folder"},
      {"exported", script("$R batch in -o out --export glb --dry-run").c_str(), 0,
       "in/a.crv -> out/a.glb"},
  });
  // Every file is listed with its share, and a share converts exactly the files listed for it.
  for (int i = 0; i < 9; ++i)
    fs::copy_file(dir.Path("scene.crv"), dir.Path("in/s" + std::to_string(i) + ".crv"));
  const ShellRun dry = Shell("$R batch in -o out --shard 1/3 --dry-run");
  ASSERT_EQ(dry.exitCode, 0) << dry.out;
  std::set<std::string> planned;
  std::istringstream lines(dry.out);
  size_t listed = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" -> ") == std::string::npos) continue;
    ++listed;
    if (line.ends_with("(share 1/3)")) planned.insert(line.substr(0, line.find(" -> ")));
  }
  EXPECT_EQ(listed, 11u) << dry.out;
  ASSERT_EQ(Shell("$R -q batch in -o out --shard 1/3 --report r1.json").exitCode, 0);
  std::set<std::string> converted;
  const auto report = Report("r1.json");
  for (const auto& file : report["files"]) converted.insert(file["input"]);
  EXPECT_EQ(planned, converted);
  EXPECT_NE(dry.out.find("dry run: 11 file(s) found, " + std::to_string(planned.size()) +
                         " would be converted by share 1/3"),
            std::string::npos)
      << dry.out;
}

}  // namespace
}  // namespace KX
