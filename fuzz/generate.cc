#include "generate.h"

#include <cstdio>
#include <map>
#include <set>
#include <string_view>

#include "driver/run.h"
#include "source/reader.h"
#include "source/statement.h"
#include "source/tables.h"

// Runs repeated across the file, so the commonization has groups to find.
const std::vector<std::vector<std::string>> REPEATED_RUNS = {
    {"\tmov.w\t_count,R0", "\tadd.w\t#1,R0", "\tmov.w\tR0,_count", "\tmov.w\t#0,R0"},
    {"\tmov.w\t-4[FB],R0", "\tmov.w\tR0,A0", "\tmov.w\t[A0],R1", "\tmov.w\tR1,-2[FB]", "\trts"},
    {"\tpush.w\tR0", "\tmov.w\t#2,R0", "\tjsr\t_putc", "\tpop.w\tR0"},
    {"\tmov.b\t_f,R0L", "\tand.b\t#0FH,R0L", "\tmov.b\t_f+1,R0H", "\tand.b\t#0F0H,R0H"},
    {"\tmov.w\tR0,R1", "\tshl.w\t#1,R1", "\tadd.w\tR1,R0", "\tjeq\tL1", "\tmov.w\tR0,_t"},
    {"\tjsr\t_setjmp", "\tmov.w\tR0,_j", "\tmov.w\t#1,R1", "\tmov.w\tR1,_k"},
    {"\tadd.w\t#-4,SP", "\tmov.w\tR0,1[SP]", "\tadd.w\t#4,SP", "\tnop"},
    {"\tmov.w\t_a,R0", "\tmov.w\t_b,R1", "\tjsr\t_mul", "\tmov.w\tR0,_c", "\tjmp\t_out"},
};

