// The walk of the peephole passes and the searches and tests they share, on
// the matches and the near misses the passes rely on.
#include "optimizer/walk.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "optimizer/marking.h"
#include "source/formatter.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// What a test does with one line of its file before the search runs.
enum Role {
  PLAIN,           // nothing
  START,           // the search starts here
  FOUND,           // the search must return this statement
  REWRITE,         // rewritten in place before the search
  DELETE,          // deleted before the search
  NO_OPT,          // carries SF_NO_OPT
  SHARED_CALL,     // a generated call of a shared subroutine
  SHARED_RETURN,   // the rts that ends a shared subroutine
};

struct Line {
  const char* text;  // without its newline
  Role role;
};

struct File {
  std::vector<Statement*> statements;  // statements[i] is line i; [0] the language line
  Statement* start = nullptr;
  Statement* found = nullptr;
};

// Reads the lines behind a language line and applies each line's role.
File read_lines(const std::vector<Line>& lines) {
  std::string source = "\t._LANG\t'C','1.00.00'\n";
  for (const Line& line : lines) source += std::string(line.text) + "\n";
  File file;
  for (Statement* s = read_source_text(source); s; s = s->next) file.statements.push_back(s);
  EXPECT_EQ(file.statements.size(), lines.size() + 1);
  mark_unit_structure(file.statements[0]);
  for (std::size_t i = 0; i < lines.size() && i + 1 < file.statements.size(); ++i) {
    Statement* s = file.statements[i + 1];
    switch (lines[i].role) {
      case PLAIN: break;
      case START: file.start = s; break;
      case FOUND: file.found = s; break;
      case REWRITE: rebuild_edited_text(s); break;
      case DELETE: delete_statement(s); break;
      case NO_OPT: s->flags |= SF_NO_OPT; break;
      case SHARED_CALL: s->flags |= SF_SHARED_CALL | SF_NO_OPT; break;
      case SHARED_RETURN: s->flags |= SF_SHARED_RETURN; break;
    }
  }
  return file;
}

class WalkTest : public testing::Test {
 protected:
  void SetUp() override { reset_run_state(); }
};

// ---- the statement walk ----

struct WalkCase {
  const char* name;
  std::vector<std::pair<const char*, bool>> lines;  // text, examined by the walk
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

class StatementWalk : public testing::TestWithParam<WalkCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(StatementWalk, ExaminesExactlyTheseLines) {
  std::vector<Line> lines;
  for (const auto& [text, examined] : GetParam().lines) lines.push_back({text, PLAIN});
  File file = read_lines(lines);
  std::vector<Statement*> examined;
  walk_statements(file.statements[0], [&](Statement* s) { examined.push_back(s); });
  std::vector<Statement*> expected = {file.statements[0]};
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (GetParam().lines[i].second) expected.push_back(file.statements[i + 1]);
  }
  EXPECT_EQ(examined, expected);
}

const WalkCase walk_cases[] = {
    {"inline_asm_block_is_skipped",
     {{"\tnop", true},
      {";#### ASM START", false},
      {"\tmov.w\tR0,R1", false},
      {";#### ASM END", false},
      {"\tnop", true}}},
    {"instruction_after_unanalysed_line_is_skipped",
     {{"\tnop", true}, {"\tjmp\t?+", false}, {"; comment", false}, {"\tmov.w\tR0,R1", false}, {"\tnop", true}}},
    {"unanalysed_line_without_instruction_after_it_ends_walk",
     {{"\tnop", true}, {"\tjmp\t?+", false}, {"; comment", false}}},
    {"walk_resumed_after_unanalysed_line_skips_inline_asm_again",
     {{"\tjmp\t?+", false},
      {";#### ASM START", false},
      {"\tmov.w\tR0,R1", false},
      {"\tmov.w\tR1,R2", false},
      {";#### ASM END", false},
      {"\tnop", true}}},
    {"label_lines_directives_and_comments_are_examined",
     {{"L1:", true}, {"\t.glb\t_f", true}, {"; comment", true}, {"\trts", true}}},
};

