// The commonization (pass 1011): runs of instructions that occur more than
// once in a code section become one shared subroutine, and every occurrence
// is replaced by a call of it (or a jump, when the run ends the flow).
#pragma once

struct Statement;

// The whole commonization of one unit, given its first code-chain member.
void commonize(Statement* first_member);

// Restores the program-start state (section names, occurrence table).
void reset_commonize();
