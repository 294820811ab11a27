// The lexical scanner: turns the bytes of one source line into tokens, with
// exactly one character of look-ahead. Numbers in four bases, names,
// mnemonics and directives (through the tables), size suffixes, strings,
// comments and the operator characters of assembler expressions.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

enum TokenKind : std::uint32_t {
  TK_SYMBOL = 0,
  TK_MNEMONIC = 1,
  TK_DIRECTIVE = 2,
  TK_SIZE = 3,
  TK_NUMBER = 5,
  TK_NUL = 6,
  TK_EOL = 7,
  TK_LPAREN = 8,
  TK_RPAREN = 9,
  TK_LBRACKET = 10,
  TK_RBRACKET = 11,
  TK_LBRACE = 12,
  TK_RBRACE = 13,
  TK_HASH = 14,
  TK_COLON = 15,
  TK_COMMENT = 16,
  TK_COMMA = 17,
  TK_PLUS = 18,
  TK_MINUS = 19,
  TK_TILDE = 20,
  TK_STAR = 23,
  TK_SLASH = 24,
  TK_PERCENT = 25,
  TK_AMPERSAND = 26,
  TK_BAR = 27,
  TK_CARET = 28,
  TK_SHR = 29,
  TK_SHL = 30,
  TK_GT = 31,
  TK_LT = 32,
  TK_GE = 33,
  TK_LE = 34,
  TK_EQ = 35,
  TK_NE = 36,
  TK_AT = 37,
  TK_QUESTION = 38,
  TK_QPLUS = 39,
  TK_QMINUS = 40,
  TK_STRING = 41,
  TK_EOF = 42,
  TK_OTHER = 43,
};

struct Token {
  std::uint32_t kind = TK_EOF;
  std::string_view text;       // the characters of the token as written
  std::uint32_t value = 0;     // TK_NUMBER
  std::uint32_t code = 0;      // TK_MNEMONIC: instruction id; TK_DIRECTIVE: directive id
  std::uint32_t size = 0;      // TK_SIZE: 1..4
  bool space_before = false;   // blanks or tabs stood directly before it
};

// Scans the line that starts at `pos` in `bytes` (carriage returns before
// line feeds already dropped). Appends its tokens to `tokens`, ending with
// TK_EOL; a last line without a line feed ends with a TK_EOL whose text is
// "\n" as if one stood there. Returns the position after the line (after its
// line feed).
std::size_t scan_line(std::string_view bytes, std::size_t pos, std::vector<Token>& tokens);
