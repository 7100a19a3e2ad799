// An output file that never destroys what the program did not make.
//
// - A regular file (or a name not yet taken) is written as a new file in the
//   same folder and given the name only when complete; on failure, or when
//   the program is ended by a signal, the new file goes away and whatever
//   had the name before is left as it was. On Linux the new file has no name
//   at all while it is written (O_TMPFILE); where the file system cannot do
//   that, it is "file" in a hidden folder of its own beside the name.
// - Every byte goes through the descriptor opened here, and every name is
//   made relative to the folder held open: the new file takes its name by a
//   link (a free name) or by a rename out of that private folder (a taken
//   one), which no other user can change, so another user who may write the
//   folder cannot send the output anywhere else by putting a link in place
//   of a temporary name.
// - A replaced file keeps its owner and permissions; one whose owner made it
//   read-only, or whose owner cannot be kept, is replaced only when forced.
// - A symbolic link is followed: the file it points to is replaced the same
//   way, and the link stays. A link that another user put in a folder
//   others may write is not followed.
// - Anything else (a device, a FIFO, a link to one) is written straight
//   through and never removed or renamed; a terminal is refused.
// - An output that is the same file as one of the inputs is refused before
//   anything is written.
// - "-" is standard output, refused when it is a terminal.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile() { abandon(); }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Opens the output for writing in binary. False, with the reason in
  // *reason ("is read-only; give --force to replace it"), when it cannot be.
  // With force, a read-only file or one whose owner cannot be kept is
  // replaced all the same.
  bool open(const std::string& path, const std::vector<std::string>& inputs, std::string* reason,
            bool force = false);

  std::FILE* file() const { return file_; }
  // The descriptor under file(), for writers that do not use stdio (FFmpeg).
  int descriptor() const;
  // A regular file, so its start may be rewritten at the end.
  bool seekable() const { return temporary_; }
  bool isStandardOutput() const { return standardOutput_; }
  // Something had the name when the file was opened, and commit() replaces it.
  bool replacing() const { return replacing_; }

  // Flushes and closes the file and gives it its name. False, with the
  // reason, when anything failed to be written; the new file is then
  // removed. Without replace, the name is taken only while it is free.
  bool commit(std::string* reason, bool replace = true);

  // Removes the new file, if any; a device or standard output is left.
  void abandon();

 private:
  bool makePrivate(int* error);
  void removePrivate();
  bool giveName(bool replace, std::string* reason);

  std::FILE* file_ = nullptr;
  int folder_ = -1;         // the folder that gets the name (POSIX)
  std::string name_;        // the name in that folder (Windows: the whole path)
  // POSIX: a folder of the program's own beside the name, which only it may
  // change, holding the new file while that has a name; its slots in the
  // list of names a signal removes (the file's, the folder's).
  int private_ = -1;
  std::string privateName_;
  int pending_[2] = {-1, -1};
  std::string temporaryName_;  // Windows: the new file's whole path
  bool temporary_ = false;  // written as a new file that takes the name
  bool anonymous_ = false;  // that new file has no name until commit()
  bool replacing_ = false;
  bool standardOutput_ = false;
};

// Makes a write past a size limit (ulimit -f) fail like a full disk instead
// of ending the program, so the temporary file is still removed.
void write_errors_not_signals();

// What the signals that end a program (SIGINT, SIGTERM, SIGHUP, SIGQUIT,
// SIGPIPE, SIGUSR1, SIGALRM) do while an output file is open: remove the
// temporary files, then end the program by the same signal. A program that
// catches one of them itself hands it on here when it ends after all.
void end_by_signal(int signal);
