#include <windows.h>
#include <io.h>

#include <cstdio>

#include "terminal.h"

namespace {

HANDLE input = nullptr;
DWORD savedMode = 0;
bool console = false;
volatile LONG interrupted = 0;

// Ctrl-C and Ctrl-Break read as SIGINT, closing the console or ending the
// session as SIGTERM, so the exit status is the same as on Linux.
BOOL WINAPI on_control(DWORD event) {
  InterlockedExchange(&interrupted, event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 130 : 143);
  return TRUE;
}

}  // namespace

void terminal_open() {
  SetConsoleCtrlHandler(on_control, TRUE);
  input = GetStdHandle(STD_INPUT_HANDLE);
  console = input && input != INVALID_HANDLE_VALUE && GetConsoleMode(input, &savedMode);
  // Key events one at a time, not echoed and not line by line.
  if (console) SetConsoleMode(input, savedMode & ~static_cast<DWORD>(ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT));
}

void terminal_close() {
  if (console) SetConsoleMode(input, savedMode);
  console = false;
}

Key terminal_key(int timeoutMs) {
  if (interrupted) return Key::quit;
  if (!console) {
    Sleep(static_cast<DWORD>(timeoutMs));
    return interrupted ? Key::quit : Key::none;
  }
  if (WaitForSingleObject(input, static_cast<DWORD>(timeoutMs)) != WAIT_OBJECT_0) {
    return interrupted ? Key::quit : Key::none;
  }
  INPUT_RECORD record;
  DWORD count = 0;
  if (!ReadConsoleInputA(input, &record, 1, &count) || count == 0) return Key::none;
  if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) return Key::none;
  switch (record.Event.KeyEvent.wVirtualKeyCode) {
    case VK_SPACE: return Key::pause;
    case VK_LEFT: return Key::back;
    case VK_RIGHT: return Key::forward;
    case 'N': return Key::next;
    case 'Q': case VK_ESCAPE: return Key::quit;
    default: return Key::none;
  }
}

int terminal_interrupt_status() { return static_cast<int>(interrupted); }

bool terminal_has_status() { return _isatty(_fileno(stdout)) != 0; }

int terminal_columns() {
  // Lines wrap at the width of the console's buffer.
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info) && info.dwSize.X > 0) return info.dwSize.X;
  return 80;
}
