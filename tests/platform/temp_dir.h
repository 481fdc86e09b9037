// Test helpers: a fresh temporary folder for one test, removed with
// everything in it, and whole-file reads.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <initializer_list>
#include <stdexcept>
#include <string>

#include "platform/files.h"

namespace heron::testing {

class TempDir {
 public:
  // With `as_home` the folder also becomes the data root ($HERON_HOME).
  explicit TempDir(bool as_home = false) {
    char tmpl[] = "/tmp/heron_test_XXXXXX";
    if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
    if (as_home) setenv("HERON_HOME", path_.c_str(), 1);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A whole file's bytes, or "<missing>".
inline std::string Contents(const std::string& path) {
  std::string s;
  return ReadFile(path, s) ? s : "<missing>";
}

// A string of the given byte values.
inline std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (int b : bytes) s += static_cast<char>(b);
  return s;
}

}  // namespace heron::testing
