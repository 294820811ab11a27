// The output writer: writes the first unit's statements in file order to the
// output file, each as its text or its replacement, with the -fcout listing
// of changed lines and the -finfo .stk lines around shared calls.
#pragma once

#include <string>
#include <string_view>

struct SourceUnit;
struct Statement;

void write_output(std::string_view file_name, const SourceUnit* unit);

// The bytes write_output would write for the statements from `first` on.
std::string render_statements(const Statement* first);
