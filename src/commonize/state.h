// Inside the commonization: its process-wide state, in one record with one
// reset (reset_commonize, commonize.h). The walk (commonize.cc), the search
// (search.cc, fast_search.cc) and the emission (emit.cc) share it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_set>

struct Statement;
struct FastIndex;

// Entries of the table; one is kept empty, so a group holds the reference
// and at most 1022 occurrences.
constexpr int OCC_CAPACITY = 1024;
constexpr int OCC_MAX_COUNT = 1023;

// One group at a time. Entry 0 is the reference run, entries 1 .. count-1
// its occurrences, in chain order.
struct OccurrenceTable {
  // First instruction of entry i; nullptr = dropped.
  Statement* occ_start[OCC_CAPACITY];
  // Last instruction of entry i matched so far; nullptr = stopped growing.
  Statement* occ_cursor[OCC_CAPACITY];
  // Instructions entry i has matched, its first included; 0 until it first
  // grows.
  std::int32_t occ_length[OCC_CAPACITY];
  std::int32_t occ_count;

  // Entry 0 is the reference run: its start is the reference, its cursor
  // the last reference instruction some occurrence matched, its length the
  // length of the group.
  Statement* reference() const { return occ_start[0]; }
  Statement* reference_last() const { return occ_cursor[0]; }
  std::int32_t group_length() const { return occ_length[0]; }
};

struct CommonizeState {
  OccurrenceTable table;
  // The CODE section the walk is in, and the one the search has reached;
  // both none until the first CODE .section, and both kept from one unit to
  // the next.
  std::optional<std::string> reference_section;
  std::optional<std::string> scan_section;
  // The number the next shared subroutine of the unit gets.
  std::int32_t label_counter = 1;
  // Labels of the shared-subroutine form defined in the unit being
  // commonized, the shared subroutines' own included.
  std::unordered_set<std::string> labels_in_use;
  // The fast search's index of the unit, while commonize walks it
  // (FastSearchScope, fast_search.h); nullptr otherwise.
  FastIndex* index = nullptr;
};

extern CommonizeState commonize_state;
