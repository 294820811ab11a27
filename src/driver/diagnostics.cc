#include "driver/diagnostics.h"

#include <cstdio>

#include "driver/settings.h"

namespace {

struct MessageRow {
  int number;
  std::string_view text;
};

// Each table ends with the row numbered -1, whose text a lookup that finds
// no row falls back on.
constexpr MessageRow ERROR_TABLE[] = {
    {ERR_CANT_CHANGE_EXTENSION, "can't change extension's name"},
    {ERR_USAGE, "Usage: %s [option...] filename...<cr>"},
    {ERR_IGNORE_OPTION, "Ignore option '%s'"},
    {ERR_TOO_MANY_INPUTS, "Too many input files"},
    {ERR_NO_MEMORY, "Not enough memory"},
    {ERR_INVALID_OPTION, "Invalid option '%s' is used"},
    {ERR_ILLEGAL_EXTENSION, "Illegal extension's name '%s'"},
    {ERR_NO_INPUT, "No input file specified"},
    {ERR_NO_OUTPUT_OPTION, "No '-o' option specified"},
    {ERR_CANT_OPEN, "can't open %s"},
    {ERR_NO_C_SOURCE, "No C source file specified"},
    {ERR_CANT_WRITE, "can't write %s"},
    {-1, "(null)"},
};

constexpr MessageRow WARNING_TABLE[] = {
    {WARN_CANT_ANALYZE, "can't analyze %s"},
    {-1, "(null)"},
};

enum FatalNumber : int {
  FATAL_NO_ERROR_TEXT = 1,
  FATAL_NO_WARNING_TEXT = 2,
  FATAL_NO_FATAL_TEXT = 3,
};

constexpr MessageRow FATAL_TABLE[] = {
    {FATAL_NO_ERROR_TEXT, "No Match Error Message"},
    {FATAL_NO_WARNING_TEXT, "No Match Warning Message"},
    {FATAL_NO_FATAL_TEXT, "No Match Fatal Message"},
    {-1, "(null)"},
};

// What sets one severity apart: its table, the fatal message that reports
// a number missing from that table, the offset of its header numbers and
// its three header forms.
struct Severity {
  const MessageRow* table;
  int miss_number;
  int header_offset;
  std::string_view tm_header;
  std::string_view old_header;
  std::string_view default_header;
};

constexpr Severity ERROR_SEVERITY = {
    ERROR_TABLE, FATAL_NO_ERROR_TEXT, 2900, "%s : C%d (Error)", "Error (%s):", "%s(0): C%d (E)"};
constexpr Severity WARNING_SEVERITY = {
    WARNING_TABLE, FATAL_NO_WARNING_TEXT, 1900, "%s : C%d (Warning)", "Warning (%s):",
    "%s(0): C%d (W)"};
constexpr Severity FATAL_SEVERITY = {
    FATAL_TABLE, FATAL_NO_FATAL_TEXT, 3900, "%s : C%d (Fatal)", "Fatal (%s):", "%s(0): C%d (F)"};

void put_bytes(std::string_view bytes) {
  if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), stderr);
}

// Writes `format` on standard error with each "%s" replaced by `text`, byte
// for byte, and each "%d" by `number` in decimal. The caller's text is never
// read as a format, so a "%" or a NUL byte in it is written as it stands.
void put_formatted(std::string_view format, std::string_view text, long long number) {
  std::size_t start = 0;
  for (std::size_t i = 0; i + 1 < format.size(); ++i) {
    if (format[i] != '%' || (format[i + 1] != 's' && format[i + 1] != 'd')) continue;
    put_bytes(format.substr(start, i - start));
    if (format[i + 1] == 's') {
      put_bytes(text);
    } else {
      std::fprintf(stderr, "%lld", number);
    }
    start = i + 2;
    ++i;
  }
  put_bytes(format.substr(start));
}

const MessageRow& find_row(const MessageRow* table, int number) {
  const MessageRow* row = table;
  while (row->number != number && row->number != -1) ++row;
  return *row;
}

void report(const Severity& severity, int number, std::string_view arg) {
  const MessageRow& row = find_row(severity.table, number);
  if (row.number == -1) report_fatal(severity.miss_number);
  long long header_number = static_cast<long long>(number) + severity.header_offset;
  if (option_flags & OF_TM_MESSAGES) {
    put_formatted(severity.tm_header, "(null)", header_number);
  } else if (option_flags & OF_OLD_MESSAGE) {
    put_formatted(severity.old_header, "tarvox", header_number);
  } else {
    put_formatted(severity.default_header, "(null)", header_number);
  }
  put_formatted(row.text, arg, 0);
  put_bytes("\n");
  std::fflush(stderr);
}

}  // namespace

void report_error(int number, std::string_view arg) {
  report(ERROR_SEVERITY, number, arg);
  throw RunExit{4};
}

void report_warning(int number, std::string_view arg) { report(WARNING_SEVERITY, number, arg); }

void report_fatal(int number, std::string_view arg) { report(FATAL_SEVERITY, number, arg); }
