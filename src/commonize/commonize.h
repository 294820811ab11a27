// The commonization (pass 1011): runs of instructions that occur more than
// once in a code section become one shared subroutine, and every occurrence
// is replaced by a call of it (or a jump, when the run ends the flow).
#pragma once

struct Statement;

// The whole commonization of one unit, given its first code-chain member.
void commonize(Statement* first_member);

// Restores the program-start state: the occurrence table, the section
// names, the label counter and the labels in use.
void reset_commonize();

// Makes every later commonization search with the plain search (true) or
// with the fast one (false, the default). A whole run resets the program's
// state before it starts, so this choice is not part of that state: it
// holds until it is changed (the differential test runs one file both ways).
void use_plain_search(bool on);
