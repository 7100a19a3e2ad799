// libFuzzer target: any bytes as a module file, loaded through the file
// callbacks and, when accepted, played for two seconds through the block
// filler.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos;
};
Input input;

void* open_input(const char*) {
  input.pos = 0;
  return &input;
}
void close_input(void*) {}
uint32_t read_input(void* destination, uint32_t size, void* handle) {
  auto* in = static_cast<Input*>(handle);
  const size_t left = in->pos < in->size ? in->size - in->pos : 0;
  const size_t n = size < left ? size : left;
  if (n) std::memcpy(destination, in->data + in->pos, n);
  in->pos += n;
  return static_cast<uint32_t>(n);
}
void seek_input(void* handle, int32_t offset, int32_t origin) {
  auto* in = static_cast<Input*>(handle);
  const int64_t base = origin == 1 ? static_cast<int64_t>(in->pos) : 0;
  const int64_t to = base + offset;
  in->pos = to < 0 ? 0 : static_cast<size_t>(to);
}
int32_t tell_input(void* handle) { return static_cast<int32_t>(static_cast<Input*>(handle)->pos); }

MixOutput output;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input = Input{data, size, 0};
  xm_set_file_callbacks(open_input, close_input, read_input, seek_input, tell_input);
  XmSong* song = xm_load("input.xm", nullptr);
  if (!song) return 0;
  if (mix_output_init(&output, song)) {
    xm_start_song(song);
    for (int block = 0; block < output.blockCount; ++block) mix_fill_block(&output);  // 2 seconds
    mix_output_release(&output);
  }
  xm_release_song(song);
  return 0;
}
