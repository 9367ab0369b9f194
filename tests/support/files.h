// Files for tests: a fresh working directory per test and exact file bytes.
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace rilvano::test {

// Each test runs in its own empty directory, so log files never meet.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    std::string tmpl = (std::filesystem::temp_directory_path() / "rilvano-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
      FAIL() << "mkdtemp: " << std::strerror(errno);
    }
    dir_ = tmpl;
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::error_code ignored;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
  }
  const std::filesystem::path& Dir() const { return dir_; }

 private:
  std::filesystem::path old_;
  std::filesystem::path dir_;
};

// The exact bytes of a file; empty when it cannot be read.
inline std::string ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace rilvano::test
