// Files for the tests: a scratch directory under /tmp, removed with
// everything in it when the test ends, whether its checks passed or stopped
// it early; and the bytes of a file.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>

struct ScratchDir {
  std::string path;
  explicit ScratchDir(const std::string& prefix) {
    std::string name = "/tmp/" + prefix + "_XXXXXX";
    if (mkdtemp(name.data())) path = name;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
};

// The file's bytes; empty when it cannot be read.
inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}
