#include "driver/settings.h"

namespace {

// The flags a command line without options leaves: the run may go on, and
// the bit-test fusion (pass 1006) stays off until -O5 or -Obtstc asks for it.
constexpr std::uint32_t START_OPTION_FLAGS = OF_OUTPUT_ARG_OK | OF_OFF_ARG_OK | OF_NO_BTSTC;
constexpr std::uint32_t START_CMDLINE_STATE = CS_NO_INPUT | CS_NO_OUTPUT;
constexpr std::int32_t START_MIN_COMMON_LENGTH = 4;

}  // namespace

std::uint32_t option_flags = START_OPTION_FLAGS;
std::uint32_t cmdline_state = START_CMDLINE_STATE;
std::string_view output_name;
InputFile* input_files = nullptr;
std::vector<std::int32_t> off_list;
std::int32_t min_common_length = START_MIN_COMMON_LENGTH;
std::string_view bad_option_arg;
std::string_view bad_extension_arg;

void reset_settings() {
  option_flags = START_OPTION_FLAGS;
  cmdline_state = START_CMDLINE_STATE;
  output_name = {};
  input_files = nullptr;
  off_list.clear();
  min_common_length = START_MIN_COMMON_LENGTH;
  bad_option_arg = {};
  bad_extension_arg = {};
}
