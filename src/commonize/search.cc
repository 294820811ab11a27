// The search for a group of repeated runs: the comparisons of statements
// and operands, the stack test, and the plain search, which looks at every
// later chain member for every reference (find_group_plain). The walk
// (commonize.cc) uses the fast search (fast_search.cc) instead wherever it
// can; it keeps the plain one for a unit with a NUL byte in an instruction
// line, where the fast search's keys could confuse two operands.
#include "commonize/search.h"

#include <algorithm>
#include <iterator>

#include "commonize/state.h"
#include "driver/settings.h"
#include "optimizer/walk.h"
#include "source/tables.h"

namespace {

// The instructions that never take part in a shared run: they save or
// restore registers, build or drop a stack frame, switch context, trap or
// loop.
constexpr std::uint32_t NOT_SHAREABLE[] = {
    INSN_PUSHC, INSN_PUSHM, INSN_POPC,  INSN_POPM, INSN_PUSHA, INSN_ENTER,
    INSN_EXITD, INSN_BRK,   INSN_INT,   INSN_INTO, INSN_LDCTX, INSN_STCTX,
    INSN_UND,   INSN_WAIT,  INSN_STC,   INSN_LDC,  INSN_ADJNZ, INSN_SBJNZ,
};
static_assert(std::size(NOT_SHAREABLE) == 18);
constexpr InsnIdSet NOT_SHAREABLE_SET(NOT_SHAREABLE);

constexpr std::uint32_t FLOW_ENDING[] = {INSN_JMP, INSN_JMPI, INSN_JMPS, INSN_RTS, INSN_REIT};
constexpr InsnIdSet FLOW_ENDING_SET(FLOW_ENDING);

// Bytes a push or pop moves, by size code (none, .b, .w, .l, .a).
constexpr std::int32_t PUSH_BYTES[] = {0, 1, 2, 4, 4};

// A line a run must not span: a label (on a label line or in front of a
// directive such as "L9: ._line 12", where a loop may jump into the middle of
// the run), or a directive other than the debugging directives and .section
// (.if, .else, .endif, .mrepeat, .endr, data, ._tarvox ...: they decide
// whether or how often the code around them is assembled). Blank, comment
// and deleted lines never are.
bool is_run_barrier(const Statement* s) {
  if (s->kind == STMT_BLANK) return false;
  if (s->label) return true;
  if (s->kind != STMT_DIRECTIVE) return false;
  std::uint32_t id = directive_id_of(s);
  return !is_debugging_directive(id) && id != DIR_SECTION;
}

// A call followed, before the next code-chain member, by a directive other
// than a debugging directive: the callee may read the table that follows
// its call (a .word list after a call of a switch helper), and in a shared
// copy the rts would follow the call instead.
bool call_reads_table(const Statement* x) {
  std::uint32_t id = insn_id_of(x);
  if (id != INSN_JSR && id != INSN_JSRI && id != INSN_JSRS) return false;
  for (const Statement* s = x->next; s && s != x->chain_next; s = s->next) {
    if (s->kind == STMT_DIRECTIVE && !is_debugging_directive(directive_id_of(s))) return true;
  }
  return false;
}

// add #imm,sp: moves the stack pointer by the negated immediate.
bool adds_immediate_to_sp(const InsnDetail* d) {
  return d->insn_id == INSN_ADD && d->operand_count >= 2 && d->operands[0].mode == MODE_IMM &&
         d->operands[1].mode == MODE_SP;
}

bool has_sp_relative_operand(const InsnDetail* d) {
  for (std::uint32_t i = 0; i < d->operand_count; ++i) {
    if (d->operands[i].mode == MODE_IN8DSP) return true;
  }
  return false;
}

// Calls f on each of the first n instruction statements (kind STMT_INSN)
// along the chain from the reference; other members are passed over. f
// returns false to end the walk early.
template <typename F>
void for_reference_run(std::int32_t n, F f) {
  Statement* t = commonize_state.table.reference();
  for (std::int32_t seen = 0; t && seen < n; t = t->chain_next) {
    if (t->kind != STMT_INSN) continue;
    ++seen;
    if (!f(t)) return;
  }
}

void clear_entry(int i) {
  commonize_state.table.occ_start[i] = nullptr;
  commonize_state.table.occ_cursor[i] = nullptr;
  commonize_state.table.occ_length[i] = 0;
}

// The occurrences of entries 1 .. n-1 that still grow.
bool some_occurrence_grows(int n) {
  for (int i = 1; i < n; ++i) {
    if (commonize_state.table.occ_cursor[i]) return true;
  }
  return false;
}

bool is_occurrence_start(const Statement* s, int n) {
  for (int i = 1; i < n; ++i) {
    if (commonize_state.table.occ_start[i] == s) return true;
  }
  return false;
}

}  // namespace

