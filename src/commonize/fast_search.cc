// The fast search of the commonization. The plain search (search.cc) tests
// every chain member after the reference; this one finds the same groups
// from an index of the unit's code chain, built once before commonize walks
// it:
//
//   sections  the .section members in chain order, with, for each position,
//             the next and the last CODE section and, for a CODE one, the
//             next CODE section of another name. Emission never adds or
//             moves a .section, so the list holds for the whole walk.
//   keys      every instruction member that can ever be an occurrence,
//             grouped by a key of what statements_identical compares
//             (instruction, size, format, operand modes and the compared
//             values or texts, the whole text of a jsr or jmp), each group
//             in chain order. Two statements statements_identical accepts
//             always have equal keys; the key only narrows the search, every
//             candidate is still tested with statements_identical.
//   grams     every member that begins a window of G consecutive chain
//             members that could all be matched in one occurrence, grouped
//             by the keys of the window. An occurrence that matches G
//             reference instructions is such a window with the keys of the
//             reference run's first G instructions, so a search whose
//             reference run has no such window after it cannot produce a
//             group long enough to share (G is the shortest shared length,
//             at most GRAM_MAX).
//
// A search for REF then:
//   1. finds F, the first .section at or after REF's chain successor at
//      which the plain search fails (scan_section differing from
//      reference_section there), from the section list and scan_section;
//   2. asks the grams whether a long enough group is possible at all; when it
//      is, collects the matches before F from REF's key group in chain order
//      up to the table's capacity, exactly the entries the plain search
//      appends, and, unless the table filled before the first window that
//      could grow long enough, runs the plain drop_adjacent and
//      extend_occurrences;
//   3. in every case leaves scan_section as the plain search would: the name
//      of the last CODE section it would have passed (up to F on failure, up
//      to the last occurrence when the table fills, else to the chain's end),
//      or the value it had.
// Where the result and scan_section do not depend on which matches exist,
// no match is looked at.
//
// The index only ever over-approximates: statements are deleted and calls
// inserted during the walk, which can only make members or windows unusable
// (they are passed over, and dropped from the index when met). The copies in
// a shared subroutine are new members that can match: the emission reports
// each (note_copied_instruction) and the next search adds them.
#include "commonize/fast_search.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "commonize/match_count.h"
#include "commonize/search.h"
#include "commonize/sorted_index.h"
#include "commonize/state.h"
#include "driver/memory.h"
#include "driver/settings.h"
#include "source/statement.h"
#include "source/tables.h"
#include "source/text.h"

namespace {

// The longest window the grams look at; a longer shortest shared length is
// still only checked on its first GRAM_MAX instructions.
constexpr int GRAM_MAX = 8;
constexpr std::size_t NONE = SIZE_MAX;
constexpr std::uint64_t NO_ORDER = UINT64_MAX;

std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
  h ^= v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
  h *= 0xBF58476D1CE4E5B9ull;
  return h ^ (h >> 31);
}

// A hash of what statements_identical compares; equal for any two
// statements it accepts. Addresses and displacements compare by value when
// neither is symbolic and by text and offset otherwise; a symbolic and a
// non-symbolic one differ here, which holds as long as no operand text holds
// a NUL byte (FastSearchScope checks that).
std::uint64_t key_hash(const Statement* s) {
  const InsnDetail* d = s->insn();
  std::uint64_t h = mix(0x7A27, d->insn_id);
  h = mix(h, d->size_code);
  h = mix(h, d->format_code);
  h = mix(h, d->operand_count);
  for (std::uint32_t i = 0; i < d->operand_count; ++i) {
    const Operand& o = d->operands[i];
    h = mix(h, o.mode);
    switch (operand_match(o.mode)) {
      case MATCH_BY_ADDRESS:
        if (o.flags & OPF_SYMBOLIC) {
          h = mix(mix(mix(h, 1), text_hash(o.text)), static_cast<std::uint32_t>(o.offset));
        } else {
          h = mix(mix(h, 2), static_cast<std::uint32_t>(o.value));
        }
        break;
      case MATCH_BY_TEXT:
        h = mix(h, text_hash(o.text));
        break;
      case MATCH_BY_MODE:
        break;
    }
  }
  if (d->insn_id == INSN_JSR || d->insn_id == INSN_JMP) h = mix(h, text_hash(s->text()));
  return h;
}

