// Messages: the three header forms of errors and warnings, the texts of the
// messages the program writes, filled with the caller's bytes, and the
// report of a number missing from its table.
#include <gtest/gtest.h>

#include <string>

#include "driver/diagnostics.h"
#include "driver/run.h"
#include "driver/settings.h"

namespace {

enum Severity { ERROR, WARNING };

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
    {"text_without_placeholder_ignores_arg", 0, ERROR, 9, "ignored",
     "(null)(0): C2909 (E)No '-o' option specified\n"},
    {"arg_is_not_read_as_format", 0, ERROR, 3, "%s%d%n%%",
     "(null)(0): C2903 (E)Ignore option '%s%d%n%%'\n"},
    {"arg_keeps_nul_bytes", 0, ERROR, 10, NUL_NAME,
     "(null)(0): C2910 (E)can't open " + NUL_NAME + "\n"},
    {"error_5", 0, ERROR, 5, "", "(null)(0): C2905 (E)Not enough memory\n"},
    {"error_6", 0, ERROR, 6, "-o", "(null)(0): C2906 (E)Invalid option '-o' is used\n"},
    {"error_7", 0, ERROR, 7, ".c", "(null)(0): C2907 (E)Illegal extension's name '.c'\n"},
    {"cant_write", 0, ERROR, 12, "out.qsm", "(null)(0): C2912 (E)can't write out.qsm\n"},
    // A number missing from its table is reported as a fatal "No Match"
    // message first: the guard for a caller's wrong number.
    {"error_number_missing", 0, ERROR, 99, "x",
     "(null)(0): C3901 (F)No Match Error Message\n(null)(0): C2999 (E)(null)\n"},
    {"warning_number_missing_tm", OF_TM_MESSAGES, WARNING, 7, "x",
     "(null) : C3902 (Fatal)No Match Warning Message\n(null) : C1907 (Warning)(null)\n"},
};

INSTANTIATE_TEST_SUITE_P(Forms, Message, testing::ValuesIn(message_cases),
                         [](const testing::TestParamInfo<MessageCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
