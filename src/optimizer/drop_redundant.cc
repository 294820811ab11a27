// Removing redundant moves, jumps and push/pop pairs (passes 1008, 1009 and
// the first step of 1010). These passes only delete statements.
//
//   mov.w  R0,R1                  mov.w  R0,R1
//   mov.w  R1,R0           ->
//
// Pass 1008 drops a move that copies back what the move before it just
// copied; pass 1009 drops a jump to an L label that follows with only other
// label lines and blank or comment lines in between; pass 1010 drops a pushm
// directly followed by a popm of the same registers, together with it; the
// second half of pass 1010, the merging of interrupt handlers that only
// return, is in return_only.cc.
// A statement that carries its own label is never deleted: the later moves
// and the popm are found by find_next_insn, which refuses such statements,
// and a labelled jump or pushm is left alone here.
#include <cstdint>
#include <string_view>

#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// ---- pass 1008 ----

// The operands a reversed move may copy between: the data and address
// registers and the frame slots; a byte move to or from an address register
// is not a plain copy.
bool is_copy_operand(const Operand& op, std::uint32_t size_code) {
  switch (op.mode) {
    case MODE_R0L:
    case MODE_R0H:
    case MODE_R1L:
    case MODE_R1H:
    case MODE_R0:
    case MODE_R1:
    case MODE_R2:
    case MODE_R3:
    case MODE_INDFB:
      return true;
    case MODE_A0:
    case MODE_A1:
      return size_code != SIZE_B;
    default:
      return false;
  }
}

// Whether candidate, the move B,A after the move A,B of a, copies back.
bool copies_back(const Statement* a, const Statement* candidate) {
  const InsnDetail* A = a->insn();
  const InsnDetail* B = candidate->insn();
  if (A->size_code != B->size_code || A->size_code == SIZE_L) return false;
  if (A->format_code != B->format_code) return false;
  if (A->operand_count != 2 || B->operand_count != 2) return false;
  if (!is_copy_operand(A->operands[0], A->size_code) || !is_copy_operand(B->operands[0], B->size_code))
    return false;
  if (!same_operand(INSN_MOV, A->operands[0], B->operands[1])) return false;
  if (!same_operand(INSN_MOV, A->operands[1], B->operands[0])) return false;
  return next_is_understood(candidate->next);
}

void drop_reverse_moves_after(Statement* a) {
  Statement* candidate = a;
  while ((candidate = find_next_insn(candidate, INSN_MOV)) && copies_back(a, candidate))
    delete_statement(candidate);
}

// ---- pass 1009 ----

bool is_jump(std::uint32_t insn_id) { return insn_id == INSN_JMP || is_conditional_jump(insn_id); }

// The label line the jump j reaches by falling through, passing only other
// label lines and blank or deleted lines; none when anything else stands in
// between.
const Statement* target_right_after(const Statement* j) {
  const std::string_view target = j->insn()->operands[0].text;
  for (const Statement* s = j->next; s; s = s->next) {
    if (is_label_line(s)) {
      if (s->label && s->label->name == target) return s;
    } else if (s->kind != STMT_BLANK) {
      return nullptr;
    }
  }
  return nullptr;
}

void drop_jump_to_next(Statement* j) {
  if (j->label) return;
  const Statement* target = target_right_after(j);
  if (target && (target->flags & SF_L_LABEL)) delete_statement(j);
}

// ---- pass 1010, first step ----

void drop_push_pop(Statement* p) {
  if (p->label) return;
  Statement* q = find_next_insn(p, INSN_POPM);
  if (!q) return;
  const InsnDetail* P = p->insn();
  const InsnDetail* Q = q->insn();
  if (P->operand_count != Q->operand_count) return;
  for (std::uint32_t i = 0; i < P->operand_count; ++i) {
    bool popped = false;
    for (std::uint32_t k = 0; k < Q->operand_count && !popped; ++k)
      popped = same_operand(INSN_PUSHM, P->operands[i], Q->operands[k]);
    if (!popped) return;
  }
  delete_statement(p);
  delete_statement(q);
}

}  // namespace

void pass_drop_reverse_move(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (is_insn(s, INSN_MOV) && is_optimisable(s)) drop_reverse_moves_after(s);
  });
}

void pass_drop_jump_to_next(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (is_instruction(s) && is_optimisable(s) && is_jump(insn_id_of(s))) drop_jump_to_next(s);
  });
}

void pass_drop_push_pop(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (is_insn(s, INSN_PUSHM) && is_optimisable(s)) drop_push_pop(s);
  });
}
