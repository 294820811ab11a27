// Token streams of the scanner: number bases, names and mnemonics, dotted
// words, operators, strings and comments.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "source/scanner.h"
#include "source/tables.h"

namespace {

struct OneTokenCase {
  const char* name;
  std::string_view input;
  std::uint32_t kind;
  std::uint32_t value_or_code;  // value of a number, code of a mnemonic/directive, size of a size
  const char* text;
};

class FirstToken : public ::testing::TestWithParam<OneTokenCase> {};

TEST_P(FirstToken, ScansKindValueAndText) {
  const OneTokenCase& c = GetParam();
  Token t = scan_one(c.input);
  EXPECT_EQ(t.kind, c.kind) << std::string(c.input);
  EXPECT_EQ(std::string(t.text), c.text) << std::string(c.input);
  if (c.kind == TK_NUMBER) {
    EXPECT_EQ(t.value, c.value_or_code) << std::string(c.input);
  }
  if (c.kind == TK_MNEMONIC || c.kind == TK_DIRECTIVE) {
    EXPECT_EQ(t.code, c.value_or_code) << std::string(c.input);
  }
  if (c.kind == TK_SIZE) {
    EXPECT_EQ(t.size, c.value_or_code) << std::string(c.input);
  }
}

const OneTokenCase kOneTokenCases[] = {
    {"hex_with_leading_zero", "0FFh,", TK_NUMBER, 255, "0FFh"},
    {"hex_starting_with_letter", "FFh", TK_NUMBER, 255, "FFh"},
    {"binary", "1010b\n", TK_NUMBER, 10, "1010b"},
    {"octal", "17o", TK_NUMBER, 15, "17o"},
    {"decimal_not_binary", "10,", TK_NUMBER, 10, "10"},
    {"b_as_hex_digit", "0bh", TK_NUMBER, 11, "0bh"},
    {"binary_before_comma", "1b,", TK_NUMBER, 1, "1b"},
    {"fbh_is_number", "fbh", TK_NUMBER, 251, "fbh"},
    {"wraps_unsigned", "1FFFFFFFFh", TK_NUMBER, 0xFFFFFFFFu, "1FFFFFFFFh"},
    {"add_mnemonic", "add", TK_MNEMONIC, INSN_ADD, "add"},
    {"abs_mnemonic", "abs", TK_MNEMONIC, INSN_ABS, "abs"},
    {"bset_mnemonic", "bset", TK_MNEMONIC, INSN_BSET, "bset"},
    {"mov_upper_case", "MOV", TK_MNEMONIC, INSN_MOV, "MOV"},
    {"a0_symbol", "a0]", TK_SYMBOL, 0, "a0"},
    {"fb_symbol", "fb", TK_SYMBOL, 0, "fb"},
    {"b_symbol", "b", TK_SYMBOL, 0, "b"},
    {"data_symbol", "data", TK_SYMBOL, 0, "data"},
    {"end_is_no_mnemonic", "end", TK_SYMBOL, 0, "end"},
    {"underscore_no_lookup", "_mov", TK_SYMBOL, 0, "_mov"},
    {"dollar_name", "$setjmp", TK_SYMBOL, 0, "$setjmp"},
    {"directive_upper", ".SECTION", TK_DIRECTIVE, DIR_SECTION, ".SECTION"},
    {"debug_directive", "._line", TK_DIRECTIVE, DIR__LINE, "._line"},
    {"double_dot_directive", "..file", TK_DIRECTIVE, DIR_DOTFILE, "..file"},
    {"size_w", ".W", TK_SIZE, 2, ".W"},
    {"size_a", ".a", TK_SIZE, 4, ".a"},
    {"dot_s_other", ".s", TK_OTHER, 0, ".s"},
    {"lone_period", ". ", TK_OTHER, 0, "."},
    {"qplus", "?+", TK_QPLUS, 0, "?+"},
    {"question_then_blank", "? +", TK_QUESTION, 0, "?"},
    {"lone_equals", "=1", TK_OTHER, 0, "="},
    {"lone_bang", "!x", TK_OTHER, 0, "!"},
    {"eq", "==", TK_EQ, 0, "=="},
    {"ne", "!=", TK_NE, 0, "!="},
    {"shl", "<<", TK_SHL, 0, "<<"},
    {"le", "<=", TK_LE, 0, "<="},
    {"gt", ">1", TK_GT, 0, ">"},
    {"shr", ">>", TK_SHR, 0, ">>"},
    {"string", "\"a;b'\"x", TK_STRING, 0, "\"a;b'\""},
    {"unclosed_string", "'abc\n", TK_OTHER, 0, "'abc"},
    {"comment", "; hi there\n", TK_COMMENT, 0, "; hi there"},
    {"lone_cr", "\r", TK_OTHER, 0, "\r"},
    {"high_byte", "\xE9x", TK_OTHER, 0, "\xE9"},
    {"nul", std::string_view("\0x", 2), TK_NUL, 0, ""},
    {"eof", "", TK_EOF, 0, ""},
};

INSTANTIATE_TEST_SUITE_P(Scanner, FirstToken, ::testing::ValuesIn(kOneTokenCases),
                         [](const auto& info) { return std::string(info.param.name); });

std::vector<Token> scan(std::string_view line) {
  std::vector<Token> tokens;
  scan_line(line, 0, tokens);
  return tokens;
}

std::vector<std::uint32_t> kinds(const std::vector<Token>& tokens) {
  std::vector<std::uint32_t> k;
  for (const Token& t : tokens) k.push_back(t.kind);
  return k;
}

TEST(ScanLine, MnemonicWithSizeThenOperands) {
  auto tokens = scan("\tmov.w\t#1,R0\n");
  EXPECT_EQ(kinds(tokens), (std::vector<std::uint32_t>{TK_MNEMONIC, TK_SIZE, TK_HASH, TK_NUMBER,
                                                         TK_COMMA, TK_SYMBOL, TK_EOL}));
  EXPECT_EQ(tokens[0].code, INSN_MOV);
  EXPECT_EQ(tokens[1].size, 2u);
  EXPECT_TRUE(tokens[0].space_before);
  EXPECT_FALSE(tokens[1].space_before);
}

TEST(ScanLine, NulIsATokenAndTheLineGoesOn) {
  std::string line = std::string("\tnop") + '\0' + "x\n";
  auto tokens = scan(line);
  EXPECT_EQ(kinds(tokens), (std::vector<std::uint32_t>{TK_MNEMONIC, TK_NUL, TK_SYMBOL, TK_EOL}));
}

TEST(ScanLine, LastLineWithoutLineFeedEndsAsIfOneStoodThere) {
  std::string bytes = "\trts ; done";
  std::vector<Token> tokens;
  std::size_t end = scan_line(bytes, 0, tokens);
  EXPECT_EQ(end, bytes.size());
  EXPECT_EQ(kinds(tokens), (std::vector<std::uint32_t>{TK_MNEMONIC, TK_COMMENT, TK_EOL}));
  EXPECT_EQ(std::string(tokens[1].text), "; done");
}

TEST(ScanLine, StringEndsAtEndOfFile) {
  std::vector<Token> tokens;
  scan_line("\t.byte \"abc", 0, tokens);
  EXPECT_EQ(kinds(tokens), (std::vector<std::uint32_t>{TK_DIRECTIVE, TK_OTHER, TK_EOL}));
}

TEST(ScanLine, SecondLineStartsAfterTheLineFeed) {
  std::string bytes = "a:\n\trts\n";
  std::vector<Token> tokens;
  std::size_t end = scan_line(bytes, 0, tokens);
  EXPECT_EQ(end, 3u);
  tokens.clear();
  EXPECT_EQ(scan_line(bytes, end, tokens), bytes.size());
  EXPECT_EQ(tokens[0].code, INSN_RTS);
}

TEST(ScanLine, LongCommentIsKeptWhole) {
  std::string line = ";" + std::string(5000, 'x') + "\n";
  auto tokens = scan(line);
  ASSERT_EQ(tokens.size(), 2u);
  EXPECT_EQ(tokens[0].text.size(), 5001u);
}

}  // namespace
