// libFuzzer harness: runs the whole program in this process on arbitrary
// bytes, with options drawn from the first three bytes, and checks the
// invariants of every run (see generate.h) plus a second run on the output.
//
// Byte 0: one bit per option (-Nv, -O5, -O5OA, -fcout, -finfo, -OSA, -dparse,
// -off_btst). Bytes 1 and 2: bits 0-11 switch passes 1001-1012 off; bits
// 12-14 give -fl= 0..7 (7 means no -fl=, 4 by default... 8 via bit 15 of a
// set byte 2 with bits 12-14 clear); byte 2's top bit puts a valid first line
// in front of the rest, so the run gets past the first-line check.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "generate.h"

namespace {

// The harness works in a directory of its own and names its files relative
// to it, so the generated labels (made from the input name) are the same in
// every process and a saved crash input reproduces.
std::string work_dir() {
  static bool entered = false;
  if (!entered) {
    char name[] = "/dev/shm/tarvox_fuzz_XXXXXX";
    if (!mkdtemp(name) || chdir(name) != 0) std::abort();
    entered = true;
  }
  return ".";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  std::uint32_t option_bits = data[0];
  std::uint32_t pass_bits = data[1] | (static_cast<std::uint32_t>(data[2]) << 8);
  std::vector<std::string> options;
  const char* flags[] = {"-Nv", "-O5", "-O5OA", "-fcout", "-finfo", "-OSA", "-dparse", "-off_btst"};
  for (int i = 0; i < 8; ++i)
    if (option_bits & (1u << i)) options.push_back(flags[i]);
  int passes_off = 0;
  for (int i = 0; i < 12; ++i) {
    if (pass_bits & (1u << i)) {
      options.push_back("-off=" + std::to_string(1001 + i));
      ++passes_off;
    }
  }
  std::uint32_t fl = (pass_bits >> 12) & 7;
  if (fl != 7) options.push_back("-fl=" + std::to_string(fl == 6 ? 8 : fl));
  std::string input;
  if (pass_bits & 0x8000) input = "\t._LANG\t'C',1\n";
  input.append(reinterpret_cast<const char*>(data) + 3, size - 3);

  std::string output;
  int status = run_in_process(work_dir(), input, options, output);
  if (status != 0 && status != 4) std::abort();
  if (status == 0) {
    std::string broken = check_invariants(input, output, passes_off == 12);
    if (!broken.empty()) {
      std::fprintf(stderr, "invariant broken: %s\n", broken.c_str());
      std::abort();
    }
    std::string second;
    int again = run_in_process(work_dir(), output, options, second);
    if (again != 0 && again != 4) std::abort();
  }
  return 0;
}
