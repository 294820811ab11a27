// The indexed return-only passes against the literal ones: on many generated
// files, prepared as the pipeline prepares a unit, passes 1012, 1004 and the
// reit step of 1010 must leave every statement with the same text and the
// same flag word as the literal scans, after each step. Besides the general
// generated files, a generator of its own makes files full of return-only
// functions in every position the scans treat differently, and a third set
// takes those files and then disturbs their marks (extra entries, bodies
// without SF_IN_FUNCTION, deleted lines), since the literal scans define the
// result for any state of the marks.
// TARVOX_RETURN_ONLY_SEEDS sets the number of seeds per set (2000 by default).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/run.h"
#include "generate.h"
#include "optimizer/marking.h"
#include "optimizer/passes.h"
#include "return_only_literal.h"
#include "output/writer.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

namespace {

int seed_count() {
  const char* n = std::getenv("TARVOX_RETURN_ONLY_SEEDS");
  return n ? std::atoi(n) : 2000;
}

using Random = TestRandom;

// ---- the generator of files full of return-only functions ----

struct RichFile {
  Random r;
  std::string out;
  int n = 0;

  void line(const std::string& text) { out += text + "\n"; }
  std::string number() { return std::to_string(++n); }

  void code_section() {
    const char* name = r.pick({"program", "program", "other", "rom2"});
    if (r.chance(8))
      line(std::string("\t.section\t") + name + ",code");  // not a CODE directive
    else if (r.chance(5))
      line(std::string("\t.section\t") + name);
    else
      line(std::string("\t.section\t") + name + ",CODE");
  }

  void data_section() {
    line(std::string("\t.section\t") + r.pick({"data", "bss"}) + ",DATA");
    line("_d" + number() + ":\t.blkw\t2");
  }

  // The lines in front of an entry label: .align, .glb, maybe .rvector.
  void entry_head(const std::string& name) {
    if (r.chance(40)) line(r.chance(85) ? "\t.align" : "La" + number() + ":\t.align");
    if (r.chance(15)) line("\t._line\t" + std::to_string(r.below(50)));
    if (r.chance(95)) line("\t.glb\t" + name);
    if (r.chance(10)) line("\t.rvector\t3," + name);
    line(name + ":");
  }

  // The end label and what may follow it.
  void end_label() {
    if (r.chance(88)) line("E" + number() + ":");
    if (r.chance(30)) line("M" + number() + ":");
    if (r.chance(10)) line("\t._efunc\t_x");
  }

  void return_only(const char* ret) {
    std::string name;
    switch (r.below(12)) {
      case 0: name = "M" + number(); break;  // an entry that is also an M label
      case 1: name = "E" + number(); break;  // an entry that is also an end label
      default: name = "_g" + number(); break;
    }
    entry_head(name);
    if (r.chance(15)) line("; only returns");
    if (r.chance(15)) line("\t._line\t" + std::to_string(r.below(50)));
    if (r.chance(12))
      line("L" + number() + ":\t" + ret);  // a labelled return
    else
      line(std::string("\t") + ret);
    if (r.chance(8)) line(std::string("\t") + ret);
    end_label();
  }

  void ordinary() {
    std::string name = "_f" + number();
    entry_head(name);
    int body = 1 + static_cast<int>(r.below(4));
    for (int i = 0; i < body; ++i) {
      switch (r.below(8)) {
        case 0: line("\trts"); break;  // an early return
        case 1: line("L" + number() + ":"); break;
        case 2: line("\t._line\t7"); break;
        case 3: line("\treit"); break;
        default: line(std::string("\t") + r.pick({"mov.w\tR0,R1", "inc.w\tR0", "nop", "jsr\t_h"})); break;
      }
    }
    if (r.chance(90)) line(r.chance(10) ? "L" + number() + ":\trts" : "\trts");
    end_label();
  }

  // Functions the passes must leave where they are, or a ._tarvox OFF
  // region where they act all the same.
  void enclosed() {
    switch (r.below(5)) {
      case 0:
        line("\t.if\tDEBUG");
        r.chance(50) ? return_only("rts") : ordinary();
        if (r.chance(40)) line("\t.else");
        if (r.chance(50)) return_only("rts");
        line("\t.endif");
        break;
      case 1:
        line("MAC" + number() + "\t.macro");
        r.chance(50) ? return_only("rts") : ordinary();
        line("\t.endm");
        break;
      case 2:
        line("\t.mrepeat\t2");
        return_only("rts");
        line("\t.endr");
        break;
      case 3:
        line(";#### ASM START");
        r.chance(60) ? return_only("rts") : ordinary();
        if (r.chance(85)) line(";#### ASM END");
        break;
      default:
        line("\t._tarvox\tOFF");
        r.chance(60) ? return_only("rts") : ordinary();
        if (r.chance(70)) line("\t._tarvox\tON");
        break;
    }
  }

  void item() {
    switch (r.below(20)) {
      case 0:
      case 1: code_section(); break;
      case 2: data_section(); break;
      case 3:
      case 4:
      case 5:
      case 6: ordinary(); break;
      case 7: return_only("reit"); break;
      case 8: enclosed(); break;
      case 9:  // a stray return or end label outside any function
        line(r.chance(50) ? "\trts" : "E" + number() + ":");
        break;
      case 10:  // a function without end label
        entry_head("_n" + number());
        line("\trts");
        break;
      default: return_only("rts"); break;
    }
  }

