// Runs the scroller without OpenGL and keeps the cubes it places.
#pragma once

#include <vector>

#include "scroller/cube_recorder.h"

class Recording {
 public:
  Recording() : recorder_{this, &Recording::add, false} { setCubeRecorder(&recorder_); }
  ~Recording() { setCubeRecorder(nullptr); }
  Recording(const Recording&) = delete;
  Recording& operator=(const Recording&) = delete;

  std::vector<CubeRecord> cubes;

 private:
  static void add(void* self, const CubeRecord& cube) {
    static_cast<Recording*>(self)->cubes.push_back(cube);
  }
  CubeRecorder recorder_;
};