// What a member must be, by itself, to be matched in an occurrence now or
// later: find_chain_next_insn's tests and those of statements_identical and
// may_be_shared that do not depend on the lines around it. Each can only
// change from true to false during the walk.
bool can_match(const Statement* s) {
  if (s->kind != STMT_INSN || s->label || s->replacement) return false;
  if (s->flags & (SF_NO_OPT | SF_INLINE_ASM)) return false;
  if (is_conditional_jump(insn_id_of(s))) return false;
  return shareable_instruction(s);
}

// Hash of a window: the keys of its members in order.
std::uint64_t gram_step(std::uint64_t h, std::uint64_t key) {
  return mix(h ^ 0x6A09E667F3BCC909ull, key);
}

// The window of `length` consecutive chain members from m, if one occurrence
// could match all of them: each can_match, no barrier line between two of
// them, and no flow-ending instruction but the last (a run ends after one).
std::optional<std::uint64_t> window_hash(const Statement* m, int length) {
  std::uint64_t h = 0;
  const Statement* before = nullptr;
  for (int j = 0; j < length; ++j, before = m, m = m->chain_next) {
    if (!m || !can_match(m)) return std::nullopt;
    if (before && barrier_between(before, m)) return std::nullopt;
    if (j + 1 < length && is_flow_ending(m)) return std::nullopt;
    h = gram_step(h, key_hash(m));
  }
  return h;
}

// Whether the window of `length` members from m, indexed when it could be
// matched, still may be. Its members can only have been deleted or had a
// call inserted between them (a call is switched off), so it is enough to
// look for a member now deleted or switched off; a window broken so stays
// broken. (Copies, the only new members that can match, are linked in after
// a label line or another copy, and add_pending indexes the windows they
// begin.)
bool window_alive(const Statement* m, int length) {
  for (int j = 0; j < length; ++j, m = m->chain_next) {
    if (!m || m->kind != STMT_INSN || (m->flags & SF_NO_OPT) || m->replacement) return false;
  }
  return true;
}

// Calls f on each instruction the reference run can grow over, as
// extend_occurrences grows it, in order and the reference first, until f
// returns false. The tests that involve the occurrences are left out, so a
// run found here is never shorter than the real one.
template <typename F>
void walk_reference_run(Statement* ref, F f) {
  if (!f(ref) || is_conditional_jump(insn_id_of(ref)) || is_flow_ending(ref)) return;
  Statement* last = ref;
  for (Statement* s = ref->chain_next; s;) {
    if (s->kind == STMT_OTHER) return;
    if (s->kind != STMT_INSN) {
      s = s->chain_next;
      continue;
    }
    if (!may_be_shared(s) || (s->flags & SF_INLINE_ASM) || s->label) return;
    if (barrier_between(last, s)) return;
    if (s->replacement) {
      s = s->chain_next;
      continue;
    }
    // No occurrence matches a statement switched off or a conditional jump.
    if ((s->flags & SF_NO_OPT) || is_conditional_jump(insn_id_of(s))) return;
    if (!f(s) || is_flow_ending(s)) return;
    last = s;
    s = s->chain_next;
  }
}

// The first `want` instructions of the reference run; returns how many
// there are, at most want.
int reference_run(Statement* ref, int want, Statement** run) {
  int n = 0;
  walk_reference_run(ref, [&](Statement* s) {
    run[n++] = s;
    return n < want;
  });
  return n;
}

