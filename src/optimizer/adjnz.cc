// Pass 1003: a counter step by a small immediate followed by a branch taken
// while the result is not zero becomes the single add-and-branch adjnz:
//     sub.w  #1,R0                    (deleted)
//     jne    L5               ->      adjnz.w  #-1,R0,L5
// The new line takes the place of the jump, so blank lines and debugging
// directives between the two stay in front of it; a same-line label of the
// step moves onto it.
//
// adjnz changes no flags, while the sub or add it replaces set all four. So
// a pair is fused only where no code reads those flags afterwards: on the
// fall-through path from the line after the jump, and on the branch path
// from the one line that defines the jump's target, each line must set the
// flags anew (add, sub, cmp, neg, abs) or leave the function (a call, a
// return) before anything reads them. Lines that read no flag are passed
// over on the way; anything else (a flag-reading instruction, a jump, a
// directive that is not line information, inline assembly, shared code)
// counts as a reader.
#include <algorithm>
#include <iterator>
#include <string_view>
#include <vector>

#include "optimizer/passes.h"
#include "optimizer/walk.h"
#include "source/formatter.h"
#include "source/statement.h"
#include "source/tables.h"
#include "source/text.h"

namespace {

// Instructions that read no flag; the logic ones set only S and Z, so the
// carry and overflow of the old step would still be there: the path goes on.
constexpr std::uint32_t FLAGS_UNREAD[] = {
    INSN_NOP, INSN_PUSH, INSN_PUSHM, INSN_PUSHA, INSN_POP, INSN_POPM, INSN_MOV,
    INSN_AND, INSN_OR,   INSN_XOR,   INSN_NOT,   INSN_TST, INSN_INC,  INSN_DEC,
};
constexpr InsnIdSet FLAGS_UNREAD_SET(FLAGS_UNREAD);
// Instructions that set C, O, S and Z without reading any of them.
constexpr std::uint32_t FLAGS_SET_ANEW[] = {INSN_ADD, INSN_SUB, INSN_CMP, INSN_NEG, INSN_ABS};
constexpr InsnIdSet FLAGS_SET_ANEW_SET(FLAGS_SET_ANEW);
// Calls and returns: no callee or caller is given the flags.
constexpr std::uint32_t FLAGS_LEFT_BEHIND[] = {INSN_JSR, INSN_JSRI, INSN_JSRS, INSN_RTS, INSN_REIT, INSN_EXITD};
constexpr InsnIdSet FLAGS_LEFT_BEHIND_SET(FLAGS_LEFT_BEHIND);

enum class FlagUse { passed_over, set_anew, read };

// What a path reaching s does with the flags at s.
FlagUse flag_use(const Statement* s) {
  if (s->flags & SF_INLINE_ASM) return FlagUse::read;
  // Blank, comment and deleted lines, whatever else marks them.
  if (s->kind == STMT_BLANK) return FlagUse::passed_over;
  // The flags live into shared code through its call, and back out through
  // its added rts.
  if (s->flags & (SF_SHARED_CALL | SF_SHARED_RETURN)) return FlagUse::read;
  if (s->kind == STMT_DIRECTIVE) {
    bool line_information = s->directive() && is_debugging_directive(directive_id_of(s));
    return line_information ? FlagUse::passed_over : FlagUse::read;
  }
  if (s->kind != STMT_INSN || !s->insn()) return FlagUse::read;
  const InsnDetail* d = s->insn();
  std::uint32_t id = insn_id_of(s);
  if (id == 0 || FLAGS_UNREAD_SET.contains(id)) return FlagUse::passed_over;
  if (FLAGS_SET_ANEW_SET.contains(id)) {
    // Stack-pointer arithmetic of a frame is not taken as a flag setter.
    bool on_sp = d->operand_count > 0 && d->operands[d->operand_count - 1].mode == MODE_SP;
    return on_sp ? FlagUse::passed_over : FlagUse::set_anew;
  }
  return FLAGS_LEFT_BEHIND_SET.contains(id) ? FlagUse::set_anew : FlagUse::read;
}

// Whether no path from s reads the flags before setting them: the first
// line from s on that is not passed over decides (the end of the unit: no
// line reads them). Each line judged keeps its verdict in its flag word
// until forget() clears it, so a line is judged once however many paths
// start at it or run through it.
class FlagsDead {
 public:
  ~FlagsDead() { forget(); }

