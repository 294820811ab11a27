// The preparatory walks. Each one starts at the unit's first statement,
// follows `next` to the end of the list and sets or clears its own flag on
// every statement it visits, so that running a walk twice leaves the same
// flags. They change no text.
//
// Function structure, as the compiler writes it:
//
//         .glb    _f              ; the entry is the label the .glb names
//   _f:                           ; SF_FUNC_ENTRY, SF_IN_FUNCTION
//         rts                     ; SF_IN_FUNCTION
//   E1:                           ; SF_END_LABEL, SF_IN_FUNCTION
#include "optimizer/marking.h"

#include <cstddef>
#include <string_view>

#include "driver/diagnostics.h"
#include "source/statement.h"
#include "source/tables.h"

std::uint32_t label_presence = 0;

namespace {

bool reit_seen = false;

// The comment lines that open and close an inline-assembly block: the whole
// line, newline included; letter case does not matter.
bool is_asm_marker(const Statement* s, std::string_view marker) {
  return s->kind == STMT_BLANK && equal_ignoring_case(s->text(), marker);
}

void set_flag(Statement* s, std::uint32_t flag, bool on) {
  if (on)
    s->flags |= flag;
  else
    s->flags &= ~flag;
}

bool label_starts_with(const Statement* s, char letter) {
  return is_label_line(s) && s->label && !s->label->name.empty() && s->label->name[0] == letter;
}

// The first argument text of a directive, or nullptr when it has none.
const std::string_view* first_argument(const Statement* s) {
  if (s->kind != STMT_DIRECTIVE || !s->directive() || s->directive()->operand_count == 0) return nullptr;
  return &s->directive()->operands[0];
}

// Whether the .glb directive names the label line.
bool glb_names(const Statement* glb, const Statement* label_line) {
  const std::string_view* name = first_argument(glb);
  return name && label_line->label && *name == label_line->label->name;
}

void clear_from(Statement* from, const Statement* stop, std::uint32_t flag) {
  for (Statement* s = from; s != stop; s = s->next) s->flags &= ~flag;
}

// Depth counters of the regions that the assembler assembles conditionally
// or repeatedly. Each kind of closing directive closes only its own kind of
// region, and a closer without an opener changes nothing: a stray .endif
// never ends a .macro body early.
struct ConditionalDepths {
  std::uint32_t if_depth = 0;
  std::uint32_t macro_depth = 0;
  std::uint32_t repeat_depth = 0;

  bool inside() const { return if_depth || macro_depth || repeat_depth; }
};

void close_level(std::uint32_t& depth) {
  if (depth) --depth;
}

// The steps of the marking walk, each looking at one statement at a time
// with the state it carries along the file; mark_unit_structure runs them
// one after the other on each statement.

// An inline-assembly block runs from its START line to its END line, both
// marker lines included; a START without an END reaches to the end of the
// unit.
struct InlineAsmStep {
  static constexpr std::string_view START = ";#### ASM START\n";
  static constexpr std::string_view END = ";#### ASM END\n";
  bool inside = false;

  void operator()(Statement* s) {
    if (inside) {
      s->flags |= SF_INLINE_ASM;
      inside = !is_asm_marker(s, END);
    } else if (is_asm_marker(s, START)) {
      s->flags |= SF_INLINE_ASM;
      inside = true;
    } else {
      s->flags &= ~SF_INLINE_ASM;
    }
  }
};

// A function entry is the label line right after the .glb that names it
// (or after a .rvector that follows the .glb). The step marks the entry
// ahead of the walk; the statements up to it are passed over, so the walk
// does not clear the mark again.
struct FunctionEntryStep {
  bool passing = false;
  const Statement* resume = nullptr;  // where passing over ends; null: the end

  void operator()(Statement* s) {
    if (passing) {
      if (s != resume) return;
      passing = false;
    }
    s->flags &= ~SF_FUNC_ENTRY;
    if (!is_directive(s, DIR_GLB) || !s->next) return;
    Statement* after = s->next;
    Statement* label = nullptr;
    if (is_directive(after, DIR_RVECTOR) && is_label_line(after->next)) {
      after->flags &= ~SF_FUNC_ENTRY;
      label = after->next;
    } else if (is_label_line(after)) {
      label = after;
    }
    if (label && glb_names(s, label)) {
      label->flags |= SF_FUNC_ENTRY;
      passing = true;
      resume = label->next;
    }
  }
};

void end_label_step(Statement* s) {
  // A label beginning with E inside an inline-assembly block is the user's
  // own label, not a function's end: a shared subroutine placed after it
  // would sit in the middle of the block's code.
  bool end = label_starts_with(s, 'E') && !(s->flags & SF_INLINE_ASM);
  set_flag(s, SF_END_LABEL, end);
  if (end) label_presence |= LP_END_LABEL_SEEN;
}

void m_l_label_step(Statement* s) {
  set_flag(s, SF_M_LABEL, label_starts_with(s, 'M'));
  set_flag(s, SF_L_LABEL, label_starts_with(s, 'L'));
  // Any label, on any line: the commonization looks for taken names only
  // when there is one.
  if (s->label && has_generated_label_form(s->label->name)) label_presence |= LP_GENERATED_FORM_SEEN;
}

struct NoOptStep {
  bool off_region = false;

  void operator()(Statement* s) {
    s->flags &= ~SF_NO_OPT;
    const std::string_view* arg = is_directive(s, DIR__TARVOX) ? first_argument(s) : nullptr;
    if (arg && *arg == "OFF")
      off_region = true;
    else if (arg && *arg == "ON")
      off_region = false;
    if (off_region) s->flags |= SF_NO_OPT;
  }
};

// Nesting is counted: the tail of an outer .if after an inner .endif is
// still conditional code. The opening line is inside its region, the
// closing line is not.
struct ConditionalStep {
  ConditionalDepths depths;