bool is_code_section(const Statement* s) {
  const DirectiveDetail* d = s->directive();
  return d->operand_count >= 2 && d->operands[1] == "CODE";
}

bool barrier_between(const Statement* from, const Statement* to) {
  for (const Statement* s = from->next; s && s != to; s = s->next) {
    if (is_run_barrier(s)) return true;
  }
  return false;
}

void append_occurrence(Statement* ref, Statement* m) {
  OccurrenceTable& t = commonize_state.table;
  if (t.occ_count == 0) {
    t.occ_start[0] = t.occ_cursor[0] = ref;
    t.occ_count = 1;
  }
  t.occ_start[t.occ_count] = t.occ_cursor[t.occ_count] = m;
  t.occ_length[t.occ_count] = 0;
  ++t.occ_count;
}

void clear_occurrence_table() {
  // Entries from occ_count on are empty (a search only ever writes none
  // into the one right after its last), so only the used ones are cleared.
  int used = std::min(commonize_state.table.occ_count + 1, OCC_CAPACITY);
  for (int i = 0; i < used; ++i) clear_entry(i);
  commonize_state.table.occ_count = 0;
}

// Asks only the instruction id kept with the detail, not the kind: the
// group's last instruction is asked again after it was deleted, and a
// deleted statement keeps its detail and id.
bool is_flow_ending(const Statement* s) {
  return s && s->insn() && FLOW_ENDING_SET.contains(insn_id_of(s));
}

bool shareable_instruction(const Statement* x) {
  const InsnDetail* d = x->insn();
  if (NOT_SHAREABLE_SET.contains(d->insn_id)) return false;
  // Under -OSA the code cleans pushed arguments up some time after a call:
  // called from a shared copy, the callee would find the copy's return
  // address where its first stack argument was. So no call is shared.
  bool call = d->insn_id == INSN_JSR || d->insn_id == INSN_JSRI || d->insn_id == INSN_JSRS;
  if (call && (option_flags & OF_SP_ADJUST)) return false;
  if (d->insn_id == INSN_JSR) {
    std::string_view callee = d->operands[0].text;
    if (callee == "_setjmp" || callee == "$setjmp") return false;
  }
  // An sp-relative operand in a copy would address another stack slot: the
  // copy runs with the return address pushed.
  return !has_sp_relative_operand(d);
}

bool may_be_shared(const Statement* x) { return shareable_instruction(x) && !call_reads_table(x); }

bool operands_identical(const Operand& a, const Operand& b) {
  if (a.mode != b.mode) return false;
  switch (operand_match(a.mode)) {
    case MATCH_BY_ADDRESS: {
      // Numbers by value (4[fb] is 4[FB], 0Ah is 10), anything symbolic by
      // its symbol, offset and text.
      bool symbolic = (a.flags & OPF_SYMBOLIC) || (b.flags & OPF_SYMBOLIC);
      if (!symbolic) return a.value == b.value;
      if (a.symbol && b.symbol && (!same_text(*a.symbol, *b.symbol) || a.offset != b.offset)) return false;
      return same_text(a.text, b.text) && a.offset == b.offset;
    }
    case MATCH_BY_TEXT:
      if (a.mode == MODE_IMM && (a.flags & OPF_SYMBOLIC) && (b.flags & OPF_SYMBOLIC)) {
        if (!a.symbol || !b.symbol || !same_text(*a.symbol, *b.symbol)) return false;
      }
      return same_text(a.text, b.text);
    case MATCH_BY_MODE:
      return true;
  }
  return true;
}

