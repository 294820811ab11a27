// The shaped files (stack, sections, return-only) and the whole runs of the
// commonization's differential test; generate.cc holds the general files,
// the options and the run invariants.
#include <cstdio>
#include <string>
#include <vector>

#include "generate.h"
#include "source/statement.h"

namespace {

using Random = TestRandom;

// Runs whose stack does not balance on its own.
const std::vector<std::vector<std::string>> STACK_RUNS = {
    {"\tpush.w\tR0", "\tmov.w\t#2,R0", "\tmov.w\tR0,_arg", "\tjsr\t_send"},
    {"\tpush.w\t#4", "\tpush.w\tR1", "\tmov.w\t_n,R0", "\tjsr\t_log2"},
    {"\tpop.w\tR1", "\tmov.w\tR1,_last", "\tmov.w\t#0,R1", "\tpush.w\tR1"},
    {"\tadd.w\t#-4,SP", "\tmov.w\tR0,_tmp", "\tmov.w\t_tmp,R2", "\tmov.w\tR2,_out"},
    {"\tmov.w\t_a,R0", "\tpush.w\tR0", "\tmov.w\t_b,R0", "\tpush.w\tR0", "\tjsr\t_cmp"},
    {"\tpop.w\tR0", "\tmov.w\tR0,_p", "\tmov.w\t_q,R1", "\tpush.w\tR1", "\tpop.w\tR2"},
};

// The instruction the sections shape repeats, and what may follow it.
const std::vector<std::string> AFTER_FREQUENT = {
    "\tmov.w\t#1,R2", "\tadd.w\tR2,R3", "\tmov.w\tR3,_s", "\tshl.w\t#1,R1", "\tcmp.w\t#3,R0",
    "\tmov.w\t_t,A0", "\tmov.b\t#1,R0L", "\tmov.w\tR0,R1"};

std::string stack_body(Random& r, int& next_label) {
  std::string out;
  for (std::uint32_t i = 0, n = 1 + r.below(5); i < n; ++i) {
    for (const std::string& insn : r.pick(r.chance(75) ? STACK_RUNS : REPEATED_RUNS)) out += insn + "\n";
    if (r.chance(40)) {
      std::string label = "L" + std::to_string(++next_label);
      out += "\tcmp.w\t#0,R0\n\tjeq\t" + label + "\n" + label + ":\n";
    }
    if (r.chance(15)) out += "\tmov.w\t_k,R0\n";
  }
  return out;
}

// Runs that each stand in a few places, some across data sections.
const std::vector<std::vector<std::string>> SECTION_RUNS = {
    {"\tmov.w\t_a,R1", "\tadd.w\t#3,R1", "\tmov.w\tR1,_b", "\tmov.w\t#0,R2"},
    {"\tmov.w\t_c,R1", "\tsub.w\t#3,R1", "\tmov.w\tR1,_d", "\tmov.w\t#1,R2"},
    {"\tmov.w\t_e,R3", "\tshl.w\t#2,R3", "\tmov.w\tR3,_g", "\tmov.w\t#2,R2"},
};

// A body of the sections shape. Whether the table fills decides which CODE
// section a search leaves in scan_section, and that decides how far the
// searches after it look: so after each data section the first reference
// is the repeated instruction, cut from what follows by a label, and then a
// run whose other places may lie beyond the next data section.
std::string sections_body(Random& r, int& next_label) {
  std::string out;
  const std::string frequent = "\tinc.w\tR0\n";
  auto anchor = [&] {
    out += frequent + "L" + std::to_string(++next_label) + ":\n";
    for (const std::string& insn : r.pick(SECTION_RUNS)) out += insn + "\n";
  };
  if (r.chance(50)) anchor();
  for (std::uint32_t i = 0, n = 15 + r.below(30); i < n; ++i) {
    std::uint32_t k = r.below(100);
    if (k < 45) {
      // Cut by a branch: a reference there has no run to share.
      out += frequent + "\tjne\tL1\n";
    } else if (k < 55) {
      out += "\tmov.w\tR0,R1\n" + r.pick(AFTER_FREQUENT) + "\n";
    } else if (k < 70) {
      // A run that is shared, its first instruction the repeated one.
      out += frequent + "\tmov.w\t#1,R2\n\tadd.w\tR2,R3\n\tmov.w\tR3,_s\n";
    } else if (k < 80) {
      for (const std::string& insn : r.pick(SECTION_RUNS)) out += insn + "\n";
    } else {
      for (const std::string& insn : r.pick(REPEATED_RUNS)) out += insn + "\n";
    }
    if (r.chance(4)) {
      out += "\t.section\tdata,DATA\n\t.blkw\t1\n\t.section\tprogram,CODE\n";
      anchor();
    }
  }
  return out;
}


// ---- the search shape: many small functions over a small pool ----

// A small pool, so that instructions and runs repeat all over a file; some
// lines differ from others only where the comparison must look (the value
// or the text of an operand, the spacing of a jsr).
const std::vector<std::string> SEARCH_SINGLES = {
    "\tmov.w\tR0,R1",     "\tmov.w\tR2,R1",      "\tmov.w\t#1,R0",       "\tmov.w\t#01H,R0",
    "\tmov.w\t4[FB],R0",  "\tmov.w\t04H[fb],R0", "\tmov.w\t_x+1,R0",     "\tmov.w\t_x+01,R0",
    "\tmov.w\t_y,R0",     "\tadd.w\t#1,R0",      "\tadd.w\t#_s,R0",      "\tsub.w\t#1,R3",
    "\tjsr\t_putc",       "\tjsr  _putc",        "\tinc.w\tR0",          "\tnop",
    "\tmov.b\t_f,R0L",    "\tand.b\t#0FH,R0L",   "\tmov.w\t[A0],R1",     "\tmov.w\t10,R2",
    "\tmov.w\t0AH,R2",    "\tcmp.w\t#1,R0",      "\tshl.w\t#1,R1",       "\tmov.w\tR1,_count",
};

const std::vector<std::vector<std::string>> SEARCH_RUNS = {
    {"\tmov.w\t_count,R0", "\tadd.w\t#1,R0", "\tmov.w\tR0,_count", "\tmov.w\t#0,R0"},
    {"\tmov.w\tR0,R1", "\tshl.w\t#1,R1", "\tadd.w\tR1,R0", "\tmov.w\tR0,_total"},
    {"\tmov.w\tR0,R1", "\tshl.w\t#1,R1", "\tadd.w\tR1,R0", "\tmov.w\tR0,_total", "\trts"},
    {"\tpush.w\tR0", "\tmov.w\t#2,R0", "\tjsr\t_putc", "\tpop.w\tR0"},
    {"\tpush.w\tR0", "\tmov.w\t#2,R0", "\tjsr\t_putc"},
    {"\tpop.w\tR0", "\tmov.w\t#2,R0", "\tpush.w\tR0", "\tnop"},
    {"\tadd.w\t#-4,SP", "\tmov.w\tR0,R1", "\tadd.w\t#4,SP", "\tnop"},
    {"\tmov.w\t_a,R0", "\tmov.w\t_b,R1", "\tjsr\t_mul", "\tmov.w\tR0,_c", "\tjmp\t_out"},
    {"\tmov.b\t_f,R0L", "\tand.b\t#0FH,R0L", "\tmov.b\t_f+1,R0H", "\tand.b\t#0F0H,R0H"},
    {"\tmov.w\t4[FB],R0", "\tmov.w\t6[FB],R1", "\tadd.w\tR1,R0", "\tmov.w\tR0,-4[FB]"},
    {"\tmov.w\tR0,R1", "\tmov.w\tR0,R1", "\tmov.w\tR0,R1", "\tmov.w\tR0,R1", "\tmov.w\tR0,R1"},
    {"\tjsr\t_setjmp", "\tmov.w\tR0,_j", "\tmov.w\t#1,R1", "\tmov.w\tR1,_k"},
    {"\tmov.w\t2[SP],R0", "\tmov.w\tR0,_j", "\tmov.w\t#1,R1", "\tmov.w\tR1,_k"},
    {"\tmov.w\tR0,_j", "\tmov.w\t#1,R1", "\tmov.w\tR1,_k", "\treit"},
};

// One snippet of a function body of the search shape: repeated runs and
// near misses, adjacent and overlapping occurrences, and the lines that cut
// or shield a run.
void search_snippet(Random& r, std::string& out, int& label) {
  auto line = [&](const std::string& text) { out += text + "\n"; };
  auto run_lines = [&](const std::vector<std::string>& run) {
    // Sometimes only a prefix, sometimes one instruction changed, sometimes
    // a debugging line or a comment inside.
    std::size_t n = r.chance(20) ? 1 + r.below(static_cast<std::uint32_t>(run.size())) : run.size();
    std::size_t changed = r.chance(15) ? r.below(static_cast<std::uint32_t>(n)) : n;
    for (std::size_t i = 0; i < n; ++i) {
      line(i == changed ? r.pick(SEARCH_SINGLES) : run[i]);
      if (r.chance(4)) line(r.chance(50) ? "\t._line\t12" : "; note");
    }
  };
  switch (r.below(24)) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
      run_lines(r.pick(SEARCH_RUNS));
      break;
    case 7:
    case 8:
    case 9:
      line(r.pick(SEARCH_SINGLES));
      break;
    case 10: {  // one instruction again and again: adjacent and overlapping
      std::string insn = r.pick(SEARCH_SINGLES);
      for (std::uint32_t i = 0, n = 2 + r.below(8); i < n; ++i) line(insn);
      break;
    }
    case 11: {  // a pair again and again
      std::string a = r.pick(SEARCH_SINGLES), b = r.pick(SEARCH_SINGLES);
      for (std::uint32_t i = 0, n = 2 + r.below(5); i < n; ++i) {
        line(a);
        line(b);
      }
      break;
    }
    case 12:  // a loop: label and conditional jump
      line("L" + std::to_string(++label) + ":");
      line("\tsub.w\t#1,R3");
      line("\tjne\tL" + std::to_string(label));
      break;
    case 13:  // a labelled instruction or a labelled debugging line
      line(r.chance(50) ? "L" + std::to_string(++label) + ":\tmov.w\tR0,R1"
                        : "X" + std::to_string(++label) + ":\t._line\t7");
      break;
    case 14:  // inline assembly
      line(";#### ASM START");
      run_lines(r.pick(SEARCH_RUNS));
      line(";#### ASM END");
      break;
    case 15:  // optimisation switched off
      line("\t._tarvox\tOFF");
      run_lines(r.pick(SEARCH_RUNS));
      line("\t._tarvox\tON");
      break;
    case 16:  // conditional code
      line("\t.if\tDEBUG");
      run_lines(r.pick(SEARCH_RUNS));
      if (r.chance(50)) line("\t.else");
      line("\t.endif");
      break;
    case 17:  // a call that reads the table after it
      line("\tjsr\t_switch");
      line("\t.word\tL1,L2");
      break;
    case 18:  // never shareable
      line(r.pick({"\tpushm\tR1,R3", "\tpopm\tR1,R3", "\tenter\t#04H", "\tadjnz.w\t#-1,R0,L1", "\tldc\t#0,FB"}));
      break;
    case 19:  // an unanalysed line
      line(r.chance(50) ? "\tmov.w:x\tR0,R1" : "\tjmp\t?+");
      break;
    case 20:  // a data section and back
      line("\t.section\tdata,DATA");
      line("_d" + std::to_string(++label) + ":\t.blkw\t1");
      line("\t.section\tprogram,CODE");
      break;
    case 21:
      line(r.chance(50) ? "" : "\t._line\t" + std::to_string(r.below(50)));
      break;
    case 22:  // flow ending in the middle of a body
      line(r.pick({"\trts", "\tjmp\t_out", "\treit", "\tjmps\t3"}));
      break;
    default:
      for (std::uint32_t i = 0, n = 2 + r.below(4); i < n; ++i) line(r.pick(SEARCH_SINGLES));
      break;
  }
}

