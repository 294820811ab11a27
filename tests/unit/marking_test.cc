// The preparatory walks: the flags each statement of a small file ends with
// after the whole marking sequence, and the same flags again after a second
// run over statements that still carry stale flags.
#include "optimizer/marking.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "driver/settings.h"
#include "generate.h"
#include "optimizer/pipeline.h"
#include "optimizer/units.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

constexpr std::uint32_t ENTRY = SF_FUNC_ENTRY;
constexpr std::uint32_t END = SF_END_LABEL;
constexpr std::uint32_t IN = SF_IN_FUNCTION;
constexpr std::uint32_t M = SF_M_LABEL;
constexpr std::uint32_t L = SF_L_LABEL;
constexpr std::uint32_t RET = SF_RETURN_ONLY;
constexpr std::uint32_t ASM = SF_INLINE_ASM;
constexpr std::uint32_t NOOPT = SF_NO_OPT;
constexpr std::uint32_t COND = SF_CONDITIONAL;

// Every flag some marking walk owns.
constexpr std::uint32_t OWNED = ENTRY | END | IN | M | L | RET | ASM | NOOPT | COND;

constexpr const char* LANG_LINE = "\t._LANG\t'C','1.00.00'\n";

struct Line {
  const char* text;  // without its newline
  std::uint32_t flags;
};

struct MarkingCase {
  const char* name;
  std::vector<Line> lines;
};

void PrintTo(const MarkingCase& c, std::ostream* os) { *os << c.name; }

// The file of a case: the language line, then the case's lines.
std::vector<Statement*> read_lines(const std::vector<Line>& lines) {
  std::string source = LANG_LINE;
  for (const Line& line : lines) source += std::string(line.text) + "\n";
  std::vector<Statement*> statements;
  for (Statement* s = read_source_text(source); s; s = s->next) statements.push_back(s);
  return statements;
}

void run_marking(Statement* first) {
  mark_unit_structure(first);
}

void expect_flags(const std::vector<Statement*>& statements, const std::vector<Line>& lines,
                  const char* when) {
  ASSERT_EQ(statements.size(), lines.size() + 1);
  EXPECT_EQ(statements[0]->flags, 0u) << when;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::uint32_t got = statements[i + 1]->flags;
    EXPECT_EQ(got, lines[i].flags) << when << ", line " << i + 1 << " \"" << lines[i].text << "\": expected 0x"
                                   << std::hex << lines[i].flags << ", got 0x" << got;
  }
}

class MarkingFlags : public testing::TestWithParam<MarkingCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(MarkingFlags, EachStatementEndsWithItsFlags) {
  const MarkingCase& c = GetParam();
  std::vector<Statement*> statements = read_lines(c.lines);
  run_marking(statements[0]);
  expect_flags(statements, c.lines, "first run");

  // Each walk owns its flag: stale values of every owned flag are cleared or
  // set again, so a second run gives the same picture.
  for (Statement* s : statements) s->flags |= OWNED;
  run_marking(statements[0]);
  expect_flags(statements, c.lines, "second run over stale flags");
}

