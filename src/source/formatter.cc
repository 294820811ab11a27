// The formatter. Every line it builds has the same layout:
//
//   <tab>mnemonic[.size][:format]<tab>operand,operand<newline>
//
// behind "label:" when a new statement carries a label. Immediates keep the
// notation they were written in: a hexadecimal immediate stays hexadecimal,
// with a leading "0" wherever its first digit would be a letter (the scanner
// reads a word beginning with a letter as a name, not a number).
#include "source/formatter.h"

#include <cstdio>
#include <string>

#include "driver/memory.h"
#include "source/tables.h"

namespace {

std::string hex_digits(std::uint32_t v, int min_width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*x", min_width, static_cast<unsigned>(v));
  return buf;
}

// The digits of v in lower-case hexadecimal, with the width of the size code
// and a leading "0" before a first digit that is a letter. The widths are
// minimum widths: a larger value keeps all its digits.
std::string hex_notation(std::uint32_t v, std::uint32_t size_code) {
  switch (size_code) {
    case SIZE_B: return (v < 0xA0u ? "" : "0") + hex_digits(v, 2);
    case SIZE_W: return (v < 0xA000u ? "" : "0") + hex_digits(v, 4);
    case SIZE_L: return (v < 0xA0000000u ? "" : "0") + hex_digits(v, 8);
    default: {
      // No width for this size: the digits alone, and the "0" when the
      // first of them is a letter.
      std::string digits = hex_digits(v, 1);
      return (digits[0] >= 'a' ? "0" : "") + digits;
    }
  }
}

// The instruction line of d without a label: a tab, the mnemonic with its
// size suffix and format specifier, a tab, the operands joined by commas,
// and a newline.
std::string instruction_line(const InsnDetail* d) {
  std::string line = "\t";
  line += d->mnemonic;
  line += size_suffix(d->size_code);
  line += format_suffix(d->format_code);
  line += '\t';
  for (std::uint32_t i = 0; i < d->operand_count; ++i) {
    if (i) line += ',';
    line += d->operands[i].text;
  }
  line += '\n';
  return line;
}

}  // namespace

InsnDetail* set_immediate_value(std::int32_t value, InsnDetail* d, std::uint32_t i) {
  Operand& op = d->operands[i];
  op.value = value;
  // An adjnz step is always written in decimal.
  if (d->insn_id == INSN_ADJNZ) op.text = "0";
  char suffix = op.text.empty() ? '\0' : op.text.back();
  std::string text = "#";
  if (suffix == 'h' || suffix == 'H') {
    text += hex_notation(static_cast<std::uint32_t>(value), d->size_code);
    text += suffix;
  } else {
    text += std::to_string(value);
  }
  op.text = copy_string(text);
  return d;
}

void rebuild_edited_text(Statement* s) {
  s->flags |= SF_REWRITTEN;
  s->replacement = copy_string(instruction_line(s->insn()));
}

Statement* rebuild_source_text(Statement* s) {
  std::string line;
  if (s->label) {
    line += s->label->name;
    line += ':';
  }
  line += instruction_line(s->insn());
  set_text(s, copy_string(line));
  s->replacement = std::nullopt;
  return s;
}
