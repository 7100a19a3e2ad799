// Where the process starts. The C runtime's own start-up code parses a
// command line the intro never reads and installs signal, pseudo-relocation
// and thread-storage machinery it never uses: about a tenth of the
// executable. This keeps what the intro does rely on: the floating-point
// unit as the runtime sets it, the static constructors and destructors, and
// the runtime's exit (atexit functions run, open files flushed and closed).
#include <cstdlib>

#include "shell/main_loop.h"

extern "C" {
void __set_app_type(int type);  // the C runtime's: console or window application
void _fpreset();                // the C runtime's floating-point initialisation
void __main();                  // runs the static constructors, registers the destructors
}

// The linker's entry point for a window application. The stack is aligned
// here: the kernel promises less than the compiled code may assume.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  __set_app_type(2);  // a window application: the runtime's errors go to message boxes
  _fpreset();
  __main();
  std::exit(vantor_main());
}