  bool at(Statement* s) {
    std::size_t waiting = judged_.size();
    bool dead = true;
    for (; s; s = s->next) {
      if (s->flags & SF_FLAGS_JUDGED) {
        dead = (s->flags & SF_FLAGS_DEAD) != 0;
        break;
      }
      judged_.push_back(s);
      FlagUse use = flag_use(s);
      if (use == FlagUse::passed_over) continue;
      dead = use == FlagUse::set_anew;
      break;
    }
    for (std::size_t i = waiting; i < judged_.size(); ++i)
      judged_[i]->flags |= SF_FLAGS_JUDGED | (dead ? std::uint32_t{SF_FLAGS_DEAD} : 0u);
    return dead;
  }

  void forget() {
    for (Statement* s : judged_) s->flags &= ~(SF_FLAGS_JUDGED | SF_FLAGS_DEAD);
    judged_.clear();
  }

 private:
  std::vector<Statement*> judged_;
};

// The candidates' target names, each with how many statements carry it as
// their label and whether no path from the (last) one reads the flags. The
// names are made once, after the walk; an open-addressing table, as most
// look-ups are of labels that name no target.
class TargetTable {
 public:
  struct Target {
    std::string_view name;
    int count = 0;
    bool flags_dead = false;
  };

  explicit TargetTable(const std::vector<std::string_view>& names) {
    std::size_t size = 16;
    while (size < 2 * names.size()) size *= 2;
    slots_.resize(size);
    for (std::string_view name : names) {
      Target* t = slot(name);
      t->name = name;
      lengths_ |= length_bit(name);
      if (!name.empty()) first_letters_[static_cast<unsigned char>(name[0])] = true;
    }
  }

  // The target of that name, or nullptr. A name whose length or first
  // letter no target has is refused without a look-up.
  Target* find(std::string_view name) {
    if (!(lengths_ & length_bit(name))) return nullptr;
    if (!name.empty() && !first_letters_[static_cast<unsigned char>(name[0])]) return nullptr;
    Target* t = slot(name);
    return t->name.data() ? t : nullptr;
  }

 private:
  static std::uint64_t length_bit(std::string_view name) {
    return std::uint64_t(1) << std::min<std::size_t>(name.size(), 63);
  }
  // The slot of the name, or the empty slot where it would go.
  Target* slot(std::string_view name) {
    std::uint64_t h = text_hash(name);
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Target& t = slots_[i];
      if (!t.name.data() || t.name == name) return &t;
    }
  }

  std::vector<Target> slots_;
  std::uint64_t lengths_ = 0;  // bit n: some name of n characters (63: longer)
  bool first_letters_[256] = {};
};

// A pair that passed every test but the flags of its two paths.
struct Candidate {
  Statement* step;
  Statement* jump;
  std::int32_t step_value;
  bool fall_through_dead;
};

std::string_view target_of(const Statement* jump) { return jump->insn()->operands[0].text; }

// Counts the statements among `labelled` that define each target, and
// judges the path from each.
void judge_targets(const std::vector<Statement*>& labelled, TargetTable& targets, FlagsDead& flags_dead) {
  for (Statement* s : labelled) {
    TargetTable::Target* t = targets.find(s->label->name);
    if (!t) continue;
    ++t->count;
    t->flags_dead = flags_dead.at(s);
  }
}

// The branch after a step: jne, else jnz.
Statement* find_not_zero_branch(Statement* step) {
  Statement* jump = find_next_insn(step, INSN_JNE);
  return jump ? jump : find_next_insn(step, INSN_JNZ);
}

// The immediate read as a signed number of the instruction's size.
std::int32_t signed_of_size(std::int32_t value, std::uint32_t size_code) {
  if (size_code == SIZE_B) return static_cast<std::int8_t>(value & 0xFF);
  if (size_code == SIZE_W) return static_cast<std::int16_t>(value & 0xFFFF);
  return value;
}

