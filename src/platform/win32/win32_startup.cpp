// Where the process starts.
//
// With mingw-w64 the intro has its own entry point. The C runtime's start-up
// code parses a command line the intro never reads and installs signal,
// pseudo-relocation and thread-storage machinery it never uses: about a
// tenth of the executable. This keeps what the intro does rely on: the
// floating-point unit as the runtime sets it, the static constructors and
// destructors, and the runtime's exit (atexit functions run, open files
// flushed and closed). Other compilers start through their runtime's WinMain.
#include "shell/main_loop.h"

#if defined(__MINGW32__)

#include <cstdlib>

extern "C" {
void __set_app_type(int type);  // the C runtime's: console or window application
void _fpreset();                // the C runtime's floating-point initialisation
void __main();                  // runs the static constructors, registers the destructors

// The runtime library leaves atexit to the start-up code: functions go on the
// list that the runtime's exit works through.
using ExitFunction = int (*)();
ExitFunction _onexit(ExitFunction function);
int atexit(void (*function)()) { return _onexit(reinterpret_cast<ExitFunction>(function)) ? 0 : -1; }
}

// The linker's entry point for a window application. The stack is aligned
// here: the kernel promises less than the compiled code may assume.
extern "C" __attribute__((force_align_arg_pointer)) void WinMainCRTStartup() {
  __set_app_type(2);  // a window application: the runtime's errors go to message boxes
  _fpreset();
  __main();
  std::exit(vantor_main());
}

#else

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return vantor_main(); }

#endif
