#include "tool_cli.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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
  std::fprintf(stderr, "%s: %s: %s\n", programName, what.c_str(), reason.c_str());
  return 1;
}

int usage_error(const std::string& what, const std::string& reason) {
  fail(what, reason);
  std::fprintf(stderr, "try '%s --help'\n", programName);
  return 2;
}

void note(const std::string& text) { std::fprintf(stderr, "%s: %s\n", programName, text.c_str()); }

std::string os_reason(int error) { return std::strerror(error); }

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
  std::string text;
  if (help_or_version(argc, argv, usageText, &text)) {
    std::fputs(text.c_str(), stdout);
    return 0;
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

bool parse_number(const std::string& text, double min, double max, double* out, std::string* reason,
                  const char* maxNote) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || std::isspace(static_cast<unsigned char>(text[0]))) {
    *reason = quoted(text) + " is not a number";
    return false;
  }
  if (!std::isfinite(v) || v > max || (errno == ERANGE && v != 0)) {
    *reason = limit("above", text, format(max), maxNote);
    return false;
  }
  if (v < min) {
    *reason = limit("below", text, format(min), nullptr);
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
