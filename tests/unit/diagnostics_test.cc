// Messages: the three header forms for each severity, the texts filled with
// the caller's bytes, and the handling of a number missing from its table.
#include <gtest/gtest.h>

#include <string>

#include "driver/diagnostics.h"
#include "driver/run.h"
#include "driver/settings.h"

namespace {

enum Severity { ERROR, WARNING, FATAL };

struct MessageCase {
  const char* name;
  std::uint32_t flags;
  Severity severity;
  int number;
  std::string arg;
  std::string err;
};

class Message : public testing::TestWithParam<MessageCase> {};

TEST_P(Message, WritesHeaderAndText) {
  const MessageCase& c = GetParam();
  reset_run_state();
  option_flags = c.flags;
  int status = -1;
  testing::internal::CaptureStderr();
  try {
    switch (c.severity) {
      case ERROR:
        report_error(c.number, c.arg);
        break;
      case WARNING:
        report_warning(c.number, c.arg);
        break;
      case FATAL:
        report_fatal(c.number, c.arg);
        break;
    }
  } catch (const RunExit& e) {
    status = e.status;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), c.err);
  // Only an error ends the run, and always with status 4.
  EXPECT_EQ(status, c.severity == ERROR ? 4 : -1);
}

const std::string NUL_NAME("a\0b.qsm", 7);

const MessageCase message_cases[] = {
    {"error_default_header", 0, ERROR, 10, "in.qsm", "(null)(0): C2910 (E)can't open in.qsm\n"},
    {"error_tm_header", OF_TM_MESSAGES, ERROR, 10, "in.qsm",
     "(null) : C2910 (Error)can't open in.qsm\n"},
    {"error_old_header", OF_OLD_MESSAGE, ERROR, 10, "in.qsm", "Error (tarvox):can't open in.qsm\n"},
    {"error_tm_beats_old", OF_TM_MESSAGES | OF_OLD_MESSAGE, ERROR, 8, "",
     "(null) : C2908 (Error)No input file specified\n"},
    {"warning_default_header", 0, WARNING, 1, "\tfoo\n",
     "(null)(0): C1901 (W)can't analyze \tfoo\n\n"},
    {"warning_tm_header", OF_TM_MESSAGES, WARNING, 1, "x",
     "(null) : C1901 (Warning)can't analyze x\n"},
    {"warning_old_header", OF_OLD_MESSAGE, WARNING, 1, "x", "Warning (tarvox):can't analyze x\n"},
    {"warning_tm_beats_old", OF_TM_MESSAGES | OF_OLD_MESSAGE, WARNING, 1, "x",
     "(null) : C1901 (Warning)can't analyze x\n"},
    {"fatal_default_header", 0, FATAL, 2, "", "(null)(0): C3902 (F)No Match Warning Message\n"},
    {"fatal_tm_header", OF_TM_MESSAGES, FATAL, 3, "", "(null) : C3903 (Fatal)No Match Fatal Message\n"},
    {"fatal_old_header", OF_OLD_MESSAGE, FATAL, 1, "", "Fatal (tarvox):No Match Error Message\n"},
    {"fatal_tm_beats_old", OF_TM_MESSAGES | OF_OLD_MESSAGE, FATAL, 1, "",
     "(null) : C3901 (Fatal)No Match Error Message\n"},
    {"text_without_placeholder_ignores_arg", 0, ERROR, 9, "ignored",
     "(null)(0): C2909 (E)No '-o' option specified\n"},
    {"arg_is_not_read_as_format", 0, ERROR, 3, "%s%d%n%%",
     "(null)(0): C2903 (E)Ignore option '%s%d%n%%'\n"},
    {"arg_keeps_nul_bytes", 0, ERROR, 10, NUL_NAME,
     "(null)(0): C2910 (E)can't open " + NUL_NAME + "\n"},
    {"usage_text_filled", 0, ERROR, 2, "tarvox",
     "(null)(0): C2902 (E)Usage: tarvox [option...] filename...<cr>\n"},
    {"error_1", 0, ERROR, 1, "", "(null)(0): C2901 (E)can't change extension's name\n"},
    {"error_4", 0, ERROR, 4, "", "(null)(0): C2904 (E)Too many input files\n"},
    {"error_5", 0, ERROR, 5, "", "(null)(0): C2905 (E)Not enough memory\n"},
    {"error_6", 0, ERROR, 6, "-o", "(null)(0): C2906 (E)Invalid option '-o' is used\n"},
    {"error_7", 0, ERROR, 7, ".c", "(null)(0): C2907 (E)Illegal extension's name '.c'\n"},
    {"error_11", 0, ERROR, 11, "", "(null)(0): C2911 (E)No C source file specified\n"},
    {"cant_write", 0, ERROR, 12, "out.qsm", "(null)(0): C2912 (E)can't write out.qsm\n"},
    {"error_number_missing", 0, ERROR, 99, "x",
     "(null)(0): C3901 (F)No Match Error Message\n(null)(0): C2999 (E)(null)\n"},
    {"error_number_missing_tm", OF_TM_MESSAGES, ERROR, 13, "",
     "(null) : C3901 (Fatal)No Match Error Message\n(null) : C2913 (Error)(null)\n"},
    {"error_number_missing_old", OF_OLD_MESSAGE, ERROR, 0, "",
     "Fatal (tarvox):No Match Error Message\nError (tarvox):(null)\n"},
    {"warning_number_missing", 0, WARNING, 7, "x",
     "(null)(0): C3902 (F)No Match Warning Message\n(null)(0): C1907 (W)(null)\n"},
    {"fatal_number_missing_stops_after_one_level", 0, FATAL, 9, "",
     "(null)(0): C3903 (F)No Match Fatal Message\n(null)(0): C3909 (F)(null)\n"},
};

INSTANTIATE_TEST_SUITE_P(Forms, Message, testing::ValuesIn(message_cases),
                         [](const testing::TestParamInfo<MessageCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
