#include "shell/debug_log.h"

#include "platform/platform.h"

namespace {
void* debugLog = nullptr;
constexpr const char* kRule = "-------------------------\n";
}  // namespace

int open_debug_log() {
  // Each "\n" reaches the file as the platform's line end (CR LF on
  // Windows), at once. A link, a pipe or a device of that name is refused and
  // left as it is.
  debugLog = platform::log_open("debug.txt");
  if (!debugLog) return 0;
  // The first line and the rule in one call: the Windows intro counts its
  // bytes.
  platform::log_write(debugLog, "debug file\n-------------------------\n");
  return 1;
}

void close_debug_log() {
  if (!debugLog) return;
  // Written through at once; the process's exit releases the file, as after
  // a failed start.
  platform::log_write(debugLog, kRule);
  debugLog = nullptr;
}
