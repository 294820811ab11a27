// The formatter's notations for immediates.
#include "source/formatter.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/run.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

struct ImmediateCase {
  const char* name;
  std::uint32_t insn_id;
  std::uint32_t size_code;
  const char* old_text;
  std::int32_t value;
  const char* new_text;
};

void PrintTo(const ImmediateCase& c, std::ostream* os) { *os << c.name; }

class SetImmediateValue : public testing::TestWithParam<ImmediateCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(SetImmediateValue, WritesTheValueInTheOldNotation) {
  const ImmediateCase& c = GetParam();
  InsnDetail* d = new_insn_detail(2);
  d->insn_id = c.insn_id;
  d->size_code = c.size_code;
  d->operand_count = 2;
  d->operands[0].mode = MODE_IMM;
  d->operands[0].text = c.old_text;
  d->operands[1].mode = MODE_R0;
  d->operands[1].text = "R0";
  EXPECT_EQ(set_immediate_value(c.value, d, 0), d);
  EXPECT_EQ(d->operands[0].text, c.new_text);
  EXPECT_EQ(d->operands[0].value, c.value);
  EXPECT_EQ(d->operands[1].text, "R0");
}

const ImmediateCase immediate_cases[] = {
    {"byte_hex_letter_digit_gets_leading_zero", INSN_AND, SIZE_B, "#0FFh", 171, "#0abh"},
    {"byte_hex_two_digits", INSN_AND, SIZE_B, "#0FFh", 31, "#1fh"},
    {"byte_hex_padded_to_two_digits", INSN_AND, SIZE_B, "#0FFh", 5, "#05h"},
    {"byte_hex_wider_value_keeps_its_digits", INSN_AND, SIZE_B, "#0FFh", 0x123, "#0123h"},
    {"byte_hex_negative_value_compared_unsigned", INSN_AND, SIZE_B, "#0FFh", -1, "#0ffffffffh"},
    {"word_hex_keeps_upper_case_suffix", INSN_AND, SIZE_W, "#0FFFFH", 40960, "#0a000H"},
    {"word_hex_digit_first", INSN_AND, SIZE_W, "#0FFFFH", 4096, "#1000H"},
    {"word_hex_just_below_letter_digit", INSN_AND, SIZE_W, "#0FFFFh", 0x9FFF, "#9fffh"},
    {"long_hex_padded_to_eight_digits", INSN_MOV, SIZE_L, "#0h", 1, "#00000001h"},
    {"long_hex_letter_digit", INSN_MOV, SIZE_L, "#0h", static_cast<std::int32_t>(0xA0000000u), "#0a0000000h"},
    {"no_size_hex_letter_digit", INSN_MOV, SIZE_NONE, "#0FFh", 171, "#0abh"},
    {"no_size_hex_without_padding", INSN_MOV, SIZE_NONE, "#0FFh", 5, "#5h"},
    {"no_size_hex_zero", INSN_MOV, SIZE_NONE, "#0FFh", 0, "#0h"},
    {"no_size_hex_several_digits", INSN_MOV, SIZE_NONE, "#0FFH", 0x1234, "#1234H"},
    {"address_size_hex_letter_digit", INSN_MOV, SIZE_A, "#0FFh", 0xA000, "#0a000h"},
    {"decimal_negative", INSN_AND, SIZE_W, "#15", -1, "#-1"},
    {"decimal_stays_decimal", INSN_AND, SIZE_B, "#15", 255, "#255"},
    {"adjnz_step_always_decimal", INSN_ADJNZ, SIZE_W, "#0FFFFh", -2, "#-2"},
};

INSTANTIATE_TEST_SUITE_P(Formatter, SetImmediateValue, testing::ValuesIn(immediate_cases),
                         [](const testing::TestParamInfo<ImmediateCase>& info) { return info.param.name; });

}  // namespace
