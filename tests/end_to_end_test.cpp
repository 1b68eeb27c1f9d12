// The built dcr run in a scratch folder: every example folder's stored
// answer, and the failure policy (status, one line on stderr, empty output).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "driver/exit_status.hpp"
#include "tests/support/temp_folder.hpp"

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spit(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

using Scratch = testsupport::TempFolder;

struct DcrRun {
  int status = -1;
  std::string out, err;
};

// Runs dcr with `dir` as its working directory and the given arguments
// (quoted by the caller); its console output is kept beside the folder so
// that it cannot be mistaken for the program's files.
DcrRun runDcr(const fs::path& dir, const std::string& arguments = "") {
  const fs::path out = dir.string() + ".stdout", err = dir.string() + ".stderr";
  const std::string command = "cd '" + dir.string() + "' && '" DCR_BINARY "' " + arguments +
                              " </dev/null >'" + out.string() + "' 2>'" + err.string() + "'";
  const int raw = std::system(command.c_str());
  DcrRun run;
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  run.out = slurp(out);
  run.err = slurp(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

// An example is a folder holding "input" and the "output" dcr must write.
std::vector<std::string> exampleNames() {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(DCR_EXAMPLES))
    if (fs::exists(entry.path() / "input")) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class Example : public testing::TestWithParam<std::string> {};

TEST_P(Example, AnswersAsStored) {
  const fs::path folder = fs::path(DCR_EXAMPLES) / GetParam();
  Scratch scratch;
  fs::copy_file(folder / "input", scratch.dir() / "input");
  const DcrRun run = runDcr(scratch.dir());
  EXPECT_EQ(run.status, kExitAnswered);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, "");
  ASSERT_TRUE(fs::exists(scratch.dir() / "output"));
  EXPECT_EQ(slurp(scratch.dir() / "output"), slurp(folder / "output"));
}

INSTANTIATE_TEST_SUITE_P(Examples, Example, testing::ValuesIn(exampleNames()),
                         [](const auto& info) {
                           std::string name = info.param;
                           for (char& ch : name)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return name;
                         });

// The program's failure contract: status, exactly one line on stderr, and an
// "output" that exists but is empty, even when a stale answer was there.
void expectFailure(const DcrRun& run, const Scratch& scratch, int status) {
  EXPECT_EQ(run.status, status);
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.err.back(), '\n');
  ASSERT_TRUE(fs::exists(scratch.dir() / "output"));
  EXPECT_EQ(slurp(scratch.dir() / "output"), "");
}

TEST(Failures, MissingInput) {
  Scratch scratch;
  spit(scratch.dir() / "output", "YES\r\n0.5");
  expectFailure(runDcr(scratch.dir()), scratch, kExitInputUnreadable);
}

TEST(Failures, MalformedInputNamesTheLineAndColumn) {
  const char* inputs[] = {
      "3 3\n0,2,4,6,\n2,x,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n",
      "3 3\n0 ,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n",
      "-3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n",
      "3 3\n0,2,4,6,\n2,3,1,3,1,7,\n1,1,0,\n2 0.5 0.5\n",
      "3 2\n0,2,3,4,\n2,3,1,2,\n1,1,0,\n2 0.5 0.5\n",
      "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 1.5 0.5\n",
      "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 nan 0.5\n",
      "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 NaN\n",
      "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2, 0.5 0.5\n",
      "3 3\n0,2,4,6,\n2,3,1,3,",
  };
  for (const char* text : inputs) {
    SCOPED_TRACE(text);
    Scratch scratch;
    spit(scratch.dir() / "input", text);
    spit(scratch.dir() / "output", "NO");
    const DcrRun run = runDcr(scratch.dir());
    expectFailure(run, scratch, kExitBadInput);
    EXPECT_NE(run.err.find("line "), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("column "), std::string::npos) << run.err;
  }
}

}  // namespace

// More failure classes: the output file that cannot be made or written,
// sizes that must fail on the missing data rather than on memory, and a
// path store that outgrows a small address space.
#include <fcntl.h>
#include <sys/resource.h>

#if defined(__SANITIZE_ADDRESS__)
#define DCR_E2E_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DCR_E2E_ASAN 1
#endif
#endif

