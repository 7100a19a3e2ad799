// The player's terminal: single key presses without Enter, and whether the
// status line can redraw in place.
#pragma once

enum class Key { none, pause, back, forward, next, quit };

// Switches the keyboard to single key presses when standard input is a
// terminal (restored by terminal_close and on interruption).
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