bool statements_identical(const Statement* r, const Statement* c) {
  if (c->label) return false;
  if (r->kind != c->kind) return false;
  if ((r->flags | c->flags) & SF_NO_OPT) return false;
  // Inline assembly is the user's own code: never deleted for a call.
  if (c->flags & SF_INLINE_ASM) return false;
  if (is_conditional_jump(insn_id_of(r)) || is_conditional_jump(insn_id_of(c))) return false;
  if (!instructions_identical(r, c)) return false;
  // R is shareable; with the same instruction and operands C can differ
  // from it only as a call that reads the table after it.
  return fits_where_it_stands(c) && shareable_instruction(c);
}

namespace {

bool operands_alike(const Operand& a, const Operand& b) {
  return a.mode == b.mode && a.value == b.value && same_text(a.text, b.text) &&
         a.symbol.has_value() == b.symbol.has_value() && (!a.symbol || same_text(*a.symbol, *b.symbol)) &&
         a.offset == b.offset && a.width == b.width && a.flags == b.flags;
}

// Id, size, format and operand count equal, each pair of operands equal as
// `operands_equal` says, and a jsr or jmp written alike to the byte.
template <typename OperandsEqual>
bool instructions_match(const Statement* a, const Statement* b, OperandsEqual operands_equal) {
  const InsnDetail* ad = a->insn();
  const InsnDetail* bd = b->insn();
  if (ad->insn_id != bd->insn_id || ad->size_code != bd->size_code || ad->format_code != bd->format_code ||
      ad->operand_count != bd->operand_count) {
    return false;
  }
  for (std::uint32_t i = 0; i < ad->operand_count; ++i) {
    if (!operands_equal(ad->operands[i], bd->operands[i])) return false;
  }
  return (ad->insn_id != INSN_JSR && ad->insn_id != INSN_JMP) || a->text() == b->text();
}

}  // namespace

bool instructions_identical(const Statement* a, const Statement* b) {
  return instructions_match(a, b, [](const Operand& x, const Operand& y) { return operands_identical(x, y); });
}

bool instructions_alike(const Statement* a, const Statement* b) {
  return instructions_match(a, b, [](const Operand& x, const Operand& y) { return operands_alike(x, y); });
}

bool fits_where_it_stands(const Statement* c) { return next_is_understood(c->next) && !call_reads_table(c); }

bool find_occurrences(Statement* ref) {
  OccurrenceTable& t = commonize_state.table;
  clear_occurrence_table();
  bool found = false;
  for (Statement* c = ref->chain_next;; c = c->chain_next) {
    if (!c || t.occ_count >= OCC_MAX_COUNT) return found;
    if (is_directive(c, DIR_SECTION)) {
      if (is_code_section(c)) commonize_state.scan_section = std::string(c->directive()->operands[0]);
      // The search fails as a whole at a CODE section of another name, even
      // with occurrences already collected.
      if (commonize_state.scan_section != commonize_state.reference_section) return false;
    }
    Statement* m = find_chain_next_insn(c, insn_id_of(ref));
    if (m && statements_identical(ref, m)) {
      append_occurrence(ref, m);
      found = true;
    }
  }
}

void drop_adjacent() {
  OccurrenceTable& t = commonize_state.table;
  // Downwards, so each comparison sees the starts as they were before.
  for (int i = t.occ_count - 1; i >= 1; --i) {
    if (t.occ_start[i - 1] && t.occ_start[i - 1]->next == t.occ_start[i]) clear_entry(i);
  }
}

