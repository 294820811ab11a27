// merge_byte_pair on operand forms that no input line can bring to it through
// the passes (byte loads from plain numeric addresses pass adjacent_bytes
// only with a width specifier, which a numeric address cannot carry), and on
// byte immediates whose high byte is negative.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>

#include "driver/run.h"
#include "source/reader.h"
#include "optimizer/passes.h"
#include "source/statement.h"

namespace {

struct MergeCase {
  const char* name;
  const char* lines;  // two instruction lines, first then second
  const char* merged_text;
  std::int32_t merged_offset;
};

const MergeCase merge_cases[] = {
    {"NumericAddressesLowFirst", "\tmov.b\t100H,R0L\n\tmov.b\t101H,R0H\n", "\tmov.w\t100H,R0\n", 0},
    {"NumericAddressesHighFirstTakeLowText", "\tmov.b\t101H,R1H\n\tmov.b\t100H,R1L\n",
     "\tmov.w\t100H,R1\n", 0},
    {"SymbolHighFirstTakesLowOffset", "\tor.b\t_t+2:16,R0H\n\tor.b\t_t+1:16,R0L\n",
     "\tor.w\t_t+1:16,R0\n", 1},
    {"NegativeHighByteStaysInItsByte", "\tand.b\t#0FFH,R1L\n\tand.b\t#-1,R1H\n", "\tand.w\t#0ffffH,R1\n", 0},
    {"HighByteFirstWithLabel", "L9:\txor.b\t#1,R0H\n\txor.b\t#2,R0L\n", "L9:\txor.w\t#258,R0\n", 0},
};

void PrintTo(const MergeCase& c, std::ostream* os) { *os << c.name; }

class MergeBytePair : public ::testing::TestWithParam<MergeCase> {};

TEST_P(MergeBytePair, BuildsTheWordInstruction) {
  reset_run_state();
  const MergeCase& c = GetParam();
  Statement* first = read_source_text(c.lines);
  ASSERT_NE(first, nullptr);
  Statement* second = first->next;
  ASSERT_NE(second, nullptr);
  ASSERT_TRUE(is_instruction(first));
  ASSERT_TRUE(is_instruction(second));

  Statement* merged = merge_byte_pair(first, second);
  EXPECT_EQ(std::string(merged->text()), c.merged_text);
  EXPECT_FALSE(merged->replacement.has_value());
  EXPECT_EQ(merged->insn()->operands[0].offset, c.merged_offset);
  // Not linked: the two byte instructions still follow each other.
  EXPECT_EQ(first->next, second);
  EXPECT_EQ(merged->prev, nullptr);
  EXPECT_EQ(merged->next, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Widen, MergeBytePair, ::testing::ValuesIn(merge_cases),
                         [](const ::testing::TestParamInfo<MergeCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
