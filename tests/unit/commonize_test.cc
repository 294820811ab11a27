// The commonization's comparisons, stack tests, search and emission, on
// small files read and marked as a run would.
#include "commonize/commonize.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commonize/emit.h"
#include "commonize/fast_search.h"
#include "commonize/search.h"
#include "commonize/state.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "optimizer/marking.h"
#include "optimizer/units.h"
#include "output/writer.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// A file read behind a language line and marked like a unit before its
// commonization. lines[i] is the statement of the given line i.
struct File {
  Statement* first = nullptr;
  std::vector<Statement*> lines;
};

File read_file(const std::vector<std::string>& lines, const char* name = "prog.qsm") {
  std::string source = "\t._LANG\t'C','1.00.00'\n";
  for (const std::string& line : lines) source += line + "\n";
  File file;
  file.first = read_source_text(source);
  for (Statement* s = file.first ? file.first->next : nullptr; s; s = s->next) file.lines.push_back(s);
  EXPECT_EQ(file.lines.size(), lines.size());
  add_source_unit(name, file.first);
  Statement* s = file.first;
  mark_unit_structure(s);
  return file;
}

// The lines of a function _<name> holding `body`, with its end label.
std::vector<std::string> function(const std::string& name, const std::vector<std::string>& body,
                                  const std::string& end) {
  std::vector<std::string> lines = {"\t.glb\t_" + name, "_" + name + ":"};
  lines.insert(lines.end(), body.begin(), body.end());
  lines.push_back(end + ":");
  return lines;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const std::vector<std::string> code_section = {"\t.section\tprogram,CODE"};

class Commonize : public testing::Test {
 protected:
  void SetUp() override { reset_run_state(); }
  void TearDown() override { reset_run_state(); }
};

// ---- operands_identical ----

struct OperandCase {
  const char* name;
  const char* a;  // an instruction line
  const char* b;
  int operand;  // which operand of the two lines is compared
  bool identical;
};

void PrintTo(const OperandCase& c, std::ostream* os) { *os << c.name; }

class OperandsIdentical : public testing::TestWithParam<OperandCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(OperandsIdentical, ComparesAsTheModeRequires) {
  const OperandCase& c = GetParam();
  File file = read_file({c.a, c.b});
  ASSERT_EQ(file.lines[0]->kind, STMT_INSN);
  ASSERT_EQ(file.lines[1]->kind, STMT_INSN);
  const Operand& a = file.lines[0]->insn()->operands[c.operand];
  const Operand& b = file.lines[1]->insn()->operands[c.operand];
  EXPECT_EQ(operands_identical(a, b), c.identical);
  EXPECT_EQ(operands_identical(b, a), c.identical);
}

const OperandCase operand_cases[] = {
    {"immediates_of_different_values", "\tmov.w\t#1,r0", "\tmov.w\t#2,r0", 0, false},
    {"immediates_of_equal_text", "\tmov.w\t#1,r0", "\tmov.w\t#1,r0", 0, true},
    {"immediates_of_equal_value_written_differently", "\tmov.w\t#1,r0", "\tmov.w\t#01h,r0", 0, false},
    {"symbolic_immediates_of_one_symbol", "\tmov.w\t#_s+2,r0", "\tmov.w\t#_s+2,r0", 0, true},
    {"symbolic_immediates_of_two_symbols", "\tmov.w\t#_s,r0", "\tmov.w\t#_t,r0", 0, false},
    {"registers_of_different_modes", "\tmov.w\tr0,r1", "\tmov.w\tr2,r1", 0, false},
    {"register_named_in_two_cases", "\tmov.w\tr0,r1", "\tmov.w\tR0,r1", 0, true},
    {"displacements_by_value_whatever_the_base_case", "\tmov.w\t4[fb],r0", "\tmov.w\t4[FB],r0", 0, true},
    {"displacements_of_one_value_in_two_bases", "\tmov.w\t10[fb],r0", "\tmov.w\t0Ah[fb],r0", 0, true},
    {"displacements_of_different_values", "\tmov.w\t4[fb],r0", "\tmov.w\t6[fb],r0", 0, false},
    {"numeric_addresses_by_value", "\tmov.w\t10,r0", "\tmov.w\t0Ah,r0", 0, true},
    {"symbolic_addresses_of_one_text", "\tmov.w\t_x+1,r0", "\tmov.w\t_x+1,r0", 0, true},
    {"symbolic_addresses_of_different_offsets", "\tmov.w\t_x+1,r0", "\tmov.w\t_x+2,r0", 0, false},
    {"symbolic_addresses_of_different_symbols", "\tmov.w\t_x,r0", "\tmov.w\t_y,r0", 0, false},
    {"symbolic_displacements_of_one_symbol", "\tmov.w\t_v:16[SB],r0", "\tmov.w\t_v:16[SB],r0", 0, true},
    {"symbolic_displacements_of_two_symbols", "\tmov.w\t_v[SB],r0", "\tmov.w\t_w[SB],r0", 0, false},
    {"sp_relative_of_one_value", "\tmov.w\t2[sp],r0", "\tmov.w\t2[SP],r0", 0, true},
    {"sp_relative_of_different_values", "\tmov.w\t2[sp],r0", "\tmov.w\t4[sp],r0", 0, false},
    {"indirect_registers_by_mode", "\tmov.w\t[a0],r0", "\tmov.w\t[A0],r0", 0, true},
};

INSTANTIATE_TEST_SUITE_P(Commonize, OperandsIdentical, testing::ValuesIn(operand_cases),
                         [](const testing::TestParamInfo<OperandCase>& info) { return info.param.name; });

// ---- statements_identical and may_be_shared ----

struct PairCase {
  const char* name;
  std::vector<std::string> lines;
  int r;  // index of the reference line
  int c;  // index of the candidate line
  bool identical;
};

void PrintTo(const PairCase& c, std::ostream* os) { *os << c.name; }

class StatementsIdentical : public testing::TestWithParam<PairCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(StatementsIdentical, HoldsExactlyForTheseCandidates) {
  const PairCase& c = GetParam();
  File file = read_file(c.lines);
  EXPECT_EQ(statements_identical(file.lines[c.r], file.lines[c.c]), c.identical);
}

const PairCase pair_cases[] = {
    {"same_instruction_and_operands", {"\tmov.w\tr0,r1", "\tnop", "\tmov.w\tr0,r1"}, 0, 2, true},
    {"candidate_with_a_label", {"\tmov.w\tr0,r1", "\tnop", "L1:\tmov.w\tr0,r1"}, 0, 2, false},
    {"different_sizes", {"\tmov.w\tr0,r1", "\tnop", "\tmov.b\tr0l,r1l"}, 0, 2, false},
    {"different_formats", {"\tmov.w\tr0,r1", "\tnop", "\tmov.w:g\tr0,r1"}, 0, 2, false},
    {"different_operand_counts", {"\tnot.w\tr0", "\tnop", "\tnot.w\tr0,r1"}, 0, 2, false},
    {"jsr_texts_equal", {"\tjsr\t_h", "\tnop", "\tjsr\t_h"}, 0, 2, true},
    {"jsr_texts_differ_in_spacing", {"\tjsr\t_h", "\tnop", "\tjsr  _h"}, 0, 2, false},
    {"jmp_texts_differ_in_comment", {"\tjmp\t_h", "\tnop", "\tjmp\t_h ; tail"}, 0, 2, false},
    {"mov_texts_differ_in_spacing", {"\tmov.w\tr0,r1", "\tnop", "\tmov.w  r0, r1 ; copy"}, 0, 2, true},
    {"conditional_jumps", {"\tjeq\tL1", "\tnop", "\tjeq\tL1", "L1:"}, 0, 2, false},
    {"candidate_before_unanalysed_line", {"\tmov.w\tr0,r1", "\tnop", "\tmov.w\tr0,r1", "; note", "\tjmp\t?+"}, 0, 2, false},
    {"candidate_before_blank_and_instruction", {"\tmov.w\tr0,r1", "\tnop", "\tmov.w\tr0,r1", "", "\tnop"}, 0, 2, true},
    {"candidate_switched_off",
     {"\tmov.w\tr0,r1", "\t._tarvox\tOFF", "\tmov.w\tr0,r1", "\t._tarvox\tON"}, 0, 2, false},
    {"candidate_in_inline_assembly",
     {"\tmov.w\tr0,r1", ";#### ASM START", "\tmov.w\tr0,r1", ";#### ASM END"}, 0, 2, false},
    {"candidate_call_followed_by_a_table", {"\tjsr\t_sw", "\tnop", "\tjsr\t_sw", "\t.word\t1"}, 0, 2, false},
};

INSTANTIATE_TEST_SUITE_P(Commonize, StatementsIdentical, testing::ValuesIn(pair_cases),
                         [](const testing::TestParamInfo<PairCase>& info) { return info.param.name; });

// ---- instructions_alike ----

// Alike is stricter than identical: where two instructions are alike and the
// candidate fits where it stands, statements_identical holds too.
struct AlikeCase {
  const char* name;
  std::vector<std::string> lines;  // compared: line 0 and line 2
  bool alike;
  bool identical;
};

void PrintTo(const AlikeCase& c, std::ostream* os) { *os << c.name; }

class InstructionsAlike : public testing::TestWithParam<AlikeCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(InstructionsAlike, IsStricterThanIdentical) {
  const AlikeCase& c = GetParam();
  File file = read_file(c.lines);
  Statement* a = file.lines[0];
  Statement* b = file.lines[2];
  EXPECT_EQ(instructions_alike(a, b), c.alike);
  EXPECT_EQ(instructions_alike(b, a), c.alike);
  EXPECT_EQ(statements_identical(a, b), c.identical);
  if (c.alike && fits_where_it_stands(b)) {
    EXPECT_TRUE(statements_identical(a, b));
  }
}

const AlikeCase alike_cases[] = {
    {"same_line", {"	mov.w	#1,_x", "	nop", "	mov.w	#1,_x"}, true, true},
    {"blanks_and_comment_differ", {"	mov.w	r0,r1", "	nop", "	mov.w  r0, r1 ; copy"}, true, true},
    {"address_written_differently", {"	mov.w	r0,10", "	nop", "	mov.w	r0,0AH"}, false, true},
    {"immediate_written_differently", {"	mov.w	#10,r0", "	nop", "	mov.w	#0AH,r0"}, false, false},
    {"symbol_offsets_differ", {"	mov.w	_x+2,r0", "	nop", "	mov.w	_x+4,r0"}, false, false},
    {"sizes_differ", {"	mov.w	r0,r1", "	nop", "	mov.b	r0l,r1l"}, false, false},
    {"jsr_texts_differ", {"	jsr	_h", "	nop", "	jsr  _h"}, false, false},
    {"alike_but_the_candidate_is_before_an_unanalysed_line",
     {"	mov.w	r0,r1", "	nop", "	mov.w	r0,r1", "	jmp	?+"}, true, false},
    {"alike_calls_but_a_table_follows_the_candidate", {"	jsr	_sw", "	nop", "	jsr	_sw", "	.word	1"}, true, false},
};

INSTANTIATE_TEST_SUITE_P(Commonize, InstructionsAlike, testing::ValuesIn(alike_cases),
                         [](const testing::TestParamInfo<AlikeCase>& info) { return info.param.name; });

struct ShareCase {
  const char* name;
  std::vector<std::string> lines;  // the tested instruction is line 0
  bool sp_adjust;
  bool shareable;
};

void PrintTo(const ShareCase& c, std::ostream* os) { *os << c.name; }

class MayBeShared : public testing::TestWithParam<ShareCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(MayBeShared, HoldsExactlyForTheseInstructions) {
  const ShareCase& c = GetParam();
  File file = read_file(c.lines);
  if (c.sp_adjust) option_flags |= OF_SP_ADJUST;
  ASSERT_EQ(file.lines[0]->kind, STMT_INSN);
  EXPECT_EQ(may_be_shared(file.lines[0]), c.shareable);
}

const ShareCase share_cases[] = {
    {"plain_move", {"\tmov.w\tr0,r1"}, false, true},
    {"pushm", {"\tpushm\tr0,r1"}, false, false},
    {"enter", {"\tenter\t#4"}, false, false},
    {"exitd", {"\texitd"}, false, false},
    {"adjnz", {"\tadjnz.w\t#-1,r0,L1"}, false, false},
    {"ldc", {"\tldc\t#0,fb"}, false, false},
    {"jsr", {"\tjsr\t_h"}, false, true},
    {"jsr_under_sp_adjust", {"\tjsr\t_h"}, true, false},
    {"jsri_under_sp_adjust", {"\tjsri.w\tr0"}, true, false},
    {"jsrs_under_sp_adjust", {"\tjsrs\t#240"}, true, false},
    {"jsr_of_setjmp", {"\tjsr\t_setjmp"}, false, false},
    {"jsr_of_dollar_setjmp", {"\tjsr\t$setjmp"}, false, false},
    {"sp_relative_source", {"\tmov.w\t2[sp],r0"}, false, false},
    {"sp_relative_destination", {"\tmov.w\tr0,2[SP]"}, false, false},
    {"jsr_followed_by_a_table", {"\tjsr\t_sw", "\t.word\tL1", "\t.word\tL2", "\tnop"}, false, false},
    {"jsrs_followed_by_a_table", {"\tjsrs\t#18", "\t.byte\t1", "\tnop"}, false, false},
    {"jsr_followed_by_debugging_line", {"\tjsr\t_h", "\t._line\t12", "\tnop"}, false, true},
    {"jsr_with_table_after_next_member", {"\tjsr\t_h", "\tnop", "\t.word\t1"}, false, true},
    {"mov_followed_by_a_directive", {"\tmov.w\tr0,r1", "\t.word\t1", "\tnop"}, false, true},
};

INSTANTIATE_TEST_SUITE_P(Commonize, MayBeShared, testing::ValuesIn(share_cases),
                         [](const testing::TestParamInfo<ShareCase>& info) { return info.param.name; });

// ---- touches_stack and stack_balanced ----

struct StackCase {
  const char* name;
  std::vector<std::string> lines;  // the reference is line 0
  int n;
  bool touches;
  bool balanced;
};

void PrintTo(const StackCase& c, std::ostream* os) { *os << c.name; }

class StackTests : public testing::TestWithParam<StackCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(StackTests, ReadTheFirstNInstructions) {
  const StackCase& c = GetParam();
  File file = read_file(c.lines);
  commonize_state.table.occ_start[0] = file.lines[0];
  EXPECT_EQ(touches_stack(c.n), c.touches);
  EXPECT_EQ(stack_balanced(c.n), c.balanced);
}

const StackCase stack_cases[] = {
    {"moves_only", {"\tmov.w\tr0,r1", "\tmov.w\tr1,r2"}, 2, false, true},
    {"push_then_pop", {"\tpush.w\tr0", "\tmov.w\tr1,r0", "\tpop.w\tr0"}, 3, true, true},
    {"push_alone", {"\tpush.w\tr0", "\tmov.w\tr1,r0"}, 2, true, false},
    {"pop_before_push", {"\tpop.w\tr0", "\tpush.w\tr0"}, 2, true, false},
    {"push_counted_only_within_n", {"\tpush.w\tr0", "\tpop.w\tr0"}, 1, true, false},
    {"pop_beyond_n_not_read", {"\tmov.w\tr0,r1", "\tpop.w\tr0"}, 1, false, true},
    {"bytes_by_size", {"\tpush.b\tr0l", "\tpush.b\tr0h", "\tpop.w\tr0"}, 3, true, true},
    {"long_push_two_word_pops", {"\tpush.l\tr2r0", "\tpop.w\tr0", "\tpop.w\tr2"}, 3, true, true},
    {"sp_reserved_and_freed", {"\tadd.w\t#-4,sp", "\tmov.w\tr0,r1", "\tadd.w\t#4,sp"}, 3, true, true},
    {"sp_freed_before_reserved", {"\tadd.w\t#4,sp", "\tadd.w\t#-4,sp"}, 2, true, false},
    {"sp_reserved_only", {"\tadd.w\t#-2,sp"}, 1, true, false},
    {"add_to_other_register", {"\tadd.w\t#-4,r0"}, 1, false, true},
    {"most_negative_immediate", {"\tadd.l\t#-2147483648,sp"}, 1, true, false},
    {"comments_and_directives_not_counted",
     {"\tpush.w\tr0", "; keep", "\t._line\t3", "\tpop.w\tr0"}, 2, true, true},
};

INSTANTIATE_TEST_SUITE_P(Commonize, StackTests, testing::ValuesIn(stack_cases),
                         [](const testing::TestParamInfo<StackCase>& info) { return info.param.name; });

// ---- shared label names ----

struct LabelCase {
  const char* name;
  std::string file_name;
  int n;
  std::string label;
};

void PrintTo(const LabelCase& c, std::ostream* os) { *os << c.name; }

class SharedLabelName : public testing::TestWithParam<LabelCase> {};

TEST_P(SharedLabelName, FromTheInputName) {
  EXPECT_EQ(shared_label_name(GetParam().file_name, GetParam().n), GetParam().label);
}

const LabelCase label_cases[] = {
    {"plain_name", "prog.qsm", 1, "_Tarvox_prog_1"},
    {"directory_and_dash_dropped", "src/prog-1.qsm", 2, "_Tarvox_srcprog1_2"},
    {"cut_at_first_qsm", "dir.qsm/a.qsm", 1, "_Tarvox_dir_1"},
    {"underscores_and_dots_dropped", "./my_file.v2.qsm", 12, "_Tarvox_myfilev2_12"},
    {"bytes_above_127_dropped", "caf\xc3\xa9.qsm", 3, "_Tarvox_caf_3"},
    {"cut_is_case_sensitive", "A.QSM.qsm", 1, "_Tarvox_AQSM_1"},
    {"long_name_kept_whole", std::string(3000, 'x') + ".qsm", 7, "_Tarvox_" + std::string(3000, 'x') + "_7"},
};

INSTANTIATE_TEST_SUITE_P(Commonize, SharedLabelName, testing::ValuesIn(label_cases),
                         [](const testing::TestParamInfo<LabelCase>& info) { return info.param.name; });

TEST_F(Commonize, MakeSharedLabelUsesTheFirstUnitsName) {
  read_file({"\tnop"}, "src/prog-1.qsm");
  EXPECT_EQ(make_shared_label(1), "_Tarvox_srcprog1_1");
}

// ---- the search ----

// The file's statements with a body of the given lines behind a CODE section.
const std::vector<std::string> mov_run = {"\tmov.w\tr0,r1", "\tadd.w\t#1,r1", "\tmov.w\tr1,_x",
                                          "\tmov.w\t#0,r0"};

TEST_F(Commonize, ReferencesOwnSuccessorIsNeverAnOccurrence) {
  File file = read_file(code_section + std::vector<std::string>{"\tnop", "\tnop", "\tnop"});
  commonize_state.reference_section = commonize_state.scan_section = "program";
  ASSERT_TRUE(find_occurrences(file.lines[1]));
  EXPECT_EQ(commonize_state.table.occ_count, 2);
  EXPECT_EQ(commonize_state.table.occ_start[0], file.lines[1]);
  EXPECT_EQ(commonize_state.table.occ_start[1], file.lines[3]);
}

TEST_F(Commonize, SecondOfAdjacentStartsIsDropped) {
  File file = read_file(code_section +
                        std::vector<std::string>{"\tnop", "\tmov.w\tr0,r1", "\tnop", "\tnop", "", "\tnop"});
  commonize_state.reference_section = commonize_state.scan_section = "program";
  ASSERT_TRUE(find_occurrences(file.lines[1]));
  ASSERT_EQ(commonize_state.table.occ_count, 4);
  drop_adjacent();
  EXPECT_EQ(commonize_state.table.occ_start[1], file.lines[3]);
  EXPECT_EQ(commonize_state.table.occ_start[2], nullptr);  // right after lines[3]
  EXPECT_EQ(commonize_state.table.occ_start[3], file.lines[6]);  // a blank line between
}

TEST_F(Commonize, TableHoldsTheReferenceAndAtMost1022Occurrences) {
  std::vector<std::string> lines = code_section;
  for (int i = 0; i < 1100; ++i) {
    lines.push_back("\tmov.w\tr0,r1");
    lines.push_back("\tnop");
  }
  File file = read_file(lines);
  commonize_state.reference_section = commonize_state.scan_section = "program";
  ASSERT_TRUE(find_occurrences(file.lines[1]));
  EXPECT_EQ(commonize_state.table.occ_count, 1023);
  EXPECT_EQ(commonize_state.table.occ_start[1022], file.lines[1 + 2 * 1022]);
  EXPECT_EQ(commonize_state.table.occ_start[1023], nullptr);
}

TEST_F(Commonize, SearchGoesOnThroughDataAndTheSameCodeSection) {
  File file = read_file(code_section + std::vector<std::string>{"\tmov.w\tr0,r1", "\tnop",
                                                                 "\t.section\tdata,DATA", "\t.word\t1",
                                                                 "\t.section\tprogram,CODE", "\tmov.w\tr0,r1"});
  commonize_state.reference_section = commonize_state.scan_section = "program";
  ASSERT_TRUE(find_occurrences(file.lines[1]));
  EXPECT_EQ(commonize_state.table.occ_start[1], file.lines[6]);
}

TEST_F(Commonize, SearchFailsAtAnotherCodeSectionEvenWithOccurrencesFound) {
  File file = read_file(code_section + std::vector<std::string>{"\tmov.w\tr0,r1", "\tnop", "\tmov.w\tr0,r1",
                                                                 "\t.section\tother,CODE", "\tnop"});
  commonize_state.reference_section = commonize_state.scan_section = "program";
  EXPECT_FALSE(find_occurrences(file.lines[1]));
  EXPECT_EQ(*commonize_state.scan_section, "other");
}

TEST_F(Commonize, SectionReachedByOneSearchFailsTheNextAtADataSection) {
  File file = read_file(code_section + std::vector<std::string>{"\tmov.w\tr0,r1", "\tnop", "\tmov.w\tr0,r1",
                                                                 "\t.section\tdata,DATA", "\t.word\t1"});
  commonize_state.reference_section = "program";
  commonize_state.scan_section = "other";  // left by an earlier search
  EXPECT_FALSE(find_occurrences(file.lines[1]));
  // Without the data section the same search succeeds.
  reset_run_state();
  file = read_file(code_section + std::vector<std::string>{"\tmov.w\tr0,r1", "\tnop", "\tmov.w\tr0,r1"});
  commonize_state.reference_section = "program";
  commonize_state.scan_section = "other";
  EXPECT_TRUE(find_occurrences(file.lines[1]));
}

// Searches from the reference at line r and grows the group; returns the
// group length.
std::int32_t grow_group(const File& file, int r) {
  commonize_state.reference_section = commonize_state.scan_section = "program";
  if (!find_group_plain(file.lines[r])) return -1;
  return commonize_state.table.occ_length[0];
}

TEST_F(Commonize, GroupGrowsOverTheWholeRunAndStopsAtALabel) {
  File file = read_file(code_section + mov_run + std::vector<std::string>{"L1:", "\tnop"} + mov_run +
                        std::vector<std::string>{"\trts"});
  EXPECT_EQ(grow_group(file, 1), 4);
  EXPECT_EQ(commonize_state.table.occ_length[1], 4);
  EXPECT_EQ(commonize_state.table.occ_cursor[0], file.lines[4]);
}

TEST_F(Commonize, ShortOccurrenceIsDroppedAndLongEnoughOneKeepsItsLength) {
  // Occurrence 1 stops after 2 instructions (dropped), occurrence 2 after 4
  // (kept with its length), occurrence 3 runs through all 5.
  std::vector<std::string> run5 = mov_run + std::vector<std::string>{"\tnot.w\tr2"};
  File file = read_file(code_section + run5 + std::vector<std::string>{"L1:"} +
                        std::vector<std::string>{mov_run[0], mov_run[1], "\tnop", "L2:"} + mov_run +
                        std::vector<std::string>{"\tnop", "L3:"} + run5 + std::vector<std::string>{"L4:"});
  EXPECT_EQ(grow_group(file, 1), 5);
  EXPECT_EQ(commonize_state.table.occ_start[1], nullptr);
  EXPECT_NE(commonize_state.table.occ_start[2], nullptr);
  EXPECT_EQ(commonize_state.table.occ_length[2], 4);
  EXPECT_EQ(commonize_state.table.occ_length[3], 5);
}

TEST_F(Commonize, FlowEndingInstructionIsTheLastOfARun) {
  std::vector<std::string> run = {"\tmov.w\tr0,r1", "\tjmp\t_done", "\tmov.w\tr1,r2", "\tmov.w\tr2,r3"};
  File file = read_file(code_section + run + std::vector<std::string>{"L1:"} + run +
                        std::vector<std::string>{"L2:"});
  EXPECT_EQ(grow_group(file, 1), 2);
  EXPECT_EQ(commonize_state.table.occ_cursor[0], file.lines[2]);
}

TEST_F(Commonize, FlowEndingReferenceNeverGrows) {
  std::vector<std::string> run = {"\tjmp\t_done", "\tmov.w\tr0,r1", "\tmov.w\tr1,r2", "\tmov.w\tr2,r3"};
  File file = read_file(code_section + run + std::vector<std::string>{"L1:"} + run +
                        std::vector<std::string>{"L2:"});
  EXPECT_EQ(grow_group(file, 1), 0);
  EXPECT_EQ(commonize_state.table.occ_length[1], 0);
}

TEST_F(Commonize, ReferenceStopsBeforeABarrierLine) {
  File file = read_file(code_section +
                        std::vector<std::string>{mov_run[0], mov_run[1], "\t._line\t4", mov_run[2], "\t.if\tX",
                                                 "\t.endif", mov_run[3], "L1:"} +
                        mov_run + std::vector<std::string>{"L2:"});
  EXPECT_EQ(grow_group(file, 1), 3);  // the ._line is passed, the .if is not
}

TEST_F(Commonize, OccurrenceStopsBeforeALabelledDirective) {
  File file = read_file(code_section + mov_run + std::vector<std::string>{"L1:"} +
                        std::vector<std::string>{mov_run[0], mov_run[1], mov_run[2], "L9:\t._line\t12",
                                                 mov_run[3], "L2:"});
  min_common_length = 3;
  EXPECT_EQ(grow_group(file, 1), 3);
  EXPECT_EQ(commonize_state.table.occ_start[1], file.lines[6]);
  EXPECT_EQ(commonize_state.table.occ_length[1], 3);
}

TEST_F(Commonize, ReferenceStopsBeforeInlineAssembly) {
  File file = read_file(code_section +
                        std::vector<std::string>{mov_run[0], mov_run[1], ";#### ASM START", mov_run[2],
                                                 ";#### ASM END", "L1:"} +
                        mov_run + std::vector<std::string>{"L2:"});
  EXPECT_EQ(grow_group(file, 1), 2);
}

// ---- the emission ----

TEST_F(Commonize, GeneratedStatementsCarryTheirFlags) {
  // An interrupt handler and a function whose first four instructions are
  // the same; the run stops before the conditional jumps, so it gets an rts
  // and is called by jsr.
  std::vector<std::string> body = mov_run + std::vector<std::string>{"\tjeq\tL1", "\tnop", "L1:", "\treit"};
  File file = read_file(code_section + function("h", body, "E1") +
                        function("g", mov_run + std::vector<std::string>{"\tjeq\tL2", "\tnop", "L2:", "\trts"}, "E2"));
  Statement* entry = file.lines[2];
  ASSERT_TRUE(entry->flags & SF_FUNC_ENTRY);
  commonize(file.first->chain_next);

  Statement* call = entry->next;
  ASSERT_EQ(call->insn()->insn_id, INSN_JSR);
  EXPECT_EQ(call->text(), "\tjsr\t_Tarvox_prog_1\n");
  EXPECT_EQ(call->flags, (entry->flags & ~(SF_FUNC_ENTRY | SF_RETURN_ONLY)) | SF_NO_OPT | SF_SHARED_CALL);
  EXPECT_FALSE(call->flags & SF_FUNC_ENTRY);
  EXPECT_TRUE(call->flags & SF_IN_FUNCTION);

  for (int i = 3; i < 7; ++i) {
    EXPECT_EQ(file.lines[i]->kind, STMT_BLANK);
    EXPECT_TRUE(file.lines[i]->flags & SF_NO_OPT);
  }

  Statement* end1 = file.lines[11];
  ASSERT_TRUE(end1->flags & SF_END_LABEL);
  Statement* start = end1->next;
  EXPECT_EQ(start->text(), "_Tarvox_prog_1:\n");
  EXPECT_EQ(start->flags, 0u);
  Statement* copy = start->next;
  for (int i = 0; i < 4; ++i, copy = copy->next) {
    EXPECT_EQ(copy->text(), mov_run[i] + "\n");
    EXPECT_EQ(copy->flags, file.lines[3 + i]->flags & ~(SF_NO_OPT | SF_REWRITTEN));
    EXPECT_FALSE(copy->flags & SF_NO_OPT);
  }
  Statement* rts = copy;
  EXPECT_EQ(rts->text(), "\trts\t\n");
  EXPECT_EQ(rts->flags & (SF_NO_OPT | SF_SHARED_RETURN), SF_NO_OPT | SF_SHARED_RETURN);
  Statement* end = rts->next;
  EXPECT_EQ(end->text(), "E_Tarvox_prog_1:\n\n");
  EXPECT_EQ(end->flags, std::uint32_t{SF_END_LABEL});
  EXPECT_EQ(end->next, file.lines[12]);  // .glb _g

  // The code chain runs through the subroutine in file order.
  EXPECT_EQ(end1->chain_next, start);
  EXPECT_EQ(start->chain_next, start->next);
  EXPECT_EQ(rts->chain_next, end);
}

TEST_F(Commonize, NothingHappensWithoutAnEndLabelOrACodeSection) {
  std::vector<std::string> two_runs = function("f", mov_run, "E1") + function("g", mov_run, "E2");
  File file = read_file(two_runs);  // no .section at all
  std::string before = render_statements(file.first);
  commonize(file.first->chain_next);
  EXPECT_EQ(render_statements(file.first), before);

  reset_run_state();
  file = read_file(code_section + function("f", mov_run, "X1") + function("g", mov_run, "X2"));
  before = render_statements(file.first);
  commonize(file.first->chain_next);
  EXPECT_EQ(render_statements(file.first), before);
}

TEST_F(Commonize, CounterRestartsInEachUnitAndSectionsCarryOver) {
  File file = read_file(code_section + function("f", mov_run, "E1") + function("g", mov_run, "E2"));
  commonize(file.first->chain_next);
  EXPECT_EQ(*commonize_state.reference_section, "program");
  std::string out = render_statements(file.first);
  EXPECT_NE(out.find("_Tarvox_prog_1:\n"), std::string::npos);
  EXPECT_EQ(out.find("_Tarvox_prog_2"), std::string::npos);

  // A second unit without a .section of its own works in the section the
  // first one left, and numbers its subroutines from 1 again.
  File second = read_file(function("f", mov_run, "E1") + function("g", mov_run, "E2"));
  commonize(second.first->chain_next);
  EXPECT_NE(render_statements(second.first).find("_Tarvox_prog_1:\n"), std::string::npos);
}

// ---- the fast search against the plain one ----

// A whole commonization of a file, searched the fast way and the plain way:
// the same output and the same section names after it. Each row also names
// a text the output must (or must not) hold, so that the row shows what it
// is about.
struct FastCase {
  const char* name;
  std::vector<std::string> lines;
  std::int32_t min_length;
  const char* expected;  // a text of the output
  bool expected_present;
  bool uses_index;  // false: the unit is searched the plain way
};

void PrintTo(const FastCase& c, std::ostream* os) { *os << c.name; }

struct Commonized {
  std::string output;
  std::string sections;
};

Commonized commonize_file(const FastCase& c, bool reference) {
  reset_run_state();
  min_common_length = c.min_length;
  File file = read_file(c.lines);
  use_plain_search(reference);
  commonize(file.first->chain_next);
  use_plain_search(false);
  Commonized result;
  result.output = render_statements(file.first);
  result.sections = commonize_state.reference_section.value_or("-") + "/" + commonize_state.scan_section.value_or("-");
  return result;
}

// `count` times the instruction `insn` each followed by `between`.
std::vector<std::string> repeated(const std::string& insn, const std::string& between, int count) {
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) lines.insert(lines.end(), {insn, between});
  return lines;
}

