// The statement model: every input line, and every line a pass generates, is
// one Statement. Statements stand in two doubly linked lists at once: the
// file order (prev/next), which holds every statement, and the code chain
// (chain_prev/chain_next), which holds the instructions, label lines,
// unanalysed lines and the .section and .end directives. Passes never edit a
// statement's text: a change is a replacement text plus SF_REWRITTEN, a
// deletion a STMT_BLANK kind with an empty replacement, so that every line no
// pass touched is written back byte for byte.
#pragma once

#include <cassert>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>

#include "source/text.h"

enum StatementKind : std::uint8_t {
  STMT_OTHER = 0,      // a line the parser does not analyse; written back as read
  STMT_INSN = 1,       // an instruction line, or a label-only line (insn_id 0)
  STMT_DIRECTIVE = 2,  // a directive line
  STMT_BLANK = 3,      // empty or comment-only line; also every deleted statement
};

enum StatementFlag : std::uint32_t {
  SF_FUNC_ENTRY = 0x001,   // label line that opens a function
  SF_END_LABEL = 0x002,    // label line whose label begins with "E"
  SF_IN_FUNCTION = 0x004,  // lies between a function entry and its end label
  SF_M_LABEL = 0x008,      // label line whose label begins with "M"
  SF_L_LABEL = 0x010,      // label line whose label begins with "L"
  SF_RETURN_ONLY = 0x020,  // function entry whose body is only its return
  SF_INLINE_ASM = 0x040,   // lies in an inline-assembly block
  SF_REWRITTEN = 0x080,    // rewritten or deleted; written as its replacement
  SF_NO_OPT = 0x100,       // ._tarvox OFF region, .if region, or commonization output
  SF_SHARED_CALL = 0x200,  // generated jsr of a shared subroutine
  // Internal marks beyond the ten flags above:
  SF_CONDITIONAL = 0x800,     // assembled once, never or many times: .if, .macro, .mrepeat bodies
  SF_SHARED_RETURN = 0x1000,  // the rts that ends a shared subroutine
  // Set and cleared again within pass 1003: whether a path from the line
  // reads the flags before setting them has been judged, and the verdict.
  SF_FLAGS_JUDGED = 0x2000,
  SF_FLAGS_DEAD = 0x4000,
};


// Bits of Operand::flags.
enum OperandFlag : std::uint32_t {
  OPF_PLAIN = 1,     // a general register, an immediate or an absolute address
  OPF_SYMBOLIC = 2,  // the expression holds a symbol or another non-number token
};

// A text or none in the size of a pointer, for the replacement text that
// few statements ever get: a present text is held in arena memory.
class OptTextRef {
 public:
  OptTextRef() = default;
  OptTextRef(std::nullopt_t) {}
  OptTextRef(std::string_view text) { *this = text; }
  OptTextRef& operator=(std::nullopt_t) {
    reset();
    return *this;
  }
  OptTextRef& operator=(std::string_view text);
  bool has_value() const { return ref_ != nullptr; }
  explicit operator bool() const { return has_value(); }
  std::string_view operator*() const { return *ref_; }
  std::string_view value() const { return *ref_; }
  void reset() { ref_ = nullptr; }

 private:
  const std::string_view* ref_ = nullptr;
};

struct LabelRef {
  std::string_view name;
};

struct Operand {
  std::uint32_t mode = 0;    // a register/mode id; 0 = AM_NONE
  std::int32_t value = 0;    // immediate, address or displacement
  std::string_view text;     // the operand as written, blanks dropped
  OptText symbol;            // the symbol named in the expression
  std::int32_t offset = 0;   // sum of the number terms after the first token
  std::uint8_t width = 0;    // width specifier code
  std::uint8_t flags = 0;    // OPF_PLAIN, OPF_SYMBOLIC
};

// Instruction details have a memory region of their own (new_insn_detail),
// each in 32 bytes followed by its operands: whoever reads a detail mostly
// reads its operands too, and finds them in the same or the next cache line
// rather than in another region.
struct InsnDetail {
  std::string_view mnemonic;  // as written; "" on a label-only line
  Operand* operands = nullptr;  // room for max(1, operand_count) operands
  std::uint32_t insn_id = 0;
  std::uint16_t operand_count = 0;  // at most 255: a line with more is not analysed
  std::uint8_t size_code = 0;
  std::uint8_t format_code = 0;
};

