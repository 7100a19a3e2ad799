/* A program outside the tree that plays a module once through with the
 * installed vantor-xm and prints the frame count, a hash of the 16-bit
 * output (FNV-1a over the little-endian bytes) and the library's version,
 * after checking that the header, the library and the package agree on it. */
#include <stdio.h>
#include <string.h>

#include <vantor_xm.h>

#ifdef OWN_NAMES
int own_names_untouched(void);
#endif

static int versions_agree(void) {
  char fromParts[32];
  snprintf(fromParts, sizeof fromParts, "%d.%d.%d", VXM_VERSION_MAJOR, VXM_VERSION_MINOR, VXM_VERSION_PATCH);
  if (strcmp(fromParts, VXM_VERSION_STRING) != 0 || vxm_version() != VXM_VERSION ||
      strcmp(vxm_version_string(), VXM_VERSION_STRING) != 0) {
    fprintf(stderr, "header %s (%s, %d), library %s (%d)\n", VXM_VERSION_STRING, fromParts, VXM_VERSION,
            vxm_version_string(), vxm_version());
    return 0;
  }
#ifdef VXM_PACKAGE_VERSION
  if (strcmp(VXM_PACKAGE_VERSION, VXM_VERSION_STRING) != 0) {
    fprintf(stderr, "package %s, header %s\n", VXM_PACKAGE_VERSION, VXM_VERSION_STRING);
    return 0;
  }
#endif
  return 1;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (!versions_agree()) return 1;
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
  vxm_free(song);
#ifdef OWN_NAMES
  if (!own_names_untouched()) {
    fprintf(stderr, "the library wrote into the program's own variables\n");
    return 1;
  }
#endif
  printf("%llu %016llx %s\n", frames, hash, vxm_version_string());
  return 0;
}
