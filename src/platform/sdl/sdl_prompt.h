// A question or a message in a small window of the intro's own, drawn with
// OpenGL in the loading screen's colours and face: for where SDL's message
// box does not show (under Wayland SDL 2 hands it to zenity, which a
// desktop may lack).
#pragma once

#include <vector>

struct PromptButton {
  int id;
  const char* label;
  bool returnKey;  // Return chooses it
  bool escapeKey;  // Escape chooses it
};

constexpr int kPromptClosed = -1;     // closed, or Escape with no button for it
constexpr int kPromptNoWindow = -2;   // no window, context or font to ask with

// Shows `message` (lines split at line feeds) above the buttons, left to
// right, in a window captioned `title`, and waits until one is chosen with
// a click or a key. Its id, or one of the two values above. Needs the video
// subsystem; the window is gone when it returns.
int ask_in_window(const char* title, const char* message, const std::vector<PromptButton>& buttons);
