#include "music/xm_types.h"

#include <cstdlib>

const XmSample emptySample{};
const XmInstrument emptyInstrument{};

namespace {
// Zero frames kept before data[0]: a backward pass that ends a hair before
// frame 0 may read the frame before it, which must be silence, not heap.
constexpr uint32_t frontFrames = 8;
constexpr uint32_t backFrames = 8;
}  // namespace

int16_t* xm_sample_data_alloc(uint32_t frames) {
  if (frames == 0) return nullptr;
  const uint64_t total = uint64_t{frontFrames} + frames + backFrames;
  if (total > SIZE_MAX / sizeof(int16_t)) return nullptr;
  auto* base = static_cast<int16_t*>(std::calloc(static_cast<size_t>(total), sizeof(int16_t)));
  return base ? base + frontFrames : nullptr;
}

void xm_sample_data_free(int16_t* data) {
  if (data) std::free(data - frontFrames);
}

void xm_release_song(XmSong* song) {
  if (!song) return;
  if (song->instruments) {
    for (int i = 0; i < song->instrumentCount; ++i) {
      XmInstrument& ins = song->instruments[i];
      const int count = ins.sampleCount < 0 ? 0 : (ins.sampleCount > 16 ? 16 : ins.sampleCount);
      for (int s = 0; s < count; ++s) {
        const XmSample* sample = ins.samples[s];
        if (!sample || sample == &emptySample) continue;
        xm_sample_data_free(sample->data);
        std::free(const_cast<XmSample*>(sample));
      }
    }
    std::free(song->instruments);
  }
  if (song->patterns) {
    for (int p = 0; p < song->patternCount; ++p) std::free(song->patterns[p].cells);
    std::free(song->patterns);
  }
  std::free(song);
}
