#include "driver/options.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "driver/diagnostics.h"
#include "driver/memory.h"
#include "driver/settings.h"
#include "source/text.h"

namespace {

// The banner, printed when the program is run without arguments; its first
// line is the first four pieces run together.
constexpr std::string_view BANNER_PIECES[] = {
    "Corvan Series Assembler Optimizer ",
    "V.",
    "1.03.03.000",
    " ",
    "\n",
    "Copyright (C) The tarvox developers.\n",
    "Made for the tool chain of the Corvan C compiler.\n",
    "This program is distributed without any warranty.\n\n",
};

// The version text printed for -V.
constexpr std::string_view VERSION_PIECES[] = {
    "   Assembler Optimizer\t\tVersion ",
    "1.03.03.000",
    " ",
    "\n",
};

// Writes the banner or the version text; a standard output that takes
// less than all of it (a full disk, a closed file) is error 12.
void put_pieces(const std::string_view* first, const std::string_view* last) {
  std::clearerr(stdout);
  bool ok = true;
  for (; first != last; ++first)
    ok = std::fwrite(first->data(), 1, first->size(), stdout) == first->size() && ok;
  ok = std::fflush(stdout) == 0 && ok;
  if (!ok) report_error(ERR_CANT_WRITE, "stdout");
}

// The digit test of -off and -fl=: true when every byte is a decimal digit
// (an empty text passes with the value 0). A value beyond the range of a
// signed 32-bit number is held at 2147483647.
bool digits_value(std::string_view text, std::int32_t* value) {
  constexpr std::int64_t LIMIT = INT32_MAX;
  std::int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
    if (v > LIMIT) v = LIMIT;
  }
  *value = static_cast<std::int32_t>(v);
  return true;
}

struct Arguments {
  int count;
  const char* const* values;
  bool has(int i) const { return i < count; }
  std::string_view at(int i) const { return std::string_view(values[i], std::strlen(values[i])); }
};

// An option's own work beyond setting and clearing flags: `i` is the
// argument's index, `rest` what follows a matched prefix. Returns the number
// of following arguments the option takes, which no rule then examines.
using OptionAction = int (*)(const Arguments& args, int i, std::string_view rest);

// An input file name. A name that cannot be recorded for want of memory is
// not an error yet: check_command_line reports it in its turn.
int take_input_file(const Arguments& args, int i, std::string_view) {
  std::string_view name = args.at(i);
  cmdline_state &= ~CS_NO_INPUT;
  if (input_files)
    cmdline_state |= CS_EXTRA_INPUT;
  else
    cmdline_state &= ~CS_EXTRA_INPUT;
  auto* record = static_cast<InputFile*>(try_alloc(sizeof(InputFile)));
  auto* bytes = static_cast<char*>(record ? try_alloc(name.size() + 1) : nullptr);
  if (!bytes) {
    cmdline_state |= CS_INPUT_NOMEM;
    return 0;
  }
  std::memcpy(bytes, name.data(), name.size());
  record->name = std::string_view(bytes, name.size());
  record->next = input_files;
  input_files = record;
  cmdline_state &= ~CS_INPUT_NOMEM;
  return 0;
}

int take_output_name(const Arguments& args, int i, std::string_view) {
  cmdline_state &= ~CS_NO_OUTPUT;
  if (!args.has(i + 1)) {
    option_flags &= ~OF_OUTPUT_ARG_OK;
    return 0;
  }
  output_name = copy_string(args.at(i + 1));
  option_flags |= OF_OUTPUT_ARG_OK;
  return 1;
}

void switch_off(std::int32_t pass_number) {
  off_list.push_back(pass_number);
  option_flags |= OF_OFF_ARG_OK;
}

// "-off" "=" "1005": the number comes as two further arguments. A missing
// or faulty number still takes the "=".
int take_spaced_off(const Arguments& args, int i, std::string_view) {
  if (!args.has(i + 1) || args.at(i + 1) != "=") {
    option_flags &= ~OF_OFF_ARG_OK;
    return 0;
  }
  std::int32_t value = 0;
  if (args.has(i + 2) && digits_value(args.at(i + 2), &value)) {
    switch_off(value);
    return 2;
  }
  option_flags &= ~OF_OFF_ARG_OK;
  return 1;
}

// "-off=1005" in one argument; the number must not be empty.
int take_joined_off(const Arguments&, int, std::string_view rest) {
  std::int32_t value = 0;
  if (!rest.empty() && digits_value(rest, &value))
    switch_off(value);
  else
    option_flags &= ~OF_OFF_ARG_OK;
  return 0;
}

int take_min_common_length(const Arguments&, int, std::string_view rest) {
  std::int32_t value = 0;
  min_common_length = digits_value(rest, &value) ? value : 4;
  return 0;
}

enum Match {
  CONTAINS,           // the spelling stands anywhere in the argument, exactly
  WHOLE_IGNORE_CASE,  // the whole argument, letter case aside
  WHOLE_EXACT,        // the whole argument, exactly
  PREFIX_EXACT,       // the argument begins with the spelling, exactly
};

struct OptionRule {
  Match match;
  std::string_view spellings[2];  // an empty spelling is unused
  std::uint32_t set_flags;
  std::uint32_t clear_flags;
  OptionAction action;
};