struct DirectiveDetail {
  std::string_view name;  // the directive as written
  std::uint32_t directive_id = 0;
  std::uint32_t operand_count = 0;
  std::string_view* operands = nullptr;  // room for max(1, operand_count) texts
};

// Which detail a statement has.
enum DetailKind : std::uint8_t { DETAIL_NONE = 0, DETAIL_INSN = 1, DETAIL_DIRECTIVE = 2 };

// Every mark fits the 16 bits of Statement::flags.
static_assert(SF_FLAGS_DEAD <= 0xFFFF, "a mark beyond the flag word");

// The record is laid out for the many walks along the file order, which read
// every byte of it: small fields packed at its head.
struct Statement {
  Statement() : kind(STMT_OTHER), detail_kind(DETAIL_NONE) {}

  std::uint8_t kind : 4;
  // The kind of the detail and its instruction or directive id, kept by
  // set_insn and set_directive: the walks that ask each statement which
  // instruction or directive it holds read them here instead of from the
  // detail.
  std::uint8_t detail_kind : 4;
  std::uint8_t detail_code = 0;
  std::uint16_t flags = 0;
  // The line as read, its newline included (the last line of a file may lack
  // one): text_data and text_size, read through text(), given by set_text.
  std::uint32_t text_size = 0;
  // Position in the code chain: increases along chain_next on members (the
  // reader numbers them, chain_insert gives a new member a number between its
  // neighbours'); 0 on statements that are not members.
  std::uint64_t order = 0;
  Statement* prev = nullptr;
  Statement* next = nullptr;
  Statement* chain_prev = nullptr;
  Statement* chain_next = nullptr;
  const char* text_data = nullptr;
  // What the writer writes instead of text; "" for a deleted statement.
  OptTextRef replacement;
  LabelRef* label = nullptr;
  // The instruction detail (kind STMT_INSN) or the directive detail (kind
  // STMT_DIRECTIVE), in one pointer: a statement never has both. A deleted
  // statement keeps its detail.
  void* detail = nullptr;

  std::string_view text() const { return std::string_view(text_data, text_size); }
  InsnDetail* insn() const {
    return detail_kind == DETAIL_INSN ? static_cast<InsnDetail*>(detail) : nullptr;
  }
  DirectiveDetail* directive() const {
    return detail_kind == DETAIL_DIRECTIVE ? static_cast<DirectiveDetail*>(detail) : nullptr;
  }
};

// A walk along next or chain_next is a chain of loads, each waiting for the
// one before; the records mostly lie in memory in the order of the walk, so
// a walk asks for the memory some 80 records ahead of the one it is at
// (the distance measured fastest on a large file) and runs at the speed of
// memory instead of its latency. (A hint only: the address need not hold a
// record, and nothing is read from it.)
inline void prefetch_ahead(const Statement* s) {
  constexpr std::uintptr_t AHEAD = 8192;
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(s) + AHEAD));
}

// For a walk that reads the instruction details too: the details of the
// lines read, each followed by its operands, lie in their own region in
// file order, about as large as the statements.
inline void prefetch_detail_ahead(const Statement* s) {
  constexpr std::uintptr_t AHEAD = 8192;
  if (s->detail_kind != DETAIL_INSN) return;
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(s->detail) + AHEAD));
}

// The walks that visit every statement in file order (for_each_statement)
// or every member of the code chain (for_each_member, which asks for the
// instruction details ahead too), with memory asked for ahead as above.
// f(s) returns nothing, or false to end the walk there. The next statement
// is taken when f has returned, so f may link statements in after s, and
// the walk visits them too.
// Calls f(s); whether the walk goes on.
template <typename F, typename S>
bool visit_goes_on(F& f, S* s) {
  if constexpr (std::is_same_v<decltype(f(s)), bool>) {
    return f(s);
  } else {
    f(s);
    return true;
  }
}

