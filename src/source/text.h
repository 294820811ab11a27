// Text helpers for byte strings held as pointer and length (they may hold
// NUL bytes): a text that may be absent, exact comparison in line, and the
// comparison without regard to letter case that mnemonics, directives,
// register names and most options use (ASCII letters only).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A text or none, in the size of a string_view: none is a null data pointer.
// (A present text, even an empty one, always has a non-null data pointer.)
class OptText {
 public:
  OptText() = default;
  OptText(std::nullopt_t) {}
  OptText(std::string_view text) : data_(text.data() ? text.data() : ""), size_(text.size()) {}
  OptText& operator=(std::nullopt_t) {
    reset();
    return *this;
  }
  OptText& operator=(std::string_view text) { return *this = OptText(text); }
  bool has_value() const { return data_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  std::string_view operator*() const { return std::string_view(data_, size_); }
  std::string_view value() const { return **this; }
  void reset() {
    data_ = nullptr;
    size_ = 0;
  }

 private:
  const char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Whether two texts hold the same bytes. Operand texts, names and words are
// short: they are compared in line, without a library call that costs more
// than such a comparison.
inline bool same_text(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() > 32) return a == b;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

inline char lower_ascii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether two texts are equal when ASCII letters are compared without
// regard to case.
inline bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
  }
  return true;
}

// A 64-bit FNV-1a hash of the bytes of a text, for the tables keyed by
// operand texts and label names.
inline std::uint64_t text_hash(std::string_view text) {
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : text) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}
