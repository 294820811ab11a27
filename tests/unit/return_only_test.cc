// Removing a return-only function deletes its return instruction only: when
// the body no longer holds one (its marks are older than the body), the
// statement where the search stopped is left in place.
#include <gtest/gtest.h>

#include <string>

#include "driver/run.h"
#include "optimizer/marking.h"
#include "optimizer/passes.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

Statement* find_text(Statement* first, const std::string& text) {
  for (Statement* s = first; s; s = s->next) {
    if (s->text == text) return s;
  }
  return nullptr;
}

TEST(ReturnOnlyRemoval, StatementAfterABodyWithoutReturnStays) {
  reset_run_state();
  Statement* first = read_source_text(
      "\t._LANG\t'C','1.00.00'\n"
      "\t.section\tprogram,CODE\n"
      "\t.glb\t_f\n_f:\n\trts\nE1:\n"
      "\t.glb\t_g\n_g:\n\trts\nE2:\n"
      "\t.glb\t_h\n_h:\n\tnop\n\trts\nE3:\n");
  mark_inline_asm(first);
  mark_function_entries(first);
  mark_end_labels(first);
  mark_m_l_labels(first);
  mark_function_bodies(first);
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
