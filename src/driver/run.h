// The order of one run: command line, first-line check, read, optimise,
// write. run_tarvox is main without the process around it: it returns the
// exit status and can be called again in the same process.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

int run_tarvox(int argc, const char* const* argv);

// Opens the input and checks its first line, which must be the compiler's
// ._LANG line naming 'C' (error 10 when the file cannot be opened or read,
// error 11 when the line fails). Returns the file, still open, with the
// bytes it has read of it in `first_line`, so the reader goes on from there
// and the input is opened and read only once (a pipe can be read only once).
std::FILE* open_c_source(std::string_view file_name, std::string* first_line);
bool is_c_language_line(std::string_view line);

// Restores every piece of process-wide state to its program-start value.
void reset_run_state();