namespace {

using Random = TestRandom;

const std::vector<std::string> BYTE_REGS = {"R0L", "R0H", "R1L", "R1H"};
const std::vector<std::string> WORD_REGS = {"R0", "R1", "R2", "R3", "A0", "A1"};
const std::vector<std::string> DESTS = {"R0",    "R1",   "-2[FB]", "_p0",  "3[SP]",
                                         "[A0]",  "_x+1", "4[SB]",  "R0L",  "-4[FB]"};
const std::vector<std::string> IMMS = {"#1",   "#2",  "#0FH", "#3CH",  "#0FFH", "#-1",
                                        "#7",   "#8",  "#9",   "#-8",   "#0F0H", "#12H",
                                        "#_sym", "#0", "#4",   "#0FFFFH"};
const std::vector<std::string> SIZES = {".b", ".w", ".w", ".l", "", ".a", ".w:g", ".b:s"};


std::string label_name(Random& r, const char* prefix, int max) {
  return std::string(prefix) + std::to_string(1 + r.below(static_cast<std::uint32_t>(max)));
}

void emit_snippet(Random& r, std::string& out, int& next_label) {
  auto line = [&](const std::string& text) { out += text + "\n"; };
  switch (r.below(26)) {
    case 0:
    case 1: {  // logic immediates on one destination
      std::string op = r.chance(50) ? "and" : "or";
      std::string size = r.pick(SIZES), dest = r.pick(DESTS);
      int n = 2 + static_cast<int>(r.below(2));
      for (int i = 0; i < n; ++i) {
        line("\t" + op + size + "\t" + r.pick(IMMS) + "," + (r.chance(85) ? dest : r.pick(DESTS)));
        if (r.chance(15)) line(r.chance(50) ? "\t._line\t7" : "; between");
      }
      break;
    }
    case 2: {  // repeated moves
      std::string size = r.pick(SIZES), dest = r.pick(DESTS);
      line("\tmov" + size + "\t" + r.pick(IMMS) + "," + dest);
      line("\tmov" + size + "\t" + (r.chance(60) ? r.pick(IMMS) : r.pick(WORD_REGS)) + "," + dest);
      break;
    }
    case 3: {  // counter step and branch
      std::string l = "L" + std::to_string(++next_label);
      line(l + ":");
      line("\t" + std::string(r.chance(50) ? "sub" : "add") + r.pick(SIZES) + "\t" + r.pick(IMMS) +
           "," + (r.chance(70) ? r.pick(WORD_REGS) : r.pick(DESTS)));
      if (r.chance(20)) line("");
      line("\t" + std::string(r.chance(50) ? "jne" : (r.chance(50) ? "jnz" : "jeq")) + "\t" + l);
      break;
    }
    case 4: {  // byte pairs on the halves of a register
      std::string base = r.chance(50) ? "R0" : "R1";
      std::string other = base == "R0" ? "R1" : "R0";
      std::string op = r.pick(std::vector<std::string>{"mov", "and", "or", "xor"});
      std::string src1 = r.chance(50) ? other + "L" : r.pick(IMMS);
      std::string src2 = r.chance(50) ? other + "H" : r.pick(IMMS);
      if (r.chance(30)) {
        src1 = "_v:16";
        src2 = "_v+1:16";
      }
      bool swap = r.chance(30);
      line("\t" + op + ".b\t" + (swap ? src2 : src1) + "," + base + (swap ? "H" : "L"));
      line("\t" + op + ".b\t" + (swap ? src1 : src2) + "," + base + (swap ? "L" : "H"));
      if (r.chance(50)) line(r.chance(50) ? "\tmov.w\tR2,R3" : "\tjne\tL1");
      break;
    }
    case 5: {  // load and logic on both halves
      std::string base = r.chance(50) ? "R0" : "R1";
      std::string op = r.pick(std::vector<std::string>{"and", "or", "xor"});
      line("\tmov.b\t_w:8," + base + "L");
      line("\t" + op + ".b\t" + r.pick(IMMS) + "," + base + "L");
      line("\tmov.b\t" + std::string(r.chance(60) ? "_w+1:8" : (r.chance(50) ? base + "L" : "_z")) +
           "," + base + "H");
      line("\t" + op + ".b\t" + r.pick(IMMS) + "," + base + "H");
      if (r.chance(50)) line("\tmov.w\tR2,R3");
      break;
    }
    case 6: {  // bit test, branch and set or clear
      std::string bit = std::to_string(r.below(8));
      std::string base = r.pick(std::vector<std::string>{"R0", "R1", "_flags", "-2[FB]", "4[SB]", "A0"});
      bool set = r.chance(50);
      line("\tbtst\t" + bit + "," + base);
      line("\t" + std::string(set ? "jnz" : "jz") + "\tL" + std::to_string(1 + r.below(5)));
      line("\t" + std::string(set ? "bset" : "bclr") + "\t" + (r.chance(80) ? bit : "_b") + "," +
           (r.chance(85) ? base : "R3"));
      break;
    }
    case 7: {  // reverse moves
      std::string size = r.chance(70) ? ".w" : ".b";
      std::string a = r.pick(std::vector<std::string>{"R0", "R1", "-2[FB]", "A0", "_x"});
      std::string b = r.pick(std::vector<std::string>{"R1", "R2", "-4[FB]", "A1"});
      if (size == ".b") {
        a = r.chance(50) ? "R0L" : "A0";
        b = "R1H";
      }
      line("\tmov" + size + "\t" + a + "," + b);
      line("\tmov" + size + "\t" + b + "," + a);
      break;
    }
    case 8: {  // jump to the next line
      std::string l = "L" + std::to_string(++next_label);
      line("\t" + std::string(r.chance(60) ? "jmp" : "jne") + "\t" + (r.chance(85) ? l : "_q"));
      if (r.chance(30)) line(r.chance(50) ? "" : "\t._line\t3");
      if (r.chance(30)) line("L" + std::to_string(++next_label) + ":");
      line(l + ":");
      break;
    }
    case 9:  // push and pop
      line("\tpushm\tR0,R1");
      if (r.chance(20)) line("; c");
      line(r.chance(70) ? "\tpopm\tR1,R0" : "\tpopm\tR0");
      break;
    case 10:
    case 11:
    case 12:
    case 13: {  // a repeated run
      for (const std::string& insn : r.pick(REPEATED_RUNS)) line(insn);
      break;
    }
    case 14:  // conditional code
      line("\t.if\tDEBUG");
      if (r.chance(40)) line("\t.if\tX");
      line("\tmov.w\t#1,R0");
      line("\trts");
      if (r.chance(40)) line("\t.endif");
      if (r.chance(50)) line("\t.else");
      for (const std::string& insn : r.pick(REPEATED_RUNS)) line(insn);
      line("\t.endif");
      break;
    case 15:  // macro and repeat bodies
      line(r.chance(50) ? "M" + std::to_string(++next_label) + "\t.macro" : "\t.mrepeat\t3");
      line("\tand.w\t#1,R0");
      line("\tand.w\t#2,R0");
      line(r.chance(50) ? "\t.endm" : "\t.endr");
      break;
    case 16:  // inline assembly
      line(r.chance(80) ? ";#### ASM START" : ";#### asm start");
      line("\tand.b\t#1,R0L");
      line("\tand.b\t#2,R0L");
      if (r.chance(30)) line("E_user:");
      if (r.chance(30)) line("\tmov.w:x\tR0,R1");
      if (r.chance(90)) line(";#### ASM END");
      break;
    case 17:  // optimisation switched off
      line("\t._tarvox\t" + std::string(r.chance(80) ? "OFF" : "off"));
      line("\tmov.w\tR0,R1");
      line("\tmov.w\tR1,R0");
      for (const std::string& insn : r.pick(REPEATED_RUNS)) line(insn);
      line("\t._tarvox\tON");
      break;
    case 18:  // unanalysed lines
      line(r.pick(std::vector<std::string>{"\tmov.w:x\tR0,R1", "\tjmp\t?+", "\tmov.w\t[SB],R0",
                                           "\tmov.w\tR0,", "12 bad", "\tmov.w\t(1),R0"}));
      break;
    case 19:  // labelled instruction and labelled directive
      line(label_name(r, "L", 40) + "x:\tmov.w\tR0,R1");
      line(label_name(r, "X", 40) + ":\t._line\t12");
      break;
    case 20:  // a call followed by a table
      line("\tjsr\t_switch");
      line("\t.word\tL1,L2");
      break;
    case 21:  // comments, blanks and debugging lines
      line(r.chance(50) ? "" : "\t; note");
      line("\t._line\t" + std::to_string(r.below(100)));
      break;
    case 22:  // interrupt handler tail
      line("\treit");
      break;
    case 23: {  // garbage bytes
      std::string g = "\t";
      int n = 1 + static_cast<int>(r.below(12));
      for (int i = 0; i < n; ++i) g += static_cast<char>(1 + r.below(255));
      if (g.find('\n') != std::string::npos) g = "\t?garbage";
      line(g);
      break;
    }
    default:
      line("\t" + r.pick(std::vector<std::string>{"mov.w\tR0,R1", "inc.w\tR0", "nop", "rts",
                                                  "jsr\t_g", "cmp.w\t#1,R0", "mov.w\t#SIZEOF d_NE,R0"}));
      break;
  }
}

}  // namespace

