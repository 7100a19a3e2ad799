// xm-compose: writes the intro's music module.
//
//   xm-compose OUT.xm
//
// The output depends on nothing but this program, so every build writes the
// same file.
#include <cerrno>
#include <cstdio>
#include <string>

#include "output_file.h"
#include "score.h"
#include "tool_cli.h"

namespace {

const char usageText[] =
    "usage: xm-compose OUT.xm [--force]\n"
    "  writes the intro's music module, the same file on every build\n"
    "  --force    replace OUT.xm even where it is read-only or another user's\n"
    "  --help, --version\n"
    "  '--' ends the options, so '-- -a.xm' names the file -a.xm.\n";

}  // namespace

int main(int argc, char** argv) {
  if (const int status = cli::start("xm-compose", argc, argv, usageText); status >= 0) return status;
  cli::Args args(argc, argv);
  std::string path;
  bool havePath = false, force = false;
  while (args.next()) {
    if (args.is_option() && args.word() == "--force") {
      if (!args.no_value()) return 2;
      force = true;
      continue;
    }
    if (args.is_option()) return cli::usage_error(args.word(), "unknown option");
    if (havePath) return cli::usage_error(args.word(), "one output file only");
    path = args.word();
    havePath = true;
  }
  if (!havePath) return cli::usage_error("OUT.xm", "no file given");
  if (path.empty()) return cli::usage_error("OUT.xm", "the name is empty");
  std::string error;
  if (!compose::check_score(&error)) return cli::fail("the score", error);
  const auto bytes = compose::write_module(compose::compose_song(), &error);
  if (bytes.empty()) return cli::fail("the module", error);
  write_errors_not_signals();
  OutputFile out;
  if (!out.open(path, {}, &error, force)) return cli::fail(path, error);
  if (std::fwrite(bytes.data(), 1, bytes.size(), out.file()) != bytes.size()) {
    error = "cannot write: " + cli::os_reason(errno);
    out.abandon();
    return cli::fail(path, error);
  }
  if (!out.commit(&error)) return cli::fail(path, error);
  return cli::finish(0);
}
