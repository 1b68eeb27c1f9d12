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

// A fresh folder, removed with everything in it at the end of the test.
class Scratch {
 public:
  Scratch() {
    std::string name = (fs::temp_directory_path() / "dcr-e2e-XXXXXX").string();
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = name;
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

struct DcrRun {
  int status = -1;
  std::string out, err;
};

// Runs dcr with `dir` as its working directory; its console output is kept
// beside the folder so that it cannot be mistaken for the program's files.
DcrRun runDcr(const fs::path& dir) {
  const fs::path out = dir.string() + ".stdout", err = dir.string() + ".stderr";
  const std::string command = "cd '" + dir.string() + "' && '" DCR_BINARY "' </dev/null >'" +
                              out.string() + "' 2>'" + err.string() + "'";
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
