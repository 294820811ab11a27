// Return-only functions: a function whose body is nothing but its return
// instruction needs no code of its own. Its entry label can stand on another
// return of the same CODE section, and its end label beside that function's.
//
// Pass 1012 places every return-only function's entry label in front of the
// first rts of an ordinary function of its section:
//     _f:  ...  rts  E1:   _g:  rts  E2:
//  -> _f:  ...  _g:  rts  E1:  E2:
// Pass 1004 (with rts) and the last step of 1010 (with reit) merge the
// return-only functions that are left: in each CODE section the first keeps
// its body and the later ones' labels join it:
//     _g:  rts  E2:   _h:  rts  E3:
//  -> _g:  _h:  rts  E2:  E3:
//
// Labels move by cloning: the line is deleted where it stood and a copy with
// the same text is inserted at its new place. A removed function also loses
// its return instruction and the .align in front of it.
//
// A function whose entry lies in an inline-assembly block or in code that is
// assembled once, never or many times (.if, .macro, .mrepeat bodies) neither
// moves nor receives labels, and no label is placed on a return or after an
// end label there: the label would be undefined, duplicated or repeated.
#include <optional>
#include <string_view>

#include "driver/memory.h"
#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

constexpr std::uint32_t SF_NOT_MOVABLE = SF_INLINE_ASM | SF_CONDITIONAL;

using SectionName = std::optional<std::string_view>;

// The section names the scans of one pass share. The outer scan sets both;
// an inner scan sets only inner_section and leaves it for the next scan.
struct SectionState {
  SectionName outer_section;
  SectionName inner_section;
};

// The name of a ".section name,CODE" directive, or none for any other
// statement.
SectionName code_section_name(const Statement* s) {
  if (!is_directive(s, DIR_SECTION)) return std::nullopt;
  const DirectiveDetail* d = s->directive;
  if (d->operand_count < 2 || d->operands[1] != "CODE") return std::nullopt;
  return d->operands[0];
}

bool is_candidate_entry(const Statement* s) {
  return s->kind == STMT_INSN && !(s->flags & SF_REWRITTEN) && (s->flags & SF_RETURN_ONLY) &&
         !(s->flags & SF_NOT_MOVABLE);
}

// From s on, while inside the function body, the first return instruction;
// otherwise the statement where the body ended (none when the list ended).
Statement* find_return_in_body(Statement* s, std::uint32_t return_insn) {
  for (Statement* t = s; t; t = t->next) {
    if (!(t->flags & SF_IN_FUNCTION) || is_insn(t, return_insn)) return t;
  }
  return nullptr;
}

// Lines that may stand between a function's .align and its end label.
bool passes_before_align(const Statement* s) {
  if (s->kind == STMT_BLANK) return true;  // blank, comment or deleted
  if (s->kind != STMT_DIRECTIVE || !s->directive) return false;
  std::uint32_t id = s->directive->directive_id;
  return id == DIR_GLB || id == DIR_RVECTOR || is_debugging_directive(id);
}

// The .align of the function that ends after s: walking back, only the
// function's own deleted lines, comments and its .glb, .rvector and
// debugging directives may come before it. Anything else (another section,
// another function's code) means the function had none of its own.
Statement* find_align_before(Statement* s) {
  for (Statement* t = s; t; t = t->prev) {
    if (t->flags & SF_END_LABEL) return nullptr;
    if (is_directive(t, DIR_ALIGN)) {
      if ((t->flags & SF_INLINE_ASM) || t->label) return nullptr;
      return t;
    }
    if (!passes_before_align(t)) return nullptr;
  }
  return nullptr;
}

// A copy of a label line that writes out exactly as the original.
Statement* clone_label_line(const Statement* s) {
  Statement* clone = new_statement_like(s);
  if (s->label) clone->label = copy_label(s);
  clone->text = copy_string(s->text);
  InsnDetail* d = new_insn_detail(1);
  d->mnemonic = copy_string(s->insn->mnemonic);
  d->insn_id = s->insn->insn_id;
  d->size_code = s->insn->size_code;
  d->format_code = s->insn->format_code;
  d->operand_count = s->insn->operand_count;
  clone->insn = d;
  return clone;
}

// Moves label line `line` to just after `anchor` and returns the copy.
Statement* move_label_line(Statement* anchor, Statement* line, std::uint32_t extra_flags) {
  Statement* clone = clone_label_line(line);
  clone->flags |= extra_flags;
  insert_after(anchor, clone);
  delete_statement(line);
  return clone;
}

// Where the labels of the removed functions go: entry labels after
// `entry`, end labels (each with the M label that follows it) after `end`.
// Both advance with every function removed, so labels keep file order.
struct Anchors {
  Statement* entry;
  Statement* end;
};

