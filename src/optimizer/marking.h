// The preparatory walks: before anything is rewritten they mark on the
// statements the structure of the file (inline-assembly blocks, function
// entries, end labels, M and L labels, function bodies, return-only
// functions, regions switched off or assembled conditionally). Each walk
// sets or clears its own flag on every statement it visits, so it can run
// again with the same result.
#pragma once

#include <cstdint>
#include <string_view>

struct Statement;

enum LabelPresence : std::uint32_t {
  LP_END_LABEL_SEEN = 1,       // set by mark_end_labels when it marks an end label
  LP_GENERATED_FORM_SEEN = 2,  // set by mark_m_l_labels at a label of the shared-subroutine form
};
// Never reset within a run (reset_marking restores the program-start
// value): with several units, a bit stays set for the later ones.
extern std::uint32_t label_presence;

// Whether a label has the form of a shared subroutine's labels
// ("_Tarvox_..." or "E_Tarvox_...").
bool has_generated_label_form(std::string_view name);

// Warning 1 for each unanalysed line, in file order (-dparse).
void report_unanalysed(Statement* first);

// The marks of the file's structure, all made in one walk: inline assembly,
// function entries, end labels, M and L labels, bodies, rts-only
// functions, ._tarvox OFF regions, conditional code.
void mark_unit_structure(Statement* first);

// The return-only marks again, for return_insn INSN_RTS or INSN_REIT (pass
// 1010 marks the reit-only functions). True when it marked some function.
bool mark_return_only(Statement* first, std::uint32_t return_insn);

// Whether the unit mark_unit_structure marked last holds a reit
// instruction. No pass makes one (a shared copy only repeats one there is),
// so without one the reit-only marking of pass 1010 has nothing to find.
bool unit_has_reit();

void reset_marking();
