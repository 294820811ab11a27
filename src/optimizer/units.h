// Source units: one per input file read, in the order read. A unit is the
// file's name, as written on the command line, and its first statement; the
// reader adds it, the pipeline optimises it and the writer writes the first.
#pragma once

#include <string_view>

struct Statement;

struct SourceUnit {
  std::string_view file_name;
  Statement* first_statement;
  SourceUnit* prev;
  SourceUnit* next;
};

void add_source_unit(std::string_view file_name, Statement* first_statement);
SourceUnit* first_source_unit();
void reset_units();
