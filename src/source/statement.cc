#include "source/statement.h"

#include "driver/diagnostics.h"
#include "driver/memory.h"
#include "source/tables.h"

OptTextRef& OptTextRef::operator=(std::string_view text) {
  // Every deleted statement has the empty replacement: one shared record.
  static const std::string_view empty_text("");
  ref_ = text.empty() ? &empty_text : new (alloc_or_die(sizeof(std::string_view))) std::string_view(text);
  return *this;
}

// Statement::detail_code keeps every instruction and directive id.
static_assert(INSN_TABLE_END <= 0xFF && DIR_TABLE_END <= 0xFF, "an id beyond the detail code");

void set_text(Statement* s, std::string_view text) {
  if (text.size() > UINT32_MAX) report_error(ERR_NO_MEMORY);
  s->text_data = text.data();
  s->text_size = static_cast<std::uint32_t>(text.size());
}

Statement* new_statement() { return new (alloc_statement_memory(sizeof(Statement))) Statement(); }

Operand empty_operand() { return Operand(); }

LabelRef* copy_label(const Statement* s) {
  LabelRef* label = alloc_record<LabelRef>();
  label->name = copy_string(s->label->name);
  return label;
}

Statement* new_statement_like(const Statement* templ) {
  Statement* s = new_statement();
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

namespace {

// Numbers the whole chain afresh, from its head, when two neighbours have no
// number left between them.
void renumber_chain(Statement* any_member) {
  Statement* head = any_member;
  while (head->chain_prev) head = head->chain_prev;
  std::uint64_t order = CHAIN_ORDER_STEP;
  for (Statement* m = head; m; m = m->chain_next, order += CHAIN_ORDER_STEP) m->order = order;
}

// Spreads s and the members after it evenly over the numbers between s's
// predecessor and the first member far enough ahead; false when there is
// none close by.
bool spread_locally(Statement* s) {
  constexpr std::uint64_t MIN_GAP = std::uint64_t(1) << 16;
  std::uint64_t low = s->chain_prev ? s->chain_prev->order : 0;
  std::uint64_t count = 1;
  for (Statement* m = s->chain_next; m && count < 4096; m = m->chain_next, ++count) {
    if (m->order - low >= (count + 1) * MIN_GAP) {
      std::uint64_t step = (m->order - low) / (count + 1);
      std::uint64_t order = low;
      for (Statement* t = s; t != m; t = t->chain_next) t->order = order += step;
      return true;
    }
  }
  return false;
}

// Gives s, just linked into the chain, a number between its neighbours'.
// Runs of members inserted one after the other take small steps, so the room
// between two read members lasts for many insertions.
void number_new_member(Statement* s) {
  constexpr std::uint64_t SMALL_STEP = std::uint64_t(1) << 20;
  Statement* before = s->chain_prev;
  Statement* after = s->chain_next;
  if (!before && !after) {
    s->order = CHAIN_ORDER_STEP;
    return;
  }
  if (!before) {
    if (after->order > 1) {
      s->order = after->order / 2;
      return;
    }
  } else if (!after) {
    if (before->order < UINT64_MAX - CHAIN_ORDER_STEP) {
      s->order = before->order + CHAIN_ORDER_STEP;
      return;
    }
  } else if (after->order - before->order >= 2) {
    std::uint64_t gap = (after->order - before->order) / 2;
    s->order = before->order + (gap < SMALL_STEP ? gap : SMALL_STEP);
    return;
  }
  if (!spread_locally(s)) renumber_chain(s);
}

}  // namespace

void chain_insert(Statement* anchor, Statement* s) {
  Statement* member = anchor;
  while (member && member->kind != STMT_INSN) member = member->chain_prev;
  if (member) {
    s->chain_prev = member;
    s->chain_next = member->chain_next;
    if (member->chain_next) member->chain_next->chain_prev = s;
    member->chain_next = s;
    number_new_member(s);
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
  number_new_member(s);
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

InsnDetail* new_insn_detail_room(std::uint32_t slots) {
  InsnDetail* d = new (alloc_detail_memory(sizeof(InsnDetail) + sizeof(Operand) * slots)) InsnDetail();
  d->operands = reinterpret_cast<Operand*>(d + 1);
  return d;
}

InsnDetail* new_insn_detail(std::uint32_t slots) {
  if (slots == 0) slots = 1;
  InsnDetail* d = new_insn_detail_room(slots);
  for (std::uint32_t i = 0; i < slots; ++i) new (&d->operands[i]) Operand();
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
