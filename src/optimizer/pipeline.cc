#include "optimizer/pipeline.h"

#include <algorithm>
#include <iterator>

#include "commonize/commonize.h"
#include "driver/settings.h"
#include "optimizer/marking.h"
#include "optimizer/passes.h"
#include "optimizer/units.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

// The last step of pass 1010: the push/pop removal, then the return-only
// marking and merging for interrupt handlers that only return.
void drop_push_pop_and_merge_reit(Statement* first) {
  pass_drop_push_pop(first);
  // Only marked functions are merged: without one, there is nothing to do,
  // and without a reit in the unit there is none to mark.
  if (unit_has_reit() && mark_return_only(first, INSN_REIT)) pass_merge_return_only(first, INSN_REIT);
}

void merge_rts_only(Statement* first) { pass_merge_return_only(first, INSN_RTS); }

bool always(std::uint32_t) { return true; }
bool no_volatile(std::uint32_t flags) { return (flags & OF_NO_VOLATILE) != 0; }
bool btstc_requested(std::uint32_t flags) { return (flags & OF_NO_BTSTC) == 0; }

struct PipelineRow {
  std::int32_t number;
  void (*pass)(Statement*);
  bool (*condition)(std::uint32_t option_flags);
};

// The peephole pipeline in its order of execution. 1012 runs before 1004;
// 1011, the commonization, runs before the whole pipeline.
constexpr PipelineRow PIPELINE[] = {
    {PASS_MERGE_LOGIC_IMMEDIATES, pass_merge_logic_immediates, always},
    {PASS_MERGE_MOVES, pass_merge_moves, no_volatile},
    {PASS_MAKE_ADJNZ, pass_make_adjnz, always},
    {PASS_ATTACH_RETURN_ONLY, pass_attach_return_only, always},
    {PASS_MERGE_RETURN_ONLY, merge_rts_only, always},
    {PASS_WIDEN_LOAD_LOGIC, pass_widen_load_logic, always},
    {PASS_MAKE_BTST_MODIFY, pass_make_btst_modify, btstc_requested},
    {PASS_WIDEN_BYTE_PAIRS, pass_widen_byte_pairs, always},
    {PASS_DROP_REVERSE_MOVE, pass_drop_reverse_move, always},
    {PASS_DROP_JUMP_TO_NEXT, pass_drop_jump_to_next, always},
    {PASS_DROP_PUSH_POP, drop_push_pop_and_merge_reit, always},
};

}  // namespace

bool pass_is_off(std::int32_t pass_number) {
  return std::find(off_list.begin(), off_list.end(), pass_number) != off_list.end();
}

namespace {

bool row_runs(const PipelineRow& row) { return !pass_is_off(row.number) && row.condition(option_flags); }

}  // namespace

void run_pass_pipeline(Statement* first) {
  for (const PipelineRow& row : PIPELINE) {
    if (row_runs(row)) row.pass(first);
  }
}

bool some_pass_runs() {
  return !pass_is_off(PASS_COMMONIZE) || std::any_of(std::begin(PIPELINE), std::end(PIPELINE), row_runs);
}

void optimize_units(SourceUnit* unit) {
  for (; unit; unit = unit->next) {
    Statement* s = unit->first_statement;
    if (!s) continue;
    if (option_flags & OF_DPARSE) report_unanalysed(s);
    // The marks serve the passes alone: with none to run, the file is only
    // written back.
    if (!some_pass_runs()) continue;
    mark_unit_structure(s);
    if (!pass_is_off(PASS_COMMONIZE)) commonize(s->chain_next);
    run_pass_pipeline(s);
  }
}