// The end anchor of the function that holds s: its end label, or the M
// label right after it. None when there is no end label.
Statement* end_anchor_from(Statement* s) {
  Statement* end = find_end_label(s);
  if (end && end->next && (end->next->flags & SF_M_LABEL)) end = end->next;
  return end;
}

// A return-only function whose return carries a label of its own stays:
// deleting that return would lose the label.
bool return_is_labelled(Statement* entry, std::uint32_t return_insn) {
  Statement* r = find_return_in_body(entry, return_insn);
  return r && is_insn(r, return_insn) && r->label;
}

// Removes the return-only function entered at t, placing its labels at the
// anchors. `clone_flags` go on the moved entry label. False when t's end
// label is missing: the inner scan then ends.
bool remove_function(Statement* t, Anchors* at, std::uint32_t return_insn, std::uint32_t clone_flags) {
  move_label_line(at->entry, t, clone_flags);

  Statement* r = find_return_in_body(t, return_insn);
  if (r && is_insn(r, return_insn)) delete_statement(r);

  Statement* e = r ? find_end_label(r) : nullptr;
  if (!e) return false;
  Statement* end_clone = move_label_line(at->end, e, 0);
  if (e->next && (e->next->flags & SF_M_LABEL)) {
    at->end = end_clone;
    Statement* m = e->next;
    move_label_line(at->end, m, 0);
    e = m;
  }
  if (Statement* align = find_align_before(e->prev)) delete_statement(align);

  at->entry = at->entry->next;
  at->end = at->end->next;
  return true;
}

enum class ScanResult { kGoOn, kPassEnds };

// The inner scan shared by both passes: from `from` to the end of the unit,
// every candidate entry of the section being served is removed.
ScanResult remove_candidates_of_section(Statement* from, SectionState* sections, Anchors* at,
                                        std::uint32_t return_insn, std::uint32_t clone_flags) {
  for (Statement* t = from; t; t = t->next) {
    if (SectionName name = code_section_name(t)) {
      sections->inner_section = copy_string(*name);
      continue;
    }
    if (!is_candidate_entry(t)) continue;
    if (!sections->outer_section || !sections->inner_section) return ScanResult::kPassEnds;
    if (*sections->outer_section != *sections->inner_section) continue;
    if (return_is_labelled(t, return_insn)) continue;
    if (!remove_function(t, at, return_insn, clone_flags)) return ScanResult::kGoOn;
  }
  return ScanResult::kGoOn;
}

void enter_code_section(SectionState* sections, std::string_view name) {
  sections->outer_section = copy_string(name);
  sections->inner_section = copy_string(name);
}

}  // namespace

void pass_attach_return_only(Statement* first) {
  SectionState sections;
  bool pending_own_return = false;
  for (Statement* s = first; s; s = s->next) {
    if (SectionName name = code_section_name(s)) {
      enter_code_section(&sections, *name);
      continue;
    }
    if (s->kind != STMT_INSN || (s->flags & SF_REWRITTEN)) continue;
    if (s->flags & SF_RETURN_ONLY) {
      pending_own_return = true;
      continue;
    }
    if (!is_insn(s, INSN_RTS)) continue;
    if (pending_own_return) {
      // The return-only function's own rts.
      pending_own_return = false;
      continue;
    }
    // No labels go onto a return that is assembled once, never or many
    // times, nor onto one with nothing in front of it.
    if ((s->flags & SF_NOT_MOVABLE) || !s->prev) continue;

    // Host the return-only functions at this rts.
    Statement* end = find_end_label(s);
    if (!end) return;
    if (end->flags & SF_NOT_MOVABLE) continue;
    Anchors at{s->prev, end_anchor_from(s)};
    if (at.end->flags & SF_NOT_MOVABLE) continue;
    // Every hosting rescans the whole unit: the functions of this section
    // may stand before or after the host.
    if (remove_candidates_of_section(first, &sections, &at, INSN_RTS, SF_REWRITTEN) == ScanResult::kPassEnds)
      return;
  }
}

void pass_merge_return_only(Statement* first, std::uint32_t return_insn) {
  SectionState sections;
  for (Statement* s = first; s; s = s->next) {
    if (SectionName name = code_section_name(s)) {
      enter_code_section(&sections, *name);
      continue;
    }
    if (!is_candidate_entry(s)) continue;

    // s keeps its body; the later return-only functions of its section
    // join it.
    Statement* end = end_anchor_from(s);
    if (!end) return;
    Anchors at{s, end};
    if (remove_candidates_of_section(s->next, &sections, &at, return_insn, 0) == ScanResult::kPassEnds) return;
    // Go on after the labels placed behind the keeper.
    s = at.entry;
  }
}