  void operator()(Statement* s) {
    if (s->kind == STMT_DIRECTIVE && s->directive()) {
      switch (directive_id_of(s)) {
        case DIR_IF: ++depths.if_depth; break;
        case DIR_ENDIF: close_level(depths.if_depth); break;
        case DIR_MACRO: ++depths.macro_depth; break;
        case DIR_ENDM: close_level(depths.macro_depth); break;
        case DIR_MREPEAT: ++depths.repeat_depth; break;
        case DIR_ENDR: close_level(depths.repeat_depth); break;
        default: break;
      }
    }
    if (depths.inside())
      s->flags |= SF_NO_OPT | SF_CONDITIONAL;
    else
      s->flags &= ~SF_CONDITIONAL;
  }
};

}  // namespace

bool has_generated_label_form(std::string_view name) {
  return name.rfind("_Tarvox_", 0) == 0 || name.rfind("E_Tarvox_", 0) == 0;
}

void report_unanalysed(Statement* first) {
  for (Statement* s = first; s; s = s->next) {
    if (s->kind == STMT_OTHER) report_warning(WARN_CANT_ANALYZE, s->text());
  }
}

namespace {

// The return-only test of entry s: walks the body from the entry, where only
// comments, line information and return instructions may stand before the
// end label, clearing the mark on what it passes. Returns where the walk
// stopped (null at the end of the list); *return_only tells whether it
// reached the end label having passed a return.
Statement* scan_body_for_return_only(Statement* s, std::uint32_t return_insn, bool* return_only) {
  bool found = false;
  Statement* u = s;
  while (u && (u->flags & SF_IN_FUNCTION) && !(u->flags & SF_END_LABEL)) {
    prefetch_ahead(u);
    u->flags &= ~SF_RETURN_ONLY;
    if (u->flags & SF_INLINE_ASM) break;
    if ((u->flags & SF_FUNC_ENTRY) || u->kind == STMT_BLANK || is_directive(u, DIR__LINE) ||
        is_directive(u, DIR__INSPECT)) {
      u = u->next;
      continue;
    }
    if (is_insn(u, return_insn)) {
      found = true;
      u = u->next;
      continue;
    }
    break;
  }
  *return_only = u && (u->flags & SF_END_LABEL) && found;
  return u;
}

// The body and rts-only marks as a step of the one marking walk, made on a
// statement after the other steps have marked it. A body is known when the
// walk reaches its end label; the rts-only test of its entry then reads the
// marks of that body only, all made by then. A body that a second entry or
// the end of the unit breaks off is cleared again from its entry; every
// statement but an rts-only entry loses the return-only mark.
struct BodyStep {
  static constexpr std::uint32_t BODY_MARKS = SF_IN_FUNCTION | SF_RETURN_ONLY;
  Statement* entry = nullptr;  // the entry of the body the walk is in

  void operator()(Statement* s) {
    if (entry && (s->flags & SF_FUNC_ENTRY)) {
      // A second entry before any end label: the first one has no body.
      clear_from(entry, s, BODY_MARKS);
      entry = nullptr;
    }
    if (!entry) {
      if (s->flags & SF_FUNC_ENTRY) {
        entry = s;
        s->flags |= SF_IN_FUNCTION;
      } else {
        s->flags &= ~BODY_MARKS;
      }
      return;
    }
    s->flags = (s->flags | SF_IN_FUNCTION) & ~SF_RETURN_ONLY;
    if (!(s->flags & SF_END_LABEL)) return;
    bool return_only = false;
    scan_body_for_return_only(entry, INSN_RTS, &return_only);
    set_flag(entry, SF_RETURN_ONLY, return_only);
    entry = nullptr;
  }

  // At the end of the unit: a body still open has no end label.
  void finish() {
    if (entry) clear_from(entry, nullptr, BODY_MARKS);
  }
};

}  // namespace

bool mark_return_only(Statement* first, std::uint32_t return_insn) {
  bool marked = false;
  Statement* s = first;
  while (s) {
    prefetch_ahead(s);
    if (!(s->flags & SF_FUNC_ENTRY)) {
      s->flags &= ~SF_RETURN_ONLY;
      s = s->next;
      continue;
    }
    bool return_only = false;
    Statement* u = scan_body_for_return_only(s, return_insn, &return_only);
    if (u) u->flags &= ~SF_RETURN_ONLY;
    set_flag(s, SF_RETURN_ONLY, return_only);
    marked = marked || return_only;
    s = u ? u->next : nullptr;
  }
  return marked;
}

void mark_unit_structure(Statement* first) {
  // The eight walks in one: each statement's marks of the inline-assembly,
  // function-entry, end-label, M/L-label, ._tarvox and conditional-region
  // walks depend only on the statements up to it and on the marks the steps
  // before made on it (an entry is marked ahead, on a label no step after
  // looks at for that mark); the body and return-only marks, made last, read
  // only the marks of statements the walk has passed; and nothing reads the
  // ._tarvox and conditional marks. So the flags come out as the eight walks
  // one after the other leave them.
  InlineAsmStep inline_asm;
  FunctionEntryStep function_entry;
  NoOptStep no_opt;
  ConditionalStep conditional;
  BodyStep body;
  reit_seen = false;
  for_each_statement(first, [&](Statement* s) {
    if (is_insn(s, INSN_REIT)) reit_seen = true;
    inline_asm(s);
    function_entry(s);
    end_label_step(s);
    m_l_label_step(s);
    no_opt(s);
    conditional(s);
    body(s);
  });
  body.finish();
}

bool unit_has_reit() { return reit_seen; }

void reset_marking() {
  label_presence = 0;
  reit_seen = false;
}