// The adjnz step for the pair, or false when the pair does not qualify.
bool adjnz_step(const Statement* step, const Statement* jump, std::int32_t* step_value) {
  const InsnDetail* s = step->insn();
  const InsnDetail* j = jump->insn();
  // A byte step cannot count an address register.
  if (s->size_code == SIZE_B && s->operand_count >= 2 &&
      (s->operands[1].mode == MODE_A0 || s->operands[1].mode == MODE_A1))
    return false;
  if (s->size_code == SIZE_L) return false;
  if (s->operand_count != 2 || j->operand_count != 1) return false;
  const Operand& immediate = s->operands[0];
  if (immediate.mode != MODE_IMM || (immediate.flags & OPF_SYMBOLIC)) return false;
  if (!next_is_understood(jump->next)) return false;

  std::int32_t v = signed_of_size(immediate.value, s->size_code);
  if (s->insn_id == INSN_SUB) {
    if (v < -7 || v > 8) return false;
    *step_value = -v;
  } else {
    if (v < -8 || v > 7) return false;
    *step_value = v;
  }
  return true;
}

void make_adjnz(Statement* step, Statement* jump, std::int32_t step_value) {
  const InsnDetail* s = step->insn();
  InsnDetail* d = new_insn_detail(3);
  d->mnemonic = "adjnz";
  d->insn_id = INSN_ADJNZ;
  d->size_code = s->size_code;
  d->format_code = s->format_code;
  d->operand_count = 3;
  d->operands[0].mode = MODE_IMM;
  d->operands[0].flags = OPF_PLAIN;
  set_immediate_value(step_value, d, 0);
  d->operands[1] = copy_operand(s->operands[1]);
  d->operands[2] = copy_operand(jump->insn()->operands[0]);

  Statement* fused = new_statement_like(step);
  fused->label = step->label ? copy_label(step) : nullptr;
  set_insn(fused, d);
  rebuild_source_text(fused);
  insert_after(jump, fused);
  delete_statement(step);
  delete_statement(jump);
}

}  // namespace

void pass_make_adjnz(Statement* first) {
  // The pairs are found first, with the path that falls through each, and
  // then the branch paths: every verdict is taken on the lines as they stand
  // before the first fusion. Fusing one pair never makes or breaks another
  // (each fusion changes only its own two lines and the line it inserts).
  std::vector<Candidate> candidates;
  std::vector<std::string_view> names;  // each candidate's target
  std::vector<Statement*> labelled;     // every statement with a label, in file order
  FlagsDead flags_dead;
  auto note_label = [&](Statement* s) {
    if (s->label) labelled.push_back(s);
  };
  // A loop's head mostly stands a few lines before its jump: the path from
  // it is judged while those lines are at hand (how many statements define
  // the label is counted after the walk).
  constexpr std::size_t NEAR = 8;
  walk_statements(first, [&](Statement* s) {
    if (!is_optimisable(s) || !(is_insn(s, INSN_SUB) || is_insn(s, INSN_ADD))) return;
    Statement* jump = find_not_zero_branch(s);
    std::int32_t step_value = 0;
    if (!jump || !adjnz_step(s, jump, &step_value)) return;
    std::string_view name = target_of(jump);
    for (std::size_t i = labelled.size(), seen = 0; i-- > 0 && seen < NEAR; ++seen) {
      if (labelled[i]->label->name == name) flags_dead.at(labelled[i]);
    }
    candidates.push_back({s, jump, step_value, flags_dead.at(jump->next)});
    names.push_back(name);
  }, note_label);
  if (candidates.empty()) return;
  TargetTable targets(names);
  judge_targets(labelled, targets, flags_dead);
  flags_dead.forget();
  for (std::size_t i = 0; i < candidates.size(); ++i) {
    const Candidate& c = candidates[i];
    const TargetTable::Target* target = targets.find(names[i]);
    if (c.fall_through_dead && target && target->count == 1 && target->flags_dead)
      make_adjnz(c.step, c.jump, c.step_value);
  }
}
