// The commonization's output: a shared subroutine built from copies of the
// reference run, and one call or jump in place of each occurrence.
//
//   _f:                             _f:
//        mov.w r0,r1                     jmp  _Tarvox_prog_1
//        ...                        E1:
//        rts                        _Tarvox_prog_1:
//   E1:                                  mov.w r0,r1 ... rts
//                                   E_Tarvox_prog_1:
//
// The subroutine lies after the end label of the function that holds the
// reference, between that label and whatever followed it. Every generated
// statement is linked into the file order and into the code chain after the
// same anchor. The calls, the added rts and the deleted instructions carry
// SF_NO_OPT, so no later group takes them in; the copies and the two label
// lines do not, and may themselves become part of a later group.
#include "commonize/emit.h"

#include <string>
#include <unordered_set>

#include "commonize/fast_search.h"
#include "commonize/search.h"
#include "commonize/state.h"
#include "driver/memory.h"
#include "optimizer/marking.h"
#include "optimizer/units.h"
#include "optimizer/walk.h"
#include "source/formatter.h"
#include "source/tables.h"

namespace {

// The label roles of a line: a generated call placed after a label line
// must not take them over (a call after an interrupt handler's entry would
// otherwise be stepped over as the entry, and the handler taken for one
// that only returns).
constexpr std::uint32_t LABEL_ROLES =
    SF_FUNC_ENTRY | SF_END_LABEL | SF_M_LABEL | SF_L_LABEL | SF_RETURN_ONLY;

// Links s after anchor in both lists.
void link_after(Statement* anchor, Statement* s) {
  insert_after(anchor, s);
  chain_insert(anchor, s);
}

// A label-only line "<name>:" followed by `tail` ("\n", or "\n\n" to leave a
// blank line after it), with exactly the flags given.
Statement* make_label_line(const Statement* templ, std::string_view name, std::string_view tail,
                           std::uint32_t flags) {
  Statement* s = new_statement_like(templ);
  s->flags = flags;
  s->replacement = std::nullopt;
  s->label = alloc_record<LabelRef>();
  s->label->name = name;
  InsnDetail* d = new_insn_detail(1);
  d->mnemonic = "";
  set_insn(s, d);
  std::string text(name);
  text += ':';
  text += tail;
  set_text(s, copy_string(text));
  return s;
}

// An instruction without label made from templ's flags; the caller adds the
// detail's operands and rebuilds the text.
Statement* make_generated_insn(const Statement* templ, std::string_view mnemonic,
                               std::uint32_t insn_id, std::uint32_t operand_count) {
  Statement* s = new_statement_like(templ);
  s->label = nullptr;
  InsnDetail* d = new_insn_detail(operand_count);
  d->mnemonic = mnemonic;
  d->insn_id = insn_id;
  d->size_code = SIZE_NONE;
  d->format_code = FMT_NONE;
  d->operand_count = operand_count;
  set_insn(s, d);
  return s;
}

bool group_ends_flow() { return is_flow_ending(commonize_state.table.reference_last()); }

}  // namespace

std::string shared_label_name(std::string_view file_name, std::int32_t n) {
  std::string_view stem = file_name.substr(0, file_name.find(".qsm"));
  std::string name = "_Tarvox_";
  for (char c : stem) {
    bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    bool digit = c >= '0' && c <= '9';
    if (letter || digit) name += c;
  }
  name += '_';
  name += std::to_string(n);
  return name;
}

void note_labels_in_use(Statement* first_member) {
  std::unordered_set<std::string>& labels_in_use = commonize_state.labels_in_use;
  labels_in_use.clear();
  // The marking walk saw every label of the unit.
  if (!(label_presence & LP_GENERATED_FORM_SEEN)) return;
  Statement* s = first_member;
  while (s && s->prev) s = s->prev;
  for (; s; s = s->next) {
    if (s->label && has_generated_label_form(s->label->name)) labels_in_use.emplace(s->label->name);
  }
}

