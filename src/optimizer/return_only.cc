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
// each host the literal scan walks the whole unit looking for the section's
// return-only functions; pass 1004 walks from each keeper to the end. Both
// are kept below as the reference (return_only_reference.h). The pipeline
// passes run the same outer walk but find the inner scan's candidates in an
// index built in one walk over the unit; see "The indexed scans" below.
#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "driver/memory.h"
#include "optimizer/passes.h"
#include "optimizer/return_only_reference.h"
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
  const DirectiveDetail* d = s->directive();
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

// What the indexed scans must hear of a removal: whether it left the index
// unable to answer for the rest of the pass. Set when a moved line is a new
// candidate entry the index does not hold (an entry label whose name begins
// with M moves with the end label before it, and its copy is a candidate
// again), or when a line without SF_IN_FUNCTION lands inside the body walk of
// a candidate that the index keeps out for its labelled return (that walk
// may now stop earlier). The literal scans pass none.
struct ChangeWatch {
  std::uint32_t return_insn;
  const std::unordered_set<const Statement*>* kept_returns;
  bool index_broken = false;
};

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

enum class ScanResult { kGoOn, kPassEnds };

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
    if (!sections->outer_section || !sections->inner_section) return ScanResult::kPassEnds;
    if (*sections->outer_section != *sections->inner_section) continue;
    if (return_is_labelled(t, return_insn)) continue;
    if (!remove_function(t, at, return_insn, clone_flags, nullptr)) return ScanResult::kGoOn;
  }
  return ScanResult::kGoOn;
}

void enter_code_section(SectionState* sections, std::string_view name) {
  sections->outer_section = copy_string(name);
  sections->inner_section = copy_string(name);
}

enum class Host { kNo, kYes, kPassEnds };

// The outer scan of pass 1012 at s (not a CODE section directive): whether
// s is an rts that hosts the return-only functions of its section, with the
// anchors of the labels it takes in *at, or whether the pass ends here.
// pending_own_return carries over from statement to statement.
Host host_at(Statement* s, bool* pending_own_return, Anchors* at) {
  if (s->kind != STMT_INSN || (s->flags & SF_REWRITTEN)) return Host::kNo;
  if (s->flags & SF_RETURN_ONLY) {
    *pending_own_return = true;
    return Host::kNo;
  }
  if (!is_insn(s, INSN_RTS)) return Host::kNo;
  if (*pending_own_return) {
    // The return-only function's own rts.
    *pending_own_return = false;
    return Host::kNo;
  }
  // No labels go onto a return that is assembled once, never or many
  // times, nor onto one with nothing in front of it.
  if ((s->flags & SF_NOT_MOVABLE) || !s->prev) return Host::kNo;
  Statement* end = find_end_label(s);
  if (!end) return Host::kPassEnds;
  if (end->flags & SF_NOT_MOVABLE) return Host::kNo;
  *at = Anchors{s->prev, end_anchor_from(s)};
  if (at->end->flags & SF_NOT_MOVABLE) return Host::kNo;
  return Host::kYes;
}

}  // namespace

void reference_attach_return_only(Statement* first) {
  SectionState sections;
  bool pending_own_return = false;
  for (Statement* s = first; s; s = s->next) {
    if (SectionName name = code_section_name(s)) {
      enter_code_section(&sections, *name);
      continue;
    }
    // Host the return-only functions at this rts.
    Anchors at{};
    Host host = host_at(s, &pending_own_return, &at);
    if (host == Host::kPassEnds) return;
    if (host == Host::kNo) continue;
    // Every hosting rescans the whole unit: the functions of this section
    // may stand before or after the host.
    if (remove_candidates_of_section(first, &sections, &at, INSN_RTS, SF_REWRITTEN) == ScanResult::kPassEnds)
      return;
  }
}

