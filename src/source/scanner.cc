#include "source/scanner.h"

#include "source/tables.h"

namespace {

// Character classes of the "C" locale; bytes 128..255 belong to none.
bool is_digit(int c) { return c >= '0' && c <= '9'; }
bool is_letter(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool is_alnum(int c) { return is_digit(c) || is_letter(c); }
bool is_xdigit(int c) { return is_digit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'); }
bool is_h(int c) { return c == 'H' || c == 'h'; }

// Value of the characters in base `base`, from the last digit backwards; a
// character counts its code minus "0", except that base 16 counts the
// letters A-F as 10 to 15. Unsigned 32-bit arithmetic that wraps.
std::uint32_t number_value(std::string_view digits, std::uint32_t base) {
  std::uint32_t value = 0;
  std::uint32_t power = 1;
  for (std::size_t i = digits.size(); i-- > 0;) {
    unsigned char c = static_cast<unsigned char>(digits[i]);
    std::uint32_t d = static_cast<std::uint32_t>(c) - '0';
    if (base == 16) {
      if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
    }
    value += d * power;
    power *= base;
  }
  return value;
}

// One line's scanning state: the bytes, the position of the look-ahead
// character, and the end of the line (the line feed, or the end of bytes).
struct Cursor {
  std::string_view bytes;
  std::size_t pos;
  int cur() const { return pos < bytes.size() ? static_cast<unsigned char>(bytes[pos]) : -1; }
  void advance() { ++pos; }
};

std::uint32_t scan_number(Cursor& c, std::size_t start, Token& t) {
  // Step 1: the characters 0 and 1.
  bool binary_digits = false;
  while (c.cur() == '0' || c.cur() == '1') {
    c.advance();
    binary_digits = true;
  }
  // Step 2: a B after binary digits ends a base-2 number unless a hex digit
  // or H follows, in which case the B is a hex digit.
  if ((c.cur() == 'B' || c.cur() == 'b') && binary_digits) {
    c.advance();
    if (!(is_xdigit(c.cur()) || is_h(c.cur()))) {
      t.value = number_value(c.bytes.substr(start, c.pos - 1 - start), 2);
      return TK_NUMBER;
    }
  }
  // Steps 3 and 4: octal digits and the O suffix.
  while (c.cur() >= '0' && c.cur() <= '7') c.advance();
  if (c.cur() == 'O' || c.cur() == 'o') {
    c.advance();
    t.value = number_value(c.bytes.substr(start, c.pos - 1 - start), 8);
    return TK_NUMBER;
  }
  // Steps 5 and 6: decimal digits.
  while (is_digit(c.cur())) c.advance();
  if (!(is_xdigit(c.cur()) || is_h(c.cur()))) {
    t.value = number_value(c.bytes.substr(start, c.pos - start), 10);
    return TK_NUMBER;
  }
  // Steps 7 and 8: hexadecimal digits and the H suffix.
  while (is_xdigit(c.cur())) c.advance();
  if (is_h(c.cur())) {
    c.advance();
    t.value = number_value(c.bytes.substr(start, c.pos - 1 - start), 16);
    return TK_NUMBER;
  }
  // Step 9: not a number after all: a mnemonic or a name.
  while (is_alnum(c.cur()) || c.cur() == '_') c.advance();
  std::string_view word = c.bytes.substr(start, c.pos - start);
  t.code = lookup_mnemonic(word);
  return t.code ? TK_MNEMONIC : TK_SYMBOL;
}

// Scans the token at the look-ahead character into t; returns its kind.
std::uint32_t next_token(Cursor& c, Token& t) {
  std::size_t before_blanks = c.pos;
  while (c.cur() == ' ' || c.cur() == '\t') c.advance();
  t.space_before = c.pos != before_blanks;
  std::size_t start = c.pos;
  int ch = c.cur();
  std::uint32_t kind;
  if (ch >= 0 && is_xdigit(ch)) {
    kind = scan_number(c, start, t);
  } else if (ch >= 0 && (is_letter(ch) || ch == '_' || ch == '$')) {
    c.advance();
    while (is_alnum(c.cur()) || c.cur() == '_') c.advance();
    if (is_letter(ch)) {
      t.code = lookup_mnemonic(c.bytes.substr(start, c.pos - start));
      kind = t.code ? TK_MNEMONIC : TK_SYMBOL;
    } else {
      kind = TK_SYMBOL;
    }
  } else if (ch < 0) {
    t.text = std::string_view();
    return TK_EOF;
  } else {
    switch (ch) {
      case '\0':
        c.advance();
        t.text = std::string_view();
        return TK_NUL;
      case '\n':
        t.text = c.bytes.substr(start, 1);
        return TK_EOL;
      case '(': kind = TK_LPAREN; c.advance(); break;
      case ')': kind = TK_RPAREN; c.advance(); break;
      case '[': kind = TK_LBRACKET; c.advance(); break;
      case ']': kind = TK_RBRACKET; c.advance(); break;
      case '{': kind = TK_LBRACE; c.advance(); break;
      case '}': kind = TK_RBRACE; c.advance(); break;
      case '#': kind = TK_HASH; c.advance(); break;
      case ':': kind = TK_COLON; c.advance(); break;
      case ',': kind = TK_COMMA; c.advance(); break;
      case '+': kind = TK_PLUS; c.advance(); break;
      case '-': kind = TK_MINUS; c.advance(); break;
      case '~': kind = TK_TILDE; c.advance(); break;
      case '*': kind = TK_STAR; c.advance(); break;
      case '/': kind = TK_SLASH; c.advance(); break;
      case '%': kind = TK_PERCENT; c.advance(); break;
      case '&': kind = TK_AMPERSAND; c.advance(); break;
      case '|': kind = TK_BAR; c.advance(); break;
      case '^': kind = TK_CARET; c.advance(); break;
      case '@': kind = TK_AT; c.advance(); break;
      case '!':
        c.advance();
        if (c.cur() == '=') {
          c.advance();
          kind = TK_NE;
        } else {
          kind = TK_OTHER;
        }
        break;
      case '=':
        c.advance();
        if (c.cur() == '=') {
          c.advance();
          kind = TK_EQ;
        } else {
          kind = TK_OTHER;
        }
        break;
      case '<':
        c.advance();
        if (c.cur() == '<') {
          c.advance();
          kind = TK_SHL;
        } else if (c.cur() == '=') {
          c.advance();
          kind = TK_LE;
        } else {
          kind = TK_LT;
        }
        break;
      case '>':
        c.advance();
        if (c.cur() == '>') {
          c.advance();
          kind = TK_SHR;
        } else if (c.cur() == '=') {
          c.advance();
          kind = TK_GE;
        } else {
          kind = TK_GT;
        }
        break;
      case '?':
        c.advance();
        if (c.cur() == '+') {
          c.advance();
          kind = TK_QPLUS;
        } else if (c.cur() == '-') {
          c.advance();
          kind = TK_QMINUS;
        } else {
          kind = TK_QUESTION;
        }
        break;
      case '.': {
        c.advance();
        while (is_alnum(c.cur()) || c.cur() == '.' || c.cur() == '_') c.advance();
        std::string_view word = c.bytes.substr(start, c.pos - start);
        if ((t.code = lookup_directive(word)) != 0) {
          kind = TK_DIRECTIVE;
        } else if ((t.size = lookup_size(word)) != 0) {
          kind = TK_SIZE;
        } else {
          kind = TK_OTHER;
        }
        break;
      }
      case '"':
      case '\'': {
        c.advance();
        while (c.cur() != ch && c.cur() != '\n' && c.cur() != '\0' && c.cur() != -1) c.advance();
        if (c.cur() == ch) {
          c.advance();
          kind = TK_STRING;
        } else {
          kind = TK_OTHER;
        }
        break;
      }
      case ';':
        while (c.cur() != '\n' && c.cur() != -1) c.advance();
        kind = TK_COMMENT;
        break;
      default:
        c.advance();
        kind = TK_OTHER;
        break;
    }
  }
  t.text = c.bytes.substr(start, c.pos - start);
  return kind;
}

}  // namespace

std::size_t scan_line(std::string_view bytes, std::size_t pos, std::vector<Token>& tokens) {
  Cursor c{bytes, pos};
  for (;;) {
    // Scanned in place: a token built aside and copied in costs more than
    // the scanning of most tokens.
    Token& t = tokens.emplace_back();
    t.kind = next_token(c, t);
    if (t.kind == TK_EOF) {
      // A last line without a line feed is read as if one ended it.
      t.kind = TK_EOL;
      t.text = "\n";
      return c.pos;
    }
    if (t.kind == TK_EOL) return c.pos + 1;
  }
}

