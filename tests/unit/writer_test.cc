// Permissions around the output: an existing output the user may not write
// is error 10 before anything is written, even where a new file could be
// renamed over it; in a directory where the user can make no file a
// writable output is written in place and a new one is error 10; in a
// sticky directory an output of another user is written in place. The
// end-to-end cases run as whoever runs the tests, often root, whom no
// permission stops; here a root run takes the identity of "nobody" for the
// run itself.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/run.h"
#include "test_files.h"

namespace {

void write_file(const std::string& name, const std::string& text, mode_t mode) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs(text.c_str(), f);
  std::fclose(f);
  chmod(name.c_str(), mode);
}

// Runs as "nobody" for its lifetime when the tests run as root.
struct UnprivilegedRun {
  bool was_root = geteuid() == 0;
  UnprivilegedRun() {
    if (was_root && seteuid(65534) != 0) was_root = false;
  }
  ~UnprivilegedRun() {
    if (was_root && seteuid(0) != 0) std::abort();
  }
};

struct PermissionCase {
  const char* name;
  mode_t dir_mode;
  int output_mode;  // -1: no output file yet
  int status;
  bool error_ten;
  bool output_written;
};

const PermissionCase permission_cases[] = {
    {"read_only_output_in_open_directory_is_error_ten", 0777, 0444, 4, true, false},
    {"read_only_output_in_closed_directory_is_error_ten", 0555, 0444, 4, true, false},
    {"writable_output_in_closed_directory_is_written_in_place", 0555, 0666, 0, false, true},
    {"new_output_in_closed_directory_is_error_ten", 0555, -1, 4, true, false},
    {"writable_output_in_sticky_directory_is_written", 01777, 0666, 0, false, true},
};

class OutputPermissions : public testing::TestWithParam<PermissionCase> {};

TEST_P(OutputPermissions, Decide) {
  const PermissionCase& c = GetParam();
  ScratchDir scratch("tarvox_writer");
  ASSERT_FALSE(scratch.path.empty());
  const std::string& dir = scratch.path;
  std::string input = dir + "/in.qsm", output = dir + "/out.qsm";
  const std::string input_text = "\t._LANG\t'C',1\n\tnop\n", old_text = "written by an earlier run\n";
  write_file(input, input_text, 0644);
  if (c.output_mode >= 0) write_file(output, old_text, static_cast<mode_t>(c.output_mode));
  chmod(dir.c_str(), c.dir_mode);

  std::vector<const char*> argv = {"tarvox", input.c_str(), "-o", output.c_str()};
  testing::internal::CaptureStderr();
  int status;
  {
    UnprivilegedRun as_nobody;
    status = run_tarvox(static_cast<int>(argv.size()), argv.data());
  }
  std::string err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(status, c.status);
  EXPECT_EQ(err, c.error_ten ? "(null)(0): C2910 (E)can't open " + output + "\n" : "");
  std::string expected = c.output_written ? input_text : c.output_mode >= 0 ? old_text : "";
  EXPECT_EQ(read_file(output), expected);
  chmod(dir.c_str(), 0755);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir),
                          std::filesystem::directory_iterator()),
            c.output_mode >= 0 ? 2 : 1);
}

INSTANTIATE_TEST_SUITE_P(Cases, OutputPermissions, testing::ValuesIn(permission_cases),
                         [](const testing::TestParamInfo<PermissionCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
