// Fusing bit test, branch and bit set or clear (pass 1006): a test of a bit,
// a branch on it, and a set or clear of the same bit on the path where the
// branch is not taken become one test-and-modify instruction and the branch.
//
//   btst  3,R0                    btsts  3,R0
//   jnz   L1               ->     jnz    L1
//   bset  3,R0
//
// btst / jz / bclr becomes btstc / jz the same way. The pipeline runs the
// pass only on request (-Obtstc, -O5); -O5OA keeps it away from bits of
// absolute memory operands. The two new lines stand where the set or clear
// stood; the test's same-line label moves to the new test.
#include <cstdint>

#include "driver/memory.h"
#include "driver/settings.h"
#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/formatter.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// The bases whose bits the pass fuses: registers, frame slots and absolute
// memory.
bool is_fusable_base(std::uint32_t mode) {
  switch (mode) {
    case MODE_R0:
    case MODE_R1:
    case MODE_R2:
    case MODE_R3:
    case MODE_A0:
    case MODE_A1:
    case MODE_INDFB:
    case MODE_ABS:
      return true;
    default:
      return false;
  }
}

// Whether the test a, the branch b and the set or clear c may be fused.
bool fusable(const Statement* a, const Statement* b, const Statement* c) {
  const InsnDetail* A = a->insn();
  const InsnDetail* B = b->insn();
  const InsnDetail* C = c->insn();
  if (A->size_code != SIZE_NONE || B->size_code != SIZE_NONE || C->size_code != SIZE_NONE) return false;
  if (B->format_code != FMT_NONE) return false;
  if (A->operand_count != 2 || C->operand_count != 2 || B->operand_count != 1) return false;

  const Operand& test_bit = A->operands[0];
  const Operand& modify_bit = C->operands[0];
  if (test_bit.mode != MODE_ABS || B->operands[0].mode != MODE_ABS || modify_bit.mode != MODE_ABS)
    return false;
  const std::uint32_t base = A->operands[1].mode;
  if (C->operands[1].mode != base || !is_fusable_base(base)) return false;
  if ((option_flags & OF_O5_OFF_ABSMOD) && base == MODE_ABS) return false;
  // A bit number written as a name has the value 0 whatever it stands for,
  // so only bit numbers written as numbers are compared.
  if ((test_bit.flags & OPF_SYMBOLIC) || (modify_bit.flags & OPF_SYMBOLIC)) return false;
  if (!same_symbol_and_width(A, C) || test_bit.symbol) return false;
  if (test_bit.value != modify_bit.value) return false;
  if (A->operands[1].text != C->operands[1].text) return false;
  return next_is_understood(c->next);
}

// A new statement with a's flags holding the given detail, its text in the
// standard layout.
Statement* new_statement_from(Statement* a, InsnDetail* detail, bool with_label) {
  Statement* s = new_statement_like(a);
  if (with_label && a->label) s->label = copy_label(a);
  set_insn(s, detail);
  return rebuild_source_text(s);
}

void fuse(Statement* a, Statement* b, Statement* c) {
  const InsnDetail* A = a->insn();
  const InsnDetail* B = b->insn();
  const bool sets = c->insn()->insn_id == INSN_BSET;

  InsnDetail* test = new_insn_detail(2);
  test->mnemonic = copy_string(sets ? "btsts" : "btstc");
  test->insn_id = sets ? INSN_BTSTS : INSN_BTSTC;
  test->operand_count = 2;
  test->operands[0] = copy_operand(A->operands[0]);
  test->operands[1] = copy_operand(A->operands[1]);
  Statement* new_test = new_statement_from(a, test, true);
  insert_after(c, new_test);

  InsnDetail* branch = new_insn_detail(1);
  branch->mnemonic = copy_string(B->mnemonic);
  branch->insn_id = B->insn_id;
  branch->operand_count = 1;
  branch->operands[0] = copy_operand(B->operands[0]);
  insert_after(new_test, new_statement_from(a, branch, false));

  delete_statement(a);
  delete_statement(b);
  delete_statement(c);
}

// jnz goes with bset, jz with bclr; the jz pattern is tried only when no jnz
// follows the test.
void try_btst(Statement* a) {
  Statement* b = find_next_insn(a, INSN_JNZ);
  std::uint32_t modify = INSN_BSET;
  if (!b) {
    b = find_next_insn(a, INSN_JZ);
    modify = INSN_BCLR;
  }
  if (!b) return;
  Statement* c = find_next_insn(b, modify);
  if (c && fusable(a, b, c)) fuse(a, b, c);
}

}  // namespace

void pass_make_btst_modify(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (is_insn(s, INSN_BTST) && is_optimisable(s)) try_btst(s);
  });
}
