// What every command-line tool says and how it reads its arguments, so the
// tools agree: one line per error, "PROGRAM: WHAT: REASON", usage errors
// followed by "try 'PROGRAM --help'" and exit status 2, other failures 1;
// options as "--name value" or "--name=value".
#pragma once

#include <string>

namespace cli {

// The program's name for every message; set once at the start of main.
void set_program(const char* name);
const char* program();

// "PROGRAM: WHAT: REASON" on standard error; returns 1, the status of a failure.
int fail(const std::string& what, const std::string& reason);
// The same for a mistake in the command line, then "try 'PROGRAM --help'";
// returns 2.
int usage_error(const std::string& what, const std::string& reason);
// A line that is not an error ("PROGRAM: TEXT"): a limit reached, a fallback.
void note(const std::string& text);

// The operating system's reason for errno value `error`.
std::string os_reason(int error);

// What every tool does first: names itself for the messages, answers
// "--help" or "--version" (anywhere before a lone "--") on standard output
// with status 0, and, run without arguments, shows its usage on standard
// error with status 2. Returns that status, or -1 when main goes on.
int start(const char* name, int argc, char** argv, const char* usageText);

// Reads the arguments one at a time; an option's value comes after '=' in
// the same argument or as the next argument.
class Args {
 public:
  Args(int argc, char** argv) : argc_(argc), argv_(argv) {}
  // Moves to the next argument; false at the end.
  bool next();
  // The argument, without any "=value" part of an option.
  const std::string& word() const { return word_; }
  // An option ("-x", "--name"); "-" alone names standard output.
  bool is_option() const { return word_.size() > 1 && word_[0] == '-'; }
  // The option's value. False, after a usage error line, when there is none.
  bool value(std::string* out);
  // False, after a usage error line, when an option without a value was
  // given one ("--rows=1").
  bool no_value();

 private:
  int argc_;
  char** argv_;
  int at_ = 0;
  std::string word_;
  std::string attached_;
  bool hasAttached_ = false;
};

// Decimal numbers within [min, max]. On failure *reason says why, quoting
// the text: "'abc' is not a number", "30000 is above the limit of 21600".
// `maxNote`, when given, follows the limit in brackets ("6 hours").
bool parse_number(const std::string& text, double min, double max, double* out, std::string* reason,
                  const char* maxNote = nullptr);
bool parse_count(const std::string& text, long min, long max, long* out, std::string* reason,
                 const char* maxNote = nullptr);

}  // namespace cli
