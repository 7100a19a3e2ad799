#include "shell/debug_log.h"

#include <cstdio>

namespace {
std::FILE* debugLog = nullptr;
constexpr const char* kRule = "-------------------------\n";
}  // namespace

int open_debug_log() {
  // Text mode: on Windows every "\n" reaches the file as CR LF.
  debugLog = std::fopen("debug.txt", "wt");
  if (!debugLog) return 0;
  std::fputs("debug file\n", debugLog);
  std::fputs(kRule, debugLog);
  std::fflush(debugLog);
  return 1;
}

void close_debug_log() {
  if (!debugLog) return;
  std::fputs(kRule, debugLog);
  std::fflush(debugLog);
  std::fclose(debugLog);
  debugLog = nullptr;
}
