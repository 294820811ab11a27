// Messages of the program: errors, warnings and fatal messages, each looked
// up by number in its table and written on standard error behind a header in
// one of three forms chosen by the options. An error ends the run: it throws
// RunExit, which main (and the tests, and the fuzz harness) catch.
#pragma once

#include <string_view>

// Thrown to end the run with an exit status: 4 after an error, 0 after the
// banner or the version text.
struct RunExit {
  int status;
};

// Error numbers used by the program.
enum ErrorNumber : int {
  ERR_CANT_CHANGE_EXTENSION = 1,
  ERR_USAGE = 2,
  ERR_IGNORE_OPTION = 3,
  ERR_TOO_MANY_INPUTS = 4,
  ERR_NO_MEMORY = 5,
  ERR_INVALID_OPTION = 6,
  ERR_ILLEGAL_EXTENSION = 7,
  ERR_NO_INPUT = 8,
  ERR_NO_OUTPUT_OPTION = 9,
  ERR_CANT_OPEN = 10,
  ERR_NO_C_SOURCE = 11,
  ERR_CANT_WRITE = 12,
};

enum WarningNumber : int { WARN_CANT_ANALYZE = 1 };

// Every message text holds at most one "%s"; `arg` fills it, byte for byte
// (NUL bytes included). Texts without "%s" ignore `arg`.
[[noreturn]] void report_error(int number, std::string_view arg = {});
void report_warning(int number, std::string_view arg = {});
void report_fatal(int number, std::string_view arg = {});
