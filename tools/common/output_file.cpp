#include "output_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <climits>
#include <unistd.h>
#endif

#include "tool_cli.h"

namespace fs = std::filesystem;

namespace {

const char kForce[] = "give --force to replace it";

std::atomic<int> serial{0};

// ".NAME.PID.N.part": hidden and marked, so nobody takes it for the finished
// file, and never longer than the longest name the folder takes (NAME is
// cut short where the whole would not fit).
std::string temporary_name(const std::string& name, long pid, std::size_t longest) {
  // Built piece by piece: GCC 12 warns wrongly about '"." + text'.
  std::string suffix(1, '.');
  suffix += std::to_string(pid);
  suffix += '.';
  suffix += std::to_string(serial++);
  suffix += ".part";
  std::string base = name;
  if (1 + base.size() + suffix.size() > longest) {
    base.resize(longest > 1 + suffix.size() ? longest - 1 - suffix.size() : 0);
  }
  std::string result(1, '.');
  result += base;
  result += suffix;
  return result;
}

// An output's name, checked before anything is opened on either system: not
// empty, and no input's file.
bool usable_name(const std::string& path, const std::vector<std::string>& inputs, std::string* reason) {
  if (path.empty()) {
    *reason = "is an empty name";
    return false;
  }
  for (const std::string& input : inputs) {
    std::error_code ec;
    if (!input.empty() && fs::equivalent(input, path, ec)) {
      *reason = "is the same file as the input " + input;
      return false;
    }
  }
  return true;
}

}  // namespace

#ifdef _WIN32

namespace {

bool stdout_is_terminal() { return _isatty(_fileno(stdout)) != 0; }

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

int OutputFile::descriptor() const { return file_ != nullptr ? _fileno(file_) : -1; }

bool OutputFile::open(const std::string& path, const std::vector<std::string>& inputs, std::string* reason,
                      bool force) {
  abandon();
  if (path == "-") {
    if (stdout_is_terminal()) {
      *reason = "is a terminal; redirect it to a file or a pipe";
      return false;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    standardOutput_ = true;
    file_ = stdout;
    return true;
  }
  if (!usable_name(path, inputs, reason)) return false;
  const fs::path target = link_target(path);
  std::error_code ec;
  const fs::file_status status = fs::status(target, ec);
  if (fs::is_directory(status)) {
    *reason = "is a directory";
    return false;
  }
  if (status.type() != fs::file_type::not_found && !fs::is_regular_file(status)) {
    // A device: written as it is, never replaced.
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
      *reason = "cannot open: " + cli::os_reason(errno);
      return false;
    }
    return true;
  }
  replacing_ = fs::is_regular_file(status);
  if (replacing_ && (status.permissions() & fs::perms::owner_write) == fs::perms::none && !force) {
    *reason = std::string("is read-only; ") + kForce;
    return false;
  }
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temporaryName_ = (target.parent_path() / temporary_name(target.filename().string(), _getpid(), 255)).string();
    fd = _open(temporaryName_.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int error = errno;
    temporaryName_.clear();
    *reason = (replacing_ ? "cannot replace it, as no new file can be made in its folder: " : "cannot create: ") +
              cli::os_reason(error);
    return false;
  }
  name_ = target.string();
  temporary_ = true;
  if (replacing_) fs::permissions(temporaryName_, status.permissions() | fs::perms::owner_write, ec);
  file_ = _fdopen(fd, "wb");
  if (file_ == nullptr) {
    *reason = "cannot create: " + cli::os_reason(errno);
    _close(fd);
    abandon();
    return false;
  }
  return true;
}

bool OutputFile::commit(std::string* reason, bool replace) {
  bool ok = true;
  int error = 0;
  if (file_ != nullptr) {
    if (std::fflush(file_) != 0 || std::ferror(file_)) {
      ok = false;
      error = errno;
    }
    if (!standardOutput_ && std::fclose(file_) != 0 && ok) {
      ok = false;
      error = errno;
    }
    file_ = nullptr;
  }
  if (!ok) {
    *reason = "cannot write: " + cli::os_reason(error != 0 ? error : EIO);
    abandon();
    return false;
  }
  if (temporary_) {
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(temporaryName_.c_str(), name_.c_str(), flags) == 0) {
      *reason = "cannot put the file in place: " + cli::os_reason(errno != 0 ? errno : EACCES);
      abandon();
      return false;
    }
    temporaryName_.clear();
  }
  abandon();
  return true;
}

void OutputFile::abandon() {
  if (file_ != nullptr && !standardOutput_) std::fclose(file_);
  file_ = nullptr;
  if (!temporaryName_.empty()) std::remove(temporaryName_.c_str());
  temporaryName_.clear();
  name_.clear();
  temporary_ = anonymous_ = replacing_ = standardOutput_ = false;
}

