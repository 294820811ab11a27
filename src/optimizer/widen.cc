// Widening byte pairs (passes 1005 and 1007): two byte instructions on the
// two halves of r0 or r1 become one word instruction on the whole register.
//
//   mov.b  _x,R0L                 mov.w  _x,R0
//   and.b  #0FH,R0L        ->     and.w  #0f00fH,R0
//   mov.b  _x+1,R0H
//   and.b  #0F0H,R0H
//
// Pass 1005 takes a byte load and a logic operation with an immediate on the
// low half followed by the same on the high half; when the loads read bytes
// that are not adjacent in memory it widens only the two logic operations.
// Pass 1007 takes two byte instructions of one kind (mov, and, or, xor, not)
// on the two halves. A word instruction sets the flags from all 16 bits, so
// both passes act only where the next instruction sets the flags anew.
//
// The new statements are inserted after the last member of the pattern and
// do not join the code chain; the label on the first member's own line moves
// to the first new statement. Later members never carry a label of their own
// (find_next_insn refuses them), so no label is lost.
#include <cstdint>
#include <string_view>

#include "driver/memory.h"
#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/formatter.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// The word register whose two halves m1 and m2 are, in either order;
// AM_NONE when they are not the two halves of one register.
std::uint32_t word_of_halves(std::uint32_t m1, std::uint32_t m2) {
  if ((m1 == MODE_R0L && m2 == MODE_R0H) || (m1 == MODE_R0H && m2 == MODE_R0L)) return MODE_R0;
  if ((m1 == MODE_R1L && m2 == MODE_R1H) || (m1 == MODE_R1H && m2 == MODE_R1L)) return MODE_R1;
  return AM_NONE;
}

bool is_low_half(std::uint32_t mode) { return mode == MODE_R0L || mode == MODE_R1L; }

// A register operand naming the whole word register (MODE_R0 or MODE_R1).
Operand word_register_operand(std::uint32_t word_mode) {
  Operand op = empty_operand();
  op.mode = word_mode;
  op.text = copy_string(word_mode == MODE_R0 ? "R0" : "R1");
  op.flags = OPF_PLAIN;
  return op;
}

// Two byte immediates as the bytes of one word immediate. Each byte is
// masked first, so a negative low byte (#-1) gives 0FFH in the low byte and
// leaves the high byte as written.
std::int32_t word_from_bytes(std::int32_t high, std::int32_t low) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(high) & 0xFFu) * 256u +
                                   (static_cast<std::uint32_t>(low) & 0xFFu));
}

// Gives the new statement the detail, first's same-line label and a text in
// the standard layout.
Statement* finish_new_statement(Statement* first, InsnDetail* detail) {
  Statement* s = new_statement_like(first);
  if (first->label) s->label = copy_label(first);
  set_insn(s, detail);
  return rebuild_source_text(s);
}

// Whether an operand of the given mode reads the word register (or a half
// of it, or the register pair that holds it).
bool reads_word_register(std::uint32_t mode, std::uint32_t word_mode) {
  if (word_mode == MODE_R0)
    return mode == MODE_R0L || mode == MODE_R0H || mode == MODE_R0 || mode == MODE_R2R0;
  return mode == MODE_R1L || mode == MODE_R1H || mode == MODE_R1 || mode == MODE_R3R1;
}

bool has_shape(const InsnDetail* d, std::uint32_t size_code, std::uint32_t operand_count) {
  return d->size_code == size_code && d->operand_count == operand_count;
}

bool plain_immediate(const Operand& op) {
  return op.mode == MODE_IMM && !(op.flags & OPF_SYMBOLIC);
}

// A word instruction of the same kind as the byte instruction `from`: its
// mnemonic and id, size .w, no format, `count` operands still to fill.
InsnDetail* new_word_detail(const InsnDetail* from, std::uint32_t count) {
  InsnDetail* d = new_insn_detail(count);
  d->mnemonic = copy_string(from->mnemonic);
  d->insn_id = from->insn_id;
  d->size_code = SIZE_W;
  d->format_code = FMT_NONE;
  d->operand_count = count;
  return d;
}

}  // namespace

