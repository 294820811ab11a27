// The numbered peephole passes, run in order by run_pass_pipeline
// (pipeline.cc). Each takes the unit's first statement and edits the unit's
// statements in place. The file of each family is named after it.
#pragma once

#include <cstdint>

struct Statement;

// Merging repeated instructions (merge_logic_and_moves.cc).
void pass_merge_logic_immediates(Statement* first);  // 1001
void pass_merge_moves(Statement* first);             // 1002
// Fusing add or subtract and branch into adjnz (adjnz.cc).
void pass_make_adjnz(Statement* first);  // 1003
// Return-only functions (return_only.cc).
void pass_attach_return_only(Statement* first);                              // 1012
// 1004 with rts; with reit, the last step of 1010, after pass_drop_push_pop.
void pass_merge_return_only(Statement* first, std::uint32_t return_insn);
// Widening byte pairs (widen.cc).
void pass_widen_load_logic(Statement* first);  // 1005
void pass_widen_byte_pairs(Statement* first);  // 1007
// The word instruction that does what two byte instructions of one kind on
// the two halves of r0 or r1 do together; not yet linked into the list.
Statement* merge_byte_pair(Statement* first, Statement* second);
// Bit test, branch and set or clear (btst_modify.cc).
void pass_make_btst_modify(Statement* first);  // 1006
// Redundant moves, jumps and push/pop pairs (drop_redundant.cc).
void pass_drop_reverse_move(Statement* first);  // 1008
void pass_drop_jump_to_next(Statement* first);  // 1009
// The first step of 1010; the pass goes on with the reit-only functions
// (pass_merge_return_only with reit).
void pass_drop_push_pop(Statement* first);
