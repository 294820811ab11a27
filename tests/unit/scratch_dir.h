// A fresh directory under /tmp for one test, removed with everything in it
// when the test ends, whether its checks passed or stopped it early.
#pragma once

#include <stdlib.h>

#include <filesystem>
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
