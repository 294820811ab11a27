// The command line: which rule each argument meets, what it leaves in the
// settings, and which problem check_command_line reports first.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/diagnostics.h"
#include "driver/options.h"
#include "driver/run.h"
#include "driver/settings.h"

namespace {

constexpr std::uint32_t START_FLAGS = OF_OUTPUT_ARG_OK | OF_OFF_ARG_OK | OF_NO_BTSTC;
constexpr int WENT_ON = -1;

const char BANNER[] =
    "Corvan Series Assembler Optimizer V.1.03.03.000 \n"
    "Copyright (C) The tarvox developers.\n"
    "Made for the tool chain of the Corvan C compiler.\n"
    "This program is distributed without any warranty.\n\n";
const char VERSION[] = "   Assembler Optimizer\t\tVersion 1.03.03.000 \n";

struct Outcome {
  int status;  // WENT_ON when parse_command_line returned
  std::string out;
  std::string err;
};

Outcome parse(const std::vector<std::string>& args) {
  reset_run_state();
  std::vector<const char*> argv{"tarvox"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  Outcome o{WENT_ON, {}, {}};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  try {
    parse_command_line(static_cast<int>(argv.size()), argv.data());
  } catch (const RunExit& e) {
    o.status = e.status;
  }
  o.out = testing::internal::GetCapturedStdout();
  o.err = testing::internal::GetCapturedStderr();
  return o;
}

std::string error_line(int header_number, const std::string& text) {
  return "(null)(0): C" + std::to_string(header_number) + " (E)" + text + "\n";
}

// Command lines that let the run go on, and the settings they leave.
struct AcceptedCase {
  const char* name;
  std::vector<std::string> args;
  std::uint32_t flags;
  std::vector<std::int32_t> off;
  std::int32_t min_length;
  std::string output = "out.qsm";
  std::string input = "in.qsm";
};

class AcceptedCommandLine : public testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedCommandLine, LeavesSettings) {
  const AcceptedCase& c = GetParam();
  Outcome o = parse(c.args);
  ASSERT_EQ(o.status, WENT_ON) << o.err;
  EXPECT_EQ(o.out, "");
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(option_flags, c.flags);
  EXPECT_EQ(off_list, c.off);
  EXPECT_EQ(min_common_length, c.min_length);
  EXPECT_EQ(std::string(output_name), c.output);
  ASSERT_NE(input_files, nullptr);
  EXPECT_EQ(std::string(input_files->name), c.input);
  EXPECT_EQ(input_files->next, nullptr);
}

const std::vector<std::string> IO = {"in.qsm", "-o", "out.qsm"};

std::vector<std::string> with_io(std::vector<std::string> args) {
  args.insert(args.end(), IO.begin(), IO.end());
  return args;
}

const AcceptedCase accepted_cases[] = {
    {"input_and_output_only", IO, START_FLAGS, {}, 4},
    {"output_before_input", {"-o", "out.qsm", "in.qsm"}, START_FLAGS, {}, 4},
    {"qsm_anywhere_in_name_is_input", {"dir/prog.qsm.bak", "-o", "out"}, START_FLAGS, {}, 4, "out",
     "dir/prog.qsm.bak"},
    {"capital_O_takes_next_as_output_not_input", {"in.qsm", "-O", "x.qsm"}, START_FLAGS, {}, 4, "x.qsm"},
    {"last_o_gives_name", {"in.qsm", "-o", "a.qsm", "-o", "b.qsm"}, START_FLAGS, {}, 4, "b.qsm"},
    {"name_after_o_is_not_examined", {"in.qsm", "-o", "-V"}, START_FLAGS, {}, 4, "-V"},
    {"all_in_any_case_has_no_effect", with_io({"-ALL", "-all", "-aLl"}), START_FLAGS, {}, 4},
    {"nvolatile_long", with_io({"-Nvolatile"}), START_FLAGS | OF_NO_VOLATILE, {}, 4},
    {"nvolatile_short_any_case", with_io({"-nV"}), START_FLAGS | OF_NO_VOLATILE, {}, 4},
    {"dparse_any_case", with_io({"-DParse"}), START_FLAGS | OF_DPARSE, {}, 4},
    {"off_as_three_arguments", with_io({"-off", "=", "1005"}), START_FLAGS, {1005}, 4},
    {"off_word_ignores_case", with_io({"-OfF", "=", "1005"}), START_FLAGS, {1005}, 4},
    {"off_joined_lower", with_io({"-off=1005"}), START_FLAGS, {1005}, 4},
    {"off_joined_upper", with_io({"-OFF=1005"}), START_FLAGS, {1005}, 4},
    {"off_values_accumulate", with_io({"-off=1001", "-off", "=", "1011", "-OFF=7"}), START_FLAGS,
     {1001, 1011, 7}, 4},
    {"malformed_off_then_good_off", with_io({"-off=abc", "-off=1001"}), START_FLAGS, {1001}, 4},
    {"spaced_off_empty_number_is_zero", with_io({"-off", "=", ""}), START_FLAGS, {0}, 4},
    {"off_value_clamped", with_io({"-off=99999999999999999999"}), START_FLAGS, {2147483647}, 4},
    {"spaced_off_value_clamped", with_io({"-off", "=", "2147483648"}), START_FLAGS, {2147483647}, 4},
    {"off_leading_zeros", with_io({"-off=0001005"}), START_FLAGS, {1005}, 4},
    {"obtstc_clears_no_btstc", with_io({"-OBTSTC"}), OF_OUTPUT_ARG_OK | OF_OFF_ARG_OK, {}, 4},
    {"o5_clears_no_btstc", with_io({"-o5"}), OF_OUTPUT_ARG_OK | OF_OFF_ARG_OK, {}, 4},
    {"o5_then_off_btst_leaves_it_set", with_io({"-O5", "-off_btst"}), START_FLAGS, {}, 4},
    {"off_btstc_then_o5_clears_it", with_io({"-OFF_BTSTC", "-O5"}), OF_OUTPUT_ARG_OK | OF_OFF_ARG_OK, {}, 4},
    {"o5oa_is_not_o5", with_io({"-O5OA"}), START_FLAGS | OF_O5_OFF_ABSMOD, {}, 4},
    {"o5_off_absmod_any_case", with_io({"-o5_OFF_absmod"}), START_FLAGS | OF_O5_OFF_ABSMOD, {}, 4},
    {"tm_any_case", with_io({"-Tm"}), START_FLAGS | OF_TM_MESSAGES, {}, 4},
    {"om_short", with_io({"-om"}), START_FLAGS | OF_OLD_MESSAGE, {}, 4},
    {"old_message_long", with_io({"-old_message"}), START_FLAGS | OF_OLD_MESSAGE, {}, 4},
    {"fcout_any_case", with_io({"-FCOUT"}), START_FLAGS | OF_FCOUT, {}, 4},
    {"osa_short", with_io({"-osa"}), START_FLAGS | OF_SP_ADJUST, {}, 4},
    {"sp_adjust_long", with_io({"-OSP_ADJUST"}), START_FLAGS | OF_SP_ADJUST, {}, 4},
    {"finfo_any_case", with_io({"-FInfo"}), START_FLAGS | OF_FINFO, {}, 4},
    {"fl_number", with_io({"-fl=6"}), START_FLAGS, {}, 6},
    {"fl_not_a_number_gives_four", with_io({"-fl=6", "-fl=x"}), START_FLAGS, {}, 4},
    {"fl_empty_gives_zero", with_io({"-fl="}), START_FLAGS, {}, 0},
    {"fl_clamped", with_io({"-fl=4294967296"}), START_FLAGS, {}, 2147483647},
};

INSTANTIATE_TEST_SUITE_P(Rules, AcceptedCommandLine, testing::ValuesIn(accepted_cases),
                         [](const testing::TestParamInfo<AcceptedCase>& info) {
                           return std::string(info.param.name);
                         });

// Command lines that end the run: the banner, the version text, or the
// first problem in check_command_line's order.
struct EndingCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out;
  std::string err;
};