// The word instruction that does what first and second, two byte
// instructions of one kind on the two halves of one register, do together.
// The result is not yet linked into the statement list.
Statement* merge_byte_pair(Statement* first, Statement* second) {
  const InsnDetail* f = first->insn();
  const InsnDetail* g = second->insn();
  const Operand& f_source = f->operands[0];
  const Operand& g_source = g->operands[0];
  const bool f_low = is_low_half(f->operands[1].mode);

  InsnDetail* d = new_word_detail(f, 2);

  Operand source = copy_operand(f_source);
  if (std::uint32_t word = word_of_halves(f_source.mode, g_source.mode)) {
    Operand whole = word_register_operand(word);
    source.mode = whole.mode;
    source.text = whole.text;
  } else if (f_source.mode == MODE_IMM && g_source.mode == MODE_IMM) {
    const Operand& low = f_low ? f_source : g_source;
    const Operand& high = f_low ? g_source : f_source;
    d->operands[0] = source;
    set_immediate_value(word_from_bytes(high.value, low.value), d, 0);
    source = d->operands[0];
  } else if (f_source.mode == MODE_ABS && g_source.mode == MODE_ABS) {
    // The word starts at the low byte: its address is the low byte's.
    const Operand& low = f_low ? f_source : g_source;
    source.text = copy_string(low.text);
    source.offset = low.offset;
  }
  d->operands[0] = source;
  d->operands[1] = word_register_operand(word_of_halves(f->operands[1].mode, g->operands[1].mode));
  return finish_new_statement(first, d);
}

