// The decisions of the SDL backend that do not need a display, a driver or
// a sound device, so that the tests can make them with made-up inputs: which
// font draws the loading screen's text, which OpenGL entry points a context
// really offers, how much of the sound handed to SDL has been heard, and
// whether there is a display at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sdl_rules {

// --- Loading-screen font ------------------------------------------------------

// One family name of one installed scalable font, as fontconfig lists it
// (a font with several family names gives several candidates).
struct FontCandidate {
  std::string family;
  std::string file;
  int index = 0;       // face within the file
  int weight = 80;     // fontconfig's scale: 80 regular, 200 bold
  int slant = 0;       // 0 roman, else italic or oblique
  int width = 100;     // 100 normal, less condensed
  bool monospace = false;
};

// The face the Windows build asks for is Arial. Chooses Arial itself, else a
// face with Arial's metrics (Liberation Sans, Arimo, Albany), else any sans
// serif face; within each, the one nearest a regular upright face of normal
// width, then the first listed. -1 when no candidate is a sans serif face.
int choose_loading_font(const std::vector<FontCandidate>& fonts);

// --- OpenGL entry points -------------------------------------------------------

// Whether a context whose GL_VERSION and GL_EXTENSIONS strings are given
// offers the entry point: a core name from the version that introduced it,
// a suffixed name from its extension. Under GLX a driver hands out an
// address for any name at all, so only the strings can tell. Names this
// list does not know are taken as offered. Null strings offer nothing.
bool gl_entry_point_offered(const char* name, const char* version, const char* extensions);

// --- Sound being heard ----------------------------------------------------------

// The byte count of the sound heard so far, a free-running 32-bit count
// like the one handed over. `handed`: bytes handed to SDL up to its latest
// request; `queued`: bytes that were still waiting to be heard right after
// that request (the request itself and the device's latency);
// `playedSince`: bytes' worth of time since that request. The answer never
// runs back behind `previous`, the last answer given, and never passes the
// bytes handed over.
std::uint32_t heard_position(std::uint32_t previous, std::uint32_t handed, std::uint32_t queued,
                             std::uint32_t playedSince);

// --- Display ---------------------------------------------------------------------

// Whether the video driver SDL ended up with (`driver`) shows nothing a
// person could see (offscreen, dummy) although `requested`, the
// SDL_VIDEODRIVER list (null when unset), did not name it: SDL fell back to
// it for want of a display. Asked for by name, such a driver is wanted (tests,
// captures).
bool display_missing(const char* driver, const char* requested);

// The one line that says so, naming what DISPLAY and WAYLAND_DISPLAY hold
// (null when unset).
std::string no_display_line(const char* display, const char* waylandDisplay);

}  // namespace sdl_rules
