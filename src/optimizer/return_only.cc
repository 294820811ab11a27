// Return-only functions: a function whose body is nothing but its return
// instruction needs no code of its own. Its entry label can stand on another
// return of the same CODE section, and its end label beside that function's.
//
// Pass 1012 places every return-only function's entry label in front of the
// first rts of an ordinary function of its section:
//     _f:  ...  rts  E1:   _g:  rts  E2:
//  -> _f:  ...  _g:  rts  E1:  E2:
// Pass 1004 (with rts) and the last step of 1010 (with reit; its first step,
// the push/pop removal, is in drop_redundant.cc) merge the
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
//
// The scans. Pass 1012 hosts at every rts of an ordinary function, and for
// each host a literal scan would walk the whole unit looking for the
// section's return-only functions; pass 1004 would walk from each keeper to
// the end. The passes run that outer walk but find the inner scan's
// candidates in an index built in one walk over the unit
// (return_only_index.cc); the literal scans, built from the same pieces,
// are kept by the tests as the definition.
#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "driver/memory.h"
#include "optimizer/passes.h"
#include "optimizer/return_only_parts.h"
#include "optimizer/walk.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// Lines that may stand between a function's .align and its end label.
bool passes_before_align(const Statement* s) {
  if (s->kind == STMT_BLANK) return true;  // blank, comment or deleted
  if (s->kind != STMT_DIRECTIVE || !s->directive()) return false;
  std::uint32_t id = directive_id_of(s);
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

}  // namespace

// From s on, while inside the function body, the first return instruction;
// otherwise the statement where the body ended (none when the list ended).
Statement* find_return_in_body(Statement* s, std::uint32_t return_insn) {
  for (Statement* t = s; t; t = t->next) {
    if (!(t->flags & SF_IN_FUNCTION) || is_insn(t, return_insn)) return t;
  }
  return nullptr;
}

namespace {

// A copy of a label line that writes out exactly as the original.
Statement* clone_label_line(const Statement* s) {
  Statement* clone = new_statement_like(s);
  if (s->label) clone->label = copy_label(s);
  set_text(clone, copy_string(s->text()));
  InsnDetail* d = new_insn_detail(1);
  d->mnemonic = copy_string(s->insn()->mnemonic);
  d->insn_id = s->insn()->insn_id;
  d->size_code = s->insn()->size_code;
  d->format_code = s->insn()->format_code;
  d->operand_count = s->insn()->operand_count;
  set_insn(clone, d);
  return clone;
}

void note_insert(ChangeWatch* watch, const Statement* anchor, Statement* clone, bool entry_label) {
  if (!entry_label && is_candidate_entry(clone)) {
    watch->index_broken = true;
    return;
  }
  if (watch->kept_returns->empty()) return;
  std::uint32_t ret = watch->return_insn;
  bool walk_passes_clone = (clone->flags & SF_IN_FUNCTION) && !is_insn(clone, ret);
  bool walk_passes_anchor = (anchor->flags & SF_IN_FUNCTION) && !is_insn(anchor, ret);
  if (walk_passes_clone || !walk_passes_anchor) return;
  const Statement* r = find_return_in_body(clone->next, ret);
  if (r && watch->kept_returns->count(r)) watch->index_broken = true;
}

// Moves label line `line` to just after `anchor` and returns the copy.
Statement* move_label_line(Statement* anchor, Statement* line, std::uint32_t extra_flags, ChangeWatch* watch,
                           bool entry_label) {
  Statement* clone = clone_label_line(line);
  clone->flags |= extra_flags;
  insert_after(anchor, clone);
  if (watch) note_insert(watch, anchor, clone, entry_label);
  delete_statement(line);
  return clone;
}

}  // namespace

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
bool remove_function(Statement* t, Anchors* at, std::uint32_t return_insn, std::uint32_t clone_flags,
                     ChangeWatch* watch) {
  move_label_line(at->entry, t, clone_flags, watch, true);

  Statement* r = find_return_in_body(t, return_insn);
  if (r && is_insn(r, return_insn)) delete_statement(r);

  Statement* e = r ? find_end_label(r) : nullptr;
  if (!e) return false;
  Statement* end_clone = move_label_line(at->end, e, 0, watch, false);
  if (e->next && (e->next->flags & SF_M_LABEL)) {
    at->end = end_clone;
    Statement* m = e->next;
    move_label_line(at->end, m, 0, watch, false);
    e = m;
  }
  if (Statement* align = find_align_before(e->prev)) delete_statement(align);

  at->entry = at->entry->next;
  at->end = at->end->next;
  return true;
}

