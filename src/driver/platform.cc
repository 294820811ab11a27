#include "driver/platform.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <iterator>

namespace {

constexpr int TERMINATION_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int WRITE_SIGNALS[] = {SIGXFSZ, SIGPIPE};
constexpr std::size_t TERMINATION_COUNT = std::size(TERMINATION_SIGNALS);
constexpr std::size_t WRITE_COUNT = std::size(WRITE_SIGNALS);

constexpr char TEMP_PREFIX[] = ".tarvox-";
constexpr std::size_t TEMP_LETTERS = 6;

// The temporary file and the signal handling around it. The signal handler
// reads `name` and `exists`; both change only while the termination signals
// are blocked.
struct TempFileState {
  char name[PATH_MAX];
  volatile std::sig_atomic_t exists;
  bool handlers_installed;
  bool caught[TERMINATION_COUNT];
  struct sigaction previous[TERMINATION_COUNT];
  struct sigaction previous_write[WRITE_COUNT];
  unsigned long long seed;
};

TempFileState temp_file;

// The termination signals stay blocked for the life of one of these.
struct TerminationBlocked {
  sigset_t old_mask;
  TerminationBlocked() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : TERMINATION_SIGNALS) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_mask);
  }
  ~TerminationBlocked() { sigprocmask(SIG_SETMASK, &old_mask, nullptr); }
};

// A termination signal while the temporary file exists: remove it, put the
// previous handling of the signal back and raise it again. The raised
// signal is delivered when this handler returns, with that handling.
void remove_temp_and_reraise(int signal_number) {
  int saved_errno = errno;
  if (temp_file.exists) {
    unlink(temp_file.name);
    temp_file.exists = 0;
  }
  for (std::size_t i = 0; i < TERMINATION_COUNT; ++i) {
    if (TERMINATION_SIGNALS[i] == signal_number)
      sigaction(signal_number, &temp_file.previous[i], nullptr);
  }
  raise(signal_number);
  errno = saved_errno;
}

bool is_ignored(const struct sigaction& action) {
  return !(action.sa_flags & SA_SIGINFO) && action.sa_handler == SIG_IGN;
}

void install_termination_handlers() {
  struct sigaction action {};
  action.sa_handler = remove_temp_and_reraise;
  sigemptyset(&action.sa_mask);
  for (int s : TERMINATION_SIGNALS) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < TERMINATION_COUNT; ++i) {
    sigaction(TERMINATION_SIGNALS[i], nullptr, &temp_file.previous[i]);
    temp_file.caught[i] = !is_ignored(temp_file.previous[i]);
    if (temp_file.caught[i]) sigaction(TERMINATION_SIGNALS[i], &action, nullptr);
  }
  temp_file.handlers_installed = true;
}

void restore_termination_handlers() {
  if (!temp_file.handlers_installed) return;
  for (std::size_t i = 0; i < TERMINATION_COUNT; ++i) {
    if (temp_file.caught[i]) sigaction(TERMINATION_SIGNALS[i], &temp_file.previous[i], nullptr);
  }
  temp_file.handlers_installed = false;
}

// Six letters or digits for a temporary name; another run's name, or a
// file left by a killed run, is skipped by trying again.
void fill_temp_letters(char* out) {
  static const char letters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  unsigned long long x = temp_file.seed ^ static_cast<unsigned long long>(now.tv_nsec) ^
                         (static_cast<unsigned long long>(now.tv_sec) << 20) ^
                         (static_cast<unsigned long long>(getpid()) << 40);
  for (std::size_t i = 0; i < TEMP_LETTERS; ++i) {
    x = x * 6364136223846793005ULL + 1442695040888963407ULL;
    out[i] = letters[(x >> 33) % (sizeof letters - 1)];
  }
  temp_file.seed = x;
}

}  // namespace