const MarkingCase marking_cases[] = {
    {"function_body_runs_from_entry_to_end_label",
     {{"\t.section\tprogram,CODE", 0},
      {"\t.glb\t_f", 0},
      {"_f:", ENTRY | IN},
      {"\tmov.w\t#1,R0", IN},
      {"\trts", IN},
      {"E1:", END | IN},
      {"\tnop", 0}}},
    {"one_rvector_line_may_stand_before_the_entry",
     {{"\t.glb\t_h", 0}, {"\t.rvector\t3,_h", 0}, {"_h:", ENTRY | IN}, {"\tnop", IN}, {"E2:", END | IN}}},
    {"comment_between_glb_and_label_means_no_entry",
     {{"\t.glb\t_f", 0}, {"; the function", 0}, {"_f:", 0}, {"\tnop", 0}, {"E1:", END}}},
    {"glb_of_another_name_means_no_entry", {{"\t.glb\t_g", 0}, {"_f:", 0}, {"\tnop", 0}, {"E1:", END}}},
    {"entry_without_end_label_before_next_entry_has_no_body",
     {{"\t.glb\t_f", 0},
      {"_f:", ENTRY},
      {"\tnop", 0},
      {"\t.glb\t_g", 0},
      {"_g:", ENTRY | IN | RET},
      {"\trts", IN},
      {"E1:", END | IN}}},
    {"entry_without_end_label_before_end_of_unit_has_no_body",
     {{"\t.glb\t_f", 0}, {"_f:", ENTRY}, {"\tnop", 0}, {"\trts", 0}}},
    {"body_of_comments_line_information_and_rts_is_return_only",
     {{"\t.glb\t_f", 0},
      {"_f:", ENTRY | IN | RET},
      {"\t._line\t12", IN},
      {"; return", IN},
      {"\trts", IN},
      {"E1:", END | IN}}},
    {"nop_before_rts_is_not_return_only",
     {{"\t.glb\t_f", 0}, {"_f:", ENTRY | IN}, {"\tnop", IN}, {"\trts", IN}, {"E1:", END | IN}}},
    {"body_without_rts_is_not_return_only",
     {{"\t.glb\t_f", 0}, {"_f:", ENTRY | IN}, {"\t._line\t3", IN}, {"E1:", END | IN}}},
    {"label_line_in_body_ends_return_only_test",
     {{"\t.glb\t_f", 0}, {"_f:", ENTRY | IN}, {"L1:", L | IN}, {"\trts", IN}, {"E1:", END | IN}}},
    {"labels_of_the_m_l_and_e_families",
     {{"M1:", M}, {"L2:", L}, {"L3:\tnop", 0}, {"E4:\trts", 0}, {"e5:", 0}, {"E6:", END}, {"_x:", 0}}},
    {"inline_asm_block_includes_both_marker_lines",
     {{"\tnop", 0},
      {";#### ASM START", ASM},
      {"\tmov.w\tR0,R1", ASM},
      {";#### ASM END", ASM},
      {"\tnop", 0}}},
    {"inline_asm_markers_ignore_letter_case",
     {{";#### asm start", ASM}, {"\tnop", ASM}, {";#### Asm End", ASM}, {"\tnop", 0}}},
    {"inline_asm_marker_with_leading_blank_does_not_count",
     {{" ;#### ASM START", 0}, {"\tnop", 0}, {";#### ASM END", 0}}},
    {"inline_asm_start_without_end_reaches_end_of_unit",
     {{"\tnop", 0}, {";#### ASM START", ASM}, {"\tnop", ASM}, {"; more", ASM}}},
    {"e_label_inside_inline_asm_is_not_a_function_end",
     {{"\t.glb\t_f", 0},
      {"_f:", ENTRY | IN},
      {";#### ASM START", ASM | IN},
      {"Eloop:", ASM | IN},
      {"\tjmp\tEloop", ASM | IN},
      {";#### ASM END", ASM | IN},
      {"\trts", IN},
      {"E1:", END | IN}}},
    {"tarvox_off_region_ends_before_on_line",
     {{"\tnop", 0},
      {"\t._tarvox\tOFF", NOOPT},
      {"\tnop", NOOPT},
      {"\t._tarvox\tOFF", NOOPT},
      {"\t._tarvox\tON", 0},
      {"\tnop", 0},
      {"\t._tarvox\toff", 0},
      {"\tnop", 0}}},
    {"nested_if_region_ends_at_its_own_endif",
     {{"\t.if\tDEBUG", NOOPT | COND},
      {"\t.if\tTRACE", NOOPT | COND},
      {"\tnop", NOOPT | COND},
      {"\t.endif", NOOPT | COND},
      {"\tnop", NOOPT | COND},
      {"\t.endif", 0},
      {"\tnop", 0}}},
    {"else_does_not_end_an_if_region",
     {{"\t.if\tDEBUG", NOOPT | COND},
      {"\tnop", NOOPT | COND},
      {"\t.else", NOOPT | COND},
      {"\tnop", NOOPT | COND},
      {"\t.endif", 0}}},
    {"stray_endif_does_not_close_a_later_if",
     {{"\t.endif", 0}, {"\t.if\tDEBUG", NOOPT | COND}, {"\tnop", NOOPT | COND}, {"\t.endif", 0}, {"\tnop", 0}}},
    {"macro_body_is_conditional_code",
     {{"mac\t.macro", NOOPT | COND}, {"\tnop", NOOPT | COND}, {"\t.endm", 0}, {"\tnop", 0}}},
    {"mrepeat_body_is_conditional_code",
     {{"\t.mrepeat\t3", NOOPT | COND}, {"\tnop", NOOPT | COND}, {"\t.endr", 0}, {"\tnop", 0}}},
    {"closer_of_another_kind_leaves_a_region_open",
     {{"\t.mrepeat\t2", NOOPT | COND}, {"\t.endif", NOOPT | COND}, {"\tnop", NOOPT | COND}, {"\t.endr", 0}}},
    {"if_inside_tarvox_off_region_alone_is_conditional",
     {{"\t._tarvox\tOFF", NOOPT},
      {"\t.if\tDEBUG", NOOPT | COND},
      {"\tnop", NOOPT | COND},
      {"\t.endif", NOOPT},
      {"\t._tarvox\tON", 0}}},
};

