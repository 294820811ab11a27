// The fast commonization search against the plain one: whole runs over
// generated files, once with each search, must write the same bytes. The
// files come from the fuzz generator and from a generator of its own, rich
// in what the search must get exactly right: many repeated runs and near
// misses, adjacent and overlapping occurrences, CODE sections of one and of
// several names with data sections between them, more than one unit,
// inline assembly, ._tarvox regions, calls reading a table, stack runs,
// more occurrences of one instruction than the table holds, and -fl= from 0
// to 8. TARVOX_DIFF_FILES sets how many files (2000 by default, 500 under
// the address sanitizer).
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commonize/commonize.h"
#include "driver/diagnostics.h"
#include "driver/options.h"
#include "driver/run.h"
#include "generate.h"
#include "optimizer/pipeline.h"
#include "optimizer/units.h"
#include "output/writer.h"
#include "source/reader.h"

namespace {

// Under the sanitizers a run takes many times longer: fewer files there by
// default.
#if defined(__SANITIZE_ADDRESS__)
constexpr int DEFAULT_FILES = 500;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr int DEFAULT_FILES = 500;
#else
constexpr int DEFAULT_FILES = 2000;
#endif
#else
constexpr int DEFAULT_FILES = 2000;
#endif

int file_count() {
  const char* n = std::getenv("TARVOX_DIFF_FILES");
  return n ? std::atoi(n) : DEFAULT_FILES;
}

using Random = TestRandom;

// A small pool, so that instructions and runs repeat all over a file; some
// lines differ from others only where the comparison must look (the value
// or the text of an operand, the spacing of a jsr).
const std::vector<std::string> kSingles = {
    "\tmov.w\tR0,R1",     "\tmov.w\tR2,R1",      "\tmov.w\t#1,R0",       "\tmov.w\t#01H,R0",
    "\tmov.w\t4[FB],R0",  "\tmov.w\t04H[fb],R0", "\tmov.w\t_x+1,R0",     "\tmov.w\t_x+01,R0",
    "\tmov.w\t_y,R0",     "\tadd.w\t#1,R0",      "\tadd.w\t#_s,R0",      "\tsub.w\t#1,R3",
    "\tjsr\t_putc",       "\tjsr  _putc",        "\tinc.w\tR0",          "\tnop",
    "\tmov.b\t_f,R0L",    "\tand.b\t#0FH,R0L",   "\tmov.w\t[A0],R1",     "\tmov.w\t10,R2",
    "\tmov.w\t0AH,R2",    "\tcmp.w\t#1,R0",      "\tshl.w\t#1,R1",       "\tmov.w\tR1,_count",
};

const std::vector<std::vector<std::string>> kRuns = {
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

// One snippet of a function body.
void emit_snippet(Random& r, std::string& out, int& label) {
  auto line = [&](const std::string& text) { out += text + "\n"; };
  auto run_lines = [&](const std::vector<std::string>& run) {
    // Sometimes only a prefix, sometimes one instruction changed, sometimes
    // a debugging line or a comment inside.
    std::size_t n = r.chance(20) ? 1 + r.below(static_cast<std::uint32_t>(run.size())) : run.size();
    std::size_t changed = r.chance(15) ? r.below(static_cast<std::uint32_t>(n)) : n;
    for (std::size_t i = 0; i < n; ++i) {
      line(i == changed ? r.pick(kSingles) : run[i]);
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
      run_lines(r.pick(kRuns));
      break;
    case 7:
    case 8:
    case 9:
      line(r.pick(kSingles));
      break;
    case 10: {  // one instruction again and again: adjacent and overlapping
      std::string insn = r.pick(kSingles);
      for (std::uint32_t i = 0, n = 2 + r.below(8); i < n; ++i) line(insn);
      break;
    }
    case 11: {  // a pair again and again
      std::string a = r.pick(kSingles), b = r.pick(kSingles);
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
      run_lines(r.pick(kRuns));
      line(";#### ASM END");
      break;
    case 15:  // optimisation switched off
      line("\t._tarvox\tOFF");
      run_lines(r.pick(kRuns));
      line("\t._tarvox\tON");
      break;
    case 16:  // conditional code
      line("\t.if\tDEBUG");
      run_lines(r.pick(kRuns));
      if (r.chance(50)) line("\t.else");
      line("\t.endif");
      break;
    case 17:  // a call that reads the table after it
      line("\tjsr\t_switch");
      line("\t.word\tL1,L2");
      break;
    case 18:  // never shareable
      line(r.pick(std::vector<std::string>{"\tpushm\tR1,R3", "\tpopm\tR1,R3", "\tenter\t#04H",
                                           "\tadjnz.w\t#-1,R0,L1", "\tldc\t#0,FB"}));
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
      line(r.pick(std::vector<std::string>{"\trts", "\tjmp\t_out", "\treit", "\tjmps\t3"}));
      break;
    default:
      for (std::uint32_t i = 0, n = 2 + r.below(4); i < n; ++i) line(r.pick(kSingles));
      break;
  }
}

// The section line before a function; a CODE section of another name only
// in a file with `two_names`.
std::string section_line(Random& r, bool two_names) {
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

// One unit: functions with entry and end labels and bodies of snippets.
std::string generate_unit(Random& r, int functions, int& label) {
  std::string out = "\t._LANG\t'C',1.00.00,'C'\n";
  if (r.chance(95)) out += "\t.section\tprogram,CODE\n";
  int sectioned = r.below(3);  // 0: none, 1: some, 2: many section lines
  bool two_names = r.chance(30);
  for (int f = 1; f <= functions; ++f) {
    if (sectioned && r.chance(sectioned == 1 ? 8 : 30)) out += section_line(r, two_names);
    std::string name = "_f" + std::to_string(f);
    out += "\t.glb\t" + name + "\n" + name + ":\n";
    for (std::uint32_t i = 0, n = 1 + r.below(12); i < n; ++i) emit_snippet(r, out, label);
    out += r.pick(std::vector<std::string>{"\trts\n", "\trts\n", "\treit\n", "\texitd\n",
                                           "\tjmp\t_out\n"});
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
  std::string insn = r.pick(std::vector<std::string>{"\tmov.w\tR0,R1", "\tinc.w\tR0", "\tnop"});
  std::uint32_t count = 1000 + r.below(300);
  for (std::uint32_t i = 0; i < count; ++i) {
    out += insn + "\n";
    if (r.chance(40)) out += r.pick(kSingles) + "\n";
    if (r.chance(2)) out += r.chance(50) ? "\t.section\tdata,DATA\n" : "\t.section\tprogram,CODE\n";
    // Now and then a CODE section of another name and back: the searches
    // before it fail there, unless the table fills first.
    if (r.below(1000) < 3) out += "\t.section\tother,CODE\n\tnop\n\t.section\tprogram,CODE\n";
  }
  out += "\trts\nEc" + std::to_string(number) + ":\n";
  if (r.chance(50)) out += "\t.section\tother,CODE\n";
  return out;
}

struct Case {
  std::vector<std::string> inputs;
  std::vector<std::string> options;
};

Case generate_case(std::uint64_t seed) {
  Case c;
  Random r{seed * 0x9E3779B97F4A7C15ull + 3};
  // Files of the two shapes that stress the search most, with options of
  // their own; then a third from the fuzz generator, with its options.
  if (seed % 25 == 2 || seed % 25 == 3) {
    c.inputs.push_back(generate_shaped_file(seed, seed % 25 == 2 ? FileShape::stack : FileShape::sections));
    c.options = generate_options(seed);
    return c;
  }
  if (seed % 3 == 0) {
    c.inputs.push_back(generate_file(seed));
    c.options = generate_options(seed);
    return c;
  }
  int units = r.chance(80) ? 1 : 2 + static_cast<int>(r.below(2));
  int label = 100;
  for (int u = 0; u < units; ++u) {
    int functions = r.pick(std::vector<int>{2, 4, 8, 20, 40, 120});
    std::string unit = generate_unit(r, functions, label);
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
    c.inputs.push_back(unit);
  }
  if (r.chance(85)) {
    // 0 to 8, now and then empty or longer than the grams the index keeps.
    std::uint32_t length = r.below(10);
    std::string odd = r.chance(50) ? "-fl=" : "-fl=12";
    c.options.push_back(length == 9 ? odd : "-fl=" + std::to_string(length));
  }
  if (r.chance(20)) c.options.push_back("-OSA");
  if (r.chance(15)) c.options.push_back("-fcout");
  if (r.chance(15)) c.options.push_back("-finfo");
  for (int pass = 1001; pass <= 1012; ++pass) {
    if (pass != 1011 && r.chance(5)) c.options.push_back("-off=" + std::to_string(pass));
  }
  return c;
}

struct Result {
  int status = 0;
  std::string output;
};

// The whole program on a one-unit case.
Result run_file(const std::string& dir, const Case& c) {
  std::string in_name = dir + "/unit1.qsm";
  std::string out_name = dir + "/out.qsm";
  if (std::FILE* f = std::fopen(in_name.c_str(), "wb")) {
    std::fwrite(c.inputs[0].data(), 1, c.inputs[0].size(), f);
    std::fclose(f);
  }
  std::remove(out_name.c_str());
  std::vector<std::string> args = {"tarvox", in_name, "-o", out_name};
  args.insert(args.end(), c.options.begin(), c.options.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  Result result;
  result.status = run_tarvox(static_cast<int>(args.size()), argv.data());
  if (std::FILE* f = std::fopen(out_name.c_str(), "rb")) {
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) result.output.append(buffer, got);
    std::fclose(f);
  }
  return result;
}

// Several units, which the command line does not allow but the run
// supports: read one after the other, optimised in order (the section names
// carry over from one to the next), and each rendered.
Result run_units(const Case& c) {
  static const char* const names[] = {"unit1.qsm", "unit2.qsm", "unit3.qsm"};
  reset_run_state();
  std::vector<std::string> args = {"tarvox", names[0], "-o", "out.qsm"};
  args.insert(args.end(), c.options.begin(), c.options.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  Result result;
  try {
    parse_command_line(static_cast<int>(args.size()), argv.data());
    for (std::size_t i = 0; i < c.inputs.size(); ++i) {
      add_source_unit(names[i], read_source_text(c.inputs[i]));
    }
    optimize_units(first_source_unit());
    for (const SourceUnit* u = first_source_unit(); u; u = u->next) {
      result.output += render_statements(u->first_statement) + "\f\n";
    }
  } catch (const RunExit& exit) {
    result.status = exit.status;
  }
  reset_run_state();
  return result;
}

Result run_case(const std::string& dir, const Case& c, bool reference) {
  use_plain_search(reference);
  Result result = c.inputs.size() == 1 ? run_file(dir, c) : run_units(c);
  use_plain_search(false);
  return result;
}

std::string temp_dir() {
  char name[] = "/tmp/tarvox_differential_XXXXXX";
  return mkdtemp(name) ? name : "/tmp";
}

std::string describe(const Case& c) {
  std::string text = "options:";
  for (const std::string& o : c.options) text += " " + o;
  return text;
}

TEST(CommonizeDifferential, FastSearchWritesWhatThePlainSearchWrites) {
  std::string dir = temp_dir();
  int shared = 0;
  int compared = 0;
  for (int seed = 1; seed <= file_count(); ++seed) {
    Case c = generate_case(static_cast<std::uint64_t>(seed));
    Result fast = run_case(dir, c, false);
    Result plain = run_case(dir, c, true);
    ASSERT_EQ(fast.status, plain.status) << "seed " << seed << ", " << describe(c);
    ASSERT_EQ(fast.output, plain.output) << "seed " << seed << ", " << describe(c);
    if (plain.output.find("_Tarvox_") != std::string::npos) ++shared;
    ++compared;
  }
  reset_run_state();
  std::remove((dir + "/unit1.qsm").c_str());
  std::remove((dir + "/out.qsm").c_str());
  rmdir(dir.c_str());
  EXPECT_EQ(compared, file_count());
  // The files must give the searches something to find.
  EXPECT_GE(shared, compared / 4);
}

}  // namespace
