// The log file on POSIX systems (the SDL and the browser backends).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace platform {

namespace {

// Why `name` could not be opened: the error alone is unclear, as a link
// gives ELOOP (EMLINK or EFTYPE on some systems) and a pipe with no reader
// ENXIO.
const char* open_problem(const char* name, int error) {
  struct stat found {};
  const bool there = lstat(name, &found) == 0;
  if (there && S_ISLNK(found.st_mode)) return "it is a symbolic link, which is not followed";
  if (there && !S_ISREG(found.st_mode) && !S_ISDIR(found.st_mode)) return "it is not a regular file";
  return std::strerror(error);
}

void* refuse(const char* name, const char* problem) {
  std::fprintf(stderr, "vantor: cannot create %s: %s\n", name, problem);
  return nullptr;
}

}  // namespace

void* log_open(const char* name) {
  // Not following a link, and not blocking: a pipe with no reader would
  // otherwise hold the open until one comes. Nothing is emptied before the
  // file is known to be a regular one.
  const int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return refuse(name, open_problem(name, errno));
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    return refuse(name, "it is not a regular file");
  }
  const int flags = fcntl(fd, F_GETFL);
  std::FILE* file = nullptr;
  if (flags != -1 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && ftruncate(fd, 0) == 0) {
    file = fdopen(fd, "w");
  }
  if (!file) {
    const int error = errno;
    close(fd);
    return refuse(name, std::strerror(error));
  }
  return file;
}

void log_write(void* log, const char* text) {
  auto* file = static_cast<std::FILE*>(log);
  std::fputs(text, file);
  std::fflush(file);
}

}  // namespace platform
