#include "tool_cli.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace cli {

namespace {

const char* programName = "tool";

std::string quoted(const std::string& text) { return "'" + text + "'"; }

std::string limit(const char* which, const std::string& text, const std::string& bound, const char* note) {
  std::string reason = text + " is " + which + " the limit of " + bound;
  if (note != nullptr) reason += std::string(" (") + note + ")";
  return reason;
}

std::string format(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", v);
  return text;
}

}  // namespace

void set_program(const char* name) { programName = name; }
const char* program() { return programName; }

int fail(const std::string& what, const std::string& reason) {
  std::fflush(stdout);
  const std::string shown = what.empty() ? "''" : printable(what);
  std::fprintf(stderr, "%s: %s: %s\n", programName, shown.c_str(), printable(reason).c_str());
  return 1;
}

int usage_error(const std::string& what, const std::string& reason) {
  fail(what, reason);
  std::fprintf(stderr, "try '%s --help'\n", programName);
  return 2;
}

void note(const std::string& text) { std::fprintf(stderr, "%s: %s\n", programName, printable(text).c_str()); }

std::string os_reason(int error) { return std::strerror(error); }

std::string printable(const std::string& text, bool asciiOnly) {
  std::string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      out.push_back(byte < 0x20 || byte == 0x7F ? '?' : static_cast<char>(byte));
      ++i;
      continue;
    }
    // A UTF-8 sequence of a character that prints is kept whole; the C1
    // controls (U+0080 to U+009F, ESC's 8-bit cousins) and anything
    // malformed are not.
    std::size_t length = 0;
    unsigned low = 0x80, high = 0xBF;  // the range of the second byte
    if (byte >= 0xC2 && byte <= 0xDF) {
      length = 2;
    } else if (byte >= 0xE0 && byte <= 0xEF) {
      length = 3;
      if (byte == 0xE0) low = 0xA0;
      if (byte == 0xED) high = 0x9F;
    } else if (byte >= 0xF0 && byte <= 0xF4) {
      length = 4;
      if (byte == 0xF0) low = 0x90;
      if (byte == 0xF4) high = 0x8F;
    }
    bool valid = !asciiOnly && length > 0 && i + length <= n;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = k == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
    }
    if (valid && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) valid = false;
    if (!valid) {
      out.push_back('?');
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

namespace {

int outputError = 0;  // errno of the first write to standard output that failed
bool outputLost = false;

void lose_output(int error) {
  if (outputLost) return;
  outputLost = true;
  outputError = error != 0 ? error : EIO;
}

}  // namespace

void print(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const int written = std::vfprintf(stdout, format, args);
  va_end(args);
  if (written < 0) lose_output(errno);
}

void flush() {
  if (std::fflush(stdout) != 0) lose_output(errno);
}

int finish(int status) {
  flush();
  if (std::ferror(stdout)) lose_output(EIO);
  // A failure already said what went wrong.
  if (!outputLost || status != 0) return status;
  return fail("standard output", "cannot write: " + os_reason(outputError));
}

namespace {

bool help_or_version(int argc, char** argv, const char* usageText, std::string* text) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      *text = usageText;
      return true;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      *text = std::string(programName) + " " + VANTOR_VERSION + "\n";
      return true;
    }
  }
  return false;
}

}  // namespace

int start(const char* name, int argc, char** argv, const char* usageText) {
  set_program(name);
#ifndef _WIN32
  // Started with "1>&-": a file opened later would become standard output
  // and get whatever is printed. /dev/null opened the other way round keeps
  // the number taken and fails every use as a closed descriptor does.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int spare = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    if (spare >= 0 && spare != fd) {
      dup2(spare, fd);
      ::close(spare);
    }
  }
#endif
  std::string text;
  if (help_or_version(argc, argv, usageText, &text)) {
    if (std::fputs(text.c_str(), stdout) < 0) lose_output(errno);
    return finish(0);
  }
  if (argc == 1) {
    std::fputs(usageText, stderr);
    return 2;
  }
  return -1;
}

bool Args::next() {
  if (++at_ >= argc_) return false;
  word_ = argv_[at_];
  hasAttached_ = false;
  if (operands_) return true;
  if (word_ == "--") {
    operands_ = true;
    return next();
  }
  const std::size_t equals = word_.find('=');
  if (word_.rfind("--", 0) == 0 && equals != std::string::npos) {
    attached_ = word_.substr(equals + 1);
    word_.resize(equals);
    hasAttached_ = true;
  }
  return true;
}

bool Args::value(std::string* out) {
  if (hasAttached_) {
    *out = attached_;
    hasAttached_ = false;
  } else if (at_ + 1 < argc_) {
    *out = argv_[++at_];
  } else {
    usage_error(word_, "needs a value");
    return false;
  }
  if (out->empty()) {
    usage_error(word_, "needs a value, not an empty one");
    return false;
  }
  return true;
}

bool Args::no_value() {
  if (!hasAttached_) return true;
  usage_error(word_, "takes no value");
  return false;
}

namespace {

// [+-] digits [. digits] [e [+-] digits], with a digit on one side of the
// point at least: what people write, not what strtod also takes ("0x1p3",
// "inf", "nan", leading blanks).
bool decimal(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  auto digits = [&] {
    const std::size_t from = i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
    return i - from;
  };
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < n && text[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (digits() == 0) return false;
  }
  return i == n;
}

}  // namespace

bool parse_number(const std::string& text, double min, double max, double* out, std::string* reason,
                  const char* maxNote, const char* minNote) {
  if (!decimal(text)) {
    *reason = quoted(text) + " is not a decimal number";
    return false;
  }
  // Past the range of a double strtod gives an infinity (or 0 for 1e-400),
  // which the limits then name.
  const double v = std::strtod(text.c_str(), nullptr);
  if (v > max) {
    *reason = limit("above", text, format(max), maxNote);
    return false;
  }
  if (v < min) {
    *reason = limit("below", text, format(min), minNote);
    return false;
  }
  *out = v;
  return true;
}

bool parse_count(const std::string& text, long min, long max, long* out, std::string* reason, const char* maxNote) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || end != text.c_str() + text.size() || std::isspace(static_cast<unsigned char>(text[0]))) {
    *reason = quoted(text) + " is not a whole number";
    return false;
  }
  if (v > max || (errno == ERANGE && v > 0)) {
    *reason = limit("above", text, std::to_string(max), maxNote);
    return false;
  }
  if (v < min || errno == ERANGE) {
    *reason = limit("below", text, std::to_string(min), nullptr);
    return false;
  }
  *out = v;
  return true;
}

}  // namespace cli
