#include "music/xm_file.h"

#include <cstdlib>

bool xm_file_callbacks_complete(const XmFileCallbacks* io) {
  return io && io->open && io->close && io->read && io->seek && io->tell;
}

XmFile* xm_file_open(const char* name, const XmFileCallbacks* io) {
  if (!xm_file_callbacks_complete(io) || !name) return nullptr;
  auto* file = static_cast<XmFile*>(std::calloc(1, sizeof(XmFile)));
  if (!file) return nullptr;
  file->io = io;
  file->handle = io->open(name);
  if (!file->handle) {
    std::free(file);
    return nullptr;
  }
  return file;
}

void xm_file_close(XmFile* file) {
  if (!file) return;
  if (file->io && file->io->close) file->io->close(file->handle);
  std::free(file);
}

uint32_t xm_file_read(void* destination, uint32_t size, XmFile* file) {
  if (!file || !file->io || !file->io->read || size == 0) return 0;
  return file->io->read(destination, size, file->handle);
}

void xm_file_seek(XmFile* file, int32_t offset, int32_t origin) {
  if (!file || !file->io || !file->io->seek) return;
  file->io->seek(file->handle, offset, origin);
}

int32_t xm_file_tell(XmFile* file) {
  if (!file || !file->io || !file->io->tell) return 0;
  return file->io->tell(file->handle);
}
