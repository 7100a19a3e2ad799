// The player's file layer over the stdio streams.
#pragma once

#include <cstdint>

struct XmFileCallbacks;

// File callbacks over the stdio streams.
void* music_file_open(const char* name);
void music_file_close(void* stream);
uint32_t music_file_read(void* destination, uint32_t size, void* stream);
void music_file_seek(void* stream, int32_t offset, int32_t origin);
int32_t music_file_tell(void* stream);

// The five callbacks above as one table, for xm_load.
const XmFileCallbacks* music_stdio_files();
