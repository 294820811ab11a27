// Source units and the pass pipeline: one unit per input file, and the fixed
// per-unit sequence of marking walks, commonization and peephole passes, each
// pass switched off by its number.
#pragma once

#include <cstdint>
#include <string_view>

struct Statement;

struct SourceUnit {
  std::string_view file_name;
  Statement* first_statement;
  SourceUnit* prev;
  SourceUnit* next;
};

void add_source_unit(std::string_view file_name, Statement* first_statement);
SourceUnit* first_source_unit();
void optimize_units(SourceUnit* unit);
void run_pass_pipeline(Statement* first);
bool pass_is_off(std::int32_t pass_number);
// Whether the commonization or some peephole pass runs with the current
// options; with none, optimize_units leaves the statements as read.
bool some_pass_runs();
void reset_units();

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