class EndingCommandLine : public testing::TestWithParam<EndingCase> {};

TEST_P(EndingCommandLine, EndsTheRun) {
  const EndingCase& c = GetParam();
  Outcome o = parse(c.args);
  EXPECT_EQ(o.status, c.status);
  EXPECT_EQ(o.out, c.out);
  EXPECT_EQ(o.err, c.err);
}

const EndingCase ending_cases[] = {
    {"no_argument_prints_banner", {}, 0, BANNER, ""},
    {"capital_v_prints_version", {"-V"}, 0, VERSION, ""},
    {"version_wins_over_every_problem", {"-zz", "foo.c", "a.qsm", "b.qsm", "-off=x", "-V", "-o"},
     0, VERSION, ""},
    {"version_after_malformed_spaced_off", {"-off", "=", "-V"}, 0, VERSION, ""},
    {"lower_v_is_an_unknown_option", with_io({"-v"}), 4, "", error_line(2903, "Ignore option '-v'")},
    {"first_unknown_option_is_reported", with_io({"-zz", "-yy"}), 4, "",
     error_line(2903, "Ignore option '-zz'")},
    {"unknown_option_after_malformed_off", with_io({"-off=x", "-zz"}), 4, "",
     error_line(2903, "Ignore option '-zz'")},
    {"off_prefix_is_exact", with_io({"-Off=1005"}), 4, "", error_line(2903, "Ignore option '-Off=1005'")},
    {"fl_prefix_is_exact", with_io({"-FL=6"}), 4, "", error_line(2903, "Ignore option '-FL=6'")},
    {"off_without_equals_leaves_number_to_rules", with_io({"-off", "1005"}), 4, "",
     error_line(2903, "Ignore option '1005'")},
    {"spaced_off_bad_number_is_examined", with_io({"-off", "=", "12a"}), 4, "",
     error_line(2903, "Ignore option '12a'")},
    {"unknown_option_beats_second_input", {"a.qsm", "b.qsm", "-zz"}, 4, "",
     error_line(2903, "Ignore option '-zz'")},
    {"second_input_ends_silently", {"a.qsm", "b.qsm", "-o", "out.qsm"}, 4, "", ""},
    {"second_input_beats_output_and_extension", {"a.qsm", "b.qsm", "x.c", "-o"}, 4, "", ""},
    {"o_as_last_argument", {"in.qsm", "-o"}, 4, "", error_line(2906, "Invalid option '-o' is used")},
    {"o_missing_name_beats_malformed_off", {"in.qsm", "-off=x", "x.c", "-o"}, 4, "",
     error_line(2906, "Invalid option '-o' is used")},
    {"o_last_beats_no_input", {"-o", "in.qsm", "-o"}, 4, "", error_line(2906, "Invalid option '-o' is used")},
    {"off_equals_empty", with_io({"-off="}), 4, "", error_line(2906, "Invalid option '-off' is used")},
    {"off_not_digits", with_io({"-off=10x5"}), 4, "", error_line(2906, "Invalid option '-off' is used")},
    {"off_negative", with_io({"-OFF=-5"}), 4, "", error_line(2906, "Invalid option '-off' is used")},
    {"off_word_last", {"in.qsm", "-o", "out.qsm", "-off"}, 4, "",
     error_line(2906, "Invalid option '-off' is used")},
    {"off_equals_last", {"in.qsm", "-o", "out.qsm", "-off", "="}, 4, "",
     error_line(2906, "Invalid option '-off' is used")},
    {"good_off_then_malformed_off", with_io({"-off=1001", "-off=x"}), 4, "",
     error_line(2906, "Invalid option '-off' is used")},
    {"malformed_off_beats_extension", with_io({"x.c", "-off=x"}), 4, "",
     error_line(2906, "Invalid option '-off' is used")},
    {"extension_from_first_dot", with_io({"foo.c"}), 4, "",
     error_line(2907, "Illegal extension's name '.c'")},
    {"extension_with_two_dots", with_io({"a.b.c"}), 4, "",
     error_line(2907, "Illegal extension's name '.b.c'")},
    {"upper_case_qsm_is_not_input", with_io({"FOO.QSM"}), 4, "",
     error_line(2907, "Illegal extension's name '.QSM'")},
    {"last_bad_extension_is_reported", with_io({"a.c", "b.d"}), 4, "",
     error_line(2907, "Illegal extension's name '.d'")},
    {"extension_beats_no_input", {"foo.c", "-o", "out.qsm"}, 4, "",
     error_line(2907, "Illegal extension's name '.c'")},
    {"no_input", {"-o", "out.qsm"}, 4, "", error_line(2908, "No input file specified")},
    {"no_input_beats_no_output", {"-finfo"}, 4, "", error_line(2908, "No input file specified")},
    {"no_output", {"in.qsm"}, 4, "", error_line(2909, "No '-o' option specified")},
    {"tm_header", {"-tm", "-zz"}, 4, "", "(null) : C2903 (Error)Ignore option '-zz'\n"},
    {"old_message_header", {"-OLD_MESSAGE", "-zz"}, 4, "", "Error (tarvox):Ignore option '-zz'\n"},
    {"tm_beats_old_message", {"-OM", "-TM", "-zz"}, 4, "", "(null) : C2903 (Error)Ignore option '-zz'\n"},
};

