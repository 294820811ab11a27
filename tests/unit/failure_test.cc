// Failures of a whole run that the end-to-end cases cannot set up: memory
// running out while the input is read. The binary runs in a child process
// under a small address-space limit; it must end with error 5 and status 4
// and leave no output file.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "test_files.h"

#if defined(__SANITIZE_ADDRESS__)
#define TARVOX_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVOX_UNDER_ASAN 1
#endif
#endif

namespace {

TEST(Failure, MemoryExhaustedEndsWithErrorFiveAndNoOutput) {
#ifdef TARVOX_UNDER_ASAN
  GTEST_SKIP() << "the sanitizer's own reservations do not fit an address-space limit";
#else
  ScratchDir scratch("tarvox_nomem");
  ASSERT_FALSE(scratch.path.empty());
  const std::string& dir = scratch.path;
  std::string input = dir + "/big.qsm", output = dir + "/out.qsm", errors = dir + "/stderr";
  {
    std::FILE* f = std::fopen(input.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("\t._LANG\t'C'\n", f);
    for (int i = 0; i < 600000; ++i) std::fputs("\tmov.w\t-2[FB],R0\n\tand.w\t#0FFH,R1\n", f);
    std::fclose(f);
  }
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    struct rlimit limit = {64u << 20, 64u << 20};
    setrlimit(RLIMIT_AS, &limit);
    int fd = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    execl(TARVOX_BINARY, TARVOX_BINARY, input.c_str(), "-o", output.c_str(), (char*)nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 4);
  EXPECT_EQ(read_file(errors), "(null)(0): C2905 (E)Not enough memory\n");
  EXPECT_EQ(access(output.c_str(), F_OK), -1);
#endif
}

}  // namespace
