#include "music/xm_file.h"

#include <cstdlib>

namespace {
XmFileCallbacks callbacks{};

const XmFileCallbacks& io_of(const XmFile* file) { return file->io ? *file->io : callbacks; }
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
  const XmFileCallbacks& io = io_of(file);
  if (io.close) io.close(file->handle);
  std::free(file);
}

uint32_t xm_file_read(void* destination, uint32_t size, XmFile* file) {
  if (!file || !io_of(file).read || size == 0) return 0;
  return io_of(file).read(destination, size, file->handle);
}

void xm_file_seek(XmFile* file, int32_t offset, int32_t origin) {
  if (!file || !io_of(file).seek) return;
  io_of(file).seek(file->handle, offset, origin);
}

int32_t xm_file_tell(XmFile* file) {
  if (!file || !io_of(file).tell) return 0;
  return io_of(file).tell(file->handle);
}
