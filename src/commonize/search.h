// Inside the commonization: the search for a group of repeated runs, which
// fills the occurrence table (state.h). A search takes a reference
// instruction, collects the later chain members that begin like it
// (find_occurrences), drops occurrences that start right after another one
// (drop_adjacent), then grows the reference run and every occurrence one
// instruction at a time, in lockstep (extend_occurrences). The walk
// (commonize.cc) then decides, with the stack test below, whether the group
// is shared; the emission (emit.h) reads the table to build the shared
// subroutine and the calls.
//
// Two searches find the same groups. The plain one (find_group_plain) looks
// at every later chain member for every reference; the fast one
// (fast_search.h) looks only at the instructions that can match, through an
// index of the unit, and leaves the table and the section names exactly as
// the plain one would. The plain one is the definition, which a
// differential test holds the fast one to; the walk uses it for a unit the
// fast one cannot index.
#pragma once

#include <cstdint>

#include "source/statement.h"
#include "source/tables.h"

// The empty table (all entries none or 0, count 0), from a table whose
// entries from its count on are empty, as every search leaves it.
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
// What two operands of the same mode must further share to be identical in
// a shared run (operands_identical) and to give the same key in the fast
// search's index: nothing, the mode naming the place (a register, a
// control register, [a0], [a1], [a1a0], a flag name); their text (a symbol,
// an immediate); or, for an address or a displacement, their value when
// neither is symbolic and else their symbol, offset and text.
enum OperandMatch : std::uint8_t { MATCH_BY_MODE, MATCH_BY_TEXT, MATCH_BY_ADDRESS };
// In line: the fast index asks this for every operand it hashes.
inline OperandMatch operand_match(std::uint32_t mode) {
  switch (mode) {
    case MODE_ABS:
    case MODE_INDA0:
    case MODE_INDA1:
    case MODE_INDSB:
    case MODE_INDFB:
    case MODE_IN8DSP:
      return MATCH_BY_ADDRESS;
    case MODE_SYMBOL:
    case MODE_IMM:
      return MATCH_BY_TEXT;
    default:
      return MATCH_BY_MODE;
  }
}
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
// The plain search for the reference: find_occurrences, then drop_adjacent
// and extend_occurrences. False when no occurrence was found.
bool find_group_plain(Statement* ref);
// The stack test of the reference's first n instructions (StackSum, below):
// whether a group of that length may be shared.
bool stack_test_passes(std::int32_t n);

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
