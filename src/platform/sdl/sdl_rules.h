// The decisions of the SDL backend that do not need a display, a driver or
// a sound device, so that the tests can make them with made-up inputs: which
// font draws the loading screen's text, which OpenGL entry points a context
// really offers, how much of the sound handed to SDL has been heard, whether
// there is a display at all, and where the question drawn in a window of the
// intro's own puts its buttons.
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
// (null when unset). `waylandSeatless`: a Wayland compositor answered but
// offers no seat (no keyboard, no pointer), which SDL cannot start on.
std::string no_display_line(const char* display, const char* waylandDisplay, bool waylandSeatless = false);

// Whether SDL may try its Wayland driver, given `requested`, the
// SDL_VIDEODRIVER list (null when unset: SDL's own order, X11 then Wayland).
bool may_try_wayland(const char* requested);

// The SDL_VIDEODRIVER list with Wayland left out, for a compositor SDL's
// Wayland driver cannot start on (it writes through a null pointer when no
// seat is offered). Unset, it is X11 alone, the one driver SDL tries before
// Wayland; empty when the list named nothing else.
std::string drivers_without_wayland(const char* requested);

// --- The question in a window of the intro's own --------------------------------

struct Box {
  int x, y, w, h;
};

// Where the parts of the question go, in window pixels: the text above, the
// buttons in a row below it, left to right in the order given.
struct PromptLayout {
  int width = 0, height = 0;
  Box text{};
  std::vector<Box> buttons;
};

// Lays out a text block of `textWidth` x `textHeight` pixels and buttons
// whose labels measure `labelWidths` pixels.
PromptLayout prompt_layout(int textWidth, int textHeight, const std::vector<int>& labelWidths);

// The index of the button under the point (x, y), or -1.
int button_at(const PromptLayout& layout, int x, int y);

}  // namespace sdl_rules
