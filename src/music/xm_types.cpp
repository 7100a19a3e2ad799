#include "music/xm_types.h"

#include <atomic>
#include <cstdlib>

const XmSample emptySample{};
const XmInstrument emptyInstrument{};

namespace {
// How many allocations may succeed (negative: all), and how many were made
// since that was set.
std::atomic<long> allocationLimit{-1};
std::atomic<long> allocationsMade{0};

bool allocation_allowed() {
  const long limit = allocationLimit.load(std::memory_order_relaxed);
  return limit < 0 || allocationsMade.fetch_add(1, std::memory_order_relaxed) < limit;
}

// Zero frames kept before data[0]: a backward pass that ends a hair before
// frame 0 may read the frame before it, which must be silence, not heap.
constexpr uint32_t frontFrames = 8;
constexpr uint32_t backFrames = 8;
}  // namespace

void* xm_allocate(size_t count, size_t size) {
  if (!allocation_allowed()) return nullptr;
  return std::calloc(count, size);  // null when count x size overflows
}

void* xm_reallocate(void* memory, size_t size) {
  if (!allocation_allowed()) return nullptr;
  return std::realloc(memory, size);
}

void xm_deallocate(void* memory) { std::free(memory); }

void xm_fail_allocations_after(long count) {
  allocationsMade.store(0, std::memory_order_relaxed);
  allocationLimit.store(count < 0 ? -1 : count, std::memory_order_relaxed);
}

int16_t* xm_sample_data_alloc(uint32_t frames) {
  if (frames == 0) return nullptr;
  const uint64_t total = uint64_t{frontFrames} + frames + backFrames;
  if (total > SIZE_MAX / sizeof(int16_t)) return nullptr;
  auto* base = static_cast<int16_t*>(xm_allocate(static_cast<size_t>(total), sizeof(int16_t)));
  return base ? base + frontFrames : nullptr;
}

void xm_sample_data_free(int16_t* data) {
  if (data) xm_deallocate(data - frontFrames);
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
        xm_deallocate(const_cast<XmSample*>(sample));
      }
    }
    xm_deallocate(song->instruments);
  }
  if (song->patterns) {
    for (int p = 0; p < song->patternCount; ++p) xm_deallocate(song->patterns[p].cells);
    xm_deallocate(song->patterns);
  }
  xm_deallocate(song);
}