INSTANTIATE_TEST_SUITE_P(Walk, StatementWalk, testing::ValuesIn(walk_cases),
                         [](const testing::TestParamInfo<WalkCase>& info) { return info.param.name; });

TEST_F(WalkTest, StatementInsertedByTheExaminerIsExaminedNext) {
  File file = read_lines({{"\tnop", PLAIN}, {"\trts", PLAIN}});
  Statement* nop = file.statements[1];
  Statement* added = nullptr;
  std::vector<Statement*> examined;
  walk_statements(file.statements[0], [&](Statement* s) {
    examined.push_back(s);
    if (s == nop) {
      added = new_statement_like(s);
      InsnDetail* d = new_insn_detail(1);
      d->mnemonic = "nop";
      d->insn_id = INSN_NOP;
      set_insn(added, d);
      insert_after(s, rebuild_source_text(added));
    }
  });
  std::vector<Statement*> expected = {file.statements[0], nop, added, file.statements[2]};
  EXPECT_EQ(examined, expected);
}

// ---- find_next_insn and find_chain_next_insn ----

struct SearchCase {
  const char* name;
  std::uint32_t insn_id;
  std::vector<Line> lines;  // one START line; the FOUND line, if any, is the answer
};

void PrintTo(const SearchCase& c, std::ostream* os) { *os << c.name; }

class FindNextInsn : public testing::TestWithParam<SearchCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(FindNextInsn, ReturnsTheFoundLineOrNone) {
  File file = read_lines(GetParam().lines);
  ASSERT_NE(file.start, nullptr);
  EXPECT_EQ(find_next_insn(file.start, GetParam().insn_id), file.found);
}

const SearchCase find_next_cases[] = {
    {"comment_and_line_directive_may_stand_between",
     INSN_MOV,
     {{"\tmov.w\tR0,R1", START}, {"; comment", PLAIN}, {"\t._line\t3", PLAIN}, {"\tmov.w\tR1,R2", FOUND}}},
    {"blank_line_may_stand_between", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"", PLAIN}, {"\tmov.w\tR1,R2", FOUND}}},
    {"deleted_instruction_is_passed_over",
     INSN_MOV,
     {{"\tmov.w\tR0,R1", START}, {"\tnop", DELETE}, {"\tmov.w\tR1,R2", FOUND}}},
    {"glb_directive_ends_search", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\t.glb\t_f", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"if_directive_ends_search", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\t.if\tX", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"label_line_ends_search", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"L1:", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"unanalysed_line_ends_search", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tjmp\t?+", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"other_instruction_ends_search", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tnop", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"rewritten_candidate_is_refused", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tmov.w\tR1,R2", REWRITE}}},
    {"inline_asm_comment_ends_search",
     INSN_MOV,
     {{"\tmov.w\tR0,R1", START}, {";#### ASM START", PLAIN}, {";#### ASM END", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"labelled_line_directive_ends_search",
     INSN_MOV,
     {{"\tmov.w\tR0,R1", START}, {"X:\t._line\t3", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"candidate_with_its_own_label_is_refused", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"L5:\tmov.w\tR1,R2", PLAIN}}},
    {"end_of_list_gives_none", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"; comment", PLAIN}}},
};

