// The line parser through the reader: line kinds, labels, sizes, formats and
// the operand patterns with their modes, values, symbols, offsets and widths.
#include <gtest/gtest.h>

#include <string>

#include "driver/run.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// The statement made of one line (behind a first line, as in a real file).
const Statement* parse_one(const std::string& line) {
  reset_run_state();
  const Statement* first = read_source_text("\t._LANG\t'C',1\n" + line);
  return first ? first->next : nullptr;
}

struct OperandCase {
  const char* name;
  const char* line;
  std::uint32_t operand;  // index of the operand checked
  std::uint32_t mode;
  const char* text;
  std::int32_t value;
  const char* symbol;  // nullptr: none
  std::int32_t offset;
  std::uint8_t width;
  std::uint32_t flags;
};

class Operands : public ::testing::TestWithParam<OperandCase> {};

TEST_P(Operands, AreAnalysed) {
  const OperandCase& c = GetParam();
  const Statement* s = parse_one(c.line);
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->kind, STMT_INSN) << c.line;
  ASSERT_GT(s->insn()->operand_count, c.operand);
  const Operand& op = s->insn()->operands[c.operand];
  EXPECT_EQ(op.mode, c.mode);
  EXPECT_EQ(std::string(op.text), c.text);
  EXPECT_EQ(op.value, c.value);
  if (c.symbol) {
    ASSERT_TRUE(op.symbol.has_value());
    EXPECT_EQ(std::string(*op.symbol), c.symbol);
  } else {
    EXPECT_FALSE(op.symbol.has_value());
  }
  EXPECT_EQ(op.offset, c.offset);
  EXPECT_EQ(op.width, c.width);
  EXPECT_EQ(op.flags, c.flags);
}

constexpr std::uint32_t P = OPF_PLAIN, Y = OPF_SYMBOLIC;

const OperandCase kOperandCases[] = {
    {"hex_immediate", "\tmov.w\t#0FFh,R0\n", 0, MODE_IMM, "#0FFh", 255, nullptr, 0, 0, P},
    {"register_after_immediate", "\tmov.w\t#0FFh,R0\n", 1, MODE_R0, "R0", 0, nullptr, 0, 0, P},
    {"frame_displacement", "\tmov.b:g\t-2[FB],R1L\n", 0, MODE_INDFB, "-2[FB]", -2, nullptr, 0, 0, 0},
    {"symbol_plus_offset", "\tmov.w\t_x+1,R0\n", 0, MODE_ABS, "_x+1", 0, "_x", 1, 0, P | Y},
    {"lone_symbol", "\tjsr\t_func\n", 0, MODE_ABS, "_func", 0, nullptr, 0, 0, P | Y},
    {"number_sum_on_sb", "\tmov.w\t4+2[SB],R0\n", 0, MODE_INDSB, "4+2[SB]", 6, nullptr, 2, 0, 0},
    {"width_specifier", "\tmov.w\t_v:16[SB],R0\n", 0, MODE_INDSB, "_v:16[SB]", 0, "_v", 0, 2, Y},
    {"indirect_a0", "\tmov.w\t[A0],R0\n", 0, MODE_IND_A0, "[A0]", 0, nullptr, 0, 0, 0},
    {"indirect_a1a0", "\tmov.w\t[A1A0],R0\n", 0, MODE_IND_A1A0, "[A1A0]", 0, nullptr, 0, 0, 0},
    {"symbolic_immediate", "\tpush.w\t#_sym+2\n", 0, MODE_IMM, "#_sym+2", 0, "_sym", 0, 0, P | Y},
    {"negative_immediate", "\tadd.w\t#-1,R0\n", 0, MODE_IMM, "#-1", -1, nullptr, 0, 0, P},
    {"flag_name", "\tfclr\tc\n", 0, MODE_C, "c", 0, nullptr, 0, 0, 0},
    {"bit_number", "\tbset\t3,R0L\n", 0, MODE_ABS, "3", 3, nullptr, 0, 0, P},
    {"sb_register_not_plain", "\tmov.w\tSB,R0\n", 0, MODE_SB, "SB", 0, nullptr, 0, 0, 0},
    {"imm_spelled_name", "\tmov.w\timm,R0\n", 0, MODE_IMM, "imm", 0, nullptr, 0, 0, P},
    {"stack_displacement", "\tmov.w\t3[SP],R0\n", 0, MODE_IN8DSP, "3[SP]", 3, nullptr, 0, 0, 0},
    {"minus_then_plus", "\tmov.w\t-4+1[FB],R0\n", 0, MODE_INDFB, "-4+1[FB]", -3, nullptr, 1, 0, 0},
    {"negative_absolute", "\tjmp\t-5\n", 0, MODE_ABS, "-5", -5, nullptr, 0, 0, P},
    {"two_word_immediate_keeps_blank", "\tmov.w\t#SIZEOF data_NE,R0\n", 0, MODE_IMM,
     "#SIZEOF data_NE", 0, "SIZEOF", 0, 0, P | Y},
    {"blanks_dropped_elsewhere", "\tmov.w\t#_y + 1,R0\n", 0, MODE_IMM, "#_y+1", 0, "_y", 0, 0,
     P | Y},
    {"immediate_expression", "\tmov.w\t#1+2,R0\n", 0, MODE_IMM, "#1+2", 3, nullptr, 2, 0, P},
};