// The section line before a function of the search shape; a CODE section of
// another name only in a file with `two_names`.
std::string search_section_line(Random& r, bool two_names) {
  switch (r.below(10)) {
    case 0:
      return two_names ? "\t.section\tother,CODE\n" : "\t.section\tprogram,CODE\n";
    case 1:
      return "\t.section\tdata,DATA\n_dd:\t.blkb\t1\n";
    case 2:
      return "\t.section\tconst,ROMDATA\n\t.byte\t1\n\t.section\tprogram,CODE\n";
    case 3:
      return "\t.section\tprogram\n";
    default:
      return "\t.section\tprogram,CODE\n";
  }
}

// One unit of the search shape: functions with entry and end labels and
// bodies of snippets.
std::string search_unit(Random& r, int functions, int& label) {
  std::string out = "\t._LANG\t'C',1.00.00,'C'\n";
  if (r.chance(95)) out += "\t.section\tprogram,CODE\n";
  int sectioned = r.below(3);  // 0: none, 1: some, 2: many section lines
  bool two_names = r.chance(30);
  for (int f = 1; f <= functions; ++f) {
    if (sectioned && r.chance(sectioned == 1 ? 8 : 30)) out += search_section_line(r, two_names);
    std::string name = "_f" + std::to_string(f);
    out += "\t.glb\t" + name + "\n" + name + ":\n";
    for (std::uint32_t i = 0, n = 1 + r.below(12); i < n; ++i) search_snippet(r, out, label);
    out += r.pick({"\trts\n", "\trts\n", "\treit\n", "\texitd\n", "\tjmp\t_out\n"});
    // Now and then no end label: a reference after the last one ends the
    // unit's commonization.
    if (r.chance(95) || f < functions) out += "E" + std::to_string(f) + ":\n";
  }
  if (r.chance(30)) out += "\t.end\n";
  return out;
}

