// Inside the commonization: the fast search. It finds the same groups as the
// plain search of search.cc (find_group_plain) and leaves the
// occurrence table and scan_section as that one does, but looks only at the
// instructions that can match, through an index of the unit's code chain
// that commonize builds once before its walk (FastSearchScope) and keeps up
// to date as the emission adds copies (note_copied_instruction).
#pragma once

#include <cstdint>

struct Statement;

// Builds the index of the chain from first_member for as long as it lives
// (nothing with first_member nullptr, or when the unit holds an instruction
// line with a NUL byte: such a unit is searched the plain way).
class FastSearchScope {
 public:
  explicit FastSearchScope(Statement* first_member);
  ~FastSearchScope();
  FastSearchScope(const FastSearchScope&) = delete;
  FastSearchScope& operator=(const FastSearchScope&) = delete;
};

// True while an index exists.
bool fast_search_ready();

// The search for the reference through the index; the same result, table
// and scan_section as find_group_plain wherever commonize reads them (a
// false result leaves the table unspecified).
bool find_group_fast(Statement* ref);

// Called by the emission for each copy it links into the chain, so that the
// index knows the new instruction.
void note_copied_instruction(Statement* copy);
// Called by the emission for each instruction it deletes, so that the
// index's counts of matches know it is gone.
void note_deleted_instruction(Statement* s);