void end_by_signal(int signal) {
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

#else  // POSIX

namespace {

bool stdout_is_terminal() { return isatty(STDOUT_FILENO) != 0; }

// What a signal has to remove before the program ends: a file or an empty
// folder, by its folder's descriptor and its name. Written only by the
// thread that opens outputs; a slot is published by storing its folder last.
struct PendingName {
  std::atomic<int> folder{-1};
  int flags = 0;  // AT_REMOVEDIR for a folder
  char name[NAME_MAX + 1] = {};
};
PendingName pendingNames[4];

int add_pending(int folder, const std::string& name, int flags) {
  for (int i = 0; i < 4; ++i) {
    PendingName& slot = pendingNames[i];
    if (slot.folder.load() >= 0 || name.size() > NAME_MAX) continue;
    std::memcpy(slot.name, name.c_str(), name.size() + 1);
    slot.flags = flags;
    slot.folder.store(folder, std::memory_order_release);
    return i;
  }
  return -1;
}

void remove_pending(int* slot) {
  if (*slot >= 0) pendingNames[*slot].folder.store(-1);
  *slot = -1;
}

extern "C" void on_ending_signal(int signal) { end_by_signal(signal); }

// Unless the program ignores them (nohup) or handles them itself.
void catch_ending_signals() {
  static bool caught = false;
  if (caught) return;
  caught = true;
  for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGUSR1, SIGALRM}) {
    struct sigaction old {};
    if (sigaction(signal, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = on_ending_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

int open_folder(int at, const std::string& path) {
  return openat(at, path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

// "a/b/c" is the name "c" in the folder "a/b"; "c" is in ".", "/c" in "/".
void split(const std::string& path, std::string* folder, std::string* name) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    folder->assign(1, '.');
    *name = path;
    return;
  }
  *folder = slash == 0 ? "/" : path.substr(0, slash);
  *name = path.substr(slash + 1);
}

// The name in the folder is this very file or folder, not a link or
// anything else put there since.
bool holds(int folder, const std::string& name, int fd) {
  struct stat now {}, mine {};
  return fstat(fd, &mine) == 0 && fstatat(folder, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
         now.st_dev == mine.st_dev && now.st_ino == mine.st_ino;
}

// A name for the open file itself, whatever names it has or has not.
int link_descriptor(int fd, int folder, const char* name) {
  if (linkat(fd, "", folder, name, AT_EMPTY_PATH) == 0) return 0;
  if (errno == EEXIST) return -1;
  // Without the capability AT_EMPTY_PATH needs, through /proc.
  char self[64];
  std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW);
}

std::size_t longest_name(int folder) {
  const long longest = fpathconf(folder, _PC_NAME_MAX);
  return longest > 0 && longest <= NAME_MAX ? static_cast<std::size_t>(longest) : NAME_MAX;
}

// The new file's name inside the private folder.
const char kInside[] = "file";

// Where an output goes: the folder, held open, and the name in it.
struct Place {
  int folder = -1;
  std::string name;
  bool exists = false;
  bool through = false;  // a link to something written straight through
  struct stat status {};
};

// Follows symbolic links from `path` to the name they end at. A link that
// another user put in a folder others may write is not followed (as the
// kernel does in sticky folders): it could send the output anywhere.
bool find_place(const std::string& path, Place* place, std::string* reason) {
  std::string folderPath, name;
  split(path, &folderPath, &name);
  int folder = open_folder(AT_FDCWD, folderPath);
  if (folder < 0) {
    *reason = "cannot create: " + cli::os_reason(errno);
    return false;
  }
  for (int hops = 0;; ++hops) {
    if (name.empty()) name.assign(1, '.');  // "dir/"
    struct stat status {};
    if (fstatat(folder, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno != ENOENT) {
        *reason = "cannot open: " + cli::os_reason(errno);
        ::close(folder);
        return false;
      }
      break;
    }
    place->exists = true;
    place->status = status;
    if (!S_ISLNK(status.st_mode)) break;
    struct stat folderStatus {};
    if (hops == 40 || fstat(folder, &folderStatus) != 0) {
      *reason = "cannot open: " + cli::os_reason(hops == 40 ? ELOOP : errno);
      ::close(folder);
      return false;
    }
    if ((folderStatus.st_mode & (S_IWGRP | S_IWOTH)) != 0 && status.st_uid != geteuid() &&
        status.st_uid != folderStatus.st_uid) {
      *reason = "is a symbolic link another user made in a folder others may write; not followed";
      ::close(folder);
      return false;
    }
    // A link to a device or a FIFO is opened through the link, as the
    // kernel follows it: /dev/stdout leads to /proc/self/fd/1 and from there
    // to a pipe that has no name to follow.
    struct stat followed {};
    if (fstatat(folder, name.c_str(), &followed, 0) == 0 && !S_ISREG(followed.st_mode)) {
      place->through = true;
      place->status = followed;
      break;
    }
    char target[PATH_MAX + 1];
    const ssize_t length = readlinkat(folder, name.c_str(), target, PATH_MAX);
    if (length < 0) {
      *reason = "cannot open: " + cli::os_reason(errno);
      ::close(folder);
      return false;
    }
    target[length] = '\0';
    std::string targetFolder;
    split(target, &targetFolder, &name);
    const int next = open_folder(target[0] == '/' ? AT_FDCWD : folder, targetFolder);
    ::close(folder);
    if (next < 0) {
      *reason = "cannot create: " + cli::os_reason(errno);
      return false;
    }
    folder = next;
    place->exists = false;
  }
  place->folder = folder;
  place->name = name;
  return true;
}

}  // namespace

int OutputFile::descriptor() const { return file_ != nullptr ? fileno(file_) : -1; }

// A hidden folder beside the name, only for this program: ".NAME.PID.N.part".
bool OutputFile::makePrivate(int* error) {
  catch_ending_signals();
  for (int attempt = 0; attempt < 100; ++attempt) {
    privateName_ = temporary_name(name_, getpid(), longest_name(folder_));
    // Listed first, so that no signal comes between making and listing.
    pending_[1] = add_pending(folder_, privateName_, AT_REMOVEDIR);
    if (mkdirat(folder_, privateName_.c_str(), 0700) == 0) break;
    *error = errno;
    remove_pending(&pending_[1]);
    if (*error != EEXIST || attempt == 99) {
      privateName_.clear();
      return false;
    }
  }
  private_ = openat(folder_, privateName_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  // The folder just made, not one put in its place in between.
  struct stat status {};
  if (private_ < 0 || fstat(private_, &status) != 0 || status.st_uid != geteuid() || (status.st_mode & 077) != 0) {
    *error = private_ < 0 ? errno : EEXIST;
    if (private_ >= 0) ::close(private_);
    private_ = -1;
    remove_pending(&pending_[1]);
    privateName_.clear();
    return false;
  }
  return true;
}

void OutputFile::removePrivate() {
  if (private_ < 0) return;
  unlinkat(private_, kInside, 0);
  remove_pending(&pending_[0]);
  if (holds(folder_, privateName_, private_)) unlinkat(folder_, privateName_.c_str(), AT_REMOVEDIR);
  remove_pending(&pending_[1]);
  ::close(private_);
  private_ = -1;
  privateName_.clear();
}

bool OutputFile::open(const std::string& path, const std::vector<std::string>& inputs, std::string* reason,
                      bool force) {
  abandon();
  if (path == "-") {
    if (stdout_is_terminal()) {
      *reason = "is a terminal; redirect it to a file or a pipe";
      return false;
    }
    standardOutput_ = true;
    file_ = stdout;
    return true;
  }
  if (!usable_name(path, inputs, reason)) return false;
  Place place;
  if (!find_place(path, &place, reason)) return false;
  folder_ = place.folder;
  name_ = place.name;
  if (place.exists && S_ISDIR(place.status.st_mode)) {
    *reason = "is a directory";
    abandon();
    return false;
  }
  if (place.exists && !S_ISREG(place.status.st_mode)) {
    // A device or a FIFO: written as it is, never replaced. Opening a FIFO
    // waits for its reader.
    const int fd = openat(folder_, name_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | (place.through ? 0 : O_NOFOLLOW));
    struct stat opened {};
    if (fd < 0 || fstat(fd, &opened) != 0) {
      *reason = "cannot open: " + cli::os_reason(errno);
      if (fd >= 0) ::close(fd);
      abandon();
      return false;
    }
    if (S_ISREG(opened.st_mode) || S_ISDIR(opened.st_mode) || isatty(fd)) {
      *reason = isatty(fd) ? "is a terminal; redirect it to a file or a pipe" : "changed while it was opened";
      ::close(fd);
      abandon();
      return false;
    }
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
      *reason = "cannot open: " + cli::os_reason(errno);
      ::close(fd);
      abandon();
      return false;
    }
    return true;
  }

  replacing_ = place.exists;
  const struct stat& old = place.status;
  if (replacing_ && (old.st_mode & S_IWUSR) == 0 && !force) {
    *reason = std::string("is read-only; ") + kForce;
    abandon();
    return false;
  }
  // A file with no name until it is complete: nothing is left behind however
  // the program ends. Open for reading too: writers such as FFmpeg's .mp4
  // read back what they wrote. Where the file system or a missing /proc cannot link
  // it later, a name in the private folder, which a signal removes.
  temporary_ = true;
  catch_ending_signals();
  int fd = -1;
  if (faccessat(AT_FDCWD, "/proc/self/fd", X_OK, 0) == 0) {
    fd = openat(folder_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
  }
  anonymous_ = fd >= 0;
  int error = 0;
  if (fd < 0 && makePrivate(&error)) {
    pending_[0] = add_pending(private_, kInside, 0);
    fd = openat(private_, kInside, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    error = errno;
  }
  if (fd < 0) {
    *reason = (replacing_ ? "cannot replace it, as no new file can be made in its folder: " : "cannot create: ") +
              cli::os_reason(error != 0 ? error : errno);
    abandon();
    return false;
  }
  file_ = fdopen(fd, "wb");
  if (file_ == nullptr) {
    *reason = "cannot create: " + cli::os_reason(errno);
    ::close(fd);
    abandon();
    return false;
  }
  if (replacing_) {
    // The new file takes the old one's owner and permissions; fchown comes
    // first, as it clears set-user-ID bits.
    struct stat mine {};
    fstat(fd, &mine);
    if ((mine.st_uid != old.st_uid || mine.st_gid != old.st_gid) && fchown(fd, old.st_uid, old.st_gid) != 0) {
      if (mine.st_uid != old.st_uid && !force) {
        *reason = std::string("belongs to another user, and a new file cannot be given to them; ") + kForce;
        abandon();
        return false;
      }
      // Not allowed to give the file away: the group at least, where it can.
      if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) {
      }
    }
    fchmod(fd, old.st_mode & 0777);
  }
  return true;
}

bool OutputFile::commit(std::string* reason, bool replace) {
  int error = 0;
  if (file_ != nullptr && (std::fflush(file_) != 0 || std::ferror(file_))) error = errno != 0 ? errno : EIO;
  if (error == 0 && temporary_ && !giveName(replace, reason)) {
    abandon();
    return false;
  }
  if (file_ != nullptr && !standardOutput_) {
    if (std::fclose(file_) != 0 && error == 0) error = errno;
    file_ = nullptr;
  }
  abandon();
  if (error != 0) {
    *reason = "cannot write: " + cli::os_reason(error);
    return false;
  }
  return true;
}

// A free name is taken by a link, which never replaces anything; a taken
// one by a rename out of the private folder, where no other user can have
// put a link in the file's place.
bool OutputFile::giveName(bool replace, std::string* reason) {
  const int fd = fileno(file_);
  bool placed = false;
  if (anonymous_) {
    placed = link_descriptor(fd, folder_, name_.c_str()) == 0;
    if (!placed && (errno != EEXIST || !replace)) {
      *reason = errno == EEXIST ? "was made by another program meanwhile; left as it is"
                                : "cannot put the file in place: " + cli::os_reason(errno);
      return false;
    }
    int error = 0;
    if (!placed && makePrivate(&error)) pending_[0] = add_pending(private_, kInside, 0);
    if (!placed && (private_ < 0 || link_descriptor(fd, private_, kInside) != 0)) {
      *reason = "cannot put the file in place: " + cli::os_reason(error != 0 ? error : errno);
      return false;
    }
  } else if (!replace) {
    placed = linkat(private_, kInside, folder_, name_.c_str(), 0) == 0;
    if (!placed) {
      *reason = errno == EEXIST ? "was made by another program meanwhile; left as it is"
                                : "cannot put the file in place: " + cli::os_reason(errno);
      return false;
    }
  }
  if (!placed && renameat(private_, kInside, folder_, name_.c_str()) != 0) {
    *reason = "cannot put the file in place: " + cli::os_reason(errno);
    return false;
  }
  remove_pending(&pending_[0]);
  removePrivate();
  if (!holds(folder_, name_, fd)) {
    *reason = "was replaced by another program as it took the name";
    return false;
  }
  return true;
}

void OutputFile::abandon() {
  if (file_ != nullptr && !standardOutput_) std::fclose(file_);
  file_ = nullptr;
  removePrivate();
  if (folder_ >= 0) ::close(folder_);
  folder_ = -1;
  name_.clear();
  temporary_ = anonymous_ = replacing_ = standardOutput_ = false;
}

void end_by_signal(int signal) {
  const int saved = errno;
  // Files first, then the folders they were in.
  for (const int flags : {0, AT_REMOVEDIR}) {
    for (PendingName& pending : pendingNames) {
      const int folder = pending.folder.load(std::memory_order_acquire);
      if (folder >= 0 && pending.flags == flags) unlinkat(folder, pending.name, flags);
    }
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  // Ends the program now, as the signal would have; in a handler the signal
  // is blocked until it is unblocked here.
  raise(signal);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  errno = saved;
}

#endif

void write_errors_not_signals() {
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}
