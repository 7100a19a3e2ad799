// The tests' one stand-in for the platform backend: scripted answers, and a
// record of what the shell asks of it.
#pragma once

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

struct XmWaveDevice;

struct FakePlatform {
  bool answerYes = false;
  bool openWindowResult = true;
  std::set<std::string> missingGlNames;
  // One entry per pump: true = a plain message, false = the quit message.
  // When empty, the queue reports itself empty.
  std::deque<bool> messages;
  // Pumps that find the queue empty before the next scripted message.
  int framesBeforeQuit = 3;
  std::uint32_t clock = 1000;
  std::uint32_t clockStep = 16;
  int desktopWidth = 1920, desktopHeight = 1080;
  std::string executableFolder = "/nonexistent-folder/";  // empty: unknown
  // The sound device and threads behind the seam's wave and thread
  // functions; none (the intro runs silently) when null.
  const XmWaveDevice* wave = nullptr;

  std::vector<std::string> calls;
  std::vector<std::string> captions;
  std::vector<int> loadingBarRights;
  std::string failureText;

  static FakePlatform& get();
  void reset();
};