std::string_view make_shared_label(std::int32_t n) {
  const SourceUnit* unit = first_source_unit();
  std::string_view file = unit ? unit->file_name : std::string_view();
  std::string name = shared_label_name(file, n);
  std::unordered_set<std::string>& labels_in_use = commonize_state.labels_in_use;
  while (labels_in_use.count(name) || labels_in_use.count("E" + name)) name = shared_label_name(file, ++n);
  labels_in_use.insert(name);
  labels_in_use.insert("E" + name);
  return copy_string(name);
}

Statement* copy_instruction(const Statement* t, Statement* anchor) {
  const InsnDetail* from = t->insn();
  Statement* s = make_generated_insn(t, copy_string(from->mnemonic), from->insn_id,
                                     from->operand_count);
  InsnDetail* d = s->insn();
  d->size_code = from->size_code;
  d->format_code = from->format_code;
  for (std::uint32_t i = 0; i < from->operand_count; ++i) d->operands[i] = copy_operand(from->operands[i]);
  rebuild_source_text(s);
  link_after(anchor, s);
  note_copied_instruction(s);
  return s;
}

void emit_shared_subroutine(Statement* end_label, std::string_view label, std::int32_t length) {
  Statement* ref = commonize_state.table.reference();
  Statement* start = make_label_line(end_label, label, "\n", 0);
  link_after(end_label, start);
  Statement* anchor = start;

  std::int32_t copied = 0;
  for (Statement* t = ref; t && copied < length; t = t->chain_next) {
    if (t->kind != STMT_INSN) continue;
    anchor = copy_instruction(t, anchor);
    ++copied;
  }

  if (!group_ends_flow()) {
    // The rts keeps the shared-return mark: the caller's conditional jump
    // may read the flags the run's last instruction left, so no pass may
    // take them for dead here.
    Statement* rts = make_generated_insn(anchor, "rts", INSN_RTS, 0);
    rts->flags |= SF_NO_OPT | SF_SHARED_RETURN;
    rebuild_source_text(rts);
    link_after(anchor, rts);
    anchor = rts;
  }

  std::string end_name = "E";
  end_name += label;
  Statement* end = make_label_line(anchor, copy_string(end_name), "\n\n", SF_END_LABEL);
  link_after(anchor, end);
}

void remove_occurrences(std::int32_t length) {
  OccurrenceTable& t = commonize_state.table;
  for (int i = 0; i < t.occ_count; ++i) {
    Statement* start = t.occ_start[i];
    if (t.occ_length[i] != length) {
      t.occ_start[i] = nullptr;
    } else if (!start) {
      continue;
    } else if (start->kind == STMT_BLANK) {
      // Deleted with an earlier occurrence of this group: the two overlap.
      t.occ_start[i] = nullptr;
    } else {
      std::int32_t deleted = 0;
      for (Statement* s = start; s && deleted < length; s = s->chain_next) {
        if (s->kind != STMT_INSN) continue;
        delete_and_freeze(s);
        note_deleted_instruction(s);
        ++deleted;
      }
    }
  }
}

void insert_calls(std::string_view label, std::int32_t length) {
  const OccurrenceTable& t = commonize_state.table;
  bool jump = group_ends_flow();
  // The calls of a group are alike, and no pass edits the detail or text of
  // a jsr or jmp in place (one is only ever deleted or kept): they share the
  // first call's detail and text.
  const Statement* first_call = nullptr;
  for (int i = 0; i < t.occ_count; ++i) {
    Statement* start = t.occ_start[i];
    if (!start || t.occ_length[i] != length || !start->prev) continue;
    Statement* p = start->prev;
    Statement* call = nullptr;
    if (first_call) {
      call = new_statement_like(p);
      set_insn(call, first_call->insn());
      set_text(call, first_call->text());
    } else {
      call = make_generated_insn(p, jump ? "jmp" : "jsr", jump ? INSN_JMP : INSN_JSR, 1);
      Operand& target = call->insn()->operands[0];
      target = Operand();
      target.mode = MODE_ABS;
      target.text = label;
      rebuild_source_text(call);
      first_call = call;
    }
    call->flags = (p->flags & ~LABEL_ROLES) | SF_NO_OPT | (jump ? 0u : std::uint32_t{SF_SHARED_CALL});
    link_after(p, call);
  }
}
