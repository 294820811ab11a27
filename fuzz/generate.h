// Generated test inputs and the invariants every run must keep: the one
// generator of test files, which the fuzz harness, the invariant test over
// generated files and the two differential tests share.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// The generators' random numbers: a small linear congruential generator, so
// that a seed gives the same file on every machine.
struct TestRandom {
  std::uint64_t state;
  std::uint32_t next() {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 33);
  }
  std::uint32_t below(std::uint32_t n) { return n ? next() % n : 0; }
  bool chance(std::uint32_t percent) { return below(100) < percent; }
  template <typename T>
  const T& pick(const std::vector<T>& v) {
    return v[below(static_cast<std::uint32_t>(v.size()))];
  }
  const char* pick(std::initializer_list<const char*> v) {
    return v.begin()[below(static_cast<std::uint32_t>(v.size()))];
  }
};

// The runs repeated across generate_file's files, so the commonization has
// groups to find; the shaped files mix them in too.
extern const std::vector<std::vector<std::string>> REPEATED_RUNS;

// A compiler-style file drawn from `seed`: functions with entry and end
// labels, the patterns every pass and the commonization look for, near
// misses, repeated runs, several sections, conditional code, macro and
// repeat bodies, inline assembly, ._tarvox regions and unanalysed lines.
std::string generate_file(std::uint64_t seed);

// Shapes of file drawn from `seed`:
//   stack        many functions that repeat runs whose stack does not
//                balance (pushes without their pops, pops before pushes),
//                alone, one after the other, or cut by a test of the call's
//                result, so that groups are refused for their stack again
//                and again;
//   sections     single instructions repeated well over 1,022 times, in many
//                contexts, before a CODE section of another name near the
//                end, with data sections between and shared runs around
//                them, so that searches fill the table, or fail at that
//                section;
//   return_only  return-only functions (rts and reit) in every position the
//                return-only passes treat differently: before the first CODE
//                section, in sections of several names and spellings, with
//                .align, .rvector and labelled returns, entries that are
//                also M or E labels, missing end labels, inside .if, macro,
//                repeat, inline-assembly and ._tarvox OFF regions.
// generate_file draws one of the first two now and then.
enum class FileShape { stack, sections, return_only };
std::string generate_shaped_file(std::uint64_t seed, FileShape shape);

// The units and options of one whole run, drawn from `seed`, rich in what
// the commonization's search must get exactly right: most often a unit (now
// and then two or three, read one after the other) of many small functions
// over a small pool of instructions and runs, with near misses, adjacent
// and overlapping occurrences, CODE sections of one and of several names
// with data sections between, inline assembly, ._tarvox regions, calls
// reading a table, flow ending in mid-body, missing end labels; now and
// then functions holding more matches of one instruction than the table
// holds, or a NUL byte in an instruction line; -fl= from 0 to 8, empty or
// long. One seed in 25 of each of the stack and sections shapes, and one in
// three from generate_file, each with generate_options.
struct GeneratedRun {
  std::vector<std::string> units;
  std::vector<std::string> options;
};
GeneratedRun generate_run(std::uint64_t seed);

// Disturbs the marks of a read and marked unit, as no marking leaves them:
// extra entries, M and end labels, bodies without SF_IN_FUNCTION, deleted
// instructions.
struct Statement;
void disturb_marks(Statement* first, std::uint64_t seed);

// Command-line options drawn from `seed` (without the input and -o).
std::vector<std::string> generate_options(std::uint64_t seed);

// Checks a run's output against its input; returns "" when every invariant
// holds, else a description of the first one broken:
//  1. with every pass off, the output is the input (carriage returns before
//     line feeds dropped);
//  2. no label defined in the input is lost or defined twice in the output,
//     and every generated _Tarvox_ label is defined once;
//  3. every output line that was not an input line parses as an
//     instruction, a label line, a blank line, a .stk directive or a ";;"
//     comment.
std::string check_invariants(const std::string& input, const std::string& output,
                             bool every_pass_off);

// Runs the whole program in this process on `input` with `options`; the
// input and output files live in `dir`. Returns the exit status and fills
// `output` with the output file (empty when none was written).
int run_in_process(const std::string& dir, const std::string& input,
                   const std::vector<std::string>& options, std::string& output);