std::string generate_file(std::uint64_t seed) {
  Random r{seed * 2654435761u + 17};
  if (seed % 40 == 7) return generate_shaped_file(seed, seed % 80 == 7 ? FileShape::stack : FileShape::sections);
  std::string out = "\t._LANG\t'C',1.00.00,'C'\n";
  int functions = 1 + static_cast<int>(r.below(8));
  int next_label = 100;
  bool code_open = false;
  if (r.chance(90)) {
    out += "\t.section\tprogram,CODE\n";
    code_open = true;
  }
  for (int f = 1; f <= functions; ++f) {
    if (r.chance(15)) out += "\t.section\tdata,DATA\n_d" + std::to_string(f) + ":\t.blkw\t2\n";
    if (r.chance(15) || (!code_open && r.chance(50)))
      out += "\t.section\t" + std::string(r.chance(80) ? "program" : "other") + ",CODE\n";
    if (r.chance(50)) out += "\t.align\n";
    std::string name = "_f" + std::to_string(f);
    out += "\t.glb\t" + name + "\n";
    if (r.chance(10)) out += "\t.rvector\t2," + name + "\n";
    out += name + ":\n";
    if (r.chance(25)) {
      out += r.chance(80) ? "\trts\n" : "\treit\n";
    } else {
      int snippets = 1 + static_cast<int>(r.below(10));
      for (int i = 0; i < snippets; ++i) emit_snippet(r, out, next_label);
      out += r.chance(80) ? "\trts\n" : "\treit\n";
    }
    if (r.chance(90)) out += "E" + std::to_string(f) + ":\n";
    if (r.chance(20)) out += "M" + std::to_string(f) + ":\n";
  }
  if (r.chance(40)) out += "\t.end\n";
  if (r.chance(10) && !out.empty()) out.pop_back();  // no final line feed
  return out;
}

