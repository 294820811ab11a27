// The indexed return-only passes against the literal ones: on many generated
// files, prepared as the pipeline prepares a unit, passes 1012, 1004 and the
// reit step of 1010 must leave every statement with the same text and the
// same flag word as the literal scans, after each step. The files come from
// generate_file, from the return-only shape (fuzz/generate.h), and from that
// shape again with disturbed marks, since the literal scans define the
// result for any state of the marks.
// TARVOX_RETURN_ONLY_SEEDS sets the number of seeds per set (2000 by default).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/run.h"
#include "generate.h"
#include "optimizer/marking.h"
#include "optimizer/passes.h"
#include "output/writer.h"
#include "return_only_literal.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

int seed_count() {
  const char* n = std::getenv("TARVOX_RETURN_ONLY_SEEDS");
  return n ? std::atoi(n) : 2000;
}

struct Snapshot {
  std::string text;
  std::vector<std::uint32_t> flags;
};

Snapshot take(const Statement* first) {
  Snapshot shot{render_statements(first), {}};
  for (const Statement* s = first; s; s = s->next) shot.flags.push_back(s->flags);
  return shot;
}

// Reads `text` and prepares it as the pipeline does, then runs 1012 (unless
// left out), 1004, and the reit step of 1010, with a snapshot after each.
std::vector<Snapshot> run_steps(const std::string& text, bool literal, bool with_1012, std::uint64_t disturb_seed) {
  reset_run_state();
  Statement* first = read_source_text(text);
  std::vector<Snapshot> shots;
  if (!first) return shots;
  mark_unit_structure(first);
  if (disturb_seed) disturb_marks(first, disturb_seed);
  if (with_1012) {
    literal ? literal_attach_return_only(first) : pass_attach_return_only(first);
    shots.push_back(take(first));
  }
  literal ? literal_merge_return_only(first, INSN_RTS) : pass_merge_return_only(first, INSN_RTS);
  shots.push_back(take(first));
  mark_return_only(first, INSN_REIT);
  literal ? literal_merge_return_only(first, INSN_REIT) : pass_merge_return_only(first, INSN_REIT);
  shots.push_back(take(first));
  return shots;
}

// "" when both implementations agree at every step, else where they part.
std::string compare(const std::string& text, bool with_1012, std::uint64_t disturb_seed) {
  std::vector<Snapshot> literal = run_steps(text, true, with_1012, disturb_seed);
  std::vector<Snapshot> indexed = run_steps(text, false, with_1012, disturb_seed);
  const char* steps_with[] = {"1012", "1004", "1010 reit"};
  const char* const* steps = with_1012 ? steps_with : steps_with + 1;
  if (literal.size() != indexed.size()) return "different number of steps";
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (literal[i].text != indexed[i].text)
      return std::string("output after ") + steps[i] + ":\n--- literal\n" + literal[i].text + "--- indexed\n" +
             indexed[i].text;
    if (literal[i].flags != indexed[i].flags) return std::string("flags after ") + steps[i];
  }
  return "";
}

// Compares both implementations on the files of `make`, with and without
// 1012, with `disturbed` marks or not; returns how many of the files (with
// their marks as made) the passes changed: the comparison means something
// only when they act.
template <typename Make>
int compare_files(Make make, bool disturbed) {
  int changed = 0;
  for (int seed = 1; seed <= seed_count(); ++seed) {
    std::string text = make(seed);
    std::uint64_t disturb_seed = disturbed ? static_cast<std::uint64_t>(seed) : 0;
    EXPECT_EQ(compare(text, true, disturb_seed), "") << "seed " << seed;
    EXPECT_EQ(compare(text, false, disturb_seed), "") << "without 1012, seed " << seed;
    if (testing::Test::HasFailure()) return changed;
    std::vector<Snapshot> shots = run_steps(text, false, true, 0);
    reset_run_state();
    Statement* first = read_source_text(text);
    if (!shots.empty() && first && shots.back().text != render_statements(first)) ++changed;
  }
  return changed;
}

TEST(ReturnOnlyDifferential, GeneratedFiles) {
  int changed = compare_files([](int seed) { return generate_file(seed); }, false);
  EXPECT_GT(changed, seed_count() / 10);
}

TEST(ReturnOnlyDifferential, FilesFullOfReturnOnlyFunctions) {
  int changed = compare_files([](int seed) { return generate_shaped_file(seed, FileShape::return_only); }, false);
  EXPECT_GT(changed, seed_count() / 2);
}

TEST(ReturnOnlyDifferential, FilesWithDisturbedMarks) {
  int changed =
      compare_files([](int seed) { return generate_shaped_file(seed + 500000, FileShape::return_only); }, true);
  EXPECT_GT(changed, seed_count() / 2);
}

}  // namespace
