// The player's file layer over the stdio streams.
#pragma once

#include <cstdint>

// File callbacks over the stdio streams.
void* music_file_open(const char* name);
void music_file_close(void* stream);
uint32_t music_file_read(void* destination, uint32_t size, void* stream);
void music_file_seek(void* stream, int32_t offset, int32_t origin);
int32_t music_file_tell(void* stream);

// Installs the five callbacks above as the player's file layer. The intro
// and the tools that read modules use this, so they load alike.
void music_use_stdio_files();
