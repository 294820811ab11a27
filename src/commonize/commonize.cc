// The commonization, pass 1011: runs of instructions that occur more than
// once in a code section become one shared subroutine.
//
//   _f:  mov.w r0,r1          _f:  jmp _Tarvox_prog_1
//        add.w #1,r1               ...
//        rts                  _g:  jmp _Tarvox_prog_1
//   _g:  mov.w r0,r1  (same)  and _Tarvox_prog_1: holds mov.w, add.w, rts
//
// The walk (commonize, below) visits the code chain. Each instruction R that may
// start a run becomes a reference: find_occurrences collects every later
// chain member of the same CODE section that begins like R, drop_adjacent
// keeps only the first of starts that follow each other directly, and
// extend_occurrences grows the reference run and all occurrences together,
// one instruction per step, each occurrence compared with the reference
// only. The group is the reference run of length L and the occurrences that
// matched all L instructions; it is shared when L reaches min_common_length
// and the run leaves the stack as it found it (a shared copy runs with its
// return address pushed).
//
// What a run never holds, so that the shared copy does what each
// occurrence did:
//   - an instruction that is never shareable (may_be_shared): stack frame
//     and context instructions, loops, sp-relative operands, setjmp calls,
//     calls that read the table after them;
//   - a conditional jump, a label, an inline-assembly instruction, a
//     statement switched off (SF_NO_OPT);
//   - a flow-ending instruction anywhere but at its end;
//   - between two of its members, a barrier line (is_run_barrier): a line
//     that carries a label, or a directive that decides whether or how often
//     the code around it is assembled.
#include "commonize/commonize.h"

#include <string>
#include <string_view>

#include "commonize/emit.h"
#include "commonize/fast_search.h"
#include "commonize/search.h"
#include "commonize/state.h"
#include "driver/settings.h"
#include "optimizer/marking.h"
#include "optimizer/walk.h"
#include "source/statement.h"
#include "source/tables.h"

CommonizeState commonize_state;

namespace {

// Set by use_plain_search: commonize searches with the plain search.
bool plain_search_forced = false;

// The search for the reference: the fast one while commonize has an index
// of the unit, else the plain one (a unit holding an instruction line with
// a NUL byte, or when the plain search is asked for). When true, the table
// is exactly what find_group_plain leaves; the fast one may be false where
// the plain one is true, but only for a group that commonize would not
// share. scan_section ends the same either way.
bool find_group(Statement* ref) {
  if (fast_search_ready()) return find_group_fast(ref);
  return find_group_plain(ref);
}

// The end label after a reference (find_end_label). The walk goes forward
// and a shared subroutine goes in after the end label of its reference, so
// no end label ever appears between a reference and the end label found for
// it: the one found for an earlier reference holds for every later one
// before it, and each stretch of the file is searched once.
struct EndLabelAhead {
  Statement* found = nullptr;

  Statement* after(Statement* ref) {
    if (!found || ref->order > found->order) found = find_end_label(ref);
    return found;
  }
};

}  // namespace

void commonize(Statement* first_member) {
  if (!(label_presence & LP_END_LABEL_SEEN)) return;
  CommonizeState& state = commonize_state;
  state.label_counter = 1;
  note_labels_in_use(first_member);
  // The index lives for this walk only: the chain it points into belongs to
  // the unit.
  FastSearchScope index(plain_search_forced ? nullptr : first_member);
  EndLabelAhead end_label_ahead;
  const OccurrenceTable& t = state.table;
  for_each_member(first_member, [&](Statement* r) {
    if ((r->flags & SF_INLINE_ASM) || r->kind == STMT_OTHER) return true;
    if (is_directive(r, DIR_SECTION)) {
      if (is_code_section(r)) {
        state.reference_section = std::string(r->directive()->operands[0]);
        state.scan_section = state.reference_section;
      }
      return true;
    }
    // Label lines, labelled instructions and .end never start a run.
    if (r->kind != STMT_INSN || r->replacement || r->label) return true;
    if (r->flags & SF_NO_OPT) return true;
    if (!state.reference_section || !state.scan_section) return true;
    if (!may_be_shared(r)) return true;
    if (!find_group(r)) return true;
    std::int32_t length = t.group_length();
    // A group of length 0 would call an empty subroutine.
    if (length < min_common_length || length == 0) return true;
    bool kept = false;
    for (int i = 1; i < t.occ_count; ++i) kept = kept || t.occ_start[i];
    if (!kept || !t.reference()) return true;
    if (!stack_test_passes(length)) return true;
    Statement* end_label = end_label_ahead.after(t.reference());
    // No end label after the reference: the unit's commonization ends here.
    if (!end_label) return false;
    // The subroutine would be assembled only in some configurations (.if,
    // .else), as often as a .mrepeat says, wherever a macro is used, or in
    // the middle of the user's inline assembly: such a group stays as it is.
    if (end_label->flags & (SF_CONDITIONAL | SF_INLINE_ASM)) return true;
    std::string_view label = make_shared_label(state.label_counter++);
    emit_shared_subroutine(end_label, label, length);
    remove_occurrences(length);
    insert_calls(label, length);
    // R is deleted now: the walk goes on over the run's deleted statements,
    // and reaches the copies after the end label like any other code.
    return true;
  });
}

void reset_commonize() {
  CommonizeState& state = commonize_state;
  state.table = OccurrenceTable{};
  state.reference_section.reset();
  state.scan_section.reset();
  state.label_counter = 1;
  state.labels_in_use.clear();
}

void use_plain_search(bool on) { plain_search_forced = on; }