namespace {

// Runs dcr in `dir` with its address space limited to `bytes`.
[[maybe_unused]] DcrRun runDcrLimited(const fs::path& dir, rlim_t bytes) {
  const std::string out = dir.string() + ".stdout", err = dir.string() + ".stderr";
  const std::string where = dir.string();
  const pid_t child = fork();
  if (child == 0) {
    const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    struct rlimit limit {
      bytes, bytes
    };
    if (o < 0 || e < 0 || in < 0 || dup2(in, 0) < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 ||
        chdir(where.c_str()) != 0 || setrlimit(RLIMIT_AS, &limit) != 0)
      _exit(127);
    execl(DCR_BINARY, DCR_BINARY, static_cast<char*>(nullptr));
    _exit(127);
  }
  DcrRun run;
  int raw = 0;
  if (child > 0 && waitpid(child, &raw, 0) == child && WIFEXITED(raw))
    run.status = WEXITSTATUS(raw);
  run.out = slurp(out);
  run.err = slurp(err);
  fs::remove(out);
  fs::remove(err);
  return run;
}

const char* const kTriangleInput = "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5\n";

void expectOneLine(const DcrRun& run) {
  EXPECT_EQ(run.out, "");
  ASSERT_FALSE(run.err.empty());
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_EQ(run.err.back(), '\n');
}

TEST(Failures, InputThatIsAFolderIsUnreadable) {
  Scratch scratch;
  fs::create_directory(scratch.dir() / "input");
  spit(scratch.dir() / "output", "YES\r\n0.5");
  expectFailure(runDcr(scratch.dir()), scratch, kExitInputUnreadable);
}

TEST(Failures, OutputThatCannotBeCreated) {
  Scratch scratch;
  spit(scratch.dir() / "input", kTriangleInput);
  fs::create_directory(scratch.dir() / "output");
  const DcrRun run = runDcr(scratch.dir());
  EXPECT_EQ(run.status, kExitOutputFailed);
  expectOneLine(run);
  EXPECT_NE(run.err.find("\"output\""), std::string::npos) << run.err;
  EXPECT_TRUE(fs::is_directory(scratch.dir() / "output"));
  EXPECT_TRUE(fs::is_empty(scratch.dir() / "output"));
}

TEST(Failures, OutputWriteThatFails) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  Scratch scratch;
  spit(scratch.dir() / "input", kTriangleInput);
  fs::create_symlink("/dev/full", scratch.dir() / "output");
  const DcrRun run = runDcr(scratch.dir());
  EXPECT_EQ(run.status, kExitOutputFailed);
  expectOneLine(run);
  EXPECT_NE(run.err.find("write"), std::string::npos) << run.err;
}

