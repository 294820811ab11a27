// Pass 1001's merged immediate: a hexadecimal result is written in the
// instruction's own width when it fits that size as a signed or an unsigned
// number, and as the whole 32-bit value otherwise.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/run.h"
#include "optimizer/passes.h"
#include "output/writer.h"
#include "source/reader.h"

namespace {

constexpr const char* LANG_LINE = "\t._LANG\t'C','1.00.00'\n";

struct NarrowCase {
  const char* name;
  const char* first;   // the first or-instruction, without tab and newline
  const char* second;  // the one merged into it
  const char* merged;  // the merged line, without tab and newline
};

void PrintTo(const NarrowCase& c, std::ostream* os) { *os << c.name; }

class MergedHexImmediate : public testing::TestWithParam<NarrowCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(MergedHexImmediate, IsWrittenInTheWidthItFits) {
  const NarrowCase& c = GetParam();
  std::string source = std::string(LANG_LINE) + "\t" + c.first + "\n\t" + c.second + "\n\trts\n";
  Statement* first = read_source_text(source);
  pass_merge_logic_immediates(first);
  EXPECT_EQ(render_statements(first), std::string(LANG_LINE) + "\t" + c.merged + "\n\trts\n");
}

const NarrowCase narrow_cases[] = {
    {"byte_minus_128_is_low_8_bits", "or.b\t#80H,R0L", "or.b\t#-128,R0L", "or.b\t#80H,R0L"},
    {"byte_minus_1_is_low_8_bits", "or.b\t#0FH,R0L", "or.b\t#-16,R0L", "or.b\t#0ffH,R0L"},
    {"byte_255_stays", "or.b\t#0F0H,R0L", "or.b\t#0FH,R0L", "or.b\t#0ffH,R0L"},
    {"byte_minus_129_keeps_32_bits", "or.b\t#0FFFFFF7FH,R0L", "or.b\t#0,R0L", "or.b\t#0ffffff7fH,R0L"},
    {"byte_256_keeps_its_digits", "or.b\t#100H,R0L", "or.b\t#0,R0L", "or.b\t#0100H,R0L"},
    {"word_minus_32768_is_low_16_bits", "or.w\t#8000H,R0", "or.w\t#-32768,R0", "or.w\t#8000H,R0"},
    {"word_minus_2_is_low_16_bits", "or.w\t#00F0H,R0", "or.w\t#-2,R0", "or.w\t#0fffeH,R0"},
    {"word_65535_stays", "or.w\t#0FF00H,R0", "or.w\t#00FFH,R0", "or.w\t#0ffffH,R0"},
    {"word_minus_32769_keeps_32_bits", "or.w\t#0FFFF7FFFH,R0", "or.w\t#0,R0", "or.w\t#0ffff7fffH,R0"},
    {"word_65536_keeps_its_digits", "or.w\t#10000H,R0", "or.w\t#0,R0", "or.w\t#010000H,R0"},
    {"lower_case_suffix_kept", "or.w\t#00f0h,R0", "or.w\t#-2,R0", "or.w\t#0fffeh,R0"},
    {"decimal_first_stays_decimal", "or.w\t#-2,R0", "or.w\t#00F0H,R0", "or.w\t#-2,R0"},
    {"and_of_negative_and_hex", "and.w\t#0FFF0H,R0", "and.w\t#-1,R0", "and.w\t#0fff0H,R0"},
};

INSTANTIATE_TEST_SUITE_P(Pass1001, MergedHexImmediate, testing::ValuesIn(narrow_cases),
                         [](const testing::TestParamInfo<NarrowCase>& info) { return info.param.name; });

}  // namespace
