// xm-compose: writes the intro's music module.
//
//   xm-compose OUT.xm
//
// The output depends on nothing but this program, so every build writes the
// same file.
#include <cstdio>
#include <string>

#include "score.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: xm-compose OUT.xm\n");
    return 2;
  }
  std::string error;
  if (!compose::check_score(&error)) {
    std::fprintf(stderr, "xm-compose: %s\n", error.c_str());
    return 1;
  }
  const auto bytes = compose::write_module(compose::compose_song(), &error);
  if (bytes.empty()) {
    std::fprintf(stderr, "xm-compose: %s\n", error.c_str());
    return 1;
  }
  const std::string path = argv[1];
  const std::string temporary = path + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) {
    std::fprintf(stderr, "xm-compose: cannot write %s\n", temporary.c_str());
    return 1;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0 || !written || std::rename(temporary.c_str(), path.c_str()) != 0) {
    std::remove(temporary.c_str());
    std::fprintf(stderr, "xm-compose: cannot write %s\n", path.c_str());
    return 1;
  }
  return 0;
}
