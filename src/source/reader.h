// The source reader: turns one input file into statements in file order and
// into the code chain, and records the file as a source unit.
#pragma once

#include <cstdio>
#include <string_view>

#include "source/statement.h"

// Reads the input named `file_name` from `file`, open and positioned after
// the bytes `head` that were already read from it (the first line, which
// the driver checked), to its end (error 10 when it cannot be read). The
// caller closes the file.
void read_source_file(std::string_view file_name, std::FILE* file, std::string_view head);

// Reads statements from bytes already in memory, as read_source_file does
// from a file, and returns the first statement (nullptr for no bytes). Does
// not record a source unit. The tests use it.
Statement* read_source_text(std::string_view bytes);
