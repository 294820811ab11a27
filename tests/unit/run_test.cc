// The order of the run and the first-line check of the input.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/diagnostics.h"
#include "driver/run.h"
#include "driver/settings.h"

namespace {

struct LineCase {
  const char* name;
  std::string line;
  bool accepted;
};

class LanguageLine : public testing::TestWithParam<LineCase> {};

TEST_P(LanguageLine, IsJudged) {
  const LineCase& c = GetParam();
  EXPECT_EQ(is_c_language_line(c.line), c.accepted);
}

const LineCase line_cases[] = {
    {"typical_compiler_line", "\t._LANG\t'C','X.YY.ZZ','REV.A'\n", true},
    {"blank_between_directive_and_field", "._LANG 'C',anything at all\n", true},
    {"leading_blanks_and_tabs", "  \t ._LANG  \t'C',\n", true},
    {"ends_after_field_with_line_feed", "._LANG\t'C'\n", true},
    {"ends_after_field_with_crlf", "._LANG\t'C'\r\n", true},
    {"ends_after_field_without_line_end", "._LANG\t'C'", true},
    {"lone_carriage_return_stays_in_field", "._LANG\t'C'\r", false},
    {"lower_case_directive", "\t._lang\t'C',x\n", false},
    {"blank_after_field", "\t._LANG\t'C' \n", false},
    {"tab_after_field", "\t._LANG\t'C'\t\n", false},
    {"blank_before_comma", "._LANG 'C' ,x\n", false},
    {"lower_case_language", "._LANG 'c',x\n", false},
    {"other_language", "._LANG 'ASM',x\n", false},
    {"double_quotes", "._LANG \"C\",x\n", false},
    {"field_glued_to_directive", "._LANG'C',x\n", false},
    {"directive_glued_to_comma", "._LANG,'C'\n", false},
    {"longer_directive", "._LANGS 'C',x\n", false},
    {"no_field", "._LANG\n", false},
    {"empty_field", "._LANG ,'C'\n", false},
    {"empty_text", "", false},
    {"empty_line", "\n", false},
    {"nul_byte_in_field", std::string("._LANG 'C'\0,x\n", 14), false},
};

INSTANTIATE_TEST_SUITE_P(Lines, LanguageLine, testing::ValuesIn(line_cases),
                         [](const testing::TestParamInfo<LineCase>& info) {
                           return std::string(info.param.name);
                         });

std::string temp_path(const std::string& leaf) {
  return testing::TempDir() + "tarvox_run_test_" + leaf;
}

void write_file(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}

// Runs open_c_source on `path`; returns the exit status it ended with (-1
// when it passed) and the messages in `err`.
int check_path(const std::string& path, std::string* err) {
  reset_run_state();
  int status = -1;
  testing::internal::CaptureStderr();
  try {
    std::string first_line;
    std::fclose(open_c_source(path, &first_line));
  } catch (const RunExit& e) {
    status = e.status;
  }
  *err = testing::internal::GetCapturedStderr();
  return status;
}

// check_path on a file holding `bytes`.
int check_file(const std::string& leaf, const std::string& bytes, std::string* err) {
  std::string path = temp_path(leaf);
  write_file(path, bytes);
  int status = check_path(path, err);
  std::remove(path.c_str());
  return status;
}

const char NO_C_SOURCE[] = "(null)(0): C2911 (E)No C source file specified\n";

TEST(FirstLineCheck, PassesLanguageLineAndLooksNoFurther) {
  std::string err;
  EXPECT_EQ(check_file("good.qsm", "\t._LANG\t'C',x\n\tthis is ( not assembly\n", &err), -1);
  EXPECT_EQ(err, "");
}

TEST(FirstLineCheck, OnlyTheFirstLineCounts) {
  std::string err;
  EXPECT_EQ(check_file("second.qsm", "; a comment\n\t._LANG\t'C',x\n", &err), 4);
  EXPECT_EQ(err, NO_C_SOURCE);
}

TEST(FirstLineCheck, EmptyFileFails) {
  std::string err;
  EXPECT_EQ(check_file("empty.qsm", "", &err), 4);
  EXPECT_EQ(err, NO_C_SOURCE);
}

TEST(FirstLineCheck, FileEndingRightAfterFieldPasses) {
  std::string err;
  EXPECT_EQ(check_file("noeol.qsm", "._LANG 'C'", &err), -1);
  EXPECT_EQ(err, "");
}

// The check reads no more than 1022 bytes of the first line: a line whose
// field ends exactly at that limit passes whatever follows, one a byte
// longer is cut inside the field.
TEST(FirstLineCheck, JudgesOnlyTheFirst1022Bytes) {
  const std::string head = "._LANG\t'C'";
  std::string err;
  std::string at_limit = std::string(1022 - head.size(), ' ') + head + " tail\n";
  EXPECT_EQ(check_file("limit.qsm", at_limit, &err), -1);
  EXPECT_EQ(err, "");
  std::string past_limit = std::string(1023 - head.size(), ' ') + head + ",x\n";
  EXPECT_EQ(check_file("past.qsm", past_limit, &err), 4);
  EXPECT_EQ(err, NO_C_SOURCE);
}

TEST(FirstLineCheck, MissingFileCannotBeOpened) {
  std::string path = temp_path("does_not_exist.qsm");
  std::remove(path.c_str());
  std::string err;
  int status = check_path(path, &err);
  EXPECT_EQ(err, "(null)(0): C2910 (E)can't open " + path + "\n");
  EXPECT_EQ(status, 4);
}

struct RunResult {
  int status;
  std::string out;
  std::string err;
};

RunResult run(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"tarvox"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int status = run_tarvox(static_cast<int>(argv.size()), argv.data());
  std::string out = testing::internal::GetCapturedStdout();
  std::string err = testing::internal::GetCapturedStderr();
  return {status, out, err};
}

TEST(RunTarvox, ReturnsStatusInsteadOfEnding) {
  RunResult banner = run({});
  EXPECT_EQ(banner.status, 0);
  EXPECT_EQ(banner.out.substr(0, banner.out.find('\n') + 1),
            "Corvan Series Assembler Optimizer V.1.03.03.000 \n");
  RunResult version = run({"-V", "-zz"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "   Assembler Optimizer\t\tVersion 1.03.03.000 \n");
  RunResult bad = run({"in.qsm", "-o", "out.qsm", "-zz"});
  EXPECT_EQ(bad.status, 4);
  EXPECT_EQ(bad.err, "(null)(0): C2903 (E)Ignore option '-zz'\n");
}

// Each run starts from the program-start settings: options of one run do
// not leak into the next.
TEST(RunTarvox, StartsEachRunAfresh) {
  std::string missing = temp_path("missing_input.qsm");
  std::remove(missing.c_str());
  RunResult first = run({"-tm", "-Nv", "-off=1001", missing, "-o", temp_path("out.qsm")});
  EXPECT_EQ(first.status, 4);
  EXPECT_EQ(first.err, "(null) : C2910 (Error)can't open " + missing + "\n");
  RunResult second = run({missing, "-o", temp_path("out.qsm")});
  EXPECT_EQ(second.status, 4);
  EXPECT_EQ(second.err, "(null)(0): C2910 (E)can't open " + missing + "\n");
  EXPECT_EQ(option_flags & OF_NO_VOLATILE, 0u);
  EXPECT_TRUE(off_list.empty());
}

TEST(RunTarvox, FailedFirstLineWritesNoOutput) {
  std::string input = temp_path("not_c.qsm");
  std::string output = temp_path("not_c_out.qsm");
  write_file(input, "\t._LANG\t'ASM'\n\tnop\n");
  std::remove(output.c_str());
  RunResult r = run({input, "-o", output});
  EXPECT_EQ(r.status, 4);
  EXPECT_EQ(r.err, NO_C_SOURCE);
  std::FILE* f = std::fopen(output.c_str(), "r");
  EXPECT_EQ(f, nullptr);
  if (f) std::fclose(f);
  std::remove(input.c_str());
}

}  // namespace