INSTANTIATE_TEST_SUITE_P(Walks, MarkingFlags, testing::ValuesIn(marking_cases),
                         [](const testing::TestParamInfo<MarkingCase>& info) { return info.param.name; });

class Marking : public testing::Test {
 protected:
  void SetUp() override { reset_run_state(); }
};

Statement* read_file(const std::string& body) { return read_source_text(LANG_LINE + body); }

TEST_F(Marking, EndLabelOnlyInsideInlineAsmLeavesLabelPresenceClear) {
  Statement* first = read_file(";#### ASM START\nE1:\n;#### ASM END\nE2:\trts\ne3:\n");
  run_marking(first);
  EXPECT_EQ(label_presence & LP_END_LABEL_SEEN, 0u);
}

TEST_F(Marking, EndLabelLineSetsLabelPresence) {
  Statement* first = read_file("\tnop\nE1:\n");
  run_marking(first);
  EXPECT_EQ(label_presence & LP_END_LABEL_SEEN, LP_END_LABEL_SEEN);
}

TEST_F(Marking, ReitOnlyFunctionIsMarkedOnlyByTheReitVariant) {
  Statement* first = read_file("\t.glb\t_h\n_h:\n\treit\nE1:\n");
  run_marking(first);
  Statement* entry = first->next->next;
  ASSERT_EQ(entry->flags & ENTRY, ENTRY);
  EXPECT_EQ(entry->flags & RET, 0u);
  EXPECT_TRUE(mark_return_only(first, INSN_REIT));
  EXPECT_EQ(entry->flags & RET, RET);
  EXPECT_FALSE(mark_return_only(first, INSN_RTS));
  EXPECT_EQ(entry->flags & RET, 0u);
}

TEST_F(Marking, ReportUnanalysedWarnsForEachUnanalysedLineInFileOrder) {
  Statement* first = read_file("\tnop\n\tjmp\t?+\n; fine\nL1: foo bar\n\trts\n");
  testing::internal::CaptureStderr();
  report_unanalysed(first);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(err,
            "(null)(0): C1901 (W)can't analyze \tjmp\t?+\n\n"
            "(null)(0): C1901 (W)can't analyze L1: foo bar\n\n");
}

// The marks serve the passes alone: with every pass off the statements stay
// as read; 1002 and 1006 count as running only with their options.
TEST(MarkingSequence, RunsOnlyWhenSomePassRuns) {
  const std::string text = "\t._LANG\t'C'\n\t.glb\t_f\n_f:\n\trts\nE1:\n";
  for (std::int32_t left_on : {0, 1009, 1011}) {
    reset_run_state();
    for (std::int32_t pass = 1001; pass <= 1012; ++pass) {
      if (pass != left_on) off_list.push_back(pass);
    }
    Statement* first = read_source_text(text);
    add_source_unit("t.qsm", first);
    optimize_units(first_source_unit());
    Statement* entry = first->next->next;
    ASSERT_TRUE(is_label_line(entry));
    EXPECT_EQ((entry->flags & SF_FUNC_ENTRY) != 0, left_on != 0) << "pass left on: " << left_on;
  }
  reset_run_state();
  for (std::int32_t pass = 1001; pass <= 1012; ++pass) {
    if (pass != PASS_MERGE_MOVES && pass != PASS_MAKE_BTST_MODIFY) off_list.push_back(pass);
  }
  EXPECT_FALSE(some_pass_runs());
  option_flags |= OF_NO_VOLATILE;
  EXPECT_TRUE(some_pass_runs());
  option_flags &= ~OF_NO_VOLATILE;
  option_flags &= ~OF_NO_BTSTC;
  EXPECT_TRUE(some_pass_runs());
  reset_run_state();
}

}  // namespace
