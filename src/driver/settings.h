// Process-wide settings of a run, filled from the command line and read by
// every later stage. reset_settings restores the start values so that a run
// can be repeated inside one process.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// Bits of option_flags.
enum OptionFlag : std::uint32_t {
  OF_OUTPUT_ARG_OK = 0x001,
  OF_VERSION = 0x002,
  OF_OFF_ARG_OK = 0x004,
  OF_NO_BTSTC = 0x008,
  OF_NO_VOLATILE = 0x010,
  OF_DPARSE = 0x020,
  OF_O5_OFF_ABSMOD = 0x040,
  OF_TM_MESSAGES = 0x080,
  OF_OLD_MESSAGE = 0x100,
  OF_FCOUT = 0x200,
  OF_SP_ADJUST = 0x400,
  OF_FINFO = 0x800,
};

// Bits of cmdline_state: the problems found while reading the arguments.
enum CmdlineState : std::uint32_t {
  CS_EXTRA_INPUT = 0x02,
  CS_INPUT_NOMEM = 0x04,
  CS_BAD_EXTENSION = 0x08,
  CS_BAD_OPTION = 0x10,
  CS_NO_INPUT = 0x20,
  CS_NO_OUTPUT = 0x40,
};

struct InputFile {
  std::string_view name;
  InputFile* next;
};

extern std::uint32_t option_flags;
extern std::uint32_t cmdline_state;
extern std::string_view output_name;
extern InputFile* input_files;
// Pass numbers switched off by -off; every well-formed value is kept.
extern std::vector<std::int32_t> off_list;
extern std::int32_t min_common_length;
extern std::string_view bad_option_arg;
extern std::string_view bad_extension_arg;

// Program-start values of every setting above. option_flags starts as a
// command line without options leaves it: OF_OUTPUT_ARG_OK, OF_OFF_ARG_OK and
// OF_NO_BTSTC set (so pass 1006 is off until a test clears OF_NO_BTSTC).
void reset_settings();