template <typename S, typename F>
void for_each_statement(S* first, F f) {
  for (S* s = first; s; s = s->next) {
    prefetch_ahead(s);
    if (!visit_goes_on(f, s)) return;
  }
}

template <typename F>
void for_each_member(Statement* first_member, F f) {
  for (Statement* s = first_member; s; s = s->chain_next) {
    prefetch_ahead(s);
    prefetch_detail_ahead(s);
    if (!visit_goes_on(f, s)) return;
  }
}

// Gives s its text (ends the run with "Not enough memory" for a text of
// 4 GiB or more, which the record cannot hold).
void set_text(Statement* s, std::string_view text);

// Gives s its instruction detail (built whole: the id a detail holds never
// changes once a statement has it).
inline void set_insn(Statement* s, InsnDetail* d) {
  s->detail = d;
  s->detail_kind = d ? DETAIL_INSN : DETAIL_NONE;
  s->detail_code = d ? static_cast<std::uint8_t>(d->insn_id) : 0;
}

// s's instruction id, as its detail holds it; s must have one.
inline std::uint32_t insn_id_of(const Statement* s) {
  assert(s->insn() && s->detail_code == s->insn()->insn_id && "detail given without set_insn");
  return s->detail_code;
}

// Gives s its directive detail (built whole, like an instruction's).
inline void set_directive(Statement* s, DirectiveDetail* d) {
  s->detail = d;
  s->detail_kind = d ? DETAIL_DIRECTIVE : DETAIL_NONE;
  s->detail_code = d ? static_cast<std::uint8_t>(d->directive_id) : 0;
}

// s's directive id, as its detail holds it; s must have one.
inline std::uint32_t directive_id_of(const Statement* s) {
  assert(s->directive() && s->detail_code == s->directive()->directive_id &&
         "detail given without set_directive");
  return s->detail_code;
}

// Helpers for the terms the passes use.
inline bool is_instruction(const Statement* s) {
  return s && s->kind == STMT_INSN && s->detail_kind == DETAIL_INSN && insn_id_of(s) != 0;
}
inline bool is_label_line(const Statement* s) {
  return s && s->kind == STMT_INSN && s->detail_kind == DETAIL_INSN && insn_id_of(s) == 0;
}
inline bool is_insn(const Statement* s, std::uint32_t id) {
  return s && s->kind == STMT_INSN && s->detail_kind == DETAIL_INSN && insn_id_of(s) == id;
}
inline bool is_directive(const Statement* s, std::uint32_t id) {
  return s && s->kind == STMT_DIRECTIVE && s->detail_kind == DETAIL_DIRECTIVE && directive_id_of(s) == id;
}
inline bool is_optimisable(const Statement* s) { return !s->replacement.has_value(); }

// A new statement record, all fields at their defaults.
Statement* new_statement();

// The empty Operand that fills every unused slot.
Operand empty_operand();

// A new LabelRef with an own copy of s's label name (s must have a label).
LabelRef* copy_label(const Statement* s);
// A new STMT_INSN statement with a copy of the template's whole flag word.
Statement* new_statement_like(const Statement* templ);
// Links s after anchor in file order; after the last statement s becomes the
// last one.
void insert_after(Statement* anchor, Statement* s);
// Links s into the code chain after the nearest STMT_INSN member at or before
// anchor (following chain_prev); with no such member, at the head of the
// chain, found through the file's first statement.
void chain_insert(Statement* anchor, Statement* s);
// Distance between the chain numbers the reader gives consecutive members.
constexpr std::uint64_t CHAIN_ORDER_STEP = std::uint64_t(1) << 32;
void delete_statement(Statement* s);
void delete_and_freeze(Statement* s);

// A new InsnDetail with room for `slots` operands (at least one), all empty.
InsnDetail* new_insn_detail(std::uint32_t slots);
// A new InsnDetail, its fields at their defaults, and right after it room
// for `slots` operands, where its operands point; the operands are not
// built: the caller builds each in place.
InsnDetail* new_insn_detail_room(std::uint32_t slots);
// An own copy of an operand: its text and symbol copied, the other fields
// and the plain/symbolic bits as they are.
Operand copy_operand(const Operand& op);
