// File callbacks over byte vectors held in memory, so tests load modules
// they build in code without touching the disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace soundtest {

// Makes `bytes` readable under `name` and installs the memory callbacks.
void serve_file(const std::string& name, std::vector<std::uint8_t> bytes);

}  // namespace soundtest
