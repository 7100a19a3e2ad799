// Reads an XM module into a song, from one of three sources: bytes in
// memory, a stdio stream, or a file read through callbacks. A source is read
// once, from where it stands to its end, then the bytes are taken apart.
//
// Every size and count is checked against the file: a module that cannot be
// played safely is rejected with a reason, and the damage real files carry
// (truncated sample data, overlong packed patterns, loops past the sample
// end, stray note bytes) is repaired so the song still plays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "music/xm_types.h"

struct XmFile;
struct XmFileCallbacks;

// Modules are small; a source larger than this is not one.
constexpr size_t XM_MAX_MODULE_BYTES = size_t{256} << 20;

enum class XmLoadFailure { none, format, memory, open, read };

// Why a load failed: the kind, and a short English reason, e.g. "not an XM
// module (wrong signature)".
struct XmLoadError {
  XmLoadFailure kind;
  int systemError;  // errno of a failed read
  char message[192];
};

// Loads the `size` bytes at `data` into `song`, which is zero-filled by the
// caller and has its sampleLoader set (or null). The bytes are only read
// during the call. Returns false on failure; then the song may hold partly
// built data, which xm_release_song frees. `error` may be null.
bool xm_load_module(XmSong* song, const uint8_t* data, size_t size, XmLoadError* error);

// Each allocates a song and loads it; null on any failure, with `error`
// (may be null) saying why. Free the song with xm_release_song.
XmSong* xm_load_memory(const uint8_t* data, size_t size, XmSampleLoader sampleLoader, XmLoadError* error);
// Reads the stream from where it stands to its end; does not close it.
XmSong* xm_load_stream(std::FILE* stream, XmSampleLoader sampleLoader, XmLoadError* error);
// Reads the file through its callbacks from its start.
XmSong* xm_load_file(XmFile* file, XmSampleLoader sampleLoader, XmLoadError* error);
// Opens `name` through `callbacks`, reads it and closes it.
XmSong* xm_load(const char* name, const XmFileCallbacks* callbacks, XmSampleLoader sampleLoader,
                XmLoadError* error);
