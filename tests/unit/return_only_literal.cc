#include "return_only_literal.h"

#include "optimizer/return_only_parts.h"
#include "source/statement.h"
#include "source/tables.h"

void literal_attach_return_only(Statement* first) {
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
    if (host == Host::pass_ends) return;
    if (host == Host::no) continue;
    // Every hosting rescans the whole unit: the functions of this section
    // may stand before or after the host.
    if (remove_candidates_of_section(first, &sections, &at, INSN_RTS, SF_REWRITTEN) == ScanResult::pass_ends)
      return;
  }
}

void literal_merge_return_only(Statement* first, std::uint32_t return_insn) {
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
    if (remove_candidates_of_section(s->next, &sections, &at, return_insn, 0) == ScanResult::pass_ends) return;
    // Go on after the labels placed behind the keeper.
    s = at.entry;
  }
}
