#include "driver/run.h"

#include <cstdio>
#include <new>
#include <string>

#include "commonize/commonize.h"
#include "driver/diagnostics.h"
#include "driver/memory.h"
#include "driver/options.h"
#include "driver/settings.h"
#include "optimizer/marking.h"
#include "optimizer/pipeline.h"
#include "optimizer/units.h"
#include "output/writer.h"
#include "source/reader.h"

namespace {

// The first-line check looks at no more than this many bytes of the line;
// the directive and its field stand at its start.
constexpr std::size_t FIRST_LINE_LIMIT = 1022;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Closes the input however the reading ends.
struct InputCloser {
  std::FILE* file;
  ~InputCloser() { std::fclose(file); }
};

void run_stages(int argc, const char* const* argv) {
  parse_command_line(argc, argv);
  // The command line admits exactly one input file.
  std::string_view input_name = input_files->name;
  std::string first_line;
  {
    InputCloser input{open_c_source(input_name, &first_line)};
    read_source_file(input_name, input.file, first_line);
  }
  optimize_units(first_source_unit());
  write_output(output_name, first_source_unit());
}

}  // namespace

int run_tarvox(int argc, const char* const* argv) {
  reset_run_state();
  int status = 0;
  try {
    try {
      run_stages(argc, argv);
    } catch (const std::bad_alloc&) {
      report_error(ERR_NO_MEMORY);
    }
  } catch (const RunExit& exit) {
    status = exit.status;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  return status;
}

std::FILE* open_c_source(std::string_view file_name, std::string* first_line) {
  std::FILE* file = std::fopen(std::string(file_name).c_str(), "rb");
  if (!file) report_error(ERR_CANT_OPEN, file_name);
  std::string& line = *first_line;
  line.clear();
  for (int c; line.size() < FIRST_LINE_LIMIT && (c = std::getc(file)) != EOF;) {
    line.push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  // A name that opens but cannot be read (a directory) cannot be opened as
  // an input file.
  bool unreadable = std::ferror(file) != 0;
  bool accepted = !unreadable && is_c_language_line(line);
  if (accepted) return file;
  std::fclose(file);
  if (unreadable) report_error(ERR_CANT_OPEN, file_name);
  report_error(ERR_NO_C_SOURCE);
}

// The compiler's language line: "._LANG", blanks or tabs, then the field
// 'C' up to a comma or the end of the line. The line's own end (a line feed,
// and a carriage return before it) is not part of the field, but a blank is.
bool is_c_language_line(std::string_view line) {
  if (!line.empty() && line.back() == '\n') {
    line.remove_suffix(1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  }
  std::size_t i = 0;
  while (i < line.size() && is_blank(line[i])) ++i;
  std::size_t word_start = i;
  while (i < line.size() && !is_blank(line[i])) ++i;
  if (line.substr(word_start, i - word_start) != "._LANG") return false;
  while (i < line.size() && is_blank(line[i])) ++i;
  std::string_view rest = line.substr(i);
  return rest.substr(0, rest.find(',')) == "'C'";
}

void reset_run_state() {
  reset_settings();
  reset_units();
  reset_marking();
  reset_commonize();
  // Last: the resets above drop pointers into the arena before it is freed.
  reset_arena();
}
