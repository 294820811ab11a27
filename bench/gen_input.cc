// Generates a compiler-style assembly file of about N lines for the
// benchmarks: functions with entry and end labels, prologues and epilogues,
// loops with L labels, calls, byte and word arithmetic, data sections
// between code sections, debugging directives, and repeated instruction runs
// drawn from a fixed pool (as a compiler repeats its call sequences and
// function tails). Three shapes:
//
//   typical   as above;
//   stack     most repeated runs move the stack without bringing it back
//             (pushes of arguments without their pops, pops before pushes),
//             so the groups they form are refused for their stack;
//   sections  the last tenth of the functions goes into a CODE section of
//             another name, as when a file puts some functions in a section
//             of their own.
//
//   gen_input LINES [SEED] [REPEAT_PERCENT] [SHAPE] > file.qsm
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Random {
  unsigned long long state;
  unsigned next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33);
  }
  unsigned below(unsigned n) { return n ? next() % n : 0; }
};

// Runs of instructions a compiler writes again and again; %d is replaced by
// a small number chosen per use, so some repeats are exact and some are not.
const std::vector<std::vector<std::string>> kRuns = {
    {"\tmov.w\t_count,R0", "\tadd.w\t#1,R0", "\tmov.w\tR0,_count", "\tmov.w\t#0,R0"},
    {"\tmov.w\t-%d[FB],R0", "\tmov.w\tR0,A0", "\tmov.w\t[A0],R1", "\tmov.w\tR1,-2[FB]"},
    {"\tpush.w\tR0", "\tmov.w\t#%d,R0", "\tjsr\t_putc", "\tpop.w\tR0"},
    {"\tmov.b\t_flags,R0L", "\tand.b\t#0FH,R0L", "\tmov.b\t_flags+1,R0H", "\tand.b\t#0F0H,R0H"},
    {"\tmov.w\tR0,R1", "\tshl.w\t#1,R1", "\tadd.w\tR1,R0", "\tmov.w\tR0,_total"},
    {"\tmov.w\t_a,R0", "\tmov.w\t_b,R1", "\tjsr\t_mul16", "\tmov.w\tR0,_c", "\tmov.w\tR2,_c+2"},
    {"\tmov.b\t#%d,R0L", "\tmov.b\tR0L,_port", "\tbset\t3,_ctrl", "\tnop"},
    {"\tmov.w\t4[FB],R0", "\tmov.w\t6[FB],R1", "\tadd.w\tR1,R0", "\tmov.w\tR0,-4[FB]"},
};

// Runs whose stack does not balance: arguments pushed for a call and left
// for the caller to drop later, a pop before its push, a frame reserved and
// not released.
const std::vector<std::vector<std::string>> kStackRuns = {
    {"\tpush.w\tR0", "\tmov.w\t#%d,R0", "\tmov.w\tR0,_arg", "\tjsr\t_send"},
    {"\tpush.w\t#%d", "\tpush.w\tR1", "\tmov.w\t_count,R0", "\tjsr\t_log2"},
    {"\tpop.w\tR1", "\tmov.w\tR1,_last", "\tmov.w\t#0,R1", "\tpush.w\tR1"},
    {"\tadd.w\t#-4,SP", "\tmov.w\tR0,_tmp", "\tmov.w\t_tmp,R2", "\tmov.w\tR2,_out"},
    {"\tmov.w\t_a,R0", "\tpush.w\tR0", "\tmov.w\t_b,R0", "\tpush.w\tR0", "\tjsr\t_cmp"},
};

// Single instructions for the unrepeated parts of bodies.
const std::vector<std::string> kSingles = {
    "\tmov.w\t#%d,R0",      "\tadd.w\t#%d,R1",      "\tsub.w\t#1,R3",       "\tmov.w\tR0,-%d[FB]",
    "\tmov.b\t_v%d,R0L",    "\tor.w\t#%d,R0",       "\tand.w\t#0FFF0H,R0",  "\tcmp.w\t#%d,R0",
    "\txor.b\t#1,R1L",      "\tmov.w\t_g%d,A0",     "\tmov.w\t[A0],R0",     "\tjsr\t_helper%d",
    "\tmov.w\tR1,R2",       "\tinc.w\tR0",          "\tnot.b\tR0L",         "\tmov.w\t#%dH,R1",
    "\tbtst\t%d,R0",        "\tmov.w\t-2[FB],R0 ; reload",
};

