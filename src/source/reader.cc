#include "source/reader.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver/diagnostics.h"
#include "driver/memory.h"
#include "driver/platform.h"
#include "optimizer/units.h"
#include "source/parser.h"
#include "source/scanner.h"
#include "source/tables.h"

namespace {

// A pass edits a detail the reader made only in its operands (a pass that
// changes an instruction otherwise gives it a new detail), so the reader's
// details without operands share one empty operand slot that nothing
// writes, and the plain label lines share one detail: a large file saves a
// slot or a whole detail on each.
Operand shared_empty_operand[1];
std::string_view shared_empty_directive_operand[1];
InsnDetail shared_label_detail{std::string_view(), shared_empty_operand, 0, 0, SIZE_NONE, FMT_NONE};

InsnDetail* insn_detail_from_line(const ParsedLine& line) {
  if (line.operand_count == 0 && line.code == 0 && line.mnemonic.empty() &&
      line.size_code == SIZE_NONE && line.format_code == FMT_NONE)
    return &shared_label_detail;
  InsnDetail* d = new_insn_detail_room(line.operand_count);
  d->mnemonic = line.mnemonic;
  d->insn_id = line.code;
  d->operand_count = static_cast<std::uint16_t>(line.operand_count);
  d->size_code = static_cast<std::uint8_t>(line.size_code);
  d->format_code = static_cast<std::uint8_t>(line.format_code);
  if (line.operand_count == 0) {
    d->operands = shared_empty_operand;
    return d;
  }
  // Each operand is built once, in place, from the parsed one.
  for (std::uint32_t i = 0; i < line.operand_count; ++i) {
    Operand* op = new (&d->operands[i]) Operand(line.operands[i]);
    op->flags &= OPF_PLAIN | OPF_SYMBOLIC;
  }
  return d;
}

DirectiveDetail* directive_detail_from_line(const ParsedLine& line) {
  DirectiveDetail* d = alloc_record<DirectiveDetail>();
  d->name = line.mnemonic;
  d->directive_id = line.code;
  d->operand_count = line.operand_count;
  if (line.operand_count == 0) {
    d->operands = shared_empty_directive_operand;
    return d;
  }
  d->operands = alloc_room<std::string_view>(line.operand_count);
  for (std::uint32_t i = 0; i < line.operand_count; ++i) {
    new (&d->operands[i]) std::string_view(line.operands[i].text);
  }
  return d;
}

Statement* statement_from_line(const ParsedLine& line) {
  Statement* s = new_statement();
  s->kind = static_cast<std::uint8_t>(line.kind);
  set_text(s, line.source_text);
  if (line.has_label) s->label = new (alloc_room<LabelRef>(1)) LabelRef{line.label};
  if (line.kind == STMT_INSN) set_insn(s, insn_detail_from_line(line));
  if (line.kind == STMT_DIRECTIVE) set_directive(s, directive_detail_from_line(line));
  return s;
}

bool is_chain_member(const Statement* s) {
  return s->kind == STMT_INSN || s->kind == STMT_OTHER || is_directive(s, DIR_SECTION) ||
         is_directive(s, DIR_END);
}

// Drops every carriage return that stands directly before a line feed, in
// place, as text-mode reading does; returns the new length.
std::size_t drop_cr_before_lf(char* data, std::size_t size) {
  // Nothing moves before the first carriage return; most files have none.
  const void* first_cr = std::memchr(data, '\r', size);
  if (!first_cr) return size;
  std::size_t out = static_cast<std::size_t>(static_cast<const char*>(first_cr) - data);
  for (std::size_t i = out; i < size; ++i) {
    if (data[i] == '\r' && i + 1 < size && data[i + 1] == '\n') continue;
    data[out++] = data[i];
  }
  return out;
}

// Builds the statements of `bytes` (already in arena memory).
Statement* build_statements(std::string_view bytes) {
  Statement* first = nullptr;
  Statement* last = nullptr;
  Statement* chain_head = nullptr;
  Statement* chain_tail = nullptr;
  std::vector<Token> tokens;
  ParsedLine line;
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    tokens.clear();
    std::size_t end = scan_line(bytes, pos, tokens);
    line.source_text = bytes.substr(pos, end - pos);
    parse_line(tokens, line);
    Statement* s = statement_from_line(line);
    s->prev = last;
    if (last)
      last->next = s;
    else
      first = s;
    last = s;
    s->chain_prev = chain_tail;
    s->chain_next = chain_tail;
    if (is_chain_member(s)) {
      s->chain_next = nullptr;
      s->order = (chain_tail ? chain_tail->order : 0) + CHAIN_ORDER_STEP;
      if (!chain_head) {
        s->chain_prev = nullptr;
        chain_head = s;
        // The file's first statement leads to the head of the chain.
        if (first != s) first->chain_next = s;
      } else {
        chain_tail->chain_next = s;
      }
      chain_tail = s;
    }
    pos = end;
  }
  return first;
}

}  // namespace

Statement* read_source_text(std::string_view bytes) {
  if (bytes.empty()) return nullptr;
  char* copy = static_cast<char*>(alloc_or_die(bytes.size() + 1));
  std::memcpy(copy, bytes.data(), bytes.size());
  std::size_t size = drop_cr_before_lf(copy, bytes.size());
  return build_statements(std::string_view(copy, size));
}

void read_source_file(std::string_view file_name, std::FILE* file, std::string_view head) {
  // The whole file is read into one arena block (its size known up front for
  // a regular file, grown for anything else); statement and token texts are
  // views into it.
  std::size_t capacity = 1 << 16;
  long long file_size = regular_file_size(file);
  if (file_size > 0) capacity = static_cast<std::size_t>(file_size) + 1;
  if (capacity <= head.size()) capacity = head.size() + 1;
  char* data = static_cast<char*>(try_alloc(capacity));
  std::size_t size = 0;
  bool failed = data == nullptr;
  if (data) {
    std::memcpy(data, head.data(), head.size());
    size = head.size();
  }
  while (!failed) {
    if (size == capacity) {
      char* bigger = static_cast<char*>(try_alloc(capacity * 2));
      if (!bigger) {
        failed = true;
        break;
      }
      std::memcpy(bigger, data, size);
      data = bigger;
      capacity *= 2;
    }
    std::size_t got = std::fread(data + size, 1, capacity - size, file);
    size += got;
    if (got == 0) break;
  }
  bool unreadable = std::ferror(file) != 0;
  if (!data || (failed && !unreadable)) report_error(ERR_NO_MEMORY);
  if (unreadable) report_error(ERR_CANT_OPEN, file_name);
  Statement* first = nullptr;
  if (size > 0) first = build_statements(std::string_view(data, drop_cr_before_lf(data, size)));
  add_source_unit(file_name, first);
}
