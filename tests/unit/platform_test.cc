// The signal handling around the temporary output file, in this process:
// a termination signal removes the file and then takes its previous course,
// an ignored signal stays ignored, and a whole run, successful or not,
// leaves every handler as it found it.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/platform.h"
#include "driver/run.h"
#include "test_files.h"

namespace {

volatile sig_atomic_t handled_signal = 0;
void record_signal(int signal_number) { handled_signal = signal_number; }

void (*handler_of(int signal_number))(int) {
  struct sigaction action {};
  sigaction(signal_number, nullptr, &action);
  return action.sa_handler;
}

void set_handler(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal_number, &action, nullptr);
}

// How many of the writer's temporary files `dir` holds.
int temp_files(const ScratchDir& dir) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path))
    count += entry.path().filename().string().rfind(".tarvox-", 0) == 0;
  return count;
}

TEST(TempFileSignals, TerminationRemovesTheFileAndTakesThePreviousCourse) {
  ScratchDir dir("tarvox_platform");
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
    set_handler(signal_number, record_signal);
    handled_signal = 0;
    std::FILE* file = create_temp_file(dir.path + "/", -1);
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(temp_files(dir), 1);
    raise(signal_number);
    EXPECT_EQ(handled_signal, signal_number);
    EXPECT_EQ(temp_files(dir), 0);
    std::fclose(file);
    remove_temp_file();
    EXPECT_EQ(handler_of(signal_number), record_signal);
    set_handler(signal_number, SIG_DFL);
  }
}

TEST(TempFileSignals, IgnoredSignalStaysIgnored) {
  ScratchDir dir("tarvox_platform");
  set_handler(SIGHUP, SIG_IGN);
  std::FILE* file = create_temp_file(dir.path + "/", -1);
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(handler_of(SIGHUP), SIG_IGN);
  raise(SIGHUP);
  EXPECT_EQ(temp_files(dir), 1);
  std::fclose(file);
  remove_temp_file();
  EXPECT_EQ(temp_files(dir), 0);
  EXPECT_EQ(handler_of(SIGHUP), SIG_IGN);
  set_handler(SIGHUP, SIG_DFL);
}

TEST(TempFileSignals, RunLeavesEveryHandlerAsItFoundIt) {
  ScratchDir dir("tarvox_platform");
  std::string input = dir.path + "/in.qsm";
  std::FILE* f = std::fopen(input.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("\t._LANG\t'C',1\n\tnop\n", f);
  std::fclose(f);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ};
  for (int s : signals) set_handler(s, record_signal);
  // A run that replaces its output, and one whose write fails.
  for (std::string output : {dir.path + "/out.qsm", std::string("/dev/full")}) {
    std::vector<const char*> argv = {"tarvox", input.c_str(), "-o", output.c_str()};
    testing::internal::CaptureStderr();
    int status = run_tarvox(static_cast<int>(argv.size()), argv.data());
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, output == "/dev/full" ? 4 : 0) << output;
    for (int s : signals) EXPECT_EQ(handler_of(s), record_signal) << output << " signal " << s;
  }
  EXPECT_EQ(temp_files(dir), 0);
  for (int s : signals) set_handler(s, SIG_DFL);
}

}  // namespace