void reference_merge_return_only(Statement* first, std::uint32_t return_insn) {
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

// The indexed scans.
//
// An inner scan's only effects are its removals (in file order), its early
// stop (a removed function without end label), the end of the pass (a
// candidate entry met while no CODE section is known) and the name it leaves
// in inner_section. Which candidates it removes follows from where they
// stand among the CODE section directives, and those never change during a
// pass: a candidate after a CODE directive is compared with that directive's
// name, since the scan passed the directive on its way there; only the
// candidates between the scan's start and the next CODE directive are
// compared with the name the earlier scans left.
//
// So one walk over the unit lists the candidate entries in file order, cut
// into segments at the CODE directives (segment 0 holds those before the
// first one), and chains the segments of each section name. A scan for
// section X then visits only the candidates it could remove: those of its
// own segment after its start when the carried name is X, then those of the
// later segments of X. A visited candidate leaves the index: it was removed,
// it is no longer a candidate, or its labelled return keeps it (which stays
// so unless a line lands inside its body walk; the ChangeWatch tells).
//
// Where the index cannot answer (a removal put a new candidate into the
// unit or broke a kept candidate's body walk, or pass 1004 meets a keeper
// the index does not hold), the scan goes on literally and the index is
// rebuilt before the next one. Files as the compiler writes them, marked by
// the preparatory walks, do not lead there; the way is kept for any other
// state of the marks, where the literal scans still define the result.
//
// Every scan costs its removals plus a constant, each candidate is visited
// once per build of the index, and a build is one walk over the unit.
namespace {

constexpr int kNone = -1;

struct SectionIds {
  int outer_section = kNone;
  int inner_section = kNone;
};

struct CandidateIndex {
  bool stale = true;
  // Section names by id; ids stay the same across rebuilds.
  std::vector<std::string_view> names;
  std::unordered_map<std::string_view, int> name_ids;
  // The candidate entries in file order, and the segment of each.
  std::vector<Statement*> entries;
  std::vector<int> entry_segment;
  std::unordered_map<const Statement*, int> entry_of;
  // first_pending(i) is the first entry at or after i that no scan visited;
  // entries.size() when there is none.
  std::vector<int> pending_next;
  // Every entry before it is no longer a candidate.
  std::size_t dead_prefix = 0;
  // Per segment: its entries [begin, end), its name, the next segment of
  // that name (kNone at the last), and a shortcut past emptied segments.
  std::vector<int> segment_begin, segment_end, segment_name, segment_next_same, segment_jump;
  std::vector<int> first_segment_of_name;
  int code_segments = 0;  // the CODE directives; segments 1 .. code_segments
  int last_code_name = kNone;
  // The labelled returns of the candidates kept out of the index.
  std::unordered_set<const Statement*> kept_returns;
};

int intern(CandidateIndex* ix, std::string_view name) {
  auto found = ix->name_ids.find(name);
  if (found != ix->name_ids.end()) return found->second;
  int id = static_cast<int>(ix->names.size());
  ix->names.push_back(name);
  ix->name_ids.emplace(name, id);
  return id;
}

void open_segment(CandidateIndex* ix, int name) {
  if (!ix->segment_begin.empty()) ix->segment_end.back() = static_cast<int>(ix->entries.size());
  ix->segment_begin.push_back(static_cast<int>(ix->entries.size()));
  ix->segment_end.push_back(static_cast<int>(ix->entries.size()));
  ix->segment_name.push_back(name);
  ix->segment_next_same.push_back(kNone);
  ix->segment_jump.push_back(static_cast<int>(ix->segment_jump.size()));
}

void build_index(CandidateIndex* ix, Statement* first) {
  ix->entries.clear();
  ix->entry_segment.clear();
  ix->entry_of.clear();
  ix->segment_begin.clear();
  ix->segment_end.clear();
  ix->segment_name.clear();
  ix->segment_next_same.clear();
  ix->segment_jump.clear();
  ix->kept_returns.clear();
  ix->code_segments = 0;
  ix->last_code_name = kNone;
  ix->first_segment_of_name.assign(ix->names.size(), kNone);
  std::vector<int> last_segment_of_name(ix->names.size(), kNone);
  open_segment(ix, kNone);
  for (Statement* s = first; s; s = s->next) {
    prefetch_ahead(s);
    if (SectionName name = code_section_name(s)) {
      int id = intern(ix, *name);
      open_segment(ix, id);
      int segment = ++ix->code_segments;
      ix->last_code_name = id;
      ix->first_segment_of_name.resize(ix->names.size(), kNone);
      last_segment_of_name.resize(ix->names.size(), kNone);
      if (last_segment_of_name[id] == kNone)
        ix->first_segment_of_name[id] = segment;
      else
        ix->segment_next_same[last_segment_of_name[id]] = segment;
      last_segment_of_name[id] = segment;
      continue;
    }
    if (!is_candidate_entry(s)) continue;
    ix->entry_of[s] = static_cast<int>(ix->entries.size());
    ix->entries.push_back(s);
    ix->entry_segment.push_back(ix->code_segments);
  }
  ix->segment_end.back() = static_cast<int>(ix->entries.size());
  ix->pending_next.resize(ix->entries.size() + 1);
  for (std::size_t i = 0; i < ix->pending_next.size(); ++i) ix->pending_next[i] = static_cast<int>(i);
  ix->dead_prefix = 0;
  ix->stale = false;
}

int first_pending(CandidateIndex* ix, int i) {
  int root = i;
  while (ix->pending_next[root] != root) root = ix->pending_next[root];
  while (ix->pending_next[i] != root) {
    int next = ix->pending_next[i];
    ix->pending_next[i] = root;
    i = next;
  }
  return root;
}

void drop_pending(CandidateIndex* ix, int i) { ix->pending_next[i] = i + 1; }

// The first segment at or after `segment`, in the chain of its name, that
// still holds an entry to visit; kNone when there is none.
int live_segment(CandidateIndex* ix, int segment) {
  int s = segment;
  while (s != kNone) {
    int jump = ix->segment_jump[s];
    if (jump != s) {
      s = jump;
      continue;
    }
    if (first_pending(ix, ix->segment_begin[s]) < ix->segment_end[s]) break;
    ix->segment_jump[s] = ix->segment_next_same[s];
    s = ix->segment_jump[s];
  }
  while (segment != kNone && segment != s) {
    int next = ix->segment_jump[segment];
    ix->segment_jump[segment] = s;
    segment = next;
  }
  return s;
}

// Whether an entry from index `from` on is still a candidate.
bool any_candidate_from(CandidateIndex* ix, std::size_t from) {
  bool from_prefix = from <= ix->dead_prefix;
  std::size_t i = from_prefix ? ix->dead_prefix : from;
  while (i < ix->entries.size() && !is_candidate_entry(ix->entries[i])) ++i;
  if (from_prefix) ix->dead_prefix = i;
  return i < ix->entries.size();
}

SectionName name_of(const CandidateIndex* ix, int id) {
  if (id == kNone) return std::nullopt;
  return ix->names[id];
}

// The rest of a scan done literally, from statement `from` on, when the
// index cannot answer for it. The index is rebuilt before the next scan.
ScanResult scan_literally(CandidateIndex* ix, Statement* from, SectionIds* ids, Anchors* at,
                          std::uint32_t return_insn, std::uint32_t clone_flags) {
  ix->stale = true;
  SectionState sections{name_of(ix, ids->outer_section), name_of(ix, ids->inner_section)};
  ScanResult result = remove_candidates_of_section(from, &sections, at, return_insn, clone_flags);
  if (sections.inner_section) ids->inner_section = intern(ix, *sections.inner_section);
  return result;
}

enum class Visit { kNext, kScanOver };

// Visits entry i for a scan serving section `x`; kScanOver when the scan
// ends there, with its result in *result.
Visit visit_entry(CandidateIndex* ix, int i, int x, SectionIds* ids, Anchors* at, std::uint32_t return_insn,
                  std::uint32_t clone_flags, ScanResult* result) {
  Statement* t = ix->entries[i];
  drop_pending(ix, i);
  if (!is_candidate_entry(t)) return Visit::kNext;
  if (return_is_labelled(t, return_insn)) {
    ix->kept_returns.insert(find_return_in_body(t, return_insn));
    return Visit::kNext;
  }
  ChangeWatch watch{return_insn, &ix->kept_returns};
  bool complete = remove_function(t, at, return_insn, clone_flags, &watch);
  // The literal scan reaches t having passed t's CODE directive, or, before
  // any, carrying the name x it was compared with.
  ids->inner_section = x;
  if (!complete) {
    // In pass 1004 the entry anchor stays in front of t's copy, so the outer
    // scan takes that copy as its next keeper: one the index does not hold,
    // which merge_into_keeper scans literally.
    *result = ScanResult::kGoOn;
    return Visit::kScanOver;
  }
  if (watch.index_broken) {
    *result = scan_literally(ix, t->next, ids, at, return_insn, clone_flags);
    return Visit::kScanOver;
  }
  return Visit::kNext;
}

// The inner scan from the statement after entry `begin_entry - 1`, within
// segment `start_segment`: exactly what remove_candidates_of_section does
// from there.
ScanResult scan_indexed(CandidateIndex* ix, int begin_entry, int start_segment, SectionIds* ids, Anchors* at,
                        std::uint32_t return_insn, std::uint32_t clone_flags) {
  bool code_after_start = start_segment < ix->code_segments;
  if (ids->outer_section == kNone) {
    // The first candidate met ends the pass.
    if (any_candidate_from(ix, static_cast<std::size_t>(begin_entry))) return ScanResult::kPassEnds;
    if (code_after_start) ids->inner_section = ix->last_code_name;
    return ScanResult::kGoOn;
  }
  int x = ids->outer_section;
  ScanResult result = ScanResult::kGoOn;
  if (ids->inner_section == x) {
    int end = ix->segment_end[start_segment];
    for (int i = first_pending(ix, begin_entry); i < end; i = first_pending(ix, i + 1)) {
      if (visit_entry(ix, i, x, ids, at, return_insn, clone_flags, &result) == Visit::kScanOver) return result;
    }
  }
  int next = start_segment == 0 ? ix->first_segment_of_name[x] : ix->segment_next_same[start_segment];
  for (int s = live_segment(ix, next); s != kNone; s = live_segment(ix, ix->segment_next_same[s])) {
    int end = ix->segment_end[s];
    for (int i = first_pending(ix, ix->segment_begin[s]); i < end; i = first_pending(ix, i + 1)) {
      if (visit_entry(ix, i, x, ids, at, return_insn, clone_flags, &result) == Visit::kScanOver) return result;
    }
  }
  if (code_after_start) ids->inner_section = ix->last_code_name;
  return ScanResult::kGoOn;
}

// The inner scan of pass 1004 for keeper s.
ScanResult merge_into_keeper(CandidateIndex* ix, Statement* s, SectionIds* ids, Anchors* at,
                             std::uint32_t return_insn) {
  auto found = ix->entry_of.find(s);
  if (found != ix->entry_of.end()) {
    int k = found->second;
    int segment = ix->entry_segment[k];
    bool known_section = ids->outer_section != kNone;
    // The outer scan passed the keeper's CODE directive, so it serves that
    // directive's name; anything else would be a keeper the index missed.
    if ((segment != 0) == known_section && (!known_section || ix->segment_name[segment] == ids->outer_section)) {
      drop_pending(ix, k);
      return scan_indexed(ix, k + 1, segment, ids, at, return_insn, 0);
    }
  }
  return scan_literally(ix, s->next, ids, at, return_insn, 0);
}

}  // namespace

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
    if (host == Host::kPassEnds) return;
    if (host == Host::kNo) continue;
    if (index.stale) build_index(&index, first);
    if (scan_indexed(&index, 0, 0, &ids, &at, INSN_RTS, SF_REWRITTEN) == ScanResult::kPassEnds) return;
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
    if (merge_into_keeper(&index, s, &ids, &at, return_insn) == ScanResult::kPassEnds) return;
    // Go on after the labels placed behind the keeper.
    s = at.entry;
  }
}
