// Merging repeated instructions into the first of them.
//
// Pass 1001 folds and/or instructions with immediate sources on the same
// destination into one whose immediate combines theirs:
//     and.b  #0FH,R0L                 and.b  #0cH,R0L
//     and.b  #3CH,R0L         ->      (deleted)
// Pass 1002 (only under -Nvolatile) keeps the first of two moves to the same
// destination and gives it the second one's source:
//     mov.w  #1,_x                    mov.w  #2,_x
//     mov.w  #2,_x            ->      (deleted)
// A run of several matching instructions folds into the first one by one.
// The first instruction is rewritten in place and keeps a same-line label;
// later members that carry a label of their own are never found.
#include <string>

#include "driver/memory.h"
#include "driver/settings.h"
#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/formatter.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// The conditions both merges share: same size (never .l) and format, two
// operands each, and the same source and destination.
bool same_shape(const InsnDetail* d1, const InsnDetail* d2) {
  if (d1->size_code != d2->size_code || d1->size_code == SIZE_L) return false;
  if (d1->format_code != d2->format_code) return false;
  if (d1->operand_count != 2 || d2->operand_count != 2) return false;
  return same_operand(d1->insn_id, d1->operands[0], d2->operands[0]) &&
         same_operand(d1->insn_id, d1->operands[1], d2->operands[1]);
}

// Gives an edited instruction its new line. A label on the same line stays
// in front of it: the formatter's line is written without one.
void rebuild_keeping_label(Statement* s) {
  rebuild_edited_text(s);
  if (!s->label) return;
  std::string line(s->label->name);
  line += ':';
  line += *s->replacement;
  s->replacement = copy_string(line);
}

// Without -Nvolatile only a register or a frame or stack slot may take two
// read-modify-writes as one: other memory may be a device register whose
// every write counts.
bool private_destination(const Operand& op) {
  return (op.mode >= MODE_R0L && op.mode <= MODE_A1) || op.mode == MODE_INDFB || op.mode == MODE_IN8DSP;
}

bool is_hex_text(std::string_view text) {
  return !text.empty() && (text.back() == 'h' || text.back() == 'H');
}

// A merged hexadecimal immediate that fits the instruction's size as a signed
// or an unsigned number is written in that many bits: #0fffeH for a word
// holding -2, which the assembler would refuse as #0fffffffeH.
std::int32_t narrowed_hex_value(std::int32_t value, std::uint32_t size_code) {
  if (size_code == SIZE_B && value >= -128 && value <= 255) return value & 0xFF;
  if (size_code == SIZE_W && value >= -32768 && value <= 65535) return value & 0xFFFF;
  return value;
}

bool merge_logic_immediates(Statement* first, Statement* candidate) {
  InsnDetail* d1 = first->insn();
  const InsnDetail* d2 = candidate->insn();
  if (!same_shape(d1, d2)) return false;
  if (d1->operands[0].mode != MODE_IMM) return false;
  if (!(option_flags & OF_NO_VOLATILE) && !private_destination(d1->operands[1])) return false;
  if (!next_is_understood(candidate->next)) return false;

  std::uint32_t a = static_cast<std::uint32_t>(d1->operands[0].value);
  std::uint32_t b = static_cast<std::uint32_t>(d2->operands[0].value);
  std::int32_t merged = static_cast<std::int32_t>(d1->insn_id == INSN_AND ? (a & b) : (a | b));
  if (is_hex_text(d1->operands[0].text)) merged = narrowed_hex_value(merged, d1->size_code);
  set_immediate_value(merged, d1, 0);
  delete_statement(candidate);
  rebuild_keeping_label(first);
  return true;
}

bool merge_moves(Statement* first, Statement* candidate) {
  InsnDetail* d1 = first->insn();
  const InsnDetail* d2 = candidate->insn();
  if (!same_shape(d1, d2)) return false;
  if (!(d1->operands[0].flags & OPF_PLAIN)) return false;
  if (!next_is_understood(candidate->next)) return false;

  Operand& source = d1->operands[0];
  source.mode = d2->operands[0].mode;
  source.text = copy_string(d2->operands[0].text);
  source.value = d2->operands[0].value;
  delete_statement(candidate);
  rebuild_keeping_label(first);
  return true;
}

// Folds every following instruction that merges into `first`, one after the
// other, until one does not.
template <typename Merge>
void merge_into_first(Statement* first, Merge merge) {
  Statement* candidate = first;
  for (;;) {
    candidate = find_next_insn(candidate, insn_id_of(first));
    if (!candidate || !merge(first, candidate)) return;
  }
}

}  // namespace

void pass_merge_logic_immediates(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (!is_optimisable(s)) return;
    if (is_insn(s, INSN_AND) || is_insn(s, INSN_OR)) merge_into_first(s, merge_logic_immediates);
  });
}

void pass_merge_moves(Statement* first) {
  walk_statements(first, [](Statement* s) {
    if (is_optimisable(s) && is_insn(s, INSN_MOV)) merge_into_first(s, merge_moves);
  });
}