std::string fill(const std::string& pattern, unsigned n) {
  std::string out;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 'd') {
      out += std::to_string(n);
      ++i;
    } else {
      out += pattern[i];
    }
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: gen_input LINES [SEED] [REPEAT_PERCENT]\n");
    return 2;
  }
  long target = std::atol(argv[1]);
  Random rnd{argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1};
  unsigned repeat = argc > 3 ? static_cast<unsigned>(std::atoi(argv[3])) : 30;
  std::string shape = argc > 4 ? argv[4] : "typical";
  if (shape != "typical" && shape != "stack" && shape != "sections") {
    std::fprintf(stderr, "gen_input: unknown shape '%s'\n", shape.c_str());
    return 2;
  }
  bool other_section_opened = false;
  std::string out;
  long lines = 0;
  auto line = [&](const std::string& text) {
    out += text;
    out += '\n';
    ++lines;
  };
  line("\t._LANG\t'C',1.00.00,'C'");
  line("\t..file\t\"gen.c\"");
  line("\t.section\tprogram,CODE");
  int function = 0;
  int label = 0;
  while (lines < target) {
    ++function;
    if (shape == "sections" && !other_section_opened && lines >= target - target / 10) {
      line("\t.section\tprogram_S,CODE");
      other_section_opened = true;
    }
    std::string name = "_f" + std::to_string(function);
    if (rnd.below(10) == 0) {
      line("\t.section\tdata,DATA");
      line("_d" + std::to_string(function) + ":");
      line("\t.blkw\t" + std::to_string(1 + rnd.below(8)));
      line(other_section_opened ? "\t.section\tprogram_S,CODE" : "\t.section\tprogram,CODE");
    }
    line("\t.align");
    line("\t.glb\t" + name);
    line(name + ":");
    line("\t._func\t" + name);
    if (rnd.below(25) == 0) {  // a function that only returns
      line("\trts");
      line("E" + std::to_string(function) + ":");
      line("\t._efunc\t" + name);
      continue;
    }
    bool frame = rnd.below(2) == 0;
    if (frame) line("\tenter\t#0" + std::to_string(2 * (1 + rnd.below(4))) + "H");
    bool saves = rnd.below(3) == 0;
    if (saves) line("\tpushm\tR1,R3");
    unsigned statements = 4 + rnd.below(20);
    std::string exit_label;
    for (unsigned i = 0; i < statements && lines < target; ++i) {
      if (rnd.below(6) == 0) line("\t._line\t" + std::to_string(10 + i));
      if (rnd.below(100) < repeat) {
        bool stack_run = shape == "stack" && rnd.below(4) != 0;
        const auto& pool = stack_run ? kStackRuns : kRuns;
        const auto& run = pool[rnd.below(static_cast<unsigned>(pool.size()))];
        unsigned n = 2 * (1 + rnd.below(2));
        for (const std::string& insn : run) line(fill(insn, n));
        // The result of the call is tested at once.
        if (stack_run) {
          if (exit_label.empty()) exit_label = "L" + std::to_string(++label);
          line("\tcmp.w\t#0,R0");
          line("\tjeq\t" + exit_label);
        }
      } else if (rnd.below(8) == 0) {
        std::string l = "L" + std::to_string(++label);
        line(l + ":");
        line(fill("\tmov.w\t#%d,R3", 1 + rnd.below(9)));
        line("\tsub.w\t#1,R3");
        line("\tjne\t" + l);
      } else if (rnd.below(20) == 0) {
        line(";#### ASM START");
        line("\tnop");
        line("\tfset\tI");
        line(";#### ASM END");
      } else {
        line(fill(kSingles[rnd.below(static_cast<unsigned>(kSingles.size()))], rnd.below(16)));
      }
    }
    if (!exit_label.empty()) line(exit_label + ":");
    if (saves) line("\tpopm\tR1,R3");
    line(frame ? "\texitd" : "\trts");
    line("E" + std::to_string(function) + ":");
    line("\t._efunc\t" + name);
  }
  line("\t.end");
  std::fwrite(out.data(), 1, out.size(), stdout);
  return 0;
}
