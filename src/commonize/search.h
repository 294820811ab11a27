// Inside the commonization: the table of one group of repeated runs and the
// search that fills it. A search takes a reference instruction, collects the
// later chain members that begin like it (find_occurrences), drops
// occurrences that start right after another one (drop_adjacent), then grows
// the reference run and every occurrence one instruction at a time, in
// lockstep (extend_occurrences). commonize (search.cc) then decides, with
// the stack tests below, whether the group is shared; the emission (emit.h)
// reads the table to build the shared subroutine and the calls.
//
// Two searches find the same groups. The plain one (find_group_reference)
// looks at every later chain member for every reference; the fast one
// (fast_search.cc) looks only at the instructions that can match, through an
// index commonize builds for the unit, and leaves the table and the section
// names exactly as the plain one would. The plain one stays the definition:
// a differential test runs both.
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
// Appends occurrence m of the reference ref (entry 0 made first when the
// table is empty), its length 0.
void append_occurrence(Statement* ref, Statement* m);

bool may_be_shared(const Statement* x);
// What may_be_shared asks of the instruction alone: everything but the
// table that may follow a call (which depends on the lines after it).
bool shareable_instruction(const Statement* x);
// True when a line a run must not span (a label, or a directive that decides
// whether or how often the code around it is assembled) lies strictly
// between `from` and `to` in file order.
bool barrier_between(const Statement* from, const Statement* to);
bool is_code_section(const Statement* s);
bool operands_identical(const Operand& a, const Operand& b);
bool statements_identical(const Statement* r, const Statement* c);
// What statements_identical compares of the two instructions themselves:
// id, size, format, operands (operands_identical) and, for a jsr or jmp, the
// whole text. An equivalence: each comparison it makes is one of equal
// values, equal texts or equal modes.
bool instructions_identical(const Statement* a, const Statement* b);
// Whether a and b hold the same instruction written alike: id, size, format
// and every field of every operand equal, and for a jsr or jmp the whole
// text. Being alike is an equivalence, and alike instructions pass every
// comparison statements_identical makes of the two details and texts.
bool instructions_alike(const Statement* a, const Statement* b);
// What statements_identical asks of c beyond its own instruction and flags:
// that the line after it is understood and that, as a call, it reads no
// table (the two tests that depend on the lines around c).
bool fits_where_it_stands(const Statement* c);
bool find_occurrences(Statement* ref);
void drop_adjacent();
void extend_occurrences();
// One search for the reference: find_occurrences, then drop_adjacent and
// extend_occurrences. False when no occurrence was found.
bool find_group_reference(Statement* ref);
// The search commonize uses: the fast one while commonize has an index of
// the unit (and the plain one has not been asked for), else the plain one.
// When true, the table is exactly what find_group_reference leaves; the fast
// one may be false where the plain one is true, but only for a group that
// commonize would not share. scan_section ends the same either way.
bool find_group(Statement* ref);
// Makes every later commonization use the plain search (true) or the fast
// one (false, the default). A whole run resets the program's state before
// it starts, so this choice is not part of that state: it holds until it is
// changed (the differential test runs one file both ways).
void use_reference_search(bool on);
// Called by the emission for each copy it links into the chain, so that the
// fast search's index knows the new instruction.
void note_copied_instruction(Statement* copy);
// Called by the emission for each instruction it deletes, so that the fast
// search's counts of matches know it is gone.
void note_deleted_instruction(Statement* s);
bool touches_stack(std::int32_t n);
bool stack_balanced(std::int32_t n);

// The stack test of a run, one instruction at a time: whether the run
// touches the stack (push, pop, add of an immediate to sp, any other use of
// sp), and the bytes it has put on the stack so far. A run may be shared
// when it does not touch the stack, or when its sum never went below zero,
// no use of sp escaped the sum, and it ends at zero.
struct StackSum {
  bool touches = false;
  bool broken = false;     // went below zero, or used sp another way: for good
  std::int64_t depth = 0;  // wide enough for any immediate

  void add(const InsnDetail* d);
  bool passes() const { return !touches || (!broken && depth == 0); }
};

// jmp, jmpi, jmps, rts, reit: the flow does not go on to the next line.
bool is_flow_ending(const Statement* s);
