// The one record of the intro's window.
#pragma once

#include <cstdint>

// Opaque handles: the backend decides what each one points to (on Windows
// the module, device context, rendering context and window handles).
struct WindowRecord {
  void* instance = nullptr;
  void* deviceContext = nullptr;
  void* renderContext = nullptr;
  void* window = nullptr;
  std::int32_t fullScreen = 0;
};