INSTANTIATE_TEST_SUITE_P(Parser, Operands, ::testing::ValuesIn(kOperandCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct LineCase {
  const char* name;
  const char* line;
  std::uint8_t kind;
  const char* label;  // nullptr: none
  std::uint32_t id;   // instruction or directive id
  std::uint32_t size_code;
  std::uint32_t format_code;
  std::uint32_t operand_count;
};

class Lines : public ::testing::TestWithParam<LineCase> {};

TEST_P(Lines, AreClassified) {
  const LineCase& c = GetParam();
  const Statement* s = parse_one(c.line);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->kind, c.kind);
  if (c.label) {
    ASSERT_NE(s->label, nullptr);
    EXPECT_EQ(std::string(s->label->name), c.label);
  } else {
    EXPECT_EQ(s->label, nullptr);
  }
  EXPECT_EQ(std::string(s->text()), c.line);
  if (s->kind == STMT_INSN) {
    EXPECT_EQ(s->insn()->insn_id, c.id);
    EXPECT_EQ(s->insn()->size_code, c.size_code);
    EXPECT_EQ(s->insn()->format_code, c.format_code);
    EXPECT_EQ(s->insn()->operand_count, c.operand_count);
    EXPECT_NE(s->insn()->operands, nullptr);
  } else if (s->kind == STMT_DIRECTIVE) {
    EXPECT_EQ(s->directive()->directive_id, c.id);
    EXPECT_EQ(s->directive()->operand_count, c.operand_count);
  } else {
    EXPECT_EQ(s->insn(), nullptr);
    EXPECT_EQ(s->directive(), nullptr);
  }
}

const LineCase kLineCases[] = {
    {"instruction", "\tmov.w\t#0FFh,R0\n", STMT_INSN, nullptr, INSN_MOV, 2, 0, 2},
    {"format_g", "\tmov.b:g\t-2[FB],R1L\n", STMT_INSN, nullptr, INSN_MOV, 1, 1, 2},
    {"format_upper_case", "\tmov.w:Q\t#1,R0\n", STMT_INSN, nullptr, INSN_MOV, 2, 3, 2},
    {"no_operands", "\trts\n", STMT_INSN, nullptr, INSN_RTS, 0, 0, 0},
    {"sb_indirect_unanalysed", "\tmov.w\t[SB],R0\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"a1a0_displacement_unanalysed", "\tmov.w\t2[A1A0],R0\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"trailing_comma", "\tmov.w\tR0,\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"question_plus", "\tjmp\t?+\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"bad_format", "\tmov.w:x\tR0,R1\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"parenthesis", "\tmov.w\t(1),R0\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"extra_tokens", "\tmov.w\tR0 R1,R2\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"mnemonic_as_operand", "\tjsr\tadd\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"label_only", "L1:\n", STMT_INSN, "L1", 0, 0, 0, 0},
    {"label_with_comment", "L1: ; here\n", STMT_INSN, "L1", 0, 0, 0, 0},
    {"label_and_instruction", "L2:\tadd.w\t#1,R0\n", STMT_INSN, "L2", INSN_ADD, 2, 0, 2},
    {"label_then_garbage", "L1: foo bar\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"question_label", "?:\n", STMT_INSN, "?", 0, 0, 0, 0},
    {"equ_defines_symbol", "_k .equ 5\n", STMT_DIRECTIVE, "_k", DIR_EQU, 0, 0, 1},
    {"glb_after_name_unanalysed", "_k .glb\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"byte_after_name_unanalysed", "SYM .byte 5\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"section", "\t.section\tprogram,CODE\n", STMT_DIRECTIVE, nullptr, DIR_SECTION, 0, 0, 2},
    {"labelled_directive", "X:\t._line\t3\n", STMT_DIRECTIVE, "X", DIR__LINE, 0, 0, 1},
    {"brace_at_end_unanalysed", "\t.word\t{\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"braces_group", "\t.word\t{1,2},3\n", STMT_DIRECTIVE, nullptr, DIR_WORD, 0, 0, 3},
    {"symbol_minus_number_has_no_absolute_pattern", "\tmov.w\t_t-2,R0\n", STMT_OTHER, nullptr, 0,
     0, 0, 0},
    {"blanks_only", "   \t\n", STMT_BLANK, nullptr, 0, 0, 0, 0},
    {"comment_only", "; c\n", STMT_BLANK, nullptr, 0, 0, 0, 0},
    {"starts_with_number", "12 mov\n", STMT_OTHER, nullptr, 0, 0, 0, 0},
    {"lower_case_directive", "\t.glb\t_f\n", STMT_DIRECTIVE, nullptr, DIR_GLB, 0, 0, 1},
};

INSTANTIATE_TEST_SUITE_P(Parser, Lines, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Parser, DirectiveArgumentsLoseTheirBlanks) {
  const Statement* s = parse_one("\t.section\tprogram , CODE ; c\n");
  ASSERT_EQ(s->kind, STMT_DIRECTIVE);
  ASSERT_EQ(s->directive()->operand_count, 2u);
  EXPECT_EQ(std::string(s->directive()->operands[0]), "program");
  EXPECT_EQ(std::string(s->directive()->operands[1]), "CODE");
}

TEST(Parser, EmptySlotOfAnInstructionWithoutOperands) {
  const Statement* s = parse_one("\trts\n");
  ASSERT_EQ(s->kind, STMT_INSN);
  EXPECT_EQ(s->insn()->operands[0].mode, 0u);
  EXPECT_EQ(s->insn()->operands[0].text, "");
  EXPECT_FALSE(s->insn()->operands[0].symbol.has_value());
}

TEST(Parser, TooManyOperandsMakeTheLineUnanalysed) {
  std::string line = "\tpushm\tR0";
  for (int i = 0; i < 255; ++i) line += ",R1";
  const Statement* s = parse_one(line + "\n");
  EXPECT_EQ(s->kind, STMT_OTHER);
  std::string ok = "\tpushm\tR0";
  for (int i = 0; i < 254; ++i) ok += ",R1";
  s = parse_one(ok + "\n");
  ASSERT_EQ(s->kind, STMT_INSN);
  EXPECT_EQ(s->insn()->operand_count, 255u);
}

}  // namespace
