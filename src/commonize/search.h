// Inside the commonization: the table of one group of repeated runs and the
// search that fills it. A search takes a reference instruction, collects the
// later chain members that begin like it (find_occurrences), drops
// occurrences that start right after another one (drop_adjacent), then grows
// the reference run and every occurrence one instruction at a time, in
// lockstep (extend_occurrences). commonize (search.cc) then decides, with
// the stack tests below, whether the group is shared; the emission (emit.h)
// reads the table to build the shared subroutine and the calls.
//
// This search is the plain one: every reference looks at every later chain
// member.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "source/statement.h"

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
  // Entry 0: the last reference instruction some occurrence matched.
  Statement* occ_cursor[OCC_CAPACITY];
  // Instructions entry i has matched, its first included; 0 until it first
  // grows. Entry 0: the length of the group.
  std::int32_t occ_length[OCC_CAPACITY];
  std::int32_t occ_count;
};

extern OccurrenceTable occurrence_table;
// The CODE section the walk is in, and the one the search has reached; both
// nullopt until the first CODE .section, and both kept from one unit to the
// next.
extern std::optional<std::string> reference_section;
extern std::optional<std::string> scan_section;

// The empty table (all entries none or 0, count 0).
void clear_occurrence_table();

bool may_be_shared(const Statement* x);
bool operands_identical(const Operand& a, const Operand& b);
bool statements_identical(const Statement* r, const Statement* c);
bool find_occurrences(Statement* ref);
void drop_adjacent();
void extend_occurrences();
// One search for the reference: find_occurrences, then drop_adjacent and
// extend_occurrences. False when no occurrence was found. A faster search
// must leave the table exactly as this one does.
bool find_group(Statement* ref);
bool touches_stack(std::int32_t n);
bool stack_balanced(std::int32_t n);

// jmp, jmpi, jmps, rts, reit: the flow does not go on to the next line.
bool is_flow_ending(const Statement* s);
