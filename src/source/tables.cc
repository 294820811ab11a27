#include "source/tables.h"

#include "source/text.h"

namespace {

// Letters compared without regard to case: words are folded to lower case
// before the look-up. No name of any table is longer than 9 characters, so a
// longer word never matches.
constexpr std::size_t LONGEST_NAME = 9;

bool fold(std::string_view word, char* out) {
  if (word.empty() || word.size() > LONGEST_NAME) return false;
  for (std::size_t i = 0; i < word.size(); ++i) out[i] = lower_ascii(word[i]);
  return true;
}

std::uint32_t hash_of(std::string_view folded) {
  std::uint32_t h = 2166136261u;
  for (char c : folded) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  return h;
}

// Index from lower-case name to row position, built once from a table: open
// addressing in a power-of-two array. The tables hold each name once, so the
// index finds the same row as a walk from row 0 would.
struct NameIndex {
  static constexpr std::size_t SLOTS = 512;
  std::string_view names[SLOTS];
  std::uint32_t rows[SLOTS] = {};

  void add(std::string_view name, std::uint32_t row) {
    std::size_t i = hash_of(name) & (SLOTS - 1);
    while (rows[i]) i = (i + 1) & (SLOTS - 1);
    names[i] = name;
    rows[i] = row;
  }

  std::uint32_t find(std::string_view word) const {
    char folded[LONGEST_NAME];
    if (!fold(word, folded)) return 0;
    std::string_view key(folded, word.size());
    for (std::size_t i = hash_of(key) & (SLOTS - 1); rows[i]; i = (i + 1) & (SLOTS - 1))
      if (same_text(names[i], key)) return rows[i];
    return 0;
  }
};

template <typename Row, std::size_t N>
NameIndex index_of(const Row (&table)[N], std::string_view Row::*name) {
  NameIndex index;
  // Rows 1 .. N-2: row 0 (empty name) and the end row are never matched.
  for (std::size_t i = 1; i + 1 < N; ++i) index.add(table[i].*name, static_cast<std::uint32_t>(i));
  return index;
}

std::uint32_t find(const NameIndex& index, std::string_view word) { return index.find(word); }

const NameIndex& mnemonic_index() {
  static const NameIndex index = index_of(INSTRUCTION_TABLE, &InstructionRow::mnemonic);
  return index;
}
const NameIndex& directive_index() {
  static const NameIndex index = index_of(DIRECTIVE_TABLE, &DirectiveRow::name);
  return index;
}
const NameIndex& register_index() {
  static const NameIndex index = index_of(REGISTER_TABLE, &RegisterRow::name);
  return index;
}

constexpr std::string_view SIZE_WORDS[] = {".b", ".w", ".l", ".a"};
constexpr std::string_view FORMAT_WORDS[] = {"g", "s", "q", "z"};
constexpr std::string_view SIZE_SUFFIXES[] = {"", ".b", ".w", ".l", ".a"};
constexpr std::string_view FORMAT_SUFFIXES[] = {"", ":g", ":s", ":q", ":z"};
constexpr std::string_view BASE_REGISTERS[] = {"a0", "a1", "a1a0", "sb", "fb", "sp"};

struct WidthRow {
  std::uint32_t number;
  std::uint32_t code;
};
constexpr WidthRow WIDTHS[] = {{8, 1}, {16, 2}, {20, 3}, {24, 4}, {11, 5}, {19, 6}, {27, 7}};

}  // namespace

std::uint32_t lookup_mnemonic(std::string_view word) {
  return INSTRUCTION_TABLE[find(mnemonic_index(), word)].id;
}

std::uint32_t lookup_directive(std::string_view word) {
  // Only dotted words are directives: the rows "?" and "@" never match.
  if (word.empty() || word[0] != '.') return 0;
  return DIRECTIVE_TABLE[find(directive_index(), word)].id;
}

std::uint32_t lookup_size(std::string_view word) {
  for (std::uint32_t i = 0; i < 4; ++i)
    if (equal_ignoring_case(word, SIZE_WORDS[i])) return i + 1;
  return 0;
}

const RegisterRow* lookup_register(std::string_view word) {
  std::uint32_t row = find(register_index(), word);
  return row ? &REGISTER_TABLE[row] : nullptr;
}

std::uint32_t lookup_format(std::string_view word) {
  for (std::uint32_t i = 0; i < 4; ++i)
    if (equal_ignoring_case(word, FORMAT_WORDS[i])) return i + 1;
  return 0;
}

std::uint32_t base_register_code(std::string_view word) {
  for (std::uint32_t i = 0; i < 6; ++i)
    if (equal_ignoring_case(word, BASE_REGISTERS[i])) return i + 1;
  return 0;
}

std::uint32_t width_code(std::uint32_t number) {
  for (const WidthRow& row : WIDTHS)
    if (row.number == number) return row.code;
  return 0;
}

std::string_view size_suffix(std::uint32_t size_code) {
  return size_code < 5 ? SIZE_SUFFIXES[size_code] : std::string_view();
}

std::string_view format_suffix(std::uint32_t format_code) {
  return format_code < 5 ? FORMAT_SUFFIXES[format_code] : std::string_view();
}
