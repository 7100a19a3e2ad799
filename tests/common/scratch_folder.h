// A scratch path under the system's temporary folder that no other test
// process uses at the same time (builds of several presets may run their
// tests at once).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

inline std::filesystem::path scratch_path(const std::string& prefix) {
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = prefix + "-" + std::to_string(::getpid());
  if (test) name += std::string("-") + test->name();
  return std::filesystem::temp_directory_path() / name;
}