std::vector<std::string> generate_options(std::uint64_t seed) {
  Random r{seed * 40503u + 5};
  std::vector<std::string> options;
  const char* flags[] = {"-Nv", "-O5", "-O5OA", "-fcout", "-finfo", "-OSA", "-dparse", "-Obtstc"};
  for (const char* f : flags)
    if (r.chance(30)) options.push_back(f);
  for (int pass = 1001; pass <= 1012; ++pass)
    if (r.chance(8)) options.push_back("-off=" + std::to_string(pass));
  if (r.chance(50)) options.push_back("-fl=" + std::to_string(r.below(9)));
  return options;
}

namespace {

// The lines of a text, each with its line feed (the last may lack one).
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    end = end == std::string_view::npos ? text.size() : end + 1;
    lines.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return lines;
}

std::string without_cr_before_lf(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

std::map<std::string, int> label_counts(const Statement* first) {
  std::map<std::string, int> counts;
  for (const Statement* s = first; s; s = s->next)
    if (s->label && (s->kind == STMT_INSN || s->kind == STMT_DIRECTIVE))
      ++counts[std::string(s->label->name)];
  return counts;
}

}  // namespace

std::string check_invariants(const std::string& raw_input, const std::string& output,
                             bool every_pass_off) {
  std::string input = without_cr_before_lf(raw_input);
  if (every_pass_off && output != input) return "every pass off, but the output differs";

  // The parses below reset the arena: the run's statements are gone by now.
  reset_run_state();
  std::map<std::string, int> before = label_counts(read_source_text(input));
  reset_run_state();
  std::map<std::string, int> after = label_counts(read_source_text(output));
  for (const auto& [name, count] : before) {
    auto it = after.find(name);
    if (it == after.end()) return "label lost: " + name;
    if (it->second > count) return "label defined twice: " + name;
  }
  for (const auto& [name, count] : after) {
    bool generated = name.rfind("_Tarvox_", 0) == 0 || name.rfind("E_Tarvox_", 0) == 0;
    if (before.count(name)) continue;
    if (!generated) return "label appeared from nowhere: " + name;
    if (count != 1) return "generated label defined " + std::to_string(count) + " times: " + name;
  }

  std::set<std::string, std::less<>> input_lines;
  for (std::string_view l : lines_of(input)) {
    input_lines.emplace(l);
    // A last line without a line feed gets one when more follows it.
    if (!l.empty() && l.back() != '\n') input_lines.insert(std::string(l) + "\n");
  }
  for (std::string_view l : lines_of(output)) {
    if (input_lines.count(l)) continue;
    std::string line(l);
    if (line.rfind(";;", 0) == 0) continue;
    reset_run_state();
    const Statement* s = read_source_text("\t._LANG\t'C'\n" + line);
    const Statement* parsed = s ? s->next : nullptr;
    bool ok = parsed && (parsed->kind == STMT_INSN || parsed->kind == STMT_BLANK ||
                         is_directive(parsed, DIR_STK));
    if (!ok) return "new line not understood: " + line;
  }
  reset_run_state();
  return "";
}

int run_in_process(const std::string& dir, const std::string& input,
                   const std::vector<std::string>& options, std::string& output) {
  std::string in_name = dir + "/fuzz.qsm";
  std::string out_name = dir + "/fuzz_out.qsm";
  std::remove(out_name.c_str());
  if (std::FILE* f = std::fopen(in_name.c_str(), "wb")) {
    std::fwrite(input.data(), 1, input.size(), f);
    std::fclose(f);
  }
  std::vector<std::string> args = {"tarvox", in_name, "-o", out_name};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  int status = run_tarvox(static_cast<int>(args.size()), argv.data());
  output.clear();
  if (std::FILE* f = std::fopen(out_name.c_str(), "rb")) {
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) output.append(buffer, got);
    std::fclose(f);
  }
  return status;
}
