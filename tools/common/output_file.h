// An output file that never destroys what the program did not make.
//
// - A regular file (or a name not yet taken) is written under a temporary
//   name in the same folder and renamed into place only when complete; on
//   failure only the temporary file is removed, and whatever had the name
//   before is left as it was.
// - A symbolic link is followed: the file it points to is replaced the same
//   way, and the link stays.
// - Anything else (a device, a FIFO, a link to one) is written straight
//   through and never removed or renamed.
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
  // *reason ("cannot create: Permission denied"), when it cannot be.
  bool open(const std::string& path, const std::vector<std::string>& inputs, std::string* reason);

  // For writers that open the file by name themselves (FFmpeg): prepares the
  // same way, leaving the file closed; it is then written at writePath().
  bool prepare(const std::string& path, const std::vector<std::string>& inputs, std::string* reason);

  std::FILE* file() const { return file_; }
  const std::string& writePath() const { return writePath_; }
  // A regular file, so its start may be rewritten at the end.
  bool seekable() const { return temporary_; }
  bool isStandardOutput() const { return standardOutput_; }

  // Flushes and closes the file and gives it its name. False, with the
  // reason, when anything failed to be written; the temporary file is then
  // removed.
  bool commit(std::string* reason);

  // Removes the temporary file, if any; a device or standard output is left.
  void abandon();

 private:
  bool start(const std::string& path, const std::vector<std::string>& inputs, bool openIt, std::string* reason);

  std::FILE* file_ = nullptr;
  std::string target_;     // the file that gets the name at the end
  std::string writePath_;  // what is written: the temporary file or the path
  bool temporary_ = false;
  bool standardOutput_ = false;
};

// The reason a file cannot be read, or empty when it is a readable file
// with something in it: "cannot open: No such file or directory", "is a
// directory", "is empty".
std::string unreadable_input(const std::string& path);

// Makes a write past a size limit (ulimit -f) fail like a full disk instead
// of ending the program, so the temporary file is still removed.
void write_errors_not_signals();