// Whether some length the reference run can reach, from the shortest that
// commonize shares on, passes its stack test: the test reads only the
// reference's own instructions, so when none does, no search for this
// reference gives a group that is shared, however its occurrences grow. (A
// run longer than this many instructions is taken to pass, unread.)
constexpr std::int32_t STACK_CHECK_MAX = 1024;

bool stack_test_can_pass(Statement* ref, std::int32_t shortest) {
  StackSum sum;
  std::int32_t n = 0;
  bool can_pass = false;
  walk_reference_run(ref, [&](Statement* s) {
    sum.add(s->insn());
    ++n;
    if (n >= shortest && sum.passes()) can_pass = true;
    // A sum that broke stays broken: no longer run passes.
    if (sum.touches && sum.broken) return false;
    if (n >= STACK_CHECK_MAX) can_pass = true;
    return !can_pass;
  });
  return can_pass;
}

// The .section members in chain order.
struct SectionList {
  std::vector<Statement*> at;
  std::vector<std::string_view> code_name;  // empty view for a non-CODE one
  std::vector<bool> is_code;
  std::vector<std::size_t> next_code;   // first CODE at or after i
  std::vector<std::size_t> prev_code;   // last CODE at or before i
  std::vector<std::size_t> next_other;  // CODE i: first CODE after i of another name

  void add(Statement* s) {
    bool code = is_code_section(s);
    at.push_back(s);
    is_code.push_back(code);
    code_name.push_back(code ? s->directive()->operands[0] : std::string_view());
  }

  void finish() {
    std::size_t n = at.size();
    next_code.assign(n + 1, NONE);
    next_other.assign(n + 1, NONE);
    prev_code.assign(n, NONE);
    for (std::size_t i = n; i-- > 0;) {
      next_code[i] = is_code[i] ? i : next_code[i + 1];
      if (!is_code[i]) continue;
      std::size_t c = next_code[i + 1];
      next_other[i] = c == NONE || code_name[c] != code_name[i] ? c : next_other[c];
    }
    for (std::size_t i = 0; i < n; ++i) prev_code[i] = is_code[i] ? i : i ? prev_code[i - 1] : NONE;
  }

  // First section whose order is at least `order`; NONE when there is none.
  std::size_t first_from(std::uint64_t order) const {
    std::size_t below = count_below(order);
    return below == at.size() ? NONE : below;
  }

  // Last section whose order is below `order`; NONE when there is none.
  std::size_t last_before(std::uint64_t order) const {
    std::size_t below = count_below(order);
    return below == 0 ? NONE : below - 1;
  }

  // How many sections have an order below `order`.
  std::size_t count_below(std::uint64_t order) const {
    auto it = std::partition_point(at.begin(), at.end(),
                                   [&](const Statement* s) { return s->order < order; });
    return static_cast<std::size_t>(it - at.begin());
  }
};

}  // namespace

struct FastIndex {
  int gram = 2;  // window length of the grams
  SectionList sections;
  // A collection visits up to a table's worth of a key's members; the
  // search for a long enough window stops at the first live one.
  SortedIndex keys{true};
  SortedIndex grams{false};
  // Copies the emission linked in since the last search.
  std::vector<Statement*> pending;
  // The match counts made so far, by key.
  std::unordered_map<std::uint64_t, MatchCount> match_counts;
};

