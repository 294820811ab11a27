// The searches and tests that the peephole passes (and the commonization)
// share. A pattern's later members are found by find_next_insn, which lets
// only blank or comment lines, deleted lines and debugging directives stand
// between them; whether a rewrite may lose the flags its pattern set is
// decided by flags_dead_after.
#include "optimizer/walk.h"

#include <iterator>

#include "source/tables.h"

namespace {

// FLAG_KILLERS: the instructions before which whatever a pattern left in
// the flags counts as dead.
constexpr std::uint32_t FLAG_KILLERS[] = {
    INSN_ABS, INSN_ADC, INSN_ADCF, INSN_ADD, INSN_AND, INSN_CMP, INSN_DADC, INSN_DADD,
    INSN_DEC, INSN_DSBB, INSN_DSUB, INSN_EXTS, INSN_INC, INSN_JSR, INSN_LDE, INSN_MOV,
    INSN_NEG, INSN_NOT, INSN_OR, INSN_REIT, INSN_ROLC, INSN_RORC, INSN_ROT, INSN_RTS,
    INSN_SBB, INSN_SHA, INSN_SHL, INSN_STE, INSN_SUB, INSN_TST, INSN_XOR,
};
static_assert(std::size(FLAG_KILLERS) == 31);
constexpr InsnIdSet FLAG_KILLER_SET(FLAG_KILLERS);

bool is_debugging_line(const Statement* s) {
  return s->kind == STMT_DIRECTIVE && s->directive() && is_debugging_directive(directive_id_of(s));
}

bool is_high_byte_register(const Operand& op) { return op.mode == MODE_R0H || op.mode == MODE_R1H; }

}  // namespace

bool is_flag_killer(std::uint32_t insn_id) {
  return FLAG_KILLER_SET.contains(insn_id);
}

Statement* skip_after_unparsed(Statement* s) {
  for (Statement* t = s->next; t; t = t->next) {
    if (is_instruction(t)) return t->next;
  }
  return nullptr;
}

bool next_is_understood(const Statement* s) {
  for (const Statement* t = s; t; t = t->next) {
    if (t->kind == STMT_INSN) return true;
    if (t->kind == STMT_OTHER) return false;
  }
  return true;
}

Statement* find_next_insn(Statement* s, std::uint32_t insn_id) {
  Statement* t = s->next;
  for (; t && t->kind != STMT_INSN; t = t->next) {
    // Nothing of an inline-assembly block belongs to a pattern.
    if (t->flags & SF_INLINE_ASM) return nullptr;
    if (t->kind == STMT_BLANK) continue;
    // A labelled debugging directive is a jump target: folding the member
    // after it into the one before would change what a jump there runs.
    if (is_debugging_line(t) && !t->label) continue;
    return nullptr;
  }
  // A label line ends every search; an instruction with a label of its own
  // would lose that label when a pass deletes or folds it.
  if (!t || (t->flags & SF_INLINE_ASM) || t->label) return nullptr;
  if (insn_id_of(t) != insn_id || !is_optimisable(t)) return nullptr;
  return t;
}

Statement* find_chain_next_insn(Statement* s, std::uint32_t insn_id) {
  Statement* c = s->chain_next;
  if (!c || c->kind != STMT_INSN || (c->flags & SF_NO_OPT)) return nullptr;
  if (insn_id_of(c) != insn_id || !is_optimisable(c)) return nullptr;
  return c;
}

Statement* find_end_label(Statement* s) {
  for (Statement* t = s; t; t = t->next) {
    if (t->flags & SF_END_LABEL) return t;
  }
  return nullptr;
}

bool same_operand(std::uint32_t insn_id, const Operand& a, const Operand& b) {
  if (a.mode != b.mode) return false;
  switch (a.mode) {
    case MODE_ABS:
    case MODE_SYMBOL:
    case MODE_INDA0:
    case MODE_INDA1:
    case MODE_INDSB:
    case MODE_INDFB:
      return a.text == b.text;
    case MODE_IMM:
      if (insn_id == INSN_AND || insn_id == INSN_OR)
        return !(a.flags & OPF_SYMBOLIC) && !(b.flags & OPF_SYMBOLIC);
      return true;
    case MODE_IN8DSP:
      // Two stack slots are the same only when their displacements are:
      // by value when both are numbers, else by symbol, text and offset.
      if (!(a.flags & OPF_SYMBOLIC) && !(b.flags & OPF_SYMBOLIC)) return a.value == b.value;
      if (a.symbol && b.symbol && (*a.symbol != *b.symbol || a.offset != b.offset)) return false;
      return a.text == b.text && a.offset == b.offset;
    default:
      return true;
  }
}

bool same_symbol_and_width(const InsnDetail* d1, const InsnDetail* d2) {
  const Operand& a = d1->operands[0];
  const Operand& b = d2->operands[0];
  if (a.symbol && b.symbol && *a.symbol != *b.symbol) return false;
  return a.width == b.width;
}

bool adjacent_bytes(const InsnDetail* d1, const InsnDetail* d2) {
  if (d1->operand_count < 2 || d2->operand_count < 2) return false;
  const Operand& a = d1->operands[0];
  const Operand& b = d2->operands[0];
  if (!same_symbol_and_width(d1, d2) || a.width == 0) return false;
  // The operand that goes with the high-byte register addresses the byte
  // one above the other.
  // (In 64 bits, so that the largest offset has no neighbour above it.)
  std::int64_t a_offset = a.offset;
  std::int64_t b_offset = b.offset;
  if (is_high_byte_register(d1->operands[1]) && a_offset == b_offset + 1) return true;
  return is_high_byte_register(d2->operands[1]) && b_offset == a_offset + 1;
}

bool flags_dead_after(const Statement* s) {
  for (const Statement* t = s; t; t = t->next) {
    // The flags live on into a shared subroutine through its call, and back
    // out of it through its added rts to the caller's conditional jump.
    if (t->flags & (SF_SHARED_CALL | SF_SHARED_RETURN)) return false;
    switch (t->kind) {
      case STMT_BLANK:
        continue;
      case STMT_DIRECTIVE:
        // .if, .else, .endif and the like decide which instruction comes
        // next; only the debugging directives are transparent.
        if (is_debugging_line(t)) continue;
        return false;
      case STMT_INSN:
        return t->insn() && is_flag_killer(insn_id_of(t));
      default:
        return false;
    }
  }
  return true;
}
