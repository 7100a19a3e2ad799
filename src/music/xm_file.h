// The file layer: a module may be read through five callbacks, so the player
// needs no file system of its own. Each file carries the table it is read
// through; there is no table for the whole process.
#pragma once

#include <cstdint>

using XmFileOpen = void* (*)(const char* name);        // handle or null
using XmFileClose = void (*)(void* handle);
using XmFileRead = uint32_t (*)(void* destination, uint32_t size,
                                void* handle);          // bytes read
using XmFileSeek = void (*)(void* handle, int32_t offset,
                            int32_t origin);            // 0 start, 1 current
using XmFileTell = int32_t (*)(void* handle);

struct XmFileCallbacks {
  XmFileOpen open;
  XmFileClose close;
  XmFileRead read;
  XmFileSeek seek;
  XmFileTell tell;
};

// True when all five callbacks are set.
bool xm_file_callbacks_complete(const XmFileCallbacks* io);

// An open file: the handle returned by the open callback, and the table
// it is read through.
struct XmFile {
  void* handle;
  const XmFileCallbacks* io;
};

// Null when the table is incomplete, open fails or memory runs out.
XmFile* xm_file_open(const char* name, const XmFileCallbacks* io);
// Closes and frees; null is ignored.
void xm_file_close(XmFile* file);
// These do nothing on a null file (read and tell return 0).
uint32_t xm_file_read(void* destination, uint32_t size, XmFile* file);
void xm_file_seek(XmFile* file, int32_t offset, int32_t origin);
int32_t xm_file_tell(XmFile* file);
