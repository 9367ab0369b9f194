// Files for tests: a fresh working directory per test and exact file bytes.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace rilvano::test {

// Each test runs in its own empty directory, so log files never meet.
class TempDirTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = std::filesystem::current_path();
    // A random name that nobody else holds: create_directory fails on one
    // that exists. Plain std::filesystem, so the tests also build for Windows.
    std::random_device seed;
    std::mt19937_64 generator(seed());
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100 && dir_.empty(); ++attempt) {
      const auto candidate = base / ("rilvano-test-" + std::to_string(generator() % 100000000000ULL));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) dir_ = candidate;
    }
    if (dir_.empty()) FAIL() << "no temporary directory in " << base.string();
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
