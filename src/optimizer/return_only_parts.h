// Inside the return-only passes (1012, 1004 and the last step of 1010,
// declared in passes.h): what return_only.cc and the index of candidate
// functions (return_only_index.cc) share. The literal scans that the
// differential test holds the indexed ones to are built from these pieces
// too.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "source/statement.h"
#include "source/tables.h"

using SectionName = std::optional<std::string_view>;

// Lines in inline assembly or in conditional or repeated code stay where
// they are.
constexpr std::uint32_t SF_NOT_MOVABLE = SF_INLINE_ASM | SF_CONDITIONAL;

// The section names the scans of one pass share. The outer scan sets both;
// an inner scan sets only inner_section and leaves it for the next scan.
struct SectionState {
  SectionName outer_section;
  SectionName inner_section;
};

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

// Where the labels of the removed functions go: entry labels after
// `entry`, end labels (each with the M label that follows it) after `end`.
// Both advance with every function removed, so labels keep file order.
struct Anchors {
  Statement* entry;
  Statement* end;
};

enum class ScanResult { go_on, pass_ends };

enum class Host { no, yes, pass_ends };

// The name of a ".section name,CODE" directive, or none for any other
// statement. (These two are in line: both scans ask them of every line.)
inline SectionName code_section_name(const Statement* s) {
  if (!is_directive(s, DIR_SECTION)) return std::nullopt;
  const DirectiveDetail* d = s->directive();
  if (d->operand_count < 2 || d->operands[1] != "CODE") return std::nullopt;
  return d->operands[0];
}

// A return-only function's entry that the scans may still move.
inline bool is_candidate_entry(const Statement* s) {
  return s->kind == STMT_INSN && !(s->flags & SF_REWRITTEN) && (s->flags & SF_RETURN_ONLY) &&
         !(s->flags & SF_NOT_MOVABLE);
}

// From s on, while inside the function body, the first return instruction;
// otherwise the statement where the body ended (none when the list ended).
Statement* find_return_in_body(Statement* s, std::uint32_t return_insn);

// The end anchor of the function that holds s: its end label, or the M
// label right after it. None when there is no end label.
Statement* end_anchor_from(Statement* s);

// A return-only function whose return carries a label of its own stays:
// deleting that return would lose the label.
bool return_is_labelled(Statement* entry, std::uint32_t return_insn);

// Removes the return-only function entered at t, placing its labels at the
// anchors. `clone_flags` go on the moved entry label. False when t's end
// label is missing: the inner scan then ends.
bool remove_function(Statement* t, Anchors* at, std::uint32_t return_insn, std::uint32_t clone_flags,
                     ChangeWatch* watch);

// The literal inner scan shared by both passes: from `from` to the end of
// the unit, every candidate entry of the section being served is removed.
ScanResult remove_candidates_of_section(Statement* from, SectionState* sections, Anchors* at,
                                        std::uint32_t return_insn, std::uint32_t clone_flags);

void enter_code_section(SectionState* sections, std::string_view name);

// The outer scan of pass 1012 at s (not a CODE section directive): whether
// s is an rts that hosts the return-only functions of its section, with the
// anchors of the labels it takes in *at, or whether the pass ends here.
// pending_own_return carries over from statement to statement.
Host host_at(Statement* s, bool* pending_own_return, Anchors* at);

// The index of the candidate functions (return_only_index.cc), which
// answers the inner scans of both passes without walking the unit.
constexpr int NONE = -1;

struct SectionIds {
  int outer_section = NONE;
  int inner_section = NONE;
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
  // that name (NONE at the last), and a shortcut past emptied segments.
  std::vector<int> segment_begin, segment_end, segment_name, segment_next_same, segment_jump;
  std::vector<int> first_segment_of_name;
  int code_segments = 0;  // the CODE directives; segments 1 .. code_segments
  int last_code_name = NONE;
  // The labelled returns of the candidates kept out of the index.
  std::unordered_set<const Statement*> kept_returns;
};

int intern(CandidateIndex* ix, std::string_view name);

void build_index(CandidateIndex* ix, Statement* first);

// The inner scan from the statement after entry `begin_entry - 1`, within
// segment `start_segment`: exactly what remove_candidates_of_section does
// from there.
ScanResult scan_indexed(CandidateIndex* ix, int begin_entry, int start_segment, SectionIds* ids, Anchors* at,
                        std::uint32_t return_insn, std::uint32_t clone_flags);

// The inner scan of pass 1004 for keeper s.
ScanResult merge_into_keeper(CandidateIndex* ix, Statement* s, SectionIds* ids, Anchors* at,
                             std::uint32_t return_insn);
