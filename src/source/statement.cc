#include "source/statement.h"

#include "driver/memory.h"

Operand empty_operand() { return Operand(); }

void clear_flags(Statement* s) { s->flags &= ~SF_ALL_TEN; }

LabelRef* copy_label(const Statement* s) {
  LabelRef* label = alloc_record<LabelRef>();
  label->name = copy_string(s->label->name);
  return label;
}

Statement* new_statement_like(const Statement* templ) {
  Statement* s = alloc_record<Statement>();
  s->kind = STMT_INSN;
  s->flags = templ->flags;
  return s;
}

void insert_after(Statement* anchor, Statement* s) {
  s->prev = anchor;
  s->next = anchor->next;
  if (anchor->next) anchor->next->prev = s;
  anchor->next = s;
}

void chain_insert(Statement* anchor, Statement* s) {
  Statement* member = anchor;
  while (member && member->kind != STMT_INSN) member = member->chain_prev;
  if (member) {
    s->chain_prev = member;
    s->chain_next = member->chain_next;
    if (member->chain_next) member->chain_next->chain_prev = s;
    member->chain_next = s;
    return;
  }
  // No instruction member at or before the anchor: the new statement becomes
  // the head of the chain. The file's first statement, which is never a
  // member, holds the head in its chain_next.
  Statement* first = anchor;
  while (first->prev) first = first->prev;
  Statement* head = first->chain_next;
  s->chain_prev = nullptr;
  s->chain_next = head;
  if (head) head->chain_prev = s;
  if (first != s) first->chain_next = s;
}

void delete_statement(Statement* s) {
  s->flags |= SF_REWRITTEN;
  s->replacement = std::string_view();
  s->kind = STMT_BLANK;
}

void delete_and_freeze(Statement* s) {
  delete_statement(s);
  s->flags |= SF_NO_OPT;
}

InsnDetail* new_insn_detail(std::uint32_t slots) {
  InsnDetail* d = alloc_record<InsnDetail>();
  d->operands = alloc_array<Operand>(slots ? slots : 1);
  return d;
}

Operand copy_operand(const Operand& op) {
  Operand copy;
  copy.mode = op.mode;
  copy.text = copy_string(op.text);
  copy.value = op.value;
  if (op.symbol) copy.symbol = copy_string(*op.symbol);
  copy.offset = op.offset;
  copy.width = op.width;
  copy.flags = op.flags & (OPF_PLAIN | OPF_SYMBOLIC);
  return copy;
}
