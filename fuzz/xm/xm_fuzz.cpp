// libFuzzer target: any bytes as a module, through the library's public
// calls: loaded from memory and, when accepted, played for two seconds at a
// rate the last byte picks and by the rules the one before picks, as 16-bit
// and as float, with a seek in between.
#include <cstddef>
#include <cstdint>

#include "music/vantor_xm.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int rates[] = {44100, 8000, 48000, 192000};
  const int rate = size ? rates[data[size - 1] % 4] : 44100;
  vxm_error error;
  vxm_song* song = vxm_load_memory(data, size, rate, &error);
  if (!song) return 0;
  vxm_set_rules(song, size > 1 && (data[size - 2] & 1) ? VXM_RULES_TRACKER : VXM_RULES_PLAYER);
  static int16_t pcm[2 * 4096];
  static float floats[2 * 4096];
  vxm_set_play_count(song, 0);
  for (int64_t done = 0; done < 2 * rate;) {
    const size_t n = vxm_render_s16(song, pcm, 4096);
    if (n == 0) break;
    done += static_cast<int64_t>(n);
  }
  vxm_seek_ms(song, 250);
  vxm_render_f32(song, floats, 4096);
  vxm_free(song);
  return 0;
}
