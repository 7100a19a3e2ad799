// The player's terminal: single key presses without Enter, and whether the
// status line can redraw in place.
#pragma once

enum class Key { none, pause, back, forward, next, quit };

// Switches the keyboard to single key presses when standard input is a
// terminal; restored by terminal_close, at exit and before any signal ends
// the process.
void terminal_open();
void terminal_close();

// Waits up to `timeoutMs` for a key; Key::none when none came. An interrupt
// (Ctrl-C) reads as Key::quit.
Key terminal_key(int timeoutMs);

// 0, or after an interruption the exit status it asks for: 130 for Ctrl-C,
// 143 for SIGTERM (128 + the signal, as a shell reports it).
int terminal_interrupt_status();

// True when standard output is a terminal, so a status line can be redrawn.
bool terminal_has_status();

// The width of the terminal on standard output in columns, asked again at
// every call, so that it follows a resize (80 when it cannot be known). On a
// POSIX terminal a resize (SIGWINCH) also ends the wait in terminal_key at
// once, as Key::none, so that the line is redrawn to the new width.
int terminal_columns();
