// A scratch path under the system's temporary folder that no other test
// process uses at the same time (builds of several presets may run their
// tests at once).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

inline std::filesystem::path scratch_path(const std::string& prefix) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = prefix + "-" + std::to_string(::getpid());
  if (test) name += std::string("-") + test->name();
  return std::filesystem::temp_directory_path() / name;
}

// A test with a fresh scratch folder of its own, removed afterwards, and a
// way to put a file in it.
class ScratchFolderTest : public ::testing::Test {
 protected:
  explicit ScratchFolderTest(std::string prefix) : prefix_(std::move(prefix)) {}
  std::filesystem::path dir;

  void SetUp() override {
    dir = scratch_path(prefix_);
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
  }
  void TearDown() override { std::filesystem::remove_all(dir); }

  // Writes bytes to a file of the folder; returns its path.
  std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::filesystem::path p = dir / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }

 private:
  std::string prefix_;
};