namespace {

bool has_nul(std::string_view text) { return text.find('\0') != std::string_view::npos; }

// The shortest group length that commonize shares: a group of length 0 never
// is, and a group that grew has at least 2 instructions.
std::int32_t shortest_shared_length() { return std::max<std::int32_t>(min_common_length, 2); }

std::unique_ptr<FastIndex> build_index(Statement* first_member) {
  auto index = std::make_unique<FastIndex>();
  const int g = static_cast<int>(std::min<std::int32_t>(shortest_shared_length(), GRAM_MAX));
  index->gram = g;
  LargeVector<SortedIndex::Entry> keyed;
  LargeVector<SortedIndex::Entry> windows;
  // Room for one entry per statement record there is: the vectors never
  // move, and the room no entry takes is never touched, so it costs no
  // memory.
  const std::size_t records = statement_bytes() / sizeof(Statement);
  keyed.reserve(records);
  windows.reserve(records);
  // recent[i % GRAM_MAX] is the i-th member seen, for the last few that can
  // match; `streak` counts (up to g) the members up to the current one that
  // all can match, each one allowed to follow the one before it in a run. A
  // window of g such members ends at the current one when streak reaches g.
  SortedIndex::Entry recent[GRAM_MAX];
  int streak = 0;
  std::size_t seen = 0;
  bool nul = false;
  for_each_member(first_member, [&](Statement* s) {
    std::size_t at = seen++;
    if (s->kind == STMT_INSN && has_nul(s->text())) {
      nul = true;
      return false;
    }
    if (is_directive(s, DIR_SECTION)) index->sections.add(s);
    if (!can_match(s)) {
      streak = 0;
      return true;
    }
    std::uint64_t key = key_hash(s);
    keyed.push_back({key, s});
    if (streak > 0) {
      const Statement* before = recent[(at - 1) % GRAM_MAX].member;
      if (is_flow_ending(before) || barrier_between(before, s)) streak = 0;
    }
    recent[at % GRAM_MAX] = {key, s};
    streak = std::min(streak + 1, g);
    if (streak < g) return true;
    std::uint64_t h = 0;
    for (std::size_t j = at + 1 - static_cast<std::size_t>(g); j <= at; ++j) {
      h = gram_step(h, recent[j % GRAM_MAX].hash);
    }
    windows.push_back({h, recent[(at + 1 - static_cast<std::size_t>(g)) % GRAM_MAX].member});
    return true;
  });
  if (nul) return nullptr;
  index->sections.finish();
  index->keys.build(std::move(keyed));
  index->grams.build(std::move(windows));
  return index;
}

bool is_alive(const Statement* m) {
  return m->kind == STMT_INSN && !(m->flags & SF_NO_OPT) && !m->replacement;
}

// Whether a live member of the index matches every reference identical to
// `first`.
bool member_matches(const Statement* first, const Statement* m) {
  return is_alive(m) && instructions_identical(first, m) && fits_where_it_stands(m);
}

// The match count of ref's key group, made on first use; nullptr when ref is
// not identical to the group's first member (a hash collision), for which
// the members have to be visited.
MatchCount* match_count_for(FastIndex& index, std::uint64_t key, Statement* ref) {
  auto found = index.match_counts.find(key);
  if (found == index.match_counts.end()) {
    Statement* first = index.keys.first_of_group(key);
    if (!first) return nullptr;
    MatchCount count(first);
    index.keys.visit_between(key, 0, NO_ORDER, [&](Statement* m, std::uint8_t*) {
      if (!is_alive(m)) return Visit::dead;
      if (member_matches(first, m)) count.add_member(m);
      return Visit::next;
    });
    count.finish();
    found = index.match_counts.emplace(key, std::move(count)).first;
  }
  return instructions_identical(ref, found->second.first()) ? &found->second : nullptr;
}

// Adds the copies the last emission linked in: to their key groups, and the
// windows that now begin at them or at the members just before them.
void add_pending(FastIndex& index) {
  for (Statement* copy : index.pending) {
    if (can_match(copy)) {
      std::uint64_t key = key_hash(copy);
      index.keys.add(key, copy);
      auto count = index.match_counts.find(key);
      if (count != index.match_counts.end() && member_matches(count->second.first(), copy))
        count->second.copied(copy);
    }
    Statement* from = copy;
    for (int j = 0; j < index.gram && from; ++j, from = from->chain_prev) {
      if (std::optional<std::uint64_t> h = window_hash(from, index.gram)) index.grams.add(*h, from);
    }
  }
  index.pending.clear();
}

// Can the search for ref yield a group commonize shares? Only when some
// member after `start` and before `before` begins a window with the keys of
// the reference run's first instructions: returns the first such member, or
// nullptr.
Statement* first_long_match(FastIndex& index, Statement* ref, std::uint64_t ref_key, Statement* start,
                            std::uint64_t before) {
  Statement* run[GRAM_MAX];
  if (reference_run(ref, index.gram, run) < index.gram) return nullptr;
  std::uint64_t h = 0;
  for (int j = 0; j < index.gram; ++j) h = gram_step(h, j == 0 ? ref_key : key_hash(run[j]));
  Statement* found = nullptr;
  index.grams.visit_between(h, start->order, before, [&](Statement* m, std::uint8_t*) {
    if (!window_alive(m, index.gram)) return Visit::dead;
    found = m;
    return Visit::stop;
  });
  return found;
}

enum class Outcome { end, failed, full };

// Fills the table with the matches of ref after start and before `before`,
// in chain order, as find_occurrences appends them. Returns how the plain
// search would have ended; *last is the match that filled the table.
Outcome collect(FastIndex& index, Statement* ref, std::uint64_t key, Statement* start, std::uint64_t before,
                Statement** last) {
  OccurrenceTable& t = commonize_state.table;
  clear_occurrence_table();
  Outcome outcome = Outcome::end;
  // A member of the index can_match'ed when it was indexed, and of what
  // statements_identical tests only its being deleted or switched off, the
  // line after it and a table after a call can have changed since. So a
  // member alike the group's first one, when the reference is alike it too,
  // is identical to the reference exactly when it fits where it stands.
  Statement* first = index.keys.first_of_group(key);
  const bool ref_alike =
      first && ref->kind == STMT_INSN && !(ref->flags & SF_NO_OPT) && instructions_alike(ref, first);
  index.keys.visit_between(key, start->order, before, [&](Statement* m, std::uint8_t* alike) {
    if (m->kind != STMT_INSN || (m->flags & SF_NO_OPT) || m->replacement) return Visit::dead;
    if (ref_alike && alike && *alike == ALIKE_UNKNOWN) {
      *alike = instructions_alike(m, first) ? ALIKE_YES : ALIKE_NO;
    }
    if (ref_alike && alike && *alike == ALIKE_YES) {
      if (!fits_where_it_stands(m)) return Visit::next;
    } else if (insn_id_of(m) != insn_id_of(ref) || !statements_identical(ref, m)) {
      return Visit::next;
    }
    append_occurrence(ref, m);
    if (t.occ_count < OCC_MAX_COUNT) return Visit::next;
    outcome = Outcome::full;
    *last = m;
    return Visit::stop;
  });
  if (outcome == Outcome::full || before == NO_ORDER) return outcome;
  return Outcome::failed;
}

// Whether the plain search for ref (its key `key`), from start, would fill
// the table before the chain member numbered `before`: 1022 matches between
// them.
bool table_fills(FastIndex& index, Statement* ref, std::uint64_t key, Statement* start, std::uint64_t before) {
  constexpr std::size_t FULL = OCC_MAX_COUNT - 1;
  if (!index.keys.has_between(key, start->order, before, FULL)) return false;
  if (const MatchCount* count = match_count_for(index, key, ref)) return count->between(start->order, before) >= FULL;
  Statement* last = nullptr;
  return collect(index, ref, key, start, before, &last) == Outcome::full;
}

// The name scan_section ends with when `passed` is the last .section the
// plain search passed (NONE: none from `first` on): the name of the last
// CODE section it passed, if it passed one, else the one it started with.
std::string_view scan_after(const SectionList& sections, std::size_t first, std::size_t passed,
                            std::string_view start_scan) {
  if (first == NONE || passed == NONE || passed < first) return start_scan;
  std::size_t code = sections.prev_code[passed];
  return code != NONE && code >= first ? sections.code_name[code] : start_scan;
}

void settle_scan_section(std::string_view name, std::string_view start_scan) {
  if (!same_text(name, start_scan)) commonize_state.scan_section = std::string(name);
}

}  // namespace