NameInfo inspect_name(const std::string& name) {
  struct stat info;
  if (lstat(name.c_str(), &info) != 0) return {errno == ENOENT ? NAME_MISSING : NAME_OTHER, 0};
  if (S_ISLNK(info.st_mode)) return {NAME_LINK, 0};
  if (S_ISREG(info.st_mode)) return {NAME_REGULAR, static_cast<unsigned>(info.st_mode & 0777)};
  return {NAME_OTHER, 0};
}

bool read_link(const std::string& name, std::string* target) {
  std::string buffer(256, '\0');
  for (;;) {
    ssize_t got = readlink(name.c_str(), &buffer[0], buffer.size());
    if (got < 0) return false;
    if (static_cast<std::size_t>(got) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(got));
      *target = buffer;
      return true;
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool is_regular_file(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool may_write(const std::string& name) {
  return faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) == 0;
}

bool may_replace(const std::string& dir, const std::string& name) {
  struct stat dir_info, file_info;
  if (stat(dir.empty() ? "." : dir.c_str(), &dir_info) != 0 ||
      lstat(name.c_str(), &file_info) != 0)
    return true;
  if (!(dir_info.st_mode & S_ISVTX)) return true;
  uid_t user = geteuid();
  return user == 0 || user == file_info.st_uid || user == dir_info.st_uid;
}

long long regular_file_size(std::FILE* file) {
  struct stat info;
  if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<long long>(info.st_size);
}

std::FILE* open_descriptor(int descriptor) {
  int copy = dup(descriptor);
  if (copy < 0) return nullptr;
  std::FILE* file = fdopen(copy, "wb");
  if (!file) close(copy);
  return file;
}

std::FILE* create_temp_file(const std::string& dir, int permission_bits) {
  constexpr std::size_t prefix_length = sizeof TEMP_PREFIX - 1;
  if (dir.size() + prefix_length + TEMP_LETTERS + 1 > sizeof temp_file.name) return nullptr;
  install_termination_handlers();
  int fd = -1;
  {
    TerminationBlocked blocked;
    char* letters = temp_file.name + dir.size() + prefix_length;
    std::memcpy(temp_file.name, dir.data(), dir.size());
    std::memcpy(temp_file.name + dir.size(), TEMP_PREFIX, prefix_length);
    letters[TEMP_LETTERS] = '\0';
    for (int attempt = 0; attempt < 100; ++attempt) {
      fill_temp_letters(letters);
      // Created with 0666, the umask takes off what it takes off a file
      // that fopen creates.
      fd = open(temp_file.name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0 || errno != EEXIST) break;
    }
    if (fd >= 0) temp_file.exists = 1;
  }
  if (fd < 0) {
    restore_termination_handlers();
    return nullptr;
  }
  // A file system without permission bits refuses this; the output is
  // written all the same.
  if (permission_bits >= 0) fchmod(fd, static_cast<mode_t>(permission_bits));
  std::FILE* file = fdopen(fd, "wb");
  if (!file) {
    close(fd);
    remove_temp_file();
  }
  return file;
}

bool rename_temp_file(const std::string& name) {
  TerminationBlocked blocked;
  bool renamed = temp_file.exists && rename(temp_file.name, name.c_str()) == 0;
  if (!renamed && temp_file.exists) unlink(temp_file.name);
  temp_file.exists = 0;
  restore_termination_handlers();
  return renamed;
}

void remove_temp_file() {
  TerminationBlocked blocked;
  if (temp_file.exists) unlink(temp_file.name);
  temp_file.exists = 0;
  restore_termination_handlers();
}

void ignore_write_signals() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  for (std::size_t i = 0; i < WRITE_COUNT; ++i)
    sigaction(WRITE_SIGNALS[i], &ignore, &temp_file.previous_write[i]);
}

void restore_write_signals() {
  for (std::size_t i = 0; i < WRITE_COUNT; ++i)
    sigaction(WRITE_SIGNALS[i], &temp_file.previous_write[i], nullptr);
}

void advise_huge_pages(void* p, std::size_t bytes) { madvise(p, bytes, MADV_HUGEPAGE); }
