// Pass 1003's step range: the immediate is read as a signed number of the
// instruction's size, sub takes -7..8 (the step is its negation), add -8..7.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "driver/run.h"
#include "optimizer/passes.h"
#include "output/writer.h"
#include "source/reader.h"

namespace {

constexpr const char* LANG_LINE = "\t._LANG\t'C','1.00.00'\n";

struct StepCase {
  const char* name;
  const char* step;    // the add or sub, without tab and newline
  const char* fused;   // the adjnz line, or nullptr when the pair stays
};

void PrintTo(const StepCase& c, std::ostream* os) { *os << c.name; }

class AdjnzStep : public testing::TestWithParam<StepCase> {
 protected:
  void SetUp() override { reset_run_state(); }
};

TEST_P(AdjnzStep, FusesOnlyStepsInRange) {
  const StepCase& c = GetParam();
  std::string head = std::string(LANG_LINE) + "L1:\n";
  std::string pair = std::string("\t") + c.step + "\n\tjne\tL1\n";
  Statement* first = read_source_text(head + pair + "\trts\n");
  pass_make_adjnz(first);
  std::string expected = c.fused ? std::string("\t") + c.fused + "\n" : pair;
  EXPECT_EQ(render_statements(first), head + expected + "\trts\n");
}

const StepCase step_cases[] = {
    {"sub_8_is_step_minus_8", "sub.w\t#8,R0", "adjnz.w\t#-8,R0,L1"},
    {"sub_9_stays", "sub.w\t#9,R0", nullptr},
    {"sub_minus_7_is_step_7", "sub.w\t#-7,R0", "adjnz.w\t#7,R0,L1"},
    {"sub_minus_8_stays", "sub.w\t#-8,R0", nullptr},
    {"add_7", "add.w\t#7,R0", "adjnz.w\t#7,R0,L1"},
    {"add_8_stays", "add.w\t#8,R0", nullptr},
    {"add_minus_8", "add.w\t#-8,R0", "adjnz.w\t#-8,R0,L1"},
    {"add_minus_9_stays", "add.w\t#-9,R0", nullptr},
    {"byte_0F8H_is_minus_8", "add.b\t#0F8H,R0L", "adjnz.b\t#-8,R0L,L1"},
    {"byte_0F7H_is_minus_9", "add.b\t#0F7H,R0L", nullptr},
    {"byte_sub_0F9H_is_step_7", "sub.b\t#0F9H,R1L", "adjnz.b\t#7,R1L,L1"},
    {"word_0FFF8H_is_minus_8", "add.w\t#0FFF8H,R0", "adjnz.w\t#-8,R0,L1"},
    {"word_0FFH_is_255", "add.w\t#0FFH,R0", nullptr},
    {"no_size_reads_32_bits", "add\t#0FFFFH,R0", nullptr},
    {"address_size_kept", "add.a\t#1,A0", "adjnz.a\t#1,A0,L1"},
    {"format_kept", "sub.w:q\t#1,R0", "adjnz.w:q\t#-1,R0,L1"},
    {"memory_operand", "sub.w\t#1,-2[FB]", "adjnz.w\t#-1,-2[FB],L1"},
    {"byte_address_register_stays", "add.b\t#1,A1", nullptr},
    {"long_stays", "sub.l\t#1,R2R0", nullptr},
};

INSTANTIATE_TEST_SUITE_P(Pass1003, AdjnzStep, testing::ValuesIn(step_cases),
                         [](const testing::TestParamInfo<StepCase>& info) { return info.param.name; });

}  // namespace
