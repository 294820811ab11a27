// The reader's statements and code chain, with the links of the lines
// outside it, and the list operations that keep the chain whole.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/diagnostics.h"
#include "driver/run.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

std::vector<Statement*> statements_of(Statement* first) {
  std::vector<Statement*> all;
  for (Statement* s = first; s; s = s->next) all.push_back(s);
  return all;
}

TEST(Reader, SevenLinesAndTheirCodeChain) {
  reset_run_state();
  Statement* first = read_source_text(
      "\t._LANG\t'C',1\n"
      "\n"
      "L1:\n"
      "; a comment\n"
      "L2:\tmov.w\t#1,R0\n"
      "\t.section\tprogram,CODE\n"
      "\t.end\n");
  auto s = statements_of(first);
  ASSERT_EQ(s.size(), 7u);
  EXPECT_EQ(s[0]->kind, STMT_DIRECTIVE);
  EXPECT_EQ(s[1]->kind, STMT_BLANK);
  EXPECT_TRUE(is_label_line(s[2]));
  EXPECT_EQ(s[3]->kind, STMT_BLANK);
  EXPECT_TRUE(is_insn(s[4], INSN_MOV));
  EXPECT_TRUE(is_directive(s[5], DIR_SECTION));
  EXPECT_TRUE(is_directive(s[6], DIR_END));
  // The chain holds the label line, the instruction, .section and .end.
  EXPECT_EQ(s[0]->chain_next, s[2]);
  EXPECT_EQ(s[2]->chain_prev, nullptr);
  EXPECT_EQ(s[2]->chain_next, s[4]);
  EXPECT_EQ(s[4]->chain_prev, s[2]);
  EXPECT_EQ(s[4]->chain_next, s[5]);
  EXPECT_EQ(s[5]->chain_next, s[6]);
  EXPECT_EQ(s[6]->chain_next, nullptr);
  // Non-members point at the member that preceded them.
  EXPECT_EQ(s[1]->chain_prev, nullptr);
  EXPECT_EQ(s[1]->chain_next, nullptr);
  EXPECT_EQ(s[3]->chain_prev, s[2]);
  EXPECT_EQ(s[3]->chain_next, s[2]);
  for (std::size_t i = 0; i + 1 < s.size(); ++i) EXPECT_EQ(s[i + 1]->prev, s[i]);
}

TEST(Reader, UnanalysedLinesAreChainMembersAndGlbIsNot) {
  reset_run_state();
  Statement* first = read_source_text(
      "\t._LANG\t'C'\n"
      "\tmov.w:x\tR0,R1\n"
      "\t.glb\t_f\n"
      "\t.word\t1\n");
  auto s = statements_of(first);
  ASSERT_EQ(s.size(), 4u);
  EXPECT_EQ(s[1]->kind, STMT_OTHER);
  EXPECT_EQ(s[0]->chain_next, s[1]);
  EXPECT_EQ(s[2]->chain_prev, s[1]);
  EXPECT_EQ(s[3]->chain_prev, s[1]);
  EXPECT_EQ(s[1]->chain_next, nullptr);
}

// A statement holds a text of up to 4 GiB less one byte; a longer one ends
// the run as memory running out would, instead of being cut short. (Only
// the view's length is read: no such text is made.)
TEST(Statements, TextOfFourGibibytesEndsTheRunWithErrorFive) {
  reset_run_state();
  Statement* s = new_statement();
  static const char byte = 'x';
  set_text(s, std::string_view(&byte, 1));
  EXPECT_EQ(s->text(), "x");
  int status = -1;
  testing::internal::CaptureStderr();
  try {
    set_text(s, std::string_view(&byte, std::size_t(UINT32_MAX) + 1));
  } catch (const RunExit& e) {
    status = e.status;
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "(null)(0): C2905 (E)Not enough memory\n");
  EXPECT_EQ(status, 4);
  EXPECT_EQ(s->text(), "x");
}

TEST(Statements, ChainInsertAfterABlankAnchorFindsThePrecedingInstruction) {
  reset_run_state();
  Statement* first = read_source_text("\t._LANG\t'C',1\n\tnop\n; c\n\t.glb\t_x\n\trts\n");
  Statement* nop = first->next;
  Statement* glb = nop->next->next;
  Statement* rts = glb->next;
  Statement* added = new_statement_like(nop);
  insert_after(glb, added);
  chain_insert(glb, added);
  EXPECT_EQ(nop->chain_next, added);
  EXPECT_EQ(added->chain_next, rts);
  EXPECT_EQ(rts->chain_prev, added);
}

}  // namespace
