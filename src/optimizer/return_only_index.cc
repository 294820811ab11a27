// The index of the candidate functions of the return-only passes, which
// answers their inner scans.
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
#include <cstddef>

#include "optimizer/return_only_parts.h"
#include "source/statement.h"

int intern(CandidateIndex* ix, std::string_view name) {
  auto found = ix->name_ids.find(name);
  if (found != ix->name_ids.end()) return found->second;
  int id = static_cast<int>(ix->names.size());
  ix->names.push_back(name);
  ix->name_ids.emplace(name, id);
  return id;
}

namespace {

void open_segment(CandidateIndex* ix, int name) {
  if (!ix->segment_begin.empty()) ix->segment_end.back() = static_cast<int>(ix->entries.size());
  ix->segment_begin.push_back(static_cast<int>(ix->entries.size()));
  ix->segment_end.push_back(static_cast<int>(ix->entries.size()));
  ix->segment_name.push_back(name);
  ix->segment_next_same.push_back(NONE);
  ix->segment_jump.push_back(static_cast<int>(ix->segment_jump.size()));
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
// still holds an entry to visit; NONE when there is none.
int live_segment(CandidateIndex* ix, int segment) {
  int s = segment;
  while (s != NONE) {
    int jump = ix->segment_jump[s];
    if (jump != s) {
      s = jump;
      continue;
    }
    if (first_pending(ix, ix->segment_begin[s]) < ix->segment_end[s]) break;
    ix->segment_jump[s] = ix->segment_next_same[s];
    s = ix->segment_jump[s];
  }
  while (segment != NONE && segment != s) {
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
  if (id == NONE) return std::nullopt;
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

enum class Visit { next, scan_over };

// Visits entry i for a scan serving section `x`; scan_over when the scan
// ends there, with its result in *result.
Visit visit_entry(CandidateIndex* ix, int i, int x, SectionIds* ids, Anchors* at, std::uint32_t return_insn,
                  std::uint32_t clone_flags, ScanResult* result) {
  Statement* t = ix->entries[i];
  drop_pending(ix, i);
  if (!is_candidate_entry(t)) return Visit::next;
  if (return_is_labelled(t, return_insn)) {
    ix->kept_returns.insert(find_return_in_body(t, return_insn));
    return Visit::next;
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
    *result = ScanResult::go_on;
    return Visit::scan_over;
  }
  if (watch.index_broken) {
    *result = scan_literally(ix, t->next, ids, at, return_insn, clone_flags);
    return Visit::scan_over;
  }
  return Visit::next;
}

}  // namespace

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
  ix->last_code_name = NONE;
  ix->first_segment_of_name.assign(ix->names.size(), NONE);
  std::vector<int> last_segment_of_name(ix->names.size(), NONE);
  open_segment(ix, NONE);
  for_each_statement(first, [&](Statement* s) {
    if (SectionName name = code_section_name(s)) {
      int id = intern(ix, *name);
      open_segment(ix, id);
      int segment = ++ix->code_segments;
      ix->last_code_name = id;
      ix->first_segment_of_name.resize(ix->names.size(), NONE);
      last_segment_of_name.resize(ix->names.size(), NONE);
      if (last_segment_of_name[id] == NONE)
        ix->first_segment_of_name[id] = segment;
      else
        ix->segment_next_same[last_segment_of_name[id]] = segment;
      last_segment_of_name[id] = segment;
      return;
    }
    if (!is_candidate_entry(s)) return;
    ix->entry_of[s] = static_cast<int>(ix->entries.size());
    ix->entries.push_back(s);
    ix->entry_segment.push_back(ix->code_segments);
  });
  ix->segment_end.back() = static_cast<int>(ix->entries.size());
  ix->pending_next.resize(ix->entries.size() + 1);
  for (std::size_t i = 0; i < ix->pending_next.size(); ++i) ix->pending_next[i] = static_cast<int>(i);
  ix->dead_prefix = 0;
  ix->stale = false;
}

// The inner scan from the statement after entry `begin_entry - 1`, within
// segment `start_segment`: exactly what remove_candidates_of_section does
// from there.
ScanResult scan_indexed(CandidateIndex* ix, int begin_entry, int start_segment, SectionIds* ids, Anchors* at,
                        std::uint32_t return_insn, std::uint32_t clone_flags) {
  bool code_after_start = start_segment < ix->code_segments;
  if (ids->outer_section == NONE) {
    // The first candidate met ends the pass.
    if (any_candidate_from(ix, static_cast<std::size_t>(begin_entry))) return ScanResult::pass_ends;
    if (code_after_start) ids->inner_section = ix->last_code_name;
    return ScanResult::go_on;
  }
  int x = ids->outer_section;
  ScanResult result = ScanResult::go_on;
  if (ids->inner_section == x) {
    int end = ix->segment_end[start_segment];
    for (int i = first_pending(ix, begin_entry); i < end; i = first_pending(ix, i + 1)) {
      if (visit_entry(ix, i, x, ids, at, return_insn, clone_flags, &result) == Visit::scan_over) return result;
    }
  }
  int next = start_segment == 0 ? ix->first_segment_of_name[x] : ix->segment_next_same[start_segment];
  for (int s = live_segment(ix, next); s != NONE; s = live_segment(ix, ix->segment_next_same[s])) {
    int end = ix->segment_end[s];
    for (int i = first_pending(ix, ix->segment_begin[s]); i < end; i = first_pending(ix, i + 1)) {
      if (visit_entry(ix, i, x, ids, at, return_insn, clone_flags, &result) == Visit::scan_over) return result;
    }
  }
  if (code_after_start) ids->inner_section = ix->last_code_name;
  return ScanResult::go_on;
}

// The inner scan of pass 1004 for keeper s.
ScanResult merge_into_keeper(CandidateIndex* ix, Statement* s, SectionIds* ids, Anchors* at,
                             std::uint32_t return_insn) {
  auto found = ix->entry_of.find(s);
  if (found != ix->entry_of.end()) {
    int k = found->second;
    int segment = ix->entry_segment[k];
    bool known_section = ids->outer_section != NONE;
    // The outer scan passed the keeper's CODE directive, so it serves that
    // directive's name; anything else would be a keeper the index missed.
    if ((segment != 0) == known_section && (!known_section || ix->segment_name[segment] == ids->outer_section)) {
      drop_pending(ix, k);
      return scan_indexed(ix, k + 1, segment, ids, at, return_insn, 0);
    }
  }
  return scan_literally(ix, s->next, ids, at, return_insn, 0);
}