// The literal inner scan shared by both passes: from `from` to the end of
// the unit, every candidate entry of the section being served is removed.
ScanResult remove_candidates_of_section(Statement* from, SectionState* sections, Anchors* at,
                                        std::uint32_t return_insn, std::uint32_t clone_flags) {
  for (Statement* t = from; t; t = t->next) {
    if (SectionName name = code_section_name(t)) {
      sections->inner_section = copy_string(*name);
      continue;
    }
    if (!is_candidate_entry(t)) continue;
    if (!sections->outer_section || !sections->inner_section) return ScanResult::pass_ends;
    if (*sections->outer_section != *sections->inner_section) continue;
    if (return_is_labelled(t, return_insn)) continue;
    if (!remove_function(t, at, return_insn, clone_flags, nullptr)) return ScanResult::go_on;
  }
  return ScanResult::go_on;
}

void enter_code_section(SectionState* sections, std::string_view name) {
  sections->outer_section = copy_string(name);
  sections->inner_section = copy_string(name);
}

// The outer scan of pass 1012 at s (not a CODE section directive): whether
// s is an rts that hosts the return-only functions of its section, with the
// anchors of the labels it takes in *at, or whether the pass ends here.
// pending_own_return carries over from statement to statement.
Host host_at(Statement* s, bool* pending_own_return, Anchors* at) {
  if (s->kind != STMT_INSN || (s->flags & SF_REWRITTEN)) return Host::no;
  if (s->flags & SF_RETURN_ONLY) {
    *pending_own_return = true;
    return Host::no;
  }
  if (!is_insn(s, INSN_RTS)) return Host::no;
  if (*pending_own_return) {
    // The return-only function's own rts.
    *pending_own_return = false;
    return Host::no;
  }
  // No labels go onto a return that is assembled once, never or many
  // times, nor onto one with nothing in front of it.
  if ((s->flags & SF_NOT_MOVABLE) || !s->prev) return Host::no;
  Statement* end = find_end_label(s);
  if (!end) return Host::pass_ends;
  if (end->flags & SF_NOT_MOVABLE) return Host::no;
  *at = Anchors{s->prev, end_anchor_from(s)};
  if (at->end->flags & SF_NOT_MOVABLE) return Host::no;
  return Host::yes;
}

void pass_attach_return_only(Statement* first) {
  CandidateIndex index;
  SectionIds ids;
  bool pending_own_return = false;
  for (Statement* s = first; s; s = s->next) {
    prefetch_ahead(s);
    if (SectionName name = code_section_name(s)) {
      ids.outer_section = ids.inner_section = intern(&index, *name);
      continue;
    }
    // Host the return-only functions of this section at this rts, as the
    // literal pass does, with the inner scan answered by the index.
    Anchors at{};
    Host host = host_at(s, &pending_own_return, &at);
    if (host == Host::pass_ends) return;
    if (host == Host::no) continue;
    if (index.stale) build_index(&index, first);
    if (scan_indexed(&index, 0, 0, &ids, &at, INSN_RTS, SF_REWRITTEN) == ScanResult::pass_ends) return;
  }
}

void pass_merge_return_only(Statement* first, std::uint32_t return_insn) {
  CandidateIndex index;
  SectionIds ids;
  for (Statement* s = first; s; s = s->next) {
    prefetch_ahead(s);
    if (SectionName name = code_section_name(s)) {
      ids.outer_section = ids.inner_section = intern(&index, *name);
      continue;
    }
    if (!is_candidate_entry(s)) continue;

    // s keeps its body; the later return-only functions of its section
    // join it.
    Statement* end = end_anchor_from(s);
    if (!end) return;
    Anchors at{s, end};
    if (index.stale) build_index(&index, first);
    if (merge_into_keeper(&index, s, &ids, &at, return_insn) == ScanResult::pass_ends) return;
    // Go on after the labels placed behind the keeper.
    s = at.entry;
  }
}
