// The numbered peephole passes, run in order by run_pass_pipeline. Each takes
// the unit's first statement and edits the unit's statements in place.
#pragma once

#include <cstdint>

struct Statement;

// Merging repeated instructions.
void pass_merge_logic_immediates(Statement* first);  // 1001
void pass_merge_moves(Statement* first);             // 1002
// Fusing add or subtract and branch into adjnz.
void pass_make_adjnz(Statement* first);  // 1003
// Return-only functions.
void pass_attach_return_only(Statement* first);                              // 1012
void pass_merge_return_only(Statement* first, std::uint32_t return_insn);  // 1004, 1010
// Widening byte pairs.
void pass_widen_load_logic(Statement* first);  // 1005
void pass_widen_byte_pairs(Statement* first);  // 1007
// The word instruction that does what two byte instructions of one kind on
// the two halves of r0 or r1 do together; not yet linked into the list.
Statement* merge_byte_pair(Statement* first, Statement* second);
// Bit test, branch and set or clear.
void pass_make_btst_modify(Statement* first);  // 1006
// Redundant moves, jumps and push/pop pairs.
void pass_drop_reverse_move(Statement* first);  // 1008
void pass_drop_jump_to_next(Statement* first);  // 1009
void pass_drop_push_pop(Statement* first);      // 1010, first step
