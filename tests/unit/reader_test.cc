// The reader: one statement per line in file order, the code chain and its
// links on non-members, byte-exact texts, and the writer's round trip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/diagnostics.h"
#include "driver/run.h"
#include "driver/settings.h"
#include "output/writer.h"
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

// Every input comes back byte for byte when nothing changes it (carriage
// returns before line feeds dropped).
struct RoundTripCase {
  const char* name;
  std::string input;
  std::string output;
};

class RoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, WritesTheInputBack) {
  reset_run_state();
  Statement* first = read_source_text(GetParam().input);
  EXPECT_EQ(render_statements(first), GetParam().output);
}

const std::string kHead = "\t._LANG\t'C',1\n";

const RoundTripCase kRoundTrips[] = {
    {"plain", kHead + "\tmov.w\t#1,R0  ; c\nL1:\n\n", kHead + "\tmov.w\t#1,R0  ; c\nL1:\n\n"},
    {"crlf_dropped", kHead + "\trts\r\n\r\n", kHead + "\trts\n\n"},
    {"lone_cr_kept", kHead + "\trts\r\rx\n", kHead + "\trts\r\rx\n"},
    {"crlf_after_plain_lines", kHead + "\tnop\n\tnop\n\trts\r\n", kHead + "\tnop\n\tnop\n\trts\n"},
    {"cr_as_last_byte_kept", kHead + "\tnop\n\trts\r", kHead + "\tnop\n\trts\r"},
    {"no_final_newline", kHead + "\trts", kHead + "\trts"},
    {"nul_bytes", kHead + std::string("\tmov\0.w\0\n", 9), kHead + std::string("\tmov\0.w\0\n", 9)},
    {"binary_garbage", kHead + "\x01\xff\xfe{}\x80\n\x7f", kHead + "\x01\xff\xfe{}\x80\n\x7f"},
    {"ends_in_string", kHead + "\t.byte\t\"abc", kHead + "\t.byte\t\"abc"},
    {"ends_in_comment", kHead + "; tail", kHead + "; tail"},
    {"first_line_only", kHead, kHead},
    {"long_line", kHead + ";" + std::string(100000, 'y') + "\n",
     kHead + ";" + std::string(100000, 'y') + "\n"},
};

INSTANTIATE_TEST_SUITE_P(Reader, RoundTrip, ::testing::ValuesIn(kRoundTrips),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Writer, ListsChangedLinesUnderFcout) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\tmov.w\tR0,R1\n\tnop\n");
  Statement* mov = first->next;
  Statement* nop = mov->next;
  delete_statement(mov);
  nop->replacement = std::string_view("\tbrk\t\n");
  nop->flags |= SF_REWRITTEN;
  EXPECT_EQ(render_statements(first), kHead + "\tbrk\t\n");
  option_flags |= OF_FCOUT;
  EXPECT_EQ(render_statements(first), kHead + ";;\tmov.w\tR0,R1\n;;\tnop\n\tbrk\t\n");
}

TEST(Writer, BracketsSharedCallsUnderFinfo) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\tjsr\t_Tarvox_in_1\n");
  first->next->flags |= SF_SHARED_CALL;
  EXPECT_EQ(render_statements(first), kHead + "\tjsr\t_Tarvox_in_1\n");
  option_flags |= OF_FINFO | OF_FCOUT;
  EXPECT_EQ(render_statements(first), kHead + "\t.stk\t3\n\tjsr\t_Tarvox_in_1\n\t.stk\t-3\n");
}

TEST(Writer, LineFeedAfterAnOpenLastLineOnlyWhenMoreFollows) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\trts");
  Statement* last = first->next;
  Statement* added = new_statement_like(last);
  set_text(added, "\tnop\n");
  insert_after(last, added);
  EXPECT_EQ(render_statements(first), kHead + "\trts\n\tnop\n");
  option_flags |= OF_FCOUT;
  delete_statement(last);
  EXPECT_EQ(render_statements(first), kHead + ";;\trts\n\tnop\n");
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

TEST(Statements, InsertAfterTheLastAndChainInsertAtTheHead) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\t.section\tp,CODE\n\tnop\n");
  Statement* section = first->next;
  Statement* nop = section->next;
  // No instruction member at or before the .section: the new statement heads
  // the chain.
  Statement* head = new_statement_like(nop);
  insert_after(section, head);
  chain_insert(section, head);
  EXPECT_EQ(first->chain_next, head);
  EXPECT_EQ(head->chain_next, section);
  EXPECT_EQ(section->chain_prev, head);
  // After the chain's last member, at the end of the file.
  Statement* tail = new_statement_like(nop);
  insert_after(nop, tail);
  chain_insert(nop, tail);
  EXPECT_EQ(nop->next, tail);
  EXPECT_EQ(tail->next, nullptr);
  EXPECT_EQ(nop->chain_next, tail);
  EXPECT_EQ(tail->chain_prev, nop);
  EXPECT_EQ(tail->chain_next, nullptr);
}

