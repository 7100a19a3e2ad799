#include "module_summary.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "tool_cli.h"

#ifdef _WIN32
#define MODULE_FILENO(f) _fileno(f)
#define MODULE_FSTAT _fstat64
using FileInfo = struct _stat64;
#else
#define MODULE_FILENO(f) fileno(f)
#define MODULE_FSTAT fstat
using FileInfo = struct stat;
#endif

vxm_song* read_module(const std::string& path, int rate, std::string* reason) {
  // A folder is named before it is opened (some systems open folders).
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    *reason = "is a directory";
    return nullptr;
  }
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    *reason = "cannot open: " + cli::os_reason(errno);
    return nullptr;
  }
  FileInfo info{};
  vxm_song* song = nullptr;
  if (MODULE_FSTAT(MODULE_FILENO(f), &info) == 0 && (info.st_mode & S_IFMT) == S_IFREG && info.st_size == 0) {
    *reason = "is empty";
  } else {
    vxm_error error;
    song = vxm_load_stdio(f, rate, &error);
    if (!song) *reason = std::string(error.message) == "empty file" ? "is empty" : error.message;
  }
  std::fclose(f);
  return song;
}

vxm_song* load_module(const std::string& path, int rate) {
  std::string reason;
  vxm_song* song = read_module(path, rate, &reason);
  if (!song) {
    cli::fail(path, reason);
    return nullptr;
  }
  // A module cut short plays what it holds; the tools say what it lacks.
  if (vxm_warning(song)[0] != '\0') cli::note(cli::printable(path) + ": " + vxm_warning(song));
  return song;
}

std::string module_title(const vxm_song* song) { return cli::printable(vxm_title(song)); }

std::string format_duration(int64_t frames, int rate) {
  const int64_t seconds = (frames + rate / 2) / rate;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                static_cast<long long>(seconds % 60));
  return text;
}

namespace {

std::string count(int n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

std::string module_summary(const vxm_song* song, const vxm_length& length, int rate) {
  const std::string title = module_title(song);
  return "\"" + title + "\", " + count(vxm_channel_count(song), "channel") + ", " +
         count(vxm_pattern_count(song), "pattern") + ", " + count(vxm_instrument_count(song), "instrument") + ", " +
         format_duration(length.frames, rate) + (length.ended ? "" : " (no end)") + ", " +
         (vxm_linear_frequencies(song) ? "linear" : "Amiga");
}