// 40 bytes that declare two billion nodes: the reader must stop at the first
// missing offset instead of making room for the lists the header promises
// (in a small address space that room would run out first).
TEST(Failures, HugeDeclaredSizeFailsOnTheMissingOffsets) {
  const std::string text = "2000000000 1\n0,0,0,0,0,0,0,0,0,0,0,0,0,\n";
  ASSERT_EQ(text.size(), 40u);
  Scratch scratch;
  spit(scratch.dir() / "input", text);
  spit(scratch.dir() / "output", "NO");
#ifdef DCR_E2E_ASAN
  const DcrRun run = runDcr(scratch.dir());
#else
  const DcrRun run = runDcrLimited(scratch.dir(), rlim_t{1} << 30);
#endif
  expectFailure(run, scratch, kExitBadInput);
  EXPECT_NE(run.err.find("14th offset"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("missing"), std::string::npos) << run.err;
}

// The complete graph on 16 nodes has about 3.5e12 paths between two nodes:
// with no hop limit they cannot be stored in 1 GiB, and the program must say
// so (how many paths it had stored, and that D is the remedy) instead of
// being killed.
TEST(Failures, PathsThatDoNotFitInMemory) {
#ifdef DCR_E2E_ASAN
  GTEST_SKIP() << "AddressSanitizer needs a large address space";
#else
  const int n = 16;
  std::string offsets, neighbours, flags;
  for (int u = 0; u <= n; ++u)
    offsets += std::to_string(u * (n - 1)) + ',';
  for (int u = 0; u < n; ++u) {
    for (int w = 0; w < n; ++w)
      if (w != u) neighbours += std::to_string(w + 1) + ',';
    flags += u < 2 ? "1," : "0,";
  }
  Scratch scratch;
  spit(scratch.dir() / "input", std::to_string(n) + ' ' + std::to_string(n * (n - 1) / 2) + '\n' +
                                    offsets + '\n' + neighbours + '\n' + flags + "\n-1 0.9 0.5\n");
  spit(scratch.dir() / "output", "YES\r\n0.5");
  const DcrRun run = runDcrLimited(scratch.dir(), rlim_t{1} << 30);
  expectFailure(run, scratch, kExitOutOfMemory);
  const std::size_t at = run.err.find(" paths stored");
  ASSERT_NE(at, std::string::npos) << run.err;
  const std::size_t digits = run.err.find_last_not_of("0123456789", at - 1) + 1;
  ASSERT_LT(digits, at) << run.err;
  EXPECT_GT(std::stoll(run.err.substr(digits, at - digits)), 0) << run.err;
  EXPECT_NE(run.err.find(" D "), std::string::npos) << run.err;
#endif
}

TEST(Answers, TextAfterTheThresholdIsIgnored) {
  Scratch scratch;
  spit(scratch.dir() / "input",
       "3 3\n0,2,4,6,\n2,3,1,3,1,2,\n1,1,0,\n2 0.5 0.5 then, 7 8 x\x01 nan -1,\n");
  const DcrRun run = runDcr(scratch.dir());
  EXPECT_EQ(run.status, kExitAnswered);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(slurp(scratch.dir() / "output"), "YES\r\n0.62500000000000000000");
}

// The reader holds the values, never the text: a problem behind 100 MB of
// blanks is answered in a 32 MiB address space, an endless stream of bytes
// that cannot start a number fails at its first byte, and values that do
// not fit fail with the out-of-memory status. Each run also proves that an
// earlier "output" is emptied first.
TEST(Failures, ReadingIsBoundedByTheValuesNotTheText) {
  Scratch scratch;
  spit(scratch.dir() / "output", "NO");
  {
    std::ofstream input(scratch.dir() / "input", std::ios::binary);
    const std::string blanks(1 << 20, ' ');
    for (int i = 0; i < 100; ++i)
      input << blanks;
    input << kTriangleInput;
  }
#ifdef DCR_E2E_ASAN
  const DcrRun padded = runDcr(scratch.dir());
#else
  const DcrRun padded = runDcrLimited(scratch.dir(), rlim_t{32} << 20);
#endif
  EXPECT_EQ(padded.status, kExitAnswered) << padded.err;
  EXPECT_EQ(slurp(scratch.dir() / "output"), "YES\r\n0.62500000000000000000");

  fs::remove(scratch.dir() / "input");
  fs::create_symlink("/dev/zero", scratch.dir() / "input");
  spit(scratch.dir() / "output", "NO");
#ifdef DCR_E2E_ASAN
  const DcrRun zeros = runDcr(scratch.dir());
#else
  const DcrRun zeros = runDcrLimited(scratch.dir(), rlim_t{1} << 30);
#endif
  expectFailure(zeros, scratch, kExitBadInput);
  EXPECT_NE(zeros.err.find("byte 0x00"), std::string::npos) << zeros.err;
}

TEST(Failures, ValuesThatDoNotFitWhileReading) {
#ifdef DCR_E2E_ASAN
  GTEST_SKIP() << "AddressSanitizer needs a large address space";
#else
  const int n = 2000000;  // 8 MB of offsets and flags, more than 16 MiB of lists
  std::string text = std::to_string(n) + " 0\n";
  text.reserve(4u * n + 64);
  for (int i = 0; i <= n; ++i)
    text += "0 ";
  for (int i = 0; i < n; ++i)
    text += "0 ";
  text += "\n1 0.5 0.5\n";
  Scratch scratch;
  spit(scratch.dir() / "input", text);
  spit(scratch.dir() / "output", "YES\r\n0.5");
  const DcrRun run = runDcrLimited(scratch.dir(), rlim_t{16} << 20);
  expectFailure(run, scratch, kExitOutOfMemory);
  EXPECT_NE(run.err.find("reading"), std::string::npos) << run.err;
#endif
}

// dcr takes no arguments for its job; --help and --version answer on
// standard output, anything else is a usage error, and none of them
// creates, empties or reads a file.
TEST(Arguments, AnswerWithoutTouchingFiles) {
  Scratch scratch;
  const DcrRun help = runDcr(scratch.dir(), "--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: dcr"), std::string::npos) << help.out;
  EXPECT_EQ(help.err, "");
  EXPECT_FALSE(fs::exists(scratch.dir() / "output"));

  spit(scratch.dir() / "input", kTriangleInput);
  spit(scratch.dir() / "output", "NO");
  const DcrRun version = runDcr(scratch.dir(), "--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, std::string("dcr ") + DCR_VERSION + "\n");
  for (const char* bad : {"-x", "input", "--help --version", "''", "--versions"}) {
    SCOPED_TRACE(bad);
    const DcrRun run = runDcr(scratch.dir(), bad);
    EXPECT_EQ(run.status, kExitUsage);
    expectOneLine(run);
    EXPECT_NE(run.err.find("usage: dcr"), std::string::npos) << run.err;
  }
  EXPECT_EQ(slurp(scratch.dir() / "output"), "NO");
}

}  // namespace
