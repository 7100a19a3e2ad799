// The seam between the portable core and a platform backend.
//
// Exactly one backend (src/platform/win32, src/platform/sdl or
// src/platform/web) implements every function declared here. The core includes only this header; it never
// sees <windows.h> or SDL. Handles are opaque pointers owned by the backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/window_record.h"

namespace platform {

// --- Prompts -------------------------------------------------------------

// Asks "fullscreen?" with the intro's caption; true when the user says Yes.
bool ask_fullscreen();

// Shows the start-up failure message (no owner window, default caption).
void show_failure_message(const char* text);

// --- Process ---------------------------------------------------------------

// The executable's own module handle (null where the platform has none).
void* module_instance();

// Writes the folder that holds the running executable, with a trailing
// separator, into `folder`. False, leaving an empty string, when it cannot be
// determined, does not fit the platform's path limit, or does not fit in
// `capacity` bytes with its terminator.
bool executable_folder(char* folder, std::size_t capacity);

// --- Log file ------------------------------------------------------------------

// Opens `name` in the working folder as a fresh log: created when it is
// missing, emptied when it is a regular file. It never follows a symbolic
// link and never opens, or waits on, anything but a regular file (a pipe
// would hold the start for ever, a link would overwrite what it points to).
// An opaque handle, or null when the log cannot be had, after one line on
// standard error that says why where the process has one (a window
// application has none).
void* log_open(const char* name);

// Writes `text` straight to the file, each "\n" as the platform's line end
// (CR LF on Windows). The log stays open until the process ends.
void log_write(void* log, const char* text);

// --- Window and OpenGL context ----------------------------------------------

// Opens the window and its double-buffered OpenGL context and makes the
// context current. Reads record.instance and record.fullScreen; fills the
// rest. Returns 1 on success, 0 on failure (what was created stays in the
// record so that close_window can release it).
int open_window(WindowRecord& record);

// Releases whatever the record names; safe after a partial open_window.
void close_window(WindowRecord& record);

// Removes one pending message from the queue and dispatches it. Returns true
// when a message was removed; *quit is set when that message was the quit
// request (posted on Escape, close or destroy).
bool pump_one_message(bool* quit);

void swap_buffers(WindowRecord& record);
void set_caption(WindowRecord& record, const char* text);

// --- Loading screen -----------------------------------------------------------

struct Rgb {
  std::uint8_t r, g, b;
};

// A filled rectangle outlined by a black one-pixel pen; right and bottom are
// exclusive, as with a GDI Rectangle.
struct LoadingRect {
  int left, top, right, bottom;
  Rgb fill;
};

struct LoadingScreen {
  LoadingRect background;
  LoadingRect trough;
  LoadingRect bar;
  int textX, textY;
  int textHeight;
  const char* text;
  Rgb textColour;
};

// Paints the loading screen straight onto the visible window.
void paint_loading_screen(WindowRecord& record, const LoadingScreen& screen);

// --- Time, desktop, OpenGL -------------------------------------------------------

// Milliseconds from a free-running 32-bit clock; wraps after 2^32 ms.
std::uint32_t milliseconds();

// Size of the primary display's desktop in pixels.
void desktop_size(int* width, int* height);

// Address of an OpenGL entry point for the current context, or null.
void* gl_proc_address(const char* name);

// --- Wave output device ------------------------------------------------------

// The music plays through one buffer of signed 16-bit stereo frames that
// the device repeats endlessly; the music's output thread refills each part
// of it once the device has played it. A device whose sound runs where the
// program's threads cannot reach in time (the browser's audio worklet)
// plays the module itself instead and refuses the buffer: see wave_heard.
// One device at a time; every call but wave_position and wave_heard comes
// from the thread that opened it.

// Opens the default output device for 16-bit stereo PCM at `rate` frames per
// second, not yet playing. Null when no device can be opened.
void* wave_open(int rate);

// Why the last wave_open gave null, in one line in the sound system's own
// words; empty where it gives none.
const char* wave_open_error();

// Makes `bytes` bytes at `buffer` the looping buffer. The buffer must stay
// valid until wave_close. Returns false when the device refuses it.
bool wave_prepare(void* device, void* buffer, std::uint32_t bytes);

// Starts playing: the prepared buffer in an endless loop, or the module.
bool wave_start(void* device);

// Bytes played since wave_start: a free-running 32-bit count that wraps.
// Called from the output thread while the device plays.
std::uint32_t wave_position(void* device);

// For a device that plays the module itself: true, with the order
// position, row and milliseconds of the music being heard (0 until it has
// started). False for a device that plays the buffer.
bool wave_heard(void* device, std::int32_t* order, std::int32_t* row, std::int32_t* ms);

// Holds the sound where it is (paused) or goes on from there; the position
// stands still meanwhile.
void wave_pause(void* device, bool paused);

// Stops the sound at once, releases the prepared buffer and closes the
// device. Null is ignored.
void wave_close(void* device);

// Raises the calling thread to the highest priority the platform grants (the
// output thread must never fall a whole buffer behind the device).
void raise_thread_priority();

// --- Threads -------------------------------------------------------------------

// Runs `body(argument)` on a new thread. An opaque handle for thread_join,
// or null when no thread can be started.
void* thread_start(void (*body)(void* argument), void* argument);

// Waits until the thread has returned from its body, then releases the
// handle. Null is ignored.
void thread_join(void* thread);

// Suspends the calling thread for about `ms` milliseconds.
void sleep_milliseconds(std::uint32_t ms);

}  // namespace platform
