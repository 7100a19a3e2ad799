// Captures the intro to a video file: picture and music together, as a
// viewer sees them on a machine that draws exactly `fps` frames a second.
#pragma once

#include <string>

struct VideoCaptureOptions {
  std::string path;       // .mp4 or .mkv
  std::string module;     // the music; empty: 2.xm beside the executable
  int fps = 60;
  int width = 1920;
  int height = 1080;
  int desktopWidth = 1920;  // picks the horizontal stretch
  int desktopHeight = 1080;
  int first = 0;          // scroller frames first..last, counted from 0
  int last = 0;
  bool loading = false;   // the loading screen's frames in front
  int quality = 18;
  bool force = false;     // replace a read-only file
};

// Frames of the loading screen that --loading puts in front: one second.
inline int loadingFrames(int fps) { return fps; }

// Writes the video; returns the exit status (0, 1 on errors, 128 + signal
// when interrupted by SIGINT or SIGTERM: the file then holds what was
// captured so far where the name was free, and a file that had the name is
// left as it was).
int captureVideo(const VideoCaptureOptions& options);
