// Benchmark driver: generates compiler-style files of 10,000, 100,000 and
// 1,000,000 lines (or the sizes given) in each of gen_input's three shapes
// (typical, stack, sections), and measures side by side a plain
// copy of the file (a line-by-line stdio copy, the least a text filter
// does, and cp), the round trip with every pass switched off, and the run
// with the default options (the commonization and every pass but 1002 and
// 1006, which need -Nvolatile and -O5). The four commands run in
// turn, five rounds of them, so that a change in the machine's speed during
// the measurement touches all four alike; each figure is the best of its
// five runs, with the largest peak memory (maximum resident set) of its runs.
//
//   bench_tarvox [LINES ...]
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Measure {
  double seconds;
  long peak_kib;
  int status;
};

// A child that copies the file line by line with stdio.
const char* const LINE_COPY = "line-copy";

int line_copy(const std::string& from, const std::string& to) {
  std::FILE* in = std::fopen(from.c_str(), "r");
  std::FILE* out = std::fopen(to.c_str(), "w");
  if (!in || !out) return 1;
  static char line[1 << 16];
  while (std::fgets(line, sizeof line, in)) std::fputs(line, out);
  std::fclose(in);
  return std::fclose(out) == 0 ? 0 : 1;
}

Measure run(const std::vector<std::string>& args, const std::string& stdout_file) {
  // What is still buffered would otherwise be written by the child too.
  std::fflush(stdout);
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    if (args[0] == LINE_COPY) _exit(line_copy(args[1], args[2]));
    if (!stdout_file.empty() && !std::freopen(stdout_file.c_str(), "wb", stdout)) _exit(127);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  wait4(pid, &status, 0, &usage);
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {seconds, usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

constexpr int ROUNDS = 5;

// Runs each command once per round, the commands in turn; the best time and
// the largest peak memory of each.
std::vector<Measure> best_of_rounds(const std::vector<std::vector<std::string>>& commands) {
  std::vector<Measure> best(commands.size(), Measure{1e30, 0, 0});
  for (int round = 0; round < ROUNDS; ++round) {
    for (std::size_t c = 0; c < commands.size(); ++c) {
      Measure m = run(commands[c], "");
      if (m.status != 0) {
        std::fprintf(stderr, "command failed (status %d): %s\n", m.status, commands[c][0].c_str());
        std::exit(1);
      }
      if (m.seconds < best[c].seconds) best[c].seconds = m.seconds;
      if (m.peak_kib > best[c].peak_kib) best[c].peak_kib = m.peak_kib;
    }
  }
  return best;
}

long file_size(const std::string& name) {
  std::FILE* f = std::fopen(name.c_str(), "rb");
  if (!f) return 0;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::fclose(f);
  return size;
}

// Measures one shape of generated file at each size; false when a command
// fails.
bool bench_shape(const char* shape, const std::vector<long>& sizes, const std::string& dir,
                 const std::vector<std::string>& off_all) {
  std::printf("shape %s\n", shape);
  std::printf("%10s %10s %8s %8s %8s %8s %9s %9s %9s %9s\n", "lines", "bytes", "cp_s",
              "copy_s", "trip_s", "run_s", "trip/copy", "run/copy", "trip_MiB", "run_MiB");
  double last_full = 0;
  std::vector<double> growth;
  for (long lines : sizes) {
    std::string input = dir + "/gen.qsm";
    std::string output = dir + "/out.qsm";
    Measure gen = run({GEN_INPUT_BINARY, std::to_string(lines), "7", "30", shape}, input);
    if (gen.status != 0) return false;
    long bytes = file_size(input);
    std::vector<std::string> trip_args = off_all;
    trip_args.insert(trip_args.end(), {input, "-o", output});
    std::vector<Measure> best = best_of_rounds({{"/bin/cp", input, dir + "/copy.qsm"},
                                                {LINE_COPY, input, dir + "/copy.qsm"},
                                                trip_args,
                                                {TARVOX_BINARY, input, "-o", output}});
    const Measure& cp = best[0];
    const Measure& copy = best[1];
    const Measure& trip = best[2];
    const Measure& full = best[3];
    std::printf("%10ld %10ld %8.4f %8.4f %8.4f %8.4f %9.1f %9.1f %9.1f %9.1f\n", lines, bytes,
                cp.seconds, copy.seconds, trip.seconds, full.seconds, trip.seconds / copy.seconds,
                full.seconds / copy.seconds, trip.peak_kib / 1024.0, full.peak_kib / 1024.0);
    if (last_full > 0) growth.push_back(full.seconds / last_full);
    last_full = full.seconds;
    std::printf("%10s peak memory / input size: round trip %.1fx, default run %.1fx\n", "",
                trip.peak_kib * 1024.0 / static_cast<double>(bytes),
                full.peak_kib * 1024.0 / static_cast<double>(bytes));
  }
  for (std::size_t i = 0; i < growth.size(); ++i)
    std::printf("default-run time growth from size %zu to %zu: %.1fx\n", i + 1, i + 2, growth[i]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::atol(argv[i]));
  if (sizes.empty()) sizes = {10000, 100000, 1000000};
  char dir_template[] = "/tmp/tarvox_bench_XXXXXX";
  if (!mkdtemp(dir_template)) return 1;
  std::string dir = dir_template;
  std::vector<std::string> off_all = {TARVOX_BINARY};
  for (int pass = 1001; pass <= 1012; ++pass) off_all.push_back("-off=" + std::to_string(pass));

  for (const char* shape : {"typical", "stack", "sections"}) {
    if (!bench_shape(shape, sizes, dir, off_all)) return 1;
  }
  std::remove((dir + "/gen.qsm").c_str());
  std::remove((dir + "/out.qsm").c_str());
  std::remove((dir + "/copy.qsm").c_str());
  rmdir(dir.c_str());
  return 0;
}