INSTANTIATE_TEST_SUITE_P(Walk, FindNextInsn, testing::ValuesIn(find_next_cases),
                         [](const testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

class FindChainNextInsn : public testing::TestWithParam<SearchCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(FindChainNextInsn, ReturnsTheFoundLineOrNone) {
  File file = read_lines(GetParam().lines);
  ASSERT_NE(file.start, nullptr);
  EXPECT_EQ(find_chain_next_insn(file.start, GetParam().insn_id), file.found);
}

const SearchCase find_chain_next_cases[] = {
    {"lines_outside_the_chain_are_passed_over",
     INSN_MOV,
     {{"\tmov.w\tR0,R1", START}, {"; comment", PLAIN}, {"\t.glb\t_f", PLAIN}, {"\tmov.w\tR1,R2", FOUND}}},
    {"section_directive_gives_none",
     INSN_MOV,
     {{"\tmov.w\tR0,R1", START}, {"\t.section\tprogram,CODE", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"label_line_gives_none", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"L1:", PLAIN}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"deleted_member_gives_none", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tnop", DELETE}, {"\tmov.w\tR1,R2", PLAIN}}},
    {"no_opt_member_gives_none", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tmov.w\tR1,R2", NO_OPT}}},
    {"rewritten_member_gives_none", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tmov.w\tR1,R2", REWRITE}}},
    {"other_instruction_gives_none", INSN_MOV, {{"\tmov.w\tR0,R1", START}, {"\tnop", PLAIN}}},
};

INSTANTIATE_TEST_SUITE_P(Walk, FindChainNextInsn, testing::ValuesIn(find_chain_next_cases),
                         [](const testing::TestParamInfo<SearchCase>& info) { return info.param.name; });

TEST_F(WalkTest, FindEndLabelFindsTheNextEndLabelFromTheStatementItself) {
  File file = read_lines({{"\tnop", PLAIN}, {"E1:", PLAIN}, {"\trts", PLAIN}});
  mark_unit_structure(file.statements[0]);
  EXPECT_EQ(find_end_label(file.statements[1]), file.statements[2]);
  EXPECT_EQ(find_end_label(file.statements[2]), file.statements[2]);
  EXPECT_EQ(find_end_label(file.statements[3]), nullptr);
}

// ---- next_is_understood and flags_dead_after ----

struct TestCase {
  const char* name;
  std::vector<Line> lines;  // the test starts at the START line, or past the end without one
  bool expected;
};

void PrintTo(const TestCase& c, std::ostream* os) { *os << c.name; }

class NextIsUnderstood : public testing::TestWithParam<TestCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(NextIsUnderstood, Holds) {
  File file = read_lines(GetParam().lines);
  EXPECT_EQ(next_is_understood(file.start), GetParam().expected);
}

const TestCase next_is_understood_cases[] = {
    {"instruction_after_comment_and_directive",
     {{"\tnop", PLAIN}, {"; comment", START}, {"\t.glb\t_f", PLAIN}, {"\tnop", PLAIN}},
     true},
    {"unanalysed_line_after_comment_and_directive",
     {{"\tnop", PLAIN}, {"; comment", START}, {"\t._line\t4", PLAIN}, {"\tjmp\t?+", PLAIN}},
     false},
    {"label_line", {{"\tnop", PLAIN}, {"L1:", START}}, true},
    {"end_of_list", {{"\tnop", PLAIN}, {"; comment", START}}, true},
    {"past_the_last_statement", {{"\tnop", PLAIN}}, true},
};

INSTANTIATE_TEST_SUITE_P(Walk, NextIsUnderstood, testing::ValuesIn(next_is_understood_cases),
                         [](const testing::TestParamInfo<TestCase>& info) { return info.param.name; });

class FlagsDeadAfter : public testing::TestWithParam<TestCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(FlagsDeadAfter, Holds) {
  File file = read_lines(GetParam().lines);
  EXPECT_EQ(flags_dead_after(file.start), GetParam().expected);
}

const TestCase flags_dead_after_cases[] = {
    {"past_the_last_statement", {{"\tnop", PLAIN}}, true},
    {"end_of_list_after_comments", {{"; comment", START}, {"\t._line\t3", PLAIN}}, true},
    {"before_rts", {{"\trts", START}}, true},
    {"before_mov_across_comment_line_directive_and_deleted_jump",
     {{"; comment", START}, {"\t._line\t3", PLAIN}, {"\tjmp\tL1", DELETE}, {"\tmov.w\tR0,R1", PLAIN}},
     true},
    {"before_label_line", {{"L1:", START}, {"\tmov.w\tR0,R1", PLAIN}}, false},
    {"before_jmp", {{"\tjmp\tL1", START}}, false},
    {"before_conditional_jump", {{"\tjne\tL1", START}}, false},
    {"before_unanalysed_line", {{"\tjmp\t?+", START}}, false},
    {"before_if_directive", {{"\t.if\tDEBUG", START}, {"\tmov.w\tR0,R1", PLAIN}}, false},
    {"before_endif_directive", {{"\t.endif", START}, {"\tmov.w\tR0,R1", PLAIN}}, false},
    {"before_shared_call", {{"; comment", START}, {"\tjsr\t_Tarvox_in_1", SHARED_CALL}}, false},
    {"before_plain_jsr", {{"\tjsr\t_f", START}}, true},
    {"before_added_rts_of_shared_subroutine", {{"; comment", START}, {"\trts", SHARED_RETURN}}, false},
};

INSTANTIATE_TEST_SUITE_P(Walk, FlagsDeadAfter, testing::ValuesIn(flags_dead_after_cases),
                         [](const testing::TestParamInfo<TestCase>& info) { return info.param.name; });

// ---- same_operand ----

Operand op(std::uint32_t mode, const char* text, std::int32_t value = 0, const char* symbol = nullptr,
           std::int32_t offset = 0) {
  Operand o;
  o.mode = mode;
  o.text = text;
  o.value = value;
  if (symbol) o.symbol = std::string_view(symbol);
  o.offset = offset;
  o.flags = symbol ? std::uint32_t{OPF_SYMBOLIC} : 0u;
  return o;
}

struct SameOperandCase {
  const char* name;
  std::uint32_t insn_id;
  Operand a;
  Operand b;
  bool expected;
};

void PrintTo(const SameOperandCase& c, std::ostream* os) { *os << c.name; }

class SameOperand : public testing::TestWithParam<SameOperandCase> {};

TEST_P(SameOperand, Holds) {
  const SameOperandCase& c = GetParam();
  EXPECT_EQ(same_operand(c.insn_id, c.a, c.b), c.expected);
  EXPECT_EQ(same_operand(c.insn_id, c.b, c.a), c.expected);
}

const SameOperandCase same_operand_cases[] = {
    {"different_modes", INSN_MOV, op(MODE_R0, "R0"), op(MODE_R1, "R1"), false},
    {"same_register", INSN_MOV, op(MODE_R0, "R0"), op(MODE_R0, "r0"), true},
    {"indirect_a0", INSN_MOV, op(MODE_IND_A0, "[A0]"), op(MODE_IND_A0, "[a0]"), true},
    {"abs_same_text", INSN_MOV, op(MODE_ABS, "_x+1", 0, "_x", 1), op(MODE_ABS, "_x+1", 0, "_x", 1), true},
    {"abs_other_text", INSN_MOV, op(MODE_ABS, "_x", 0, "_x"), op(MODE_ABS, "_y", 0, "_y"), false},
    {"indfb_texts_compared_exactly", INSN_MOV, op(MODE_INDFB, "-2[FB]", -2), op(MODE_INDFB, "-2[fb]", -2), false},
    {"mov_any_two_immediates", INSN_MOV, op(MODE_IMM, "#1", 1), op(MODE_IMM, "#2", 2), true},
    {"and_numeric_immediates", INSN_AND, op(MODE_IMM, "#1", 1), op(MODE_IMM, "#2", 2), true},
    {"and_symbolic_immediate", INSN_AND, op(MODE_IMM, "#_k", 0, "_k"), op(MODE_IMM, "#2", 2), false},
    {"or_symbolic_immediate", INSN_OR, op(MODE_IMM, "#_k", 0, "_k"), op(MODE_IMM, "#_k", 0, "_k"), false},
    {"sp_slots_of_equal_value", INSN_MOV, op(MODE_IN8DSP, "2[SP]", 2), op(MODE_IN8DSP, "02h[SP]", 2), true},
    {"sp_slots_of_different_value", INSN_MOV, op(MODE_IN8DSP, "2[SP]", 2), op(MODE_IN8DSP, "4[SP]", 4), false},
    {"sp_slots_of_same_symbol_and_offset", INSN_MOV, op(MODE_IN8DSP, "_o+1[SP]", 0, "_o", 1),
     op(MODE_IN8DSP, "_o+1[SP]", 0, "_o", 1), true},
    {"sp_slots_of_other_symbols", INSN_MOV, op(MODE_IN8DSP, "_o[SP]", 0, "_o"), op(MODE_IN8DSP, "_p[SP]", 0, "_p"),
     false},
    {"sp_slots_of_other_offsets", INSN_MOV, op(MODE_IN8DSP, "_o+1[SP]", 0, "_o", 1),
     op(MODE_IN8DSP, "_o+2[SP]", 0, "_o", 2), false},
    {"sp_slot_symbolic_against_numeric", INSN_MOV, op(MODE_IN8DSP, "_o[SP]", 0, "_o"), op(MODE_IN8DSP, "0[SP]", 0),
     false},
};

INSTANTIATE_TEST_SUITE_P(Walk, SameOperand, testing::ValuesIn(same_operand_cases),
                         [](const testing::TestParamInfo<SameOperandCase>& info) { return info.param.name; });

// ---- same_symbol_and_width and adjacent_bytes ----

struct BytePairCase {
  const char* name;
  const char* first;   // the first byte instruction's line
  const char* second;  // the second's
  bool same_symbol_and_width;
  bool adjacent;
};

void PrintTo(const BytePairCase& c, std::ostream* os) { *os << c.name; }

class BytePair : public testing::TestWithParam<BytePairCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(BytePair, Holds) {
  const BytePairCase& c = GetParam();
  File file = read_lines({{c.first, PLAIN}, {c.second, PLAIN}});
  ASSERT_EQ(file.statements.size(), 3u);
  ASSERT_TRUE(is_insn(file.statements[1], INSN_MOV));
  ASSERT_TRUE(is_insn(file.statements[2], INSN_MOV));
  const InsnDetail* d1 = file.statements[1]->insn();
  const InsnDetail* d2 = file.statements[2]->insn();
  EXPECT_EQ(same_symbol_and_width(d1, d2), c.same_symbol_and_width);
  EXPECT_EQ(adjacent_bytes(d1, d2), c.adjacent);
}

const BytePairCase byte_pair_cases[] = {
    {"low_then_high_byte", "\tmov.b\t_x:16,R0L", "\tmov.b\t_x+1:16,R0H", true, true},
    {"high_then_low_byte", "\tmov.b\t_x+1:16,R1H", "\tmov.b\t_x:16,R1L", true, true},
    {"registers_swapped", "\tmov.b\t_x:16,R0H", "\tmov.b\t_x+1:16,R0L", true, false},
    {"bytes_two_apart", "\tmov.b\t_x:16,R0L", "\tmov.b\t_x+2:16,R0H", true, false},
    {"without_width_specifier", "\tmov.b\t_x,R0L", "\tmov.b\t_x+1,R0H", true, false},
    {"different_widths", "\tmov.b\t_x:16,R0L", "\tmov.b\t_x+1:8,R0H", false, false},
    {"different_symbols", "\tmov.b\t_x:16,R0L", "\tmov.b\t_y+1:16,R0H", false, false},
};

INSTANTIATE_TEST_SUITE_P(Walk, BytePair, testing::ValuesIn(byte_pair_cases),
                         [](const testing::TestParamInfo<BytePairCase>& info) { return info.param.name; });

}  // namespace
