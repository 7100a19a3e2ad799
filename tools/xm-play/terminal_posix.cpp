#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>

#include "terminal.h"

namespace {

termios saved;
// Read by the signal handlers, on whichever thread they run.
std::atomic<bool> raw{false};
std::atomic<bool> statusOnTerminal{false};
volatile std::sig_atomic_t interrupted = 0;
// Ctrl-C and SIGTERM stay blocked everywhere except inside this thread's
// waits for keys (waitMask), so that they always reach the loop that acts
// on them, at once, whatever the output and audio threads are doing. So
// does SIGWINCH, so that a resized terminal gets its status line redrawn to
// the new width at once.
sigset_t openMask;
sigset_t waitMask;
bool masked = false;

// Every other signal whose default action ends the process. Each gives the
// terminal back before taking that action (a core dump for SIGQUIT).
constexpr int endingSignals[] = {SIGHUP,  SIGQUIT, SIGPIPE,   SIGALRM, SIGUSR1, SIGUSR2, SIGABRT,
                                 SIGSEGV, SIGBUS,  SIGFPE,    SIGILL,  SIGTRAP, SIGSYS,  SIGXCPU,
                                 SIGXFSZ, SIGPROF, SIGVTALRM, SIGIO,
#ifdef SIGPWR
                                 SIGPWR,
#endif
#ifdef SIGSTKFLT
                                 SIGSTKFLT,
#endif
};

void on_signal(int signal) { interrupted = signal; }

void on_resize(int) {}

// Async-signal-safe: tcsetattr and lock-free atomics only.
void restore_terminal() {
  if (raw.exchange(false)) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

void on_ending_signal(int signal) {
  restore_terminal();
  if (statusOnTerminal) {
    // The shell's next line starts below the status line.
    const ssize_t written = write(STDOUT_FILENO, "\n", 1);
    (void)written;
  }
  // The handler was reset to the default action on entry; the signal takes
  // it once the handler returns.
  raise(signal);
}

// Waits up to `timeoutMs` for standard input (none: just waits); false on
// timeout or interruption.
bool wait_for_input(int timeoutMs, bool input) {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  const timespec t{timeoutMs / 1000, static_cast<long>(timeoutMs % 1000) * 1000000L};
  const int n = ppoll(input ? &p : nullptr, input ? 1 : 0, &t, masked ? &waitMask : nullptr);
  return n > 0 && (p.revents & POLLIN);
}

// Bytes that have arrived within `timeoutMs`, or 0.
int read_byte(int timeoutMs, unsigned char* byte) {
  if (!wait_for_input(timeoutMs, true)) return 0;
  return read(STDIN_FILENO, byte, 1) == 1 ? 1 : 0;
}

}  // namespace

void terminal_open() {
  struct sigaction action {};
  action.sa_handler = on_signal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  action.sa_handler = on_resize;
  sigaction(SIGWINCH, &action, nullptr);
  // Before the music starts its threads, which inherit the block.
  sigset_t ours;
  sigemptyset(&ours);
  sigaddset(&ours, SIGINT);
  sigaddset(&ours, SIGTERM);
  sigaddset(&ours, SIGWINCH);
  masked = pthread_sigmask(SIG_BLOCK, &ours, &openMask) == 0;
  waitMask = openMask;
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  sigdelset(&waitMask, SIGWINCH);
  statusOnTerminal = isatty(STDOUT_FILENO) != 0;
  if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0) return;
  // The way back first: whatever ends the process, the keyboard gets its
  // line mode and echo again (only SIGKILL and SIGSTOP cannot be caught).
  std::atexit(restore_terminal);
  action.sa_handler = on_ending_signal;
  action.sa_flags = SA_RESETHAND;
  for (const int signal : endingSignals) {
    struct sigaction before {};
    // Only those still at their default action: one the caller ignored
    // (nohup) stays ignored, a sanitizer's fault handler stays in place.
    if (sigaction(signal, nullptr, &before) == 0 && !(before.sa_flags & SA_SIGINFO) && before.sa_handler == SIG_DFL) {
      sigaction(signal, &action, nullptr);
    }
  }
  termios t = saved;
  // Keys one at a time, not echoed; Ctrl-C still interrupts.
  t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  raw = tcsetattr(STDIN_FILENO, TCSANOW, &t) == 0;
}

void terminal_close() {
  restore_terminal();
  // A signal that came while no key was awaited is taken now.
  if (masked) pthread_sigmask(SIG_SETMASK, &openMask, nullptr);
  masked = false;
}

Key terminal_key(int timeoutMs) {
  if (interrupted) return Key::quit;
  if (!raw) {
    // Nothing to read keys from: just wait.
    wait_for_input(timeoutMs, false);
    return interrupted ? Key::quit : Key::none;
  }
  unsigned char c = 0;
  if (!read_byte(timeoutMs, &c)) return interrupted ? Key::quit : Key::none;
  switch (c) {
    case ' ': return Key::pause;
    case 'n': case 'N': return Key::next;
    case 'q': case 'Q': return Key::quit;
    case 0x1B: {
      // A lone Escape quits; arrows arrive as Escape [ C / D (or O C / D).
      unsigned char b = 0;
      if (!read_byte(30, &b)) return Key::quit;
      if (b != '[' && b != 'O') return Key::none;
      if (!read_byte(30, &b)) return Key::none;
      if (b == 'C') return Key::forward;
      if (b == 'D') return Key::back;
      return Key::none;
    }
    default: return Key::none;
  }
}

int terminal_interrupt_status() { return interrupted != 0 ? 128 + interrupted : 0; }

bool terminal_has_status() { return isatty(STDOUT_FILENO) != 0; }

int terminal_columns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}