void note_deleted_instruction(Statement* s) {
  FastIndex* index = commonize_state.index;
  if (!index || index->match_counts.empty() || s->detail_kind != DETAIL_INSN) return;
  auto count = index->match_counts.find(key_hash(s));
  if (count != index->match_counts.end()) count->second.deleted(s);
}

FastSearchScope::FastSearchScope(Statement* first_member) {
  commonize_state.index = first_member ? build_index(first_member).release() : nullptr;
}

FastSearchScope::~FastSearchScope() {
  delete commonize_state.index;
  commonize_state.index = nullptr;
}

bool fast_search_ready() { return commonize_state.index != nullptr; }

void note_copied_instruction(Statement* copy) {
  if (commonize_state.index) commonize_state.index->pending.push_back(copy);
}

bool find_group_fast(Statement* ref) {
  FastIndex& index = *commonize_state.index;
  if (!index.pending.empty()) add_pending(index);
  Statement* start = ref->chain_next;
  if (!start) return false;
  const SectionList& sections = index.sections;
  // start_scan stays valid up to the assignment at the end.
  const std::string_view wanted = *commonize_state.reference_section;
  const std::string_view start_scan = *commonize_state.scan_section;
  bool same = same_text(start_scan, wanted);

  // f: the .section where the plain search fails. With scan_section equal
  // to reference_section, the first CODE section of another name; else the
  // first .section, unless it reopens the reference's section.
  std::size_t first = sections.first_from(start->order);
  std::size_t f = NONE;
  if (first != NONE) {
    if (same) {
      f = sections.next_code[first];
      if (f != NONE && same_text(sections.code_name[f], wanted)) f = sections.next_other[f];
    } else {
      bool reopens = sections.is_code[first] && same_text(sections.code_name[first], wanted);
      f = reopens ? sections.next_other[first] : first;
    }
  }
  std::uint64_t before = f == NONE ? NO_ORDER : sections.at[f]->order;

  const std::uint64_t key = key_hash(ref);
  Statement* long_match = stack_test_can_pass(ref, shortest_shared_length())
                              ? first_long_match(index, ref, key, start, before)
                              : nullptr;
  // Where the plain search would have ended: the last .section it passed.
  std::size_t passed = f != NONE ? f : sections.at.empty() ? NONE : sections.at.size() - 1;
  if (!long_match) {
    // Without a possible group only scan_section is left to settle, and it
    // depends on where the table would fill, if at all: before the first
    // section ahead (scan_section stays), after it but before the search
    // fails (the search passes that section, and no other CODE section than
    // one of the name scan_section has or, when the first section reopens
    // the reference's section, that one), or not at all. Only the answers
    // that make a difference are asked for.
    std::string_view if_none = start_scan;
    std::string_view if_after_first = scan_after(sections, first, first, start_scan);
    std::string_view if_not = scan_after(sections, first, passed, start_scan);
    std::string_view name = if_not;
    if (first != NONE && f != NONE && !same_text(if_not, if_after_first) &&
        table_fills(index, ref, key, start, before)) {
      name = if_after_first;
    }
    if (first != NONE && !same_text(name, if_none) &&
        table_fills(index, ref, key, start, sections.at[first]->order)) {
      name = if_none;
    }
    settle_scan_section(name, start_scan);
    return false;
  }

  Statement* last = nullptr;
  Outcome outcome = collect(index, ref, key, start, before, &last);
  if (outcome == Outcome::full) passed = sections.last_before(last->order);
  settle_scan_section(scan_after(sections, first, passed, start_scan), start_scan);

  if (outcome == Outcome::failed || commonize_state.table.occ_count == 0) return false;
  // The table filled before the first window that could be a long enough
  // occurrence: no occurrence in it grows that far.
  const OccurrenceTable& t = commonize_state.table;
  if (long_match->order > t.occ_start[t.occ_count - 1]->order) return false;
  drop_adjacent();
  extend_occurrences();
  return true;
}
