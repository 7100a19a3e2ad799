#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "tool_cli.h"

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
int open_new(const std::string& path) {
  return _open(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
}
bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }
int process_id() { return _getpid(); }
bool replace(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}
int close_descriptor(int fd) { return _close(fd); }
std::FILE* descriptor_file(int fd) { return _fdopen(fd, "wb"); }
#else
int open_new(const std::string& path) { return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666); }
bool stdout_is_terminal() { return isatty(STDOUT_FILENO) != 0; }
int process_id() { return static_cast<int>(getpid()); }
bool replace(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }
int close_descriptor(int fd) { return ::close(fd); }
std::FILE* descriptor_file(int fd) { return fdopen(fd, "wb"); }
#endif

// Follows symbolic links to the file they end at (which may not exist yet).
fs::path link_target(fs::path path) {
  std::error_code ec;
  for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(path, ec)); ++hops) {
    const fs::path link = fs::read_symlink(path, ec);
    if (ec) break;
    path = link.is_absolute() ? link : path.parent_path() / link;
  }
  return path;
}

}  // namespace

bool OutputFile::open(const std::string& path, const std::vector<std::string>& inputs, std::string* reason) {
  return start(path, inputs, true, reason);
}

bool OutputFile::prepare(const std::string& path, const std::vector<std::string>& inputs, std::string* reason) {
  return start(path, inputs, false, reason);
}

bool OutputFile::start(const std::string& path, const std::vector<std::string>& inputs, bool openIt,
                       std::string* reason) {
  abandon();
  if (path == "-") {
    if (stdout_is_terminal()) {
      *reason = "is a terminal; redirect it to a file or a pipe";
      return false;
    }
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    standardOutput_ = true;
    file_ = stdout;
    return true;
  }
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (!input.empty() && fs::equivalent(input, path, ec)) {
      *reason = "is the same file as the input " + input;
      return false;
    }
  }
  const fs::path target = link_target(path);
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) {
    *reason = "is a directory";
    return false;
  }
  temporary_ = status.type() == fs::file_type::not_found || fs::is_regular_file(status);
  if (!temporary_) {
    // A device or a FIFO: written as it is, never replaced.
    writePath_ = path;
    if (openIt) {
      file_ = std::fopen(path.c_str(), "wb");
      if (file_ == nullptr) {
        *reason = "cannot open: " + cli::os_reason(errno);
        return false;
      }
    }
    return true;
  }

  // Beside the target, so the rename stays on one file system; hidden and
  // marked, so nobody takes it for the finished file.
  static std::atomic<int> serial{0};
  const std::string folder = target.parent_path().string();
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    // Built piece by piece: GCC 12 warns wrongly about '"." + temporary'.
    std::string name = ".";
    name += target.filename().string() + "." + std::to_string(process_id()) + "." + std::to_string(serial++) + ".part";
    writePath_ = (target.parent_path() / name).string();
    fd = open_new(writePath_);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int error = errno;
    writePath_.clear();
    temporary_ = false;
    std::error_code folderError;
    const bool noFolder = !folder.empty() && !fs::is_directory(folder, folderError);
    *reason = "cannot create: " + cli::os_reason(noFolder ? ENOENT : error);
    return false;
  }
  target_ = target.string();
  // A file that is replaced keeps its permissions.
  if (fs::is_regular_file(status)) fs::permissions(writePath_, status.permissions(), ec);
  if (!openIt) {
    close_descriptor(fd);
    return true;
  }
  file_ = descriptor_file(fd);
  if (file_ == nullptr) {
    *reason = "cannot create: " + cli::os_reason(errno);
    close_descriptor(fd);
    abandon();
    return false;
  }
  return true;
}

bool OutputFile::commit(std::string* reason) {
  bool ok = true;
  int error = 0;
  if (file_ != nullptr) {
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
      ok = false;
      error = errno;
    }
    if (!standardOutput_) {
      if (std::fclose(file_) != 0 && ok) {
        ok = false;
        error = errno;
      }
    }
    file_ = nullptr;
  }
  if (ok && temporary_ && !replace(writePath_, target_)) {
    *reason = "cannot put the file in place: " + cli::os_reason(errno);
    abandon();
    return false;
  }
  if (!ok) {
    *reason = "cannot write: " + cli::os_reason(error != 0 ? error : EIO);
    abandon();
    return false;
  }
  temporary_ = false;
  writePath_.clear();
  return true;
}

void OutputFile::abandon() {
  if (file_ != nullptr && !standardOutput_) std::fclose(file_);
  file_ = nullptr;
  if (temporary_ && !writePath_.empty()) std::remove(writePath_.c_str());
  temporary_ = false;
  standardOutput_ = false;
  writePath_.clear();
}

std::string unreadable_input(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (fs::is_directory(status)) return "is a directory";
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return "cannot open: " + cli::os_reason(errno);
  std::fclose(f);
  if (fs::is_regular_file(status) && fs::file_size(path, ec) == 0 && !ec) return "is empty";
  return "";
}

void write_errors_not_signals() {
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}
