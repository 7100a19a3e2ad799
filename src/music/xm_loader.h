// Reads an XM module into a song, from one of three sources: bytes in
// memory, a stdio stream, or a file read through callbacks. A source is read
// once, from where it stands to its end, then the bytes are taken apart.
//
// Every size and count is checked against the file: a module that cannot be
// played safely is rejected with a reason, and the damage real files carry
// (overlong packed patterns, loops past the sample end, stray note bytes) is
// repaired so the song still plays. A file cut short plays what it holds:
// missing sample data is silence, missing patterns and instruments are
// empty, and the load says so in a warning.
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

// Where a file cut short ends, for a module that loads all the same: in
// or before part `number` of `count` (patterns or instruments counted from
// 1), in the sample data of instrument `number`, in the module header, or
// in chunks after the module.
enum class XmCutPlace : uint8_t {
  none, header, inPattern, beforePattern, inInstrument, beforeInstrument, inSampleData, afterModule
};
struct XmCut {
  XmCutPlace place;
  int32_t number, count;
};

// Why a load failed: the kind, and a short English reason, e.g. "not an XM
// module (wrong signature)". A load that succeeds leaves kind none, and the
// first place where the file ends too early when the module is incomplete.
struct XmLoadError {
  XmLoadFailure kind;
  int systemError;  // errno of a failed read
  char message[192];
  XmCut cut;        // place none for a whole module
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
// Reads through `read`, which copies up to `bytes` bytes and returns how
// many: 0 at the end, XM_READ_ERROR when reading failed.
using XmReadFunction = size_t (*)(void* user, void* buffer, size_t bytes);
constexpr size_t XM_READ_ERROR = SIZE_MAX;
XmSong* xm_load_reader(XmReadFunction read, void* user, XmSampleLoader sampleLoader, XmLoadError* error);
// Reads the file through its callbacks from its start.
XmSong* xm_load_file(XmFile* file, XmSampleLoader sampleLoader, XmLoadError* error);
// Whether the `size` bytes at `data` begin a module this loader plays,
// judged on the signature and, when there are 80 bytes, the header's counts.
// False with the reason in `error`.
constexpr size_t XM_PROBE_BYTES = 80;
bool xm_probe_module(const uint8_t* data, size_t size, XmLoadError* error);
// Opens `name` through `callbacks`, reads it and closes it.
XmSong* xm_load(const char* name, const XmFileCallbacks* callbacks, XmSampleLoader sampleLoader,
                XmLoadError* error);