TEST(Statements, ChainInsertAfterABlankAnchorFindsThePrecedingInstruction) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\tnop\n; c\n\t.glb\t_x\n\trts\n");
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

// Every operand slot of a detail, the reader's and a pass's, is its own:
// filling all of one detail's slots leaves every other detail as it was.
TEST(Statements, EachDetailsOperandSlotsAreItsOwn) {
  reset_run_state();
  Statement* first = read_source_text(kHead +
                                      "\tnop\n"
                                      "\tjsr\t_f\n"
                                      "\tmov.w\t#1,R0\n"
                                      "\tadd.w\t#2,R1\n"
                                      "\tnop\n");
  std::vector<InsnDetail*> details;
  for (Statement* t = first->next; t; t = t->next) details.push_back(t->insn());
  for (std::uint32_t slots : {0u, 1u, 3u}) details.push_back(new_insn_detail(slots));
  details.push_back(new_insn_detail(2));
  ASSERT_EQ(details.size(), 9u);
  // new_insn_detail(0) still has one slot.
  const std::uint32_t room[] = {0, 1, 2, 2, 0, 1, 1, 3, 2};
  std::vector<InsnDetail> headers;
  for (const InsnDetail* d : details) headers.push_back(*d);
  for (std::size_t i = 0; i < details.size(); ++i) {
    for (std::uint32_t k = 0; k < room[i]; ++k) {
      details[i]->operands[k].value = static_cast<std::int32_t>(100 * i + k);
      details[i]->operands[k].mode = MODE_IMM;
    }
  }
  const std::uint32_t read_ids[] = {INSN_NOP, INSN_JSR, INSN_MOV, INSN_ADD, INSN_NOP};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(details[i]->insn_id, read_ids[i]);
    EXPECT_EQ(details[i]->operand_count, room[i]);
  }
  EXPECT_EQ(details[2]->size_code, SIZE_W);
  for (std::size_t i = 0; i < details.size(); ++i) {
    EXPECT_EQ(details[i]->mnemonic.data(), headers[i].mnemonic.data()) << i;
    EXPECT_EQ(details[i]->mnemonic.size(), headers[i].mnemonic.size()) << i;
    EXPECT_EQ(details[i]->operands, headers[i].operands) << i;
    EXPECT_EQ(details[i]->insn_id, headers[i].insn_id) << i;
    EXPECT_EQ(details[i]->size_code, headers[i].size_code) << i;
    EXPECT_EQ(details[i]->format_code, headers[i].format_code) << i;
    for (std::uint32_t k = 0; k < room[i]; ++k) {
      EXPECT_EQ(details[i]->operands[k].value, static_cast<std::int32_t>(100 * i + k)) << i << " " << k;
    }
  }
}

TEST(Statements, NewStatementCopiesTheWholeFlagWord) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\tnop\n");
  first->next->flags = SF_INLINE_ASM | SF_NO_OPT | SF_CONDITIONAL;
  Statement* s = new_statement_like(first->next);
  EXPECT_EQ(s->kind, STMT_INSN);
  EXPECT_EQ(s->flags, SF_INLINE_ASM | SF_NO_OPT | SF_CONDITIONAL);
}

}  // namespace

namespace {

// Chain numbers increase along chain_next, however new members come in.
bool chain_numbers_increase(const Statement* first) {
  const Statement* m = first->chain_next;
  while (m && m->chain_prev) m = m->chain_prev;
  for (; m && m->chain_next; m = m->chain_next)
    if (!(m->order < m->chain_next->order)) return false;
  return true;
}

TEST(Statements, ChainNumbersStayInOrderThroughManyInsertions) {
  reset_run_state();
  Statement* first = read_source_text(kHead + "\tnop\n\tnop\n\tnop\n");
  Statement* middle = first->next->next;
  EXPECT_TRUE(chain_numbers_increase(first));
  // Far more insertions right after one member, and right after each new
  // one, than the room between two read members allows without renumbering.
  Statement* anchor = middle;
  for (int i = 0; i < 3000; ++i) {
    Statement* s = new_statement_like(middle);
    insert_after(anchor, s);
    chain_insert(anchor, s);
    if (i % 2) anchor = s;
  }
  EXPECT_TRUE(chain_numbers_increase(first));
  // At the head of the chain.
  Statement* head = new_statement_like(middle);
  insert_after(first, head);
  chain_insert(first, head);
  EXPECT_EQ(first->chain_next, head);
  EXPECT_TRUE(chain_numbers_increase(first));
}

}  // namespace
