// Inside the commonization: turning a group that the search found (search.h)
// into code. The shared subroutine is built from copies of the reference
// run right after the end label of the function that holds the reference;
// every occurrence, the reference included, is deleted and a call of the
// subroutine (or a jump to it, when the run ends the flow) takes its place.
// commonize calls them in this order: make_shared_label,
// emit_shared_subroutine, remove_occurrences, insert_calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "source/statement.h"

// "_Tarvox_<name>_<n>": <name> is file_name cut at its first ".qsm" with
// everything but ASCII letters and digits dropped.
std::string shared_label_name(std::string_view file_name, std::int32_t n);
// Records the labels of the generated form that the unit already defines
// (a file optimised before, or the user's own), so that no shared label
// defines one of them a second time. Reads the marking's label_presence:
// without a label of that form it has nothing to record.
void note_labels_in_use(Statement* first_member);
// The shared label for number n from the first unit's file name, as an own
// copy; when it (or its end label) is already defined in the unit, the next
// number that is free.
std::string_view make_shared_label(std::int32_t n);

// Inserts the shared subroutine of the group's first `length` reference
// instructions after end_label, the end label that follows the reference
// (find_end_label).
void emit_shared_subroutine(Statement* end_label, std::string_view label, std::int32_t length);
// A copy of the instruction t in the formatter's form, linked after anchor
// in file order and in the code chain.
Statement* copy_instruction(const Statement* t, Statement* anchor);
// Deletes the instructions of every entry that matched all `length` of them
// and forgets the other entries.
void remove_occurrences(std::int32_t length);
// Puts a call of (or a jump to) the shared label before each shared entry.
void insert_calls(std::string_view label, std::int32_t length);