const std::vector<std::string> other_section = {"\t.section\tother,CODE"};
const std::vector<std::string> data_section = {"\t.section\tdata,DATA", "\t.word\t1"};

std::vector<FastCase> fast_cases() {
  std::vector<std::string> tail_run = {mov_run[1], mov_run[2], mov_run[3], "\tnot.w\tr2"};
  return {
      {"group_in_one_section", code_section + function("f", mov_run, "E1") + function("g", mov_run, "E2"), 4,
       "_Tarvox_prog_1:", true, true},
      // Every search in program runs into other and fails; in other, the
      // two runs are shared.
      {"searches_fail_at_a_code_section_of_another_name",
       code_section + function("f", mov_run, "E1") + function("g", mov_run, "E2") + other_section +
           function("h", mov_run, "E3") + function("i", mov_run, "E4"),
       4, "_Tarvox_prog_2", false, true},
      // After the search from f failed at other, the one from g fails at
      // the data section already.
      {"a_search_left_in_another_section_fails_at_a_data_section",
       code_section + function("f", mov_run, "E1") + function("g", mov_run, "E2") + data_section +
           other_section + function("h", {"\tnop"}, "E3"),
       4, "_Tarvox_", false, true},
      // The table fills long before the other section: the search succeeds
      // and the walk stays in program.
      {"table_fills_before_another_code_section",
       code_section + function("f", repeated("\tmov.w\tr0,r1", "\tnop", 1100), "E1") + other_section +
           function("g", {"\tnop"}, "E2"),
       2, "_Tarvox_prog_1:", true, true},
      // The other section comes before the table would fill: searches fail.
      {"another_code_section_comes_before_the_table_fills",
       code_section + function("f", repeated("\tmov.w\tr0,r1", "\tnop", 600), "E1") + other_section +
           function("g", repeated("\tmov.w\tr0,r1", "\tnop", 600), "E2"),
       5, "_Tarvox_", false, true},
      // Full tables, with data and program sections before and after the
      // 1022nd occurrence.
      {"table_fills_among_sections",
       code_section + function("f", repeated("\tmov.w\tr0,r1", "\tnop", 500), "E1") + data_section +
           code_section + function("g", repeated("\tmov.w\tr0,r1", "\tnop", 700), "E2") + other_section +
           function("h", repeated("\tmov.w\tr0,r1", "\tnop", 3), "E3"),
       3, "_Tarvox_", false, true},
      // The second group's occurrence is the copy of the first group's
      // subroutine, linked in after the end label of f.
      {"copies_of_a_shared_run_become_occurrences",
       code_section + function("f", mov_run + std::vector<std::string>{"\tnop"} + tail_run, "E1") +
           function("g", mov_run, "E2"),
       3, "_Tarvox_prog_2:", true, true},
      {"a_line_with_a_nul_byte_makes_the_unit_search_the_plain_way",
       code_section + function("f", mov_run + std::vector<std::string>{std::string("\tmov.w\t#1\0,r0", 13)}, "E1") +
           function("g", mov_run, "E2"),
       4, "_Tarvox_prog_1:", true, false},
  };
}

class FastSearch : public testing::TestWithParam<FastCase> {
 protected:
  void SetUp() override { reset_run_state(); }
  void TearDown() override { reset_run_state(); }
};

TEST_P(FastSearch, CommonizesAsThePlainSearch) {
  const FastCase& c = GetParam();
  Commonized fast = commonize_file(c, false);
  Commonized plain = commonize_file(c, true);
  EXPECT_EQ(fast.output, plain.output);
  EXPECT_EQ(fast.sections, plain.sections);
  EXPECT_EQ(plain.output.find(c.expected) != std::string::npos, c.expected_present) << plain.output;
}

INSTANTIATE_TEST_SUITE_P(Commonize, FastSearch, testing::ValuesIn(fast_cases()),
                         [](const testing::TestParamInfo<FastCase>& info) { return info.param.name; });

}  // namespace
