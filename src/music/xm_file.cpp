#include "music/xm_file.h"

#include <cstdlib>

namespace {
XmFileCallbacks callbacks{};
}

void xm_set_file_callbacks(XmFileOpen open, XmFileClose close, XmFileRead read,
                           XmFileSeek seek, XmFileTell tell) {
  if (!open || !close || !read || !seek || !tell) {
    callbacks = XmFileCallbacks{};
    return;
  }
  callbacks = XmFileCallbacks{open, close, read, seek, tell};
}

bool xm_file_callbacks_installed() { return callbacks.open != nullptr; }

XmFile* xm_file_open(const char* name) {
  if (!callbacks.open || !name) return nullptr;
  auto* file = static_cast<XmFile*>(std::calloc(1, sizeof(XmFile)));
  if (!file) return nullptr;
  file->handle = callbacks.open(name);
  if (!file->handle) {
    std::free(file);
    return nullptr;
  }
  return file;
}

void xm_file_close(XmFile* file) {
  if (!file) return;
  if (callbacks.close) callbacks.close(file->handle);
  std::free(file);
}

uint32_t xm_file_read(void* destination, uint32_t size, XmFile* file) {
  if (!file || !callbacks.read || size == 0) return 0;
  return callbacks.read(destination, size, file->handle);
}

void xm_file_seek(XmFile* file, int32_t offset, int32_t origin) {
  if (!file || !callbacks.seek) return;
  callbacks.seek(file->handle, offset, origin);
}

int32_t xm_file_tell(XmFile* file) {
  if (!file || !callbacks.tell) return 0;
  return callbacks.tell(file->handle);
}
