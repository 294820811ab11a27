// The order of one run: command line, first-line check, read, optimise,
// write. run_tarvox is main without the process around it: it returns the
// exit status and can be called again in the same process.
#pragma once

#include <string_view>

int run_tarvox(int argc, const char* const* argv);

// The first-line check of the input: its first line must be the compiler's
// ._LANG line naming 'C' (error 10 when the file cannot be opened, error 11
// when the line fails).
void check_c_source(std::string_view file_name);
bool is_c_language_line(std::string_view line);

// Restores every piece of process-wide state to its program-start value.
void reset_run_state();