INSTANTIATE_TEST_SUITE_P(Rules, EndingCommandLine, testing::ValuesIn(ending_cases),
                         [](const testing::TestParamInfo<EndingCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(CommandLine, KeepsEveryOffValueBeyondAHundred) {
  std::vector<std::string> args = IO;
  for (int i = 0; i < 150; ++i) args.push_back("-off=" + std::to_string(2000 + i));
  args.push_back("-off=1005");
  Outcome o = parse(args);
  ASSERT_EQ(o.status, WENT_ON) << o.err;
  ASSERT_EQ(off_list.size(), 151u);
  EXPECT_EQ(off_list.front(), 2000);
  EXPECT_EQ(off_list.back(), 1005);
}

TEST(CommandLine, ArgumentOfAnyLengthIsKeptWhole) {
  std::string long_name(100000, 'x');
  long_name += ".qsm";
  std::string long_output(70000, 'y');
  Outcome o = parse({long_name, "-o", long_output});
  ASSERT_EQ(o.status, WENT_ON) << o.err.substr(0, 200);
  EXPECT_EQ(std::string(input_files->name), long_name);
  EXPECT_EQ(std::string(output_name), long_output);
}

TEST(CommandLine, LongUnknownOptionIsReportedWhole) {
  std::string option = "-" + std::string(5000, 'q');
  Outcome o = parse(with_io({option}));
  EXPECT_EQ(o.status, 4);
  EXPECT_EQ(o.err, error_line(2903, "Ignore option '" + option + "'"));
}

// An input name the program could not keep for want of memory (no command
// line can bring that about here, so the problem bit is set directly): error
// 5, after an unknown option and a second input file.
TEST(CommandLine, LostInputNameIsErrorFiveAfterUnknownOptionAndSecondInput) {
  const std::pair<std::uint32_t, std::string> cases[] = {
      {CS_INPUT_NOMEM, error_line(2905, "Not enough memory")},
      {CS_INPUT_NOMEM | CS_EXTRA_INPUT, ""},
      {CS_INPUT_NOMEM | CS_BAD_OPTION, error_line(2903, "Ignore option '-zz'")},
  };
  for (const auto& [state, err] : cases) {
    reset_run_state();
    cmdline_state = state;
    option_flags = START_FLAGS;
    bad_option_arg = "-zz";
    int status = WENT_ON;
    testing::internal::CaptureStderr();
    try {
      check_command_line();
    } catch (const RunExit& e) {
      status = e.status;
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), err) << state;
    EXPECT_EQ(status, 4) << state;
  }
}

}  // namespace