// The reference run grows from its first instruction along the chain (S);
// each occurrence i grows from its cursor to the cursor's chain successor
// M, which must be the same as S. Where a line between two members is a
// barrier, the run ends before it:
//   - in the reference, a barrier between the last reference instruction
//     and S stops the growth, as a label on S does;
//   - in an occurrence, a barrier between its cursor and M means M does not
//     match, and the occurrence stops as it does when the statements differ.
// A flow-ending instruction ends the growth right after it: a copy entered
// by jsr must not jump or return out of its middle with the return address
// still on the stack. (The fast search's reference_run follows the
// reference's side of this walk: keep the two alike.)
void extend_occurrences() {
  OccurrenceTable& t = commonize_state.table;
  const int n = t.occ_count;
  std::int32_t len = 1;
  Statement* ref_last = t.occ_start[0];
  if (!ref_last || is_flow_ending(ref_last)) return;
  Statement* s = ref_last->chain_next;
  while (true) {
    if (!s || s->kind == STMT_OTHER) return;
    if (s->kind != STMT_INSN) {
      // .section, .end, a deleted statement: passed over, not counted.
      s = s->chain_next;
      continue;
    }
    if (!may_be_shared(s)) return;
    // Inline assembly is never matched: the run ends before it, so the
    // matched, copied and deleted instructions stay the same ones.
    if (s->flags & SF_INLINE_ASM) return;
    if (s->label) return;
    if (barrier_between(ref_last, s)) return;
    // The reference never grows into an occurrence; they may meet end to
    // start.
    if (is_occurrence_start(s, n)) return;
    if (s->replacement) {
      s = s->chain_next;
      continue;
    }
    for (int i = 1; i < n; ++i) {
      if (t.occ_cursor[i] == s) t.occ_cursor[i] = nullptr;
      if (t.occ_cursor[i] && t.occ_cursor[i] == t.occ_start[i + 1]) {
        // Occurrence i has grown up to the next one, which is dropped.
        t.occ_start[i + 1] = nullptr;
        t.occ_cursor[i + 1] = nullptr;
      }
      if (!t.occ_start[i] || !t.occ_cursor[i]) continue;
      Statement* cursor = t.occ_cursor[i];
      Statement* m = find_chain_next_insn(cursor, insn_id_of(s));
      if (m && !barrier_between(cursor, m) && statements_identical(s, m)) {
        t.occ_cursor[i] = m;
        t.occ_length[i] = len + 1;
        t.occ_cursor[0] = s;
      } else if (len < min_common_length) {
        t.occ_start[i] = nullptr;
        t.occ_cursor[i] = nullptr;
      } else {
        t.occ_cursor[i] = nullptr;
      }
    }
    if (!some_occurrence_grows(n)) return;
    ++len;
    t.occ_length[0] = len;
    ref_last = s;
    if (is_flow_ending(s)) return;
    s = s->chain_next;
  }
}

bool find_group_plain(Statement* ref) {
  if (!find_occurrences(ref)) return false;
  drop_adjacent();
  extend_occurrences();
  return true;
}

namespace {

// An instruction that reads or moves the stack pointer other than by adding
// an immediate (sub.w #2,sp, mov.w sp,a0): the sum of the run cannot account
// for it, and in a shared copy, entered with the return address pushed, sp
// is not what it was at the occurrence.
bool uses_sp_unaccounted(const InsnDetail* d) {
  if (adds_immediate_to_sp(d)) return false;
  for (std::uint32_t i = 0; i < d->operand_count; ++i) {
    if (d->operands[i].mode == MODE_SP) return true;
  }
  return false;
}

}  // namespace

void StackSum::add(const InsnDetail* d) {
  std::int32_t bytes = d->size_code < std::size(PUSH_BYTES) ? PUSH_BYTES[d->size_code] : 0;
  bool unaccounted = uses_sp_unaccounted(d);
  if (d->insn_id == INSN_PUSH || d->insn_id == INSN_POP || adds_immediate_to_sp(d) || unaccounted)
    touches = true;
  if (d->insn_id == INSN_PUSH) depth += bytes;
  if (d->insn_id == INSN_POP) depth -= bytes;
  // add.w #-4,sp reserves 4 bytes.
  if (adds_immediate_to_sp(d)) depth -= d->operands[0].value;
  if (depth < 0 || unaccounted) broken = true;
}

bool stack_test_passes(std::int32_t n) {
  StackSum sum;
  for_reference_run(n, [&](const Statement* t) {
    sum.add(t->insn());
    return true;
  });
  return sum.passes();
}
