#include "scroller/cube_recorder.h"

namespace {
const CubeRecorder* installed = nullptr;
}  // namespace

void setCubeRecorder(const CubeRecorder* recorder) { installed = recorder; }

const CubeRecorder* cubeRecorder() { return installed; }
