// Writes a fixed set of inputs for checking that a change to the program
// leaves what it does as it was: N files from the test generator, each with
// the command-line options the generator draws for it.
//
//   write_corpus DIR N
//
// DIR/NNNNN.qsm is the input, DIR/NNNNN.args its options, one per line.
// tools/run_corpus.sh runs a binary over such a set.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "generate.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_corpus DIR N\n");
    return 2;
  }
  std::string dir = argv[1];
  long count = std::atol(argv[2]);
  for (long i = 1; i <= count; ++i) {
    char stem[32];
    std::snprintf(stem, sizeof stem, "/%05ld", i);
    std::string input = generate_file(static_cast<std::uint64_t>(i));
    std::string args;
    for (const std::string& option : generate_options(static_cast<std::uint64_t>(i))) args += option + "\n";
    for (auto [suffix, text] : {std::pair{".qsm", &input}, std::pair{".args", &args}}) {
      std::FILE* f = std::fopen((dir + stem + suffix).c_str(), "wb");
      if (!f || std::fwrite(text->data(), 1, text->size(), f) != text->size() || std::fclose(f) != 0) {
        std::fprintf(stderr, "write_corpus: can't write %s%s%s\n", dir.c_str(), stem, suffix);
        return 1;
      }
    }
  }
  return 0;
}
