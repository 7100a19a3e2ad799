/* A program outside the tree that plays a module once through with the
 * installed vantor-xm and prints the frame count and a hash of the 16-bit
 * output (FNV-1a over the little-endian bytes). */
#include <stdio.h>

#include <vantor_xm.h>

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  vxm_error error;
  vxm_song* song = vxm_load_file(argv[1], 44100, &error);
  if (!song) {
    fprintf(stderr, "%s: %s\n", argv[1], error.message);
    return 1;
  }
  unsigned long long hash = 14695981039346656037ull, frames = 0;
  int16_t buffer[2 * 1000];
  size_t n;
  while ((n = vxm_render_s16(song, buffer, 1000)) > 0) {
    for (size_t i = 0; i < 2 * n; ++i) {
      unsigned v = (unsigned)(uint16_t)buffer[i];
      hash = (hash ^ (v & 0xff)) * 1099511628211ull;
      hash = (hash ^ (v >> 8)) * 1099511628211ull;
    }
    frames += n;
  }
  printf("%llu %016llx %s\n", frames, hash, vxm_version_string());
  vxm_free(song);
  return 0;
}