namespace {

// ---- pass 1005 ----

// The four statements of a load-and-logic pattern: a load and a logic
// operation on the low half, then the same on the high half.
void widen_load_logic(Statement* a, Statement* b, Statement* c, Statement* d) {
  const InsnDetail* A = a->insn();
  const InsnDetail* B = b->insn();
  const InsnDetail* C = c->insn();
  const InsnDetail* D = d->insn();
  for (const InsnDetail* x : {A, B, C, D})
    if (!has_shape(x, SIZE_B, 2)) return;
  if (B->insn_id == INSN_XOR && (B->format_code != FMT_NONE || D->format_code != FMT_NONE)) return;

  const std::uint32_t low = A->operands[1].mode;
  const std::uint32_t high = C->operands[1].mode;
  const bool r0_pattern = low == MODE_R0L && high == MODE_R0H;
  const bool r1_pattern = low == MODE_R1L && high == MODE_R1H;
  if (!(r0_pattern || r1_pattern) || B->operands[1].mode != low || D->operands[1].mode != high)
    return;

  const bool loads_mergeable = A->operands[0].mode == MODE_ABS && C->operands[0].mode == MODE_ABS &&
                               adjacent_bytes(A, C);
  if (B->operands[0].mode != MODE_IMM || D->operands[0].mode != MODE_IMM) return;
  if ((B->operands[0].flags & OPF_SYMBOLIC) || (D->operands[0].flags & OPF_SYMBOLIC)) return;
  if (!flags_dead_after(d->next)) return;

  if (loads_mergeable) {
    Statement* load = merge_byte_pair(a, c);
    insert_after(d, load);
    insert_after(load, merge_byte_pair(b, d));
    for (Statement* s : {a, b, c, d}) delete_statement(s);
    return;
  }
  // Only the logic operations merge: the low half's operation moves past the
  // high half's load, which must then not read the register.
  if (reads_word_register(C->operands[0].mode, r0_pattern ? MODE_R0 : MODE_R1)) return;
  insert_after(d, merge_byte_pair(b, d));
  delete_statement(b);
  delete_statement(d);
}

// xor first, then and, then or: the first logic operation found after the
// load decides which pattern is tried.
constexpr std::uint32_t LOAD_LOGIC_OPERATIONS[] = {INSN_XOR, INSN_AND, INSN_OR};

void try_load_logic(Statement* a) {
  for (std::uint32_t logic : LOAD_LOGIC_OPERATIONS) {
    Statement* b = find_next_insn(a, logic);
    if (!b) continue;
    Statement* c = find_next_insn(b, INSN_MOV);
    Statement* d = c ? find_next_insn(c, logic) : nullptr;
    if (d) widen_load_logic(a, b, c, d);
    return;
  }
}

// ---- pass 1007 ----

// Register sources that go with register destinations: each half of the
// destination takes the same half of the other register.
struct RegisterPairing {
  std::uint32_t first_destination, second_destination;
  std::uint32_t first_source, second_source;
};
constexpr RegisterPairing REGISTER_PAIRINGS[] = {
    {MODE_R1L, MODE_R1H, MODE_R0L, MODE_R0H},
    {MODE_R1H, MODE_R1L, MODE_R0H, MODE_R0L},
    {MODE_R0L, MODE_R0H, MODE_R1L, MODE_R1H},
    {MODE_R0H, MODE_R0L, MODE_R1H, MODE_R1L},
};

bool sources_pair_up(const InsnDetail* A, const InsnDetail* B) {
  const Operand& a_source = A->operands[0];
  const Operand& b_source = B->operands[0];
  for (const RegisterPairing& row : REGISTER_PAIRINGS) {
    if (A->operands[1].mode != row.first_destination || B->operands[1].mode != row.second_destination)
      continue;
    if (a_source.mode == row.first_source && b_source.mode == row.second_source) return true;
    if (plain_immediate(a_source) && plain_immediate(b_source)) return true;
    return a_source.mode == MODE_ABS && b_source.mode == MODE_ABS && adjacent_bytes(A, B);
  }
  return false;
}

void widen_two_operand_pair(Statement* a, Statement* b) {
  if (!has_shape(a->insn(), SIZE_B, 2) || !has_shape(b->insn(), SIZE_B, 2)) return;
  if (!sources_pair_up(a->insn(), b->insn())) return;
  if (!flags_dead_after(b->next)) return;
  insert_after(b, merge_byte_pair(a, b));
  delete_statement(a);
  delete_statement(b);
}

void widen_not_pair(Statement* a, Statement* b) {
  const InsnDetail* A = a->insn();
  const InsnDetail* B = b->insn();
  if (!has_shape(A, SIZE_B, 1) || !has_shape(B, SIZE_B, 1)) return;
  const std::uint32_t word = word_of_halves(A->operands[0].mode, B->operands[0].mode);
  if (word == AM_NONE || !flags_dead_after(b->next)) return;

  InsnDetail* d = new_word_detail(A, 1);
  Operand operand = copy_operand(A->operands[0]);
  Operand whole = word_register_operand(word);
  operand.mode = whole.mode;
  operand.text = whole.text;
  d->operands[0] = operand;
  insert_after(b, finish_new_statement(a, d));
  delete_statement(a);
  delete_statement(b);
}

bool widens_in_pairs(std::uint32_t insn_id) {
  return insn_id == INSN_MOV || insn_id == INSN_AND || insn_id == INSN_OR || insn_id == INSN_XOR ||
         insn_id == INSN_NOT;
}

}  // namespace

void pass_widen_load_logic(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (is_insn(s, INSN_MOV) && is_optimisable(s)) try_load_logic(s);
  });
}

void pass_widen_byte_pairs(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (!is_instruction(s) || !is_optimisable(s) || !widens_in_pairs(insn_id_of(s))) return;
    Statement* b = find_next_insn(s, insn_id_of(s));
    if (!b) return;
    if (insn_id_of(s) == INSN_NOT)
      widen_not_pair(s, b);
    else
      widen_two_operand_pair(s, b);
  });
}
