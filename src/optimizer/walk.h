// The walk and the small searches and tests that the peephole passes share
// (and some of which the commonization uses): find the next instruction of a
// pattern, decide whether two operands name the same place, whether two byte
// operands address consecutive bytes, whether the flags are dead after a
// pattern. None of them changes a statement.
#pragma once

#include <cstdint>

#include "source/statement.h"

// The statement walk of the peephole passes: calls examine(s) on every
// statement the walk reaches, skipping inline-assembly blocks and the
// instruction right after an unanalysed line. The second form also calls
// every(s) once on each statement of the list, in file order, whether the
// walk examines it or passes it over (before examine when it examines it).
template <typename Examine>
void walk_statements(Statement* first, Examine examine);
template <typename Examine, typename Every>
void walk_statements(Statement* first, Examine examine, Every every);

Statement* skip_after_unparsed(Statement* s);
bool next_is_understood(const Statement* s);
Statement* find_next_insn(Statement* s, std::uint32_t insn_id);
Statement* find_chain_next_insn(Statement* s, std::uint32_t insn_id);
Statement* find_end_label(Statement* s);
bool same_operand(std::uint32_t insn_id, const Operand& a, const Operand& b);
bool same_symbol_and_width(const InsnDetail* d1, const InsnDetail* d2);
bool adjacent_bytes(const InsnDetail* d1, const InsnDetail* d2);
bool flags_dead_after(const Statement* s);
// True when the instruction id is one of FLAG_KILLERS.
bool is_flag_killer(std::uint32_t insn_id);

// ---- implementation of the walk template ----
template <typename Examine, typename Every>
void walk_statements(Statement* first, Examine examine, Every every) {
  Statement* s = first;
  while (s) {
    if (s->flags & SF_INLINE_ASM) {
      for (; s && (s->flags & SF_INLINE_ASM); s = s->next) every(s);
      if (!s) return;
    }
    if (s->kind == STMT_OTHER) {
      // The instruction that first follows an unanalysed line is passed
      // over too.
      Statement* resume = skip_after_unparsed(s);
      for (; s != resume; s = s->next) every(s);
      if (!s) return;
      // A resumed walk that lands in an inline-assembly block skips it again.
      if (s->flags & SF_INLINE_ASM) continue;
    }
    prefetch_ahead(s);
    every(s);
    examine(s);
    s = s->next;
  }
}

template <typename Examine>
void walk_statements(Statement* first, Examine examine) {
  walk_statements(first, examine, [](Statement*) {});
}
