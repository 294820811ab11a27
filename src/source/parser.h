// The line parser: classifies one line's tokens as an instruction, directive,
// label, blank or unanalysed line, and analyses an instruction's operands
// into addressing modes, values, symbols, offsets and widths. It recognises
// a fixed list of token patterns; anything else makes the line unparsable,
// and it becomes a STMT_OTHER statement that is written back as read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "source/scanner.h"
#include "source/statement.h"

// More operands or directive arguments than this make a line unanalysed.
constexpr std::size_t MAX_OPERANDS = 255;

enum ParseFlag : std::uint32_t { PF_UNPARSABLE = 1 };

// The result of parsing one line; one record is reused for every line.
struct ParsedLine {
  std::string_view source_text;
  std::uint32_t kind = STMT_OTHER;
  bool has_label = false;
  std::string_view label;  // the label, or the symbol before a symbol-defining directive
  std::string_view mnemonic;
  std::uint32_t code = 0;
  std::uint32_t size_code = 0;
  std::uint32_t format_code = 0;
  std::uint32_t operand_count = 0;
  // Instruction operands (texts in arena memory) or directive arguments
  // (only `text` used); the first operand_count entries are this line's.
  std::vector<Operand> operands;
  std::uint32_t parse_flags = 0;
};

// Parses the tokens of one line (ending with TK_EOL) into `line`.
void parse_line(const std::vector<Token>& tokens, ParsedLine& line);
