// The per-unit sequence of a run and the pass pipeline: the marking walks,
// the commonization (pass 1011) and the peephole passes in their fixed
// order, each pass switched off by its number (-off=) or by the option it
// needs. The table of passes is in pipeline.cc.
#pragma once

#include <cstdint>

struct SourceUnit;
struct Statement;

// Pass numbers.
enum PassNumber : std::int32_t {
  PASS_MERGE_LOGIC_IMMEDIATES = 1001,
  PASS_MERGE_MOVES = 1002,
  PASS_MAKE_ADJNZ = 1003,
  PASS_MERGE_RETURN_ONLY = 1004,
  PASS_WIDEN_LOAD_LOGIC = 1005,
  PASS_MAKE_BTST_MODIFY = 1006,
  PASS_WIDEN_BYTE_PAIRS = 1007,
  PASS_DROP_REVERSE_MOVE = 1008,
  PASS_DROP_JUMP_TO_NEXT = 1009,
  PASS_DROP_PUSH_POP = 1010,
  PASS_COMMONIZE = 1011,
  PASS_ATTACH_RETURN_ONLY = 1012,
};

// Marks, commonizes and runs the pipeline over `unit` and every unit after it.
void optimize_units(SourceUnit* unit);
void run_pass_pipeline(Statement* first);
bool pass_is_off(std::int32_t pass_number);
// Whether the commonization or some peephole pass runs with the current
// options; with none, optimize_units leaves the statements as read.
bool some_pass_runs();