// A function holding more matches of one instruction than the table holds,
// spread so that some are adjacent and some not.
std::string crowded_function(Random& r, int number) {
  std::string name = "_c" + std::to_string(number);
  std::string out = "\t.glb\t" + name + "\n" + name + ":\n";
  std::string insn = r.pick({"\tmov.w\tR0,R1", "\tinc.w\tR0", "\tnop"});
  std::uint32_t count = 1000 + r.below(300);
  for (std::uint32_t i = 0; i < count; ++i) {
    out += insn + "\n";
    if (r.chance(40)) out += r.pick(SEARCH_SINGLES) + "\n";
    if (r.chance(2)) out += r.chance(50) ? "\t.section\tdata,DATA\n" : "\t.section\tprogram,CODE\n";
    // Now and then a CODE section of another name and back: the searches
    // before it fail there, unless the table fills first.
    if (r.below(1000) < 3) out += "\t.section\tother,CODE\n\tnop\n\t.section\tprogram,CODE\n";
  }
  out += "\trts\nEc" + std::to_string(number) + ":\n";
  if (r.chance(50)) out += "\t.section\tother,CODE\n";
  return out;
}

// ---- the return-only shape: return-only functions in every position ----

struct ReturnOnlyFile {
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

}  // namespace

std::string generate_shaped_file(std::uint64_t seed, FileShape shape) {
  if (shape == FileShape::return_only) return ReturnOnlyFile{Random{seed * 7919u + 3}, "", 0}.make();
  Random r{seed * 0x2545F4914F6CDD1Dull + 29};
  std::string out = "\t._LANG\t'C',1.00.00,'C'\n\t.section\tprogram,CODE\n";
  // About a thousand of the repeated instruction in the sections shape.
  int functions = shape == FileShape::stack ? 40 + static_cast<int>(r.below(100)) : 40 + static_cast<int>(r.below(40));
  int other_from = functions - static_cast<int>(r.below(functions / 5 + 1));
  int next_label = 100;
  for (int f = 1; f <= functions; ++f) {
    if (shape == FileShape::sections && f == other_from) out += "\t.section\tother,CODE\n";
    std::string name = "_f" + std::to_string(f);
    out += "\t.glb\t" + name + "\n" + name + ":\n";
    out += shape == FileShape::stack ? stack_body(r, next_label) : sections_body(r, next_label);
    out += r.chance(70) ? "\trts\n" : "\tadd.w\t#4,SP\n\trts\n";
    out += "E" + std::to_string(f) + ":\n";
  }
  return out;
}

