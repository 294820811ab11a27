// The literal scans of the return-only passes (1012, 1004 and the last step
// of 1010): every host rts and every keeper rescans the unit statement by
// statement. The pipeline runs pass_attach_return_only and
// pass_merge_return_only (passes.h), which find the same candidates through
// an index; these are the definition the differential test holds the
// indexed scans to. They take and leave the statements exactly as the
// pipeline passes do.
#pragma once

#include <cstdint>

struct Statement;

void literal_attach_return_only(Statement* first);
void literal_merge_return_only(Statement* first, std::uint32_t return_insn);
