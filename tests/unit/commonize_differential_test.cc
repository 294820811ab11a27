// The fast commonization search against the plain one. Whole runs from
// generate_run (fuzz/generate.h), once with each search, must write the same
// bytes; TARVOX_DIFF_FILES sets how many (2000 by default, 500 under the
// address sanitizer). And every commonization case of the end-to-end suite,
// run here with the plain search, must write what the case expects of the
// fast one.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "commonize/commonize.h"
#include "driver/diagnostics.h"
#include "driver/options.h"
#include "driver/run.h"
#include "generate.h"
#include "test_files.h"
#include "optimizer/pipeline.h"
#include "optimizer/units.h"
#include "output/writer.h"
#include "source/reader.h"

namespace {

// Under the sanitizers a run takes many times longer: fewer files there by
// default.
#if defined(__SANITIZE_ADDRESS__)
constexpr int DEFAULT_FILES = 500;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int DEFAULT_FILES = 500;
#else
constexpr int DEFAULT_FILES = 2000;
#endif
#else
constexpr int DEFAULT_FILES = 2000;
#endif

int file_count() {
  const char* n = std::getenv("TARVOX_DIFF_FILES");
  return n ? std::atoi(n) : DEFAULT_FILES;
}

struct Result {
  int status = 0;
  std::string output;
};

std::vector<const char*> argv_of(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  return argv;
}

// Several units, which the command line does not allow but the run
// supports: read one after the other, optimised in order (the section names
// carry over from one to the next), and each rendered.
Result run_units(const GeneratedRun& run) {
  static const char* const names[] = {"unit1.qsm", "unit2.qsm", "unit3.qsm"};
  reset_run_state();
  std::vector<std::string> args = {"tarvox", names[0], "-o", "out.qsm"};
  args.insert(args.end(), run.options.begin(), run.options.end());
  std::vector<const char*> argv = argv_of(args);
  Result result;
  try {
    parse_command_line(static_cast<int>(args.size()), argv.data());
    for (std::size_t i = 0; i < run.units.size(); ++i) add_source_unit(names[i], read_source_text(run.units[i]));
    optimize_units(first_source_unit());
    for (const SourceUnit* u = first_source_unit(); u; u = u->next)
      result.output += render_statements(u->first_statement) + "\f\n";
  } catch (const RunExit& exit) {
    result.status = exit.status;
  }
  reset_run_state();
  return result;
}

Result run_with(const std::string& dir, const GeneratedRun& run, bool plain) {
  use_plain_search(plain);
  Result result;
  if (run.units.size() == 1)
    result.status = run_in_process(dir, run.units[0], run.options, result.output);
  else
    result = run_units(run);
  use_plain_search(false);
  return result;
}

std::string describe(const GeneratedRun& run) {
  std::string text = "options:";
  for (const std::string& o : run.options) text += " " + o;
  return text;
}

TEST(CommonizeDifferential, FastSearchWritesWhatThePlainSearchWrites) {
  ScratchDir scratch("tarvox_differential");
  ASSERT_FALSE(scratch.path.empty());
  const char* name = scratch.path.c_str();
  int shared = 0;
  int compared = 0;
  for (int seed = 1; seed <= file_count(); ++seed) {
    GeneratedRun run = generate_run(static_cast<std::uint64_t>(seed));
    Result fast = run_with(name, run, false);
    Result plain = run_with(name, run, true);
    ASSERT_EQ(fast.status, plain.status) << "seed " << seed << ", " << describe(run);
    ASSERT_EQ(fast.output, plain.output) << "seed " << seed << ", " << describe(run);
    if (plain.output.find("_Tarvox_") != std::string::npos) ++shared;
    ++compared;
  }
  reset_run_state();
  EXPECT_EQ(compared, file_count());
  // The files must give the searches something to find.
  EXPECT_GE(shared, compared / 4);
}

// The cases are run in a copy of their folder, after their setup.sh, with
// the arguments of their args file, as the end-to-end runner runs them.
TEST(CommonizeDifferential, PlainSearchWritesWhatEveryCommonizeCaseExpects) {
  namespace fs = std::filesystem;
  ScratchDir scratch("tarvox_plain_cases");
  ASSERT_FALSE(scratch.path.empty());
  const std::string& name = scratch.path;
  const fs::path home = fs::current_path();
  setenv("E2E_CASES", TARVOX_E2E_DIR, 1);
  int cases = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(TARVOX_E2E_DIR)) {
    std::string case_name = entry.path().filename().string();
    if (case_name.rfind("commonize_", 0) != 0) continue;
    fs::path dir = fs::path(name) / case_name;
    fs::copy(entry.path(), dir, fs::copy_options::recursive);
    if (fs::exists(dir / "setup.sh")) {
      ASSERT_EQ(std::system(("cd '" + dir.string() + "' && ./setup.sh").c_str()), 0) << case_name;
    }
    std::vector<std::string> args = {"tarvox"};
    std::istringstream lines(read_file(dir / "args"));
    for (std::string arg; std::getline(lines, arg);) args.push_back(arg);
    std::vector<const char*> argv = argv_of(args);
    fs::current_path(dir);
    use_plain_search(true);
    testing::internal::CaptureStderr();
    int status = run_tarvox(static_cast<int>(args.size()), argv.data());
    testing::internal::GetCapturedStderr();
    use_plain_search(false);
    fs::current_path(home);
    EXPECT_EQ(status, 0) << case_name;
    EXPECT_EQ(read_file(dir / "out.qsm"), read_file(dir / "expected.out")) << case_name;
    ++cases;
  }
  EXPECT_GE(cases, 40);
}

}  // namespace