GeneratedRun generate_run(std::uint64_t seed) {
  GeneratedRun run;
  Random r{seed * 0x9E3779B97F4A7C15ull + 3};
  // Files of the two shapes that stress the search most, with options of
  // their own; then a third from generate_file, with its options.
  if (seed % 25 == 2 || seed % 25 == 3) {
    run.units.push_back(generate_shaped_file(seed, seed % 25 == 2 ? FileShape::stack : FileShape::sections));
    run.options = generate_options(seed);
    return run;
  }
  if (seed % 3 == 0) {
    run.units.push_back(generate_file(seed));
    run.options = generate_options(seed);
    return run;
  }
  int units = r.chance(80) ? 1 : 2 + static_cast<int>(r.below(2));
  int label = 100;
  for (int u = 0; u < units; ++u) {
    int functions = r.pick(std::vector<int>{2, 4, 8, 20, 40, 120});
    std::string unit = search_unit(r, functions, label);
    if (seed % 25 == 1) {
      // Inserted before the last function, whose end label may be missing.
      std::size_t at = unit.rfind("\t.glb");
      unit.insert(at, crowded_function(r, u) + crowded_function(r, u + 10));
    }
    if (r.chance(2)) {
      // An instruction line holding a NUL byte.
      static const char nul_line[] = "\tmov.w\t#1\0,R0\n";
      unit.insert(unit.find("_f1:\n") + 5, std::string(nul_line, sizeof nul_line - 1));
    }
    run.units.push_back(unit);
  }
  if (r.chance(85)) {
    // 0 to 8, now and then empty or longer than the grams the index keeps.
    std::uint32_t length = r.below(10);
    std::string odd = r.chance(50) ? "-fl=" : "-fl=12";
    run.options.push_back(length == 9 ? odd : "-fl=" + std::to_string(length));
  }
  if (r.chance(20)) run.options.push_back("-OSA");
  if (r.chance(15)) run.options.push_back("-fcout");
  if (r.chance(15)) run.options.push_back("-finfo");
  for (int pass = 1001; pass <= 1012; ++pass) {
    if (pass != 1011 && r.chance(5)) run.options.push_back("-off=" + std::to_string(pass));
  }
  return run;
}

void disturb_marks(Statement* first, std::uint64_t seed) {
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