// The rules in the order they are tried; the first that matches decides.
// An argument that matches none is a faulty option (see read_argument).
constexpr OptionRule OPTION_RULES[] = {
    {CONTAINS, {".qsm", {}}, 0, 0, take_input_file},
    {WHOLE_IGNORE_CASE, {"-o", {}}, 0, 0, take_output_name},
    {WHOLE_IGNORE_CASE, {"-ALL", "-all"}, 0, 0, nullptr},
    {WHOLE_EXACT, {"-V", {}}, OF_VERSION, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-Nvolatile", "-Nv"}, OF_NO_VOLATILE, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-dparse", {}}, OF_DPARSE, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-off", {}}, 0, 0, take_spaced_off},
    {PREFIX_EXACT, {"-off=", {}}, 0, 0, take_joined_off},
    {PREFIX_EXACT, {"-OFF=", {}}, 0, 0, take_joined_off},
    {WHOLE_IGNORE_CASE, {"-off_btst", "-off_btstc"}, OF_NO_BTSTC, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-Obtstc", {}}, 0, OF_NO_BTSTC, nullptr},
    {WHOLE_IGNORE_CASE, {"-O5", {}}, 0, OF_NO_BTSTC, nullptr},
    {WHOLE_IGNORE_CASE, {"-tm", "-TM"}, OF_TM_MESSAGES, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-OM", "-OLD_MESSAGE"}, OF_OLD_MESSAGE, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-O5_off_absmod", "-O5OA"}, OF_O5_OFF_ABSMOD, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-fcout", {}}, OF_FCOUT, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-OSA", "-Osp_adjust"}, OF_SP_ADJUST, 0, nullptr},
    {WHOLE_IGNORE_CASE, {"-finfo", {}}, OF_FINFO, 0, nullptr},
    {PREFIX_EXACT, {"-fl=", {}}, 0, 0, take_min_common_length},
};

bool matches(Match match, std::string_view spelling, std::string_view arg) {
  if (spelling.empty()) return false;
  switch (match) {
    case CONTAINS:
      return arg.find(spelling) != std::string_view::npos;
    case WHOLE_IGNORE_CASE:
      return equal_ignoring_case(arg, spelling);
    case WHOLE_EXACT:
      return arg == spelling;
    case PREFIX_EXACT:
      return arg.substr(0, spelling.size()) == spelling;
  }
  return false;
}

// Reads the argument at index i; returns the number of following arguments
// it took.
int read_argument(const Arguments& args, int i) {
  std::string_view arg = args.at(i);
  for (const OptionRule& rule : OPTION_RULES) {
    for (std::string_view spelling : rule.spellings) {
      if (!matches(rule.match, spelling, arg)) continue;
      option_flags = (option_flags | rule.set_flags) & ~rule.clear_flags;
      return rule.action ? rule.action(args, i, arg.substr(spelling.size())) : 0;
    }
  }
  // Neither an option nor an input file: with a "." it reads as a file name
  // of the wrong kind (the last one is reported), otherwise as an unknown
  // option (the first one is reported).
  if (arg.find('.') != std::string_view::npos) {
    cmdline_state |= CS_BAD_EXTENSION;
    bad_extension_arg = copy_string(arg);
  } else {
    if (!(cmdline_state & CS_BAD_OPTION)) bad_option_arg = copy_string(arg);
    cmdline_state |= CS_BAD_OPTION;
  }
  return 0;
}

}  // namespace

void print_banner() { put_pieces(std::begin(BANNER_PIECES), std::end(BANNER_PIECES)); }

void print_version() { put_pieces(std::begin(VERSION_PIECES), std::end(VERSION_PIECES)); }

void parse_command_line(int argc, const char* const* argv) {
  option_flags = OF_OUTPUT_ARG_OK | OF_OFF_ARG_OK | OF_NO_BTSTC;
  cmdline_state = (cmdline_state | CS_NO_INPUT | CS_NO_OUTPUT) & ~(CS_BAD_EXTENSION | CS_BAD_OPTION);
  off_list.clear();
  if (argc <= 1) {
    print_banner();
    throw RunExit{0};
  }
  Arguments args{argc, argv};
  for (int i = 1; i < argc; ++i) i += read_argument(args, i);
  if (option_flags & OF_VERSION) {
    print_version();
    throw RunExit{0};
  }
  check_command_line();
}

void check_command_line() {
  if (cmdline_state & CS_BAD_OPTION) report_error(ERR_IGNORE_OPTION, bad_option_arg);
  // A second input file ends the run without a message.
  if (cmdline_state & CS_EXTRA_INPUT) throw RunExit{4};
  if (cmdline_state & CS_INPUT_NOMEM) report_error(ERR_NO_MEMORY);
  if (!(option_flags & OF_OUTPUT_ARG_OK)) report_error(ERR_INVALID_OPTION, "-o");
  if (!(option_flags & OF_OFF_ARG_OK)) report_error(ERR_INVALID_OPTION, "-off");
  if (cmdline_state & CS_BAD_EXTENSION) {
    std::size_t dot = bad_extension_arg.find('.');
    report_error(ERR_ILLEGAL_EXTENSION,
                 dot == std::string_view::npos ? bad_extension_arg : bad_extension_arg.substr(dot));
  }
  if (cmdline_state & CS_NO_INPUT) report_error(ERR_NO_INPUT);
  if (cmdline_state & CS_NO_OUTPUT) report_error(ERR_NO_OUTPUT_OPTION);
}
