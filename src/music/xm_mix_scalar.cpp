// The plain loops: one frame at a time. They are the reference the vector
// loops are tested against, and the loops of processors without them.
#include "music/xm_mix_kernels.h"

namespace {

uint64_t plain(const MixRun& run, float left, float right) {
  return mix_plain_frames(run, 0, run.frames, run.position, left, right);
}

uint64_t ramp(const MixRun& run, float* gainLeft, float* gainRight, float deltaLeft, float deltaRight) {
  return mix_ramp_frames(run, 0, run.frames, run.position, gainLeft, gainRight, deltaLeft, deltaRight);
}

void pcm16(int16_t* destination, const float* source, int64_t count) {
  for (int64_t i = 0; i < count; ++i) destination[i] = mix_pcm_value(source[i]);
}

}  // namespace

const MixKernels mixScalarKernels{plain, ramp, pcm16, false};
const MixKernels mixPortableKernels{plain, ramp, pcm16, true};
