// The formatter: turns a changed or generated instruction back into a line of
// text in the standard layout (a tab, the mnemonic with its size suffix and
// format specifier, a tab, the operands joined by commas, a newline).
#pragma once

#include <cstdint>

#include "source/statement.h"

// Sets operand i's value and gives it the text "#" and the value in the
// operand's old notation: hexadecimal (width by size, a leading "0" before a
// letter digit, the old "h"/"H" suffix) when its text ended in h or H,
// decimal otherwise; adjnz steps are always decimal. Returns d.
InsnDetail* set_immediate_value(std::int32_t value, InsnDetail* d, std::uint32_t i);
// The instruction line of s's detail without label becomes s's replacement;
// sets SF_REWRITTEN.
void rebuild_edited_text(Statement* s);
// The instruction line of s's detail, behind "label:" when s has a label,
// becomes s's text; the replacement becomes null. Returns s.
Statement* rebuild_source_text(Statement* s);