  std::string make() {
    line("\t._LANG\t'C',1.00.00,'C'");
    // Return-only functions before the first CODE directive.
    if (r.chance(30)) {
      int head = 1 + static_cast<int>(r.below(3));
      for (int i = 0; i < head; ++i) r.chance(70) ? return_only("rts") : ordinary();
    }
    if (r.chance(85)) code_section();
    int items = 3 + static_cast<int>(r.below(40));
    for (int i = 0; i < items; ++i) item();
    if (r.chance(30)) line("\t.end");
    return out;
  }
};

std::string rich_file(std::uint64_t seed) {
  RichFile f{Random{seed * 7919u + 3}, "", 0};
  return f.make();
}

// ---- running both implementations ----

struct Snapshot {
  std::string text;
  std::vector<std::uint32_t> flags;
};

Snapshot take(const Statement* first) {
  Snapshot shot{render_statements(first), {}};
  for (const Statement* s = first; s; s = s->next) shot.flags.push_back(s->flags);
  return shot;
}

// Disturbs the marks of a prepared unit: the literal scans define the result
// for any marks, not only for those the marking gives.
void disturb(Statement* first, std::uint64_t seed) {
  Random r{seed * 104729u + 11};
  for (Statement* s = first; s; s = s->next) {
    bool label_line = is_label_line(s);
    if (label_line && r.chance(6)) s->flags |= SF_FUNC_ENTRY | SF_RETURN_ONLY | SF_IN_FUNCTION;
    if (label_line && r.chance(3)) s->flags |= SF_M_LABEL;
    if (label_line && r.chance(3)) s->flags |= SF_END_LABEL;
    if (r.chance(5)) s->flags ^= SF_IN_FUNCTION;
    if (s->kind == STMT_INSN && s->prev && r.chance(3)) delete_statement(s);
  }
}

enum class Implementation { kLiteral, kIndexed };

// Reads `text` and prepares it as the pipeline does, then runs 1012 (unless
// left out), 1004, and the reit step of 1010, with a snapshot after each.
std::vector<Snapshot> run_steps(const std::string& text, Implementation impl, bool with_1012,
                                std::uint64_t disturb_seed) {
  reset_run_state();
  Statement* first = read_source_text(text);
  std::vector<Snapshot> shots;
  if (!first) return shots;
  mark_unit_structure(first);
  if (disturb_seed) disturb(first, disturb_seed);
  bool literal = impl == Implementation::kLiteral;
  if (with_1012) {
    literal ? literal_attach_return_only(first) : pass_attach_return_only(first);
    shots.push_back(take(first));
  }
  literal ? literal_merge_return_only(first, INSN_RTS) : pass_merge_return_only(first, INSN_RTS);
  shots.push_back(take(first));
  mark_return_only(first, INSN_REIT);
  literal ? literal_merge_return_only(first, INSN_REIT) : pass_merge_return_only(first, INSN_REIT);
  shots.push_back(take(first));
  return shots;
}

// "" when both implementations agree at every step, else where they part.
std::string compare(const std::string& text, bool with_1012, std::uint64_t disturb_seed) {
  std::vector<Snapshot> literal = run_steps(text, Implementation::kLiteral, with_1012, disturb_seed);
  std::vector<Snapshot> indexed = run_steps(text, Implementation::kIndexed, with_1012, disturb_seed);
  const char* steps_with[] = {"1012", "1004", "1010 reit"};
  const char* const* steps = with_1012 ? steps_with : steps_with + 1;
  if (literal.size() != indexed.size()) return "different number of steps";
  for (std::size_t i = 0; i < literal.size(); ++i) {
    if (literal[i].text != indexed[i].text)
      return std::string("output after ") + steps[i] + ":\n--- literal\n" + literal[i].text + "--- indexed\n" +
             indexed[i].text;
    if (literal[i].flags != indexed[i].flags) return std::string("flags after ") + steps[i];
  }
  return "";
}

// How many of the inputs the passes changed: the comparison means something
// only when they act.
struct Tally {
  int files = 0;
  int changed = 0;
};

void count(Tally* tally, const std::string& text, bool with_1012) {
  ++tally->files;
  std::vector<Snapshot> shots = run_steps(text, Implementation::kIndexed, with_1012, 0);
  reset_run_state();
  Statement* first = read_source_text(text);
  if (!shots.empty() && first && shots.back().text != render_statements(first)) ++tally->changed;
}

TEST(ReturnOnlyDifferential, GeneratedFiles) {
  Tally tally;
  for (int seed = 1; seed <= seed_count(); ++seed) {
    std::string text = generate_file(seed);
    ASSERT_EQ(compare(text, true, 0), "") << "seed " << seed;
    ASSERT_EQ(compare(text, false, 0), "") << "without 1012, seed " << seed;
    count(&tally, text, true);
  }
  EXPECT_GT(tally.changed, tally.files / 10);
}

TEST(ReturnOnlyDifferential, FilesFullOfReturnOnlyFunctions) {
  Tally tally;
  for (int seed = 1; seed <= seed_count(); ++seed) {
    std::string text = rich_file(seed);
    ASSERT_EQ(compare(text, true, 0), "") << "seed " << seed;
    ASSERT_EQ(compare(text, false, 0), "") << "without 1012, seed " << seed;
    count(&tally, text, true);
  }
  EXPECT_GT(tally.changed, tally.files / 2);
}

TEST(ReturnOnlyDifferential, FilesWithDisturbedMarks) {
  for (int seed = 1; seed <= seed_count(); ++seed) {
    std::string text = rich_file(seed + 500000);
    ASSERT_EQ(compare(text, true, seed), "") << "seed " << seed;
    ASSERT_EQ(compare(text, false, seed), "") << "without 1012, seed " << seed;
  }
}

}  // namespace
