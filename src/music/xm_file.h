// The file layer: the loader reads modules only through five callbacks, so
// the player needs no file system of its own. The intro installs one
// process-wide table; a file may also carry a table of its own.
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

// Installs the process-wide table. If any of the five is null, all five
// are cleared. Call before loading; not thread-safe against a running load.
void xm_set_file_callbacks(XmFileOpen open, XmFileClose close, XmFileRead read,
                           XmFileSeek seek, XmFileTell tell);
// True when all five callbacks are installed.
bool xm_file_callbacks_installed();

// An open file: the handle returned by the open callback, and the table
// it is read through (null: the process-wide one).
struct XmFile {
  void* handle;
  const XmFileCallbacks* io;
};

// Null when no callbacks are installed, open fails or memory runs out.
XmFile* xm_file_open(const char* name);
// Closes and frees; null is ignored.
void xm_file_close(XmFile* file);
// These do nothing on a null file (read and tell return 0).
uint32_t xm_file_read(void* destination, uint32_t size, XmFile* file);
void xm_file_seek(XmFile* file, int32_t offset, int32_t origin);
int32_t xm_file_tell(XmFile* file);
