// Pass 1003: a counter step by a small immediate followed by a branch taken
// while the result is not zero becomes the single add-and-branch adjnz:
//     sub.w  #1,R0                    (deleted)
//     jne    L5               ->      adjnz.w  #-1,R0,L5
// The new line takes the place of the jump, so blank lines and debugging
// directives between the two stay in front of it; a same-line label of the
// step moves onto it.
#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/formatter.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// The branch after a step: jne, else jnz.
Statement* find_not_zero_branch(Statement* step) {
  Statement* jump = find_next_insn(step, INSN_JNE);
  return jump ? jump : find_next_insn(step, INSN_JNZ);
}

// The immediate read as a signed number of the instruction's size.
std::int32_t signed_of_size(std::int32_t value, std::uint32_t size_code) {
  if (size_code == SIZE_B) return static_cast<std::int8_t>(value & 0xFF);
  if (size_code == SIZE_W) return static_cast<std::int16_t>(value & 0xFFFF);
  return value;
}

// The adjnz step for the pair, or false when the pair does not qualify.
bool adjnz_step(const Statement* step, const Statement* jump, std::int32_t* step_value) {
  const InsnDetail* s = step->insn();
  const InsnDetail* j = jump->insn();
  // A byte step cannot count an address register.
  if (s->size_code == SIZE_B && s->operand_count >= 2 &&
      (s->operands[1].mode == MODE_A0 || s->operands[1].mode == MODE_A1))
    return false;
  if (s->size_code == SIZE_L) return false;
  if (s->operand_count != 2 || j->operand_count != 1) return false;
  const Operand& immediate = s->operands[0];
  if (immediate.mode != MODE_IMM || (immediate.flags & OPF_SYMBOLIC)) return false;
  if (!next_is_understood(jump->next)) return false;

  std::int32_t v = signed_of_size(immediate.value, s->size_code);
  if (s->insn_id == INSN_SUB) {
    if (v < -7 || v > 8) return false;
    *step_value = -v;
  } else {
    if (v < -8 || v > 7) return false;
    *step_value = v;
  }
  return true;
}

void make_adjnz(Statement* step, Statement* jump, std::int32_t step_value) {
  const InsnDetail* s = step->insn();
  InsnDetail* d = new_insn_detail(3);
  d->mnemonic = "adjnz";
  d->insn_id = INSN_ADJNZ;
  d->size_code = s->size_code;
  d->format_code = s->format_code;
  d->operand_count = 3;
  d->operands[0].mode = MODE_IMM;
  d->operands[0].flags = OPF_PLAIN;
  set_immediate_value(step_value, d, 0);
  d->operands[1] = copy_operand(s->operands[1]);
  d->operands[2] = copy_operand(jump->insn()->operands[0]);

  Statement* fused = new_statement_like(step);
  fused->label = step->label ? copy_label(step) : nullptr;
  set_insn(fused, d);
  rebuild_source_text(fused);
  insert_after(jump, fused);
  delete_statement(step);
  delete_statement(jump);
}

}  // namespace

void pass_make_adjnz(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (!is_optimisable(s) || !(is_insn(s, INSN_SUB) || is_insn(s, INSN_ADD))) return;
    Statement* jump = find_not_zero_branch(s);
    std::int32_t step_value = 0;
    if (jump && adjnz_step(s, jump, &step_value)) make_adjnz(s, jump, step_value);
  });
}
