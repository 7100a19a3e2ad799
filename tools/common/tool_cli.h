// What every command-line tool says and how it reads its arguments, so the
// tools agree: one line per error, "PROGRAM: WHAT: REASON", usage errors
// followed by "try 'PROGRAM --help'" and exit status 2, other failures 1;
// options as "--name value" or "--name=value", "--" ending the options.
#pragma once

#include <string>

namespace cli {

// The program's name for every message; set once at the start of main.
void set_program(const char* name);
const char* program();

// "PROGRAM: WHAT: REASON" on standard error; returns 1, the status of a
// failure. Both parts pass through printable(), so a file name cannot send
// escape sequences to the terminal; an empty WHAT shows as ''.
int fail(const std::string& what, const std::string& reason);
// The same for a mistake in the command line, then "try 'PROGRAM --help'";
// returns 2.
int usage_error(const std::string& what, const std::string& reason);
// A line that is not an error ("PROGRAM: TEXT"): a limit reached, a fallback.
void note(const std::string& text);

// The operating system's reason for errno value `error`.
std::string os_reason(int error);

// Text from outside (a file name, a module title) made safe for a terminal:
// control characters and bytes that are not UTF-8 become '?'; with
// asciiOnly, every byte outside printable ASCII does (titles come in any
// 8-bit code page).
std::string printable(const std::string& text, bool asciiOnly = false);

// Standard output, every write checked: printf to standard output that
// remembers the first failure.
void print(const char* format, ...)
#ifdef __GNUC__
    __attribute__((format(printf, 1, 2)))
#endif
    ;
// Flushes standard output, remembering a failure for finish().
void flush();
// Where main ends: flushes standard output. When anything written there was
// lost (a full device, a closed descriptor) says so and turns a status of 0
// into 1.
int finish(int status);

// What every tool does first: names itself for the messages; puts a
// descriptor that refuses every write where standard input, output or error
// is closed, so no file the tool opens takes its number and a lost output
// stays a failure; answers "--help" or "--version" (anywhere before a lone
// "--") on standard output with status 0 (1 when that is lost), and, run
// without arguments, shows its usage on standard error with status 2.
// Returns that status, or -1 when main goes on.
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
  // An option ("-x", "--name"); "-" alone names standard output, and after
  // "--" nothing is an option.
  bool is_option() const { return !operands_ && word_.size() > 1 && word_[0] == '-'; }
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
  bool operands_ = false;
};

// Decimal numbers within [min, max]: digits with an optional sign, point and
// exponent; no hexadecimal, "inf" or "nan". On failure *reason says why,
// quoting the text: "'0x10' is not a decimal number", "30000 is above the
// limit of 21600". `maxNote`, when given, follows the limit in brackets
// ("6 hours"), `minNote` the lower one.
bool parse_number(const std::string& text, double min, double max, double* out, std::string* reason,
                  const char* maxNote = nullptr, const char* minNote = nullptr);
bool parse_count(const std::string& text, long min, long max, long* out, std::string* reason,
                 const char* maxNote = nullptr);

}  // namespace cli
