// Removing a return-only function deletes its return instruction only: when
// the body no longer holds one (its marks are older than the body), the
// statement where the search stopped is left in place.
//
// Where the scans look: a host takes the return-only functions of every
// segment of its section name, before and after it, never those of another
// name; a function whose return carries a label stays however often the
// scans pass it. Each case runs through the pipeline's indexed passes and
// through the literal ones, which must give the same text.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "driver/run.h"
#include "optimizer/marking.h"
#include "optimizer/passes.h"
#include "return_only_literal.h"
#include "output/writer.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

Statement* find_text(Statement* first, const std::string& text) {
  for (Statement* s = first; s; s = s->next) {
    if (s->text() == text) return s;
  }
  return nullptr;
}

constexpr const char* LANG_LINE = "\t._LANG\t'C','1.00.00'\n";

std::string join(const std::vector<const char*>& lines) {
  std::string text = LANG_LINE;
  for (const char* line : lines) text += std::string(line) + "\n";
  return text;
}

// Reads and marks a unit as the pipeline does before its passes.
Statement* read_marked(const std::string& text) {
  Statement* first = read_source_text(text);
  mark_unit_structure(first);
  return first;
}

void attach_and_merge(Statement* first, bool literal) {
  if (literal) {
    literal_attach_return_only(first);
    literal_merge_return_only(first, INSN_RTS);
  } else {
    pass_attach_return_only(first);
    pass_merge_return_only(first, INSN_RTS);
  }
}

struct ScanCase {
  const char* name;
  std::vector<const char*> input;
  std::vector<const char*> expected;  // after passes 1012 and 1004
};

void PrintTo(const ScanCase& c, std::ostream* os) { *os << c.name; }

class ReturnOnlyScans : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ReturnOnlyScans, IndexedAndLiteralPassesGiveTheExpectedText) {
  const ScanCase& c = GetParam();
  for (bool literal : {false, true}) {
    reset_run_state();
    Statement* first = read_marked(join(c.input));
    attach_and_merge(first, literal);
    EXPECT_EQ(render_statements(first), join(c.expected)) << (literal ? "literal" : "indexed");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReturnOnlyScans,
    ::testing::Values(
        ScanCase{"reopened_section_host_takes_later_segment_of_its_name_only",
                 {"\t.section\tprogram,CODE", "\t.glb\t_f", "_f:", "\tnop", "\trts", "E1:",
                  "\t.section\tother,CODE", "\t.glb\t_g", "_g:", "\trts", "E2:",
                  "\t.section\tprogram,CODE", "\t.glb\t_h", "_h:", "\trts", "E3:"},
                 {"\t.section\tprogram,CODE", "\t.glb\t_f", "_f:", "\tnop", "_h:", "\trts", "E1:", "E3:",
                  "\t.section\tother,CODE", "\t.glb\t_g", "_g:", "\trts", "E2:",
                  "\t.section\tprogram,CODE", "\t.glb\t_h"}},
        ScanCase{"host_in_reopened_section_takes_function_from_earlier_segment",
                 {"\t.section\tprogram,CODE", "\t.glb\t_g", "_g:", "\trts", "E1:",
                  "\t.section\tother,CODE", "\t.glb\t_f", "_f:", "\tnop", "\trts", "E2:",
                  "\t.section\tprogram,CODE", "\t.glb\t_k", "_k:", "\tnop", "\trts", "E3:"},
                 {"\t.section\tprogram,CODE", "\t.glb\t_g", "\t.section\tother,CODE", "\t.glb\t_f", "_f:",
                  "\tnop", "\trts", "E2:", "\t.section\tprogram,CODE", "\t.glb\t_k", "_k:", "\tnop", "_g:",
                  "\trts", "E3:", "E1:"}},
        ScanCase{"labelled_return_stays_past_every_host",
                 {"\t.section\tprogram,CODE", "\t.glb\t_f", "_f:", "\tnop", "\trts", "E1:", "\t.glb\t_g",
                  "_g:", "L9:\trts", "E2:", "\t.glb\t_h", "_h:", "\trts", "E3:", "\t.glb\t_k", "_k:",
                  "\tnop", "\trts", "E4:"},
                 {"\t.section\tprogram,CODE", "\t.glb\t_f", "_f:", "\tnop", "_h:", "\trts", "E1:", "E3:",
                  "\t.glb\t_g", "_g:", "L9:\trts", "E2:", "\t.glb\t_h", "\t.glb\t_k", "_k:", "\tnop",
                  "\trts", "E4:"}}),
    [](const ::testing::TestParamInfo<ScanCase>& info) { return std::string(info.param.name); });

// An entry label right after an end label travels with it as an M label and
// its copy is a candidate again: the scan that moved it meets the copy after
// the host and removes it in its turn (its body walk runs off the end of the
// unit, so its end label stays). The marking never makes such an entry; the
// marks are set by hand, as a pass could leave them.
TEST(ReturnOnlyScansByHand, CopyOfAnEntryMovedAsMLabelIsRemovedInTheSameScan) {
  for (bool literal : {false, true}) {
    reset_run_state();
    Statement* first = read_marked(join({"\t.section\tprogram,CODE", "\t.glb\t_g", "_g:", "\trts", "E2:",
                                         "Mx:", "\trts", "E3:", "\t.glb\t_f", "_f:", "\tnop", "\trts", "E1:"}));
    Statement* mx = find_text(first, "Mx:\n");
    ASSERT_NE(mx, nullptr);
    ASSERT_TRUE(mx->flags & SF_M_LABEL);
    mx->flags |= SF_FUNC_ENTRY | SF_RETURN_ONLY | SF_IN_FUNCTION;
    mx->next->flags |= SF_IN_FUNCTION;
    mx->next->next->flags |= SF_IN_FUNCTION;

    attach_and_merge(first, literal);
    EXPECT_EQ(render_statements(first),
              join({"\t.section\tprogram,CODE", "\t.glb\t_g", "\trts", "E3:", "\t.glb\t_f", "_f:", "\tnop",
                    "_g:", "Mx:", "\trts", "E1:", "E2:"}))
        << (literal ? "literal" : "indexed");
  }
}

TEST(ReturnOnlyRemoval, StatementAfterABodyWithoutReturnStays) {
  reset_run_state();
  Statement* first = read_source_text(
      "\t._LANG\t'C','1.00.00'\n"
      "\t.section\tprogram,CODE\n"
      "\t.glb\t_f\n_f:\n\trts\nE1:\n"
      "\t.glb\t_g\n_g:\n\trts\nE2:\n"
      "\t.glb\t_h\n_h:\n\tnop\n\trts\nE3:\n");
  mark_unit_structure(first);
  mark_return_only(first, INSN_RTS);

  Statement* g = find_text(first, "_g:\n");
  ASSERT_NE(g, nullptr);
  ASSERT_TRUE(g->flags & SF_RETURN_ONLY);
  // _g's rts goes after the marking: the search for it runs past E2 and
  // stops at the first statement outside any body, the .glb of _h.
  delete_statement(g->next);
  Statement* glb_h = find_text(first, "\t.glb\t_h\n");
  ASSERT_NE(glb_h, nullptr);

  pass_merge_return_only(first, INSN_RTS);

  EXPECT_EQ(g->kind, STMT_BLANK) << "_g's entry label moved to _f";
  EXPECT_EQ(glb_h->kind, STMT_DIRECTIVE);
  EXPECT_FALSE(glb_h->replacement.has_value());
}

}  // namespace
