#include "music/music.h"

#include <cstdio>

#include "music/xm_file.h"

void* music_file_open(const char* name) { return std::fopen(name, "rb"); }

void music_file_close(void* stream) { std::fclose(static_cast<std::FILE*>(stream)); }

uint32_t music_file_read(void* destination, uint32_t size, void* stream) {
  return static_cast<uint32_t>(std::fread(destination, 1, size, static_cast<std::FILE*>(stream)));
}

void music_file_seek(void* stream, int32_t offset, int32_t origin) {
  // The origin travels as a signed byte, as the loader's callers pass it.
  std::fseek(static_cast<std::FILE*>(stream), offset, static_cast<int>(static_cast<int8_t>(origin)));
}

int32_t music_file_tell(void* stream) { return static_cast<int32_t>(std::ftell(static_cast<std::FILE*>(stream))); }

const XmFileCallbacks* music_stdio_files() {
  static const XmFileCallbacks stdioFiles{music_file_open, music_file_close, music_file_read, music_file_seek,
                                          music_file_tell};
  return &stdioFiles;
}
