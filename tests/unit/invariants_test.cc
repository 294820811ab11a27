// Whole runs over generated files: whatever the options, no label is lost or
// defined twice, every new line is one the program understands, a second run
// on the output succeeds, and with every pass off the output is the input.
// TARVOX_GENERATED_FILES sets how many files (300 by default).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "driver/run.h"
#include "generate.h"
#include "test_files.h"
#include "source/reader.h"
#include "source/statement.h"

namespace {

int file_count() {
  const char* n = std::getenv("TARVOX_GENERATED_FILES");
  return n ? std::atoi(n) : 300;
}

TEST(Invariants, HoldOnGeneratedFilesWithGeneratedOptions) {
  ScratchDir scratch("tarvox_invariants");
  ASSERT_FALSE(scratch.path.empty());
  const std::string& dir = scratch.path;
  int runs = 0;
  for (int seed = 1; seed <= file_count(); ++seed) {
    std::string input = generate_file(seed);
    std::vector<std::string> options = generate_options(seed);
    std::string output;
    ASSERT_EQ(run_in_process(dir, input, options, output), 0) << "seed " << seed;
    ASSERT_EQ(check_invariants(input, output, false), "") << "seed " << seed;
    std::string second;
    ASSERT_EQ(run_in_process(dir, output, options, second), 0) << "second run, seed " << seed;
    ++runs;
  }
  EXPECT_EQ(runs, file_count());
}

bool is_empty_operand(const Operand& op) {
  return op.mode == 0 && op.value == 0 && op.text.empty() && !op.symbol && op.offset == 0 &&
         op.width == 0 && op.flags == 0;
}

// The reader's plain label lines share one detail, and its instructions and
// directives without operands one empty operand slot: a pass that wrote
// into them would change every such line read after it.
TEST(Invariants, SharedEmptyDetailsStayEmptyThroughWholeRuns) {
  ScratchDir scratch("tarvox_invariants");
  ASSERT_FALSE(scratch.path.empty());
  const std::string& dir = scratch.path;
  for (int seed = 1; seed <= 100; ++seed) {
    std::string output;
    ASSERT_EQ(run_in_process(dir, generate_file(seed), generate_options(seed), output), 0)
        << "seed " << seed;
  }
  reset_run_state();
  Statement* label = read_source_text("L9:\n\trts\n\t.align\n");
  ASSERT_TRUE(label && label->next && label->next->next);
  const InsnDetail* d = label->insn();
  ASSERT_TRUE(is_label_line(label));
  EXPECT_TRUE(d->mnemonic.empty());
  EXPECT_EQ(d->size_code, 0u);
  EXPECT_EQ(d->format_code, 0u);
  EXPECT_EQ(d->operand_count, 0u);
  EXPECT_TRUE(is_empty_operand(d->operands[0]));
  const Statement* rts = label->next;
  ASSERT_TRUE(is_instruction(rts));
  EXPECT_EQ(rts->insn()->operand_count, 0u);
  EXPECT_TRUE(is_empty_operand(rts->insn()->operands[0]));
  const Statement* align = rts->next;
  ASSERT_EQ(align->kind, STMT_DIRECTIVE);
  EXPECT_EQ(align->directive()->operand_count, 0u);
  EXPECT_TRUE(align->directive()->operands[0].empty());
}

TEST(Invariants, EveryPassOffGivesTheInputBack) {
  ScratchDir scratch("tarvox_invariants");
  ASSERT_FALSE(scratch.path.empty());
  const std::string& dir = scratch.path;
  std::vector<std::string> off;
  for (int pass = 1001; pass <= 1012; ++pass) off.push_back("-off=" + std::to_string(pass));
  for (int seed = 1; seed <= file_count() / 3; ++seed) {
    std::string input = generate_file(seed);
    std::string output;
    ASSERT_EQ(run_in_process(dir, input, off, output), 0) << "seed " << seed;
    ASSERT_EQ(check_invariants(input, output, true), "") << "seed " << seed;
  }
}

}  // namespace
