#include "sdl_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "shell/gl_entry_points.h"

using sdl_rules::FontCandidate;

namespace {

FontCandidate font(const char* family, const char* file, int weight = 80, int slant = 0, int width = 100,
                   bool monospace = false) {
  FontCandidate f;
  f.family = family;
  f.file = file;
  f.weight = weight;
  f.slant = slant;
  f.width = width;
  f.monospace = monospace;
  return f;
}

std::string chosen_file(const std::vector<FontCandidate>& fonts) {
  const int i = sdl_rules::choose_loading_font(fonts);
  return i < 0 ? std::string("none") : fonts[static_cast<std::size_t>(i)].file;
}

}  // namespace

// Arial first, then a face with its metrics, then any sans serif face; the
// regular upright face of each; nothing at all rather than a serif or
// monospaced face.
TEST(LoadingFont, ChoosesArialThenItsMetricTwinThenAnySans) {
  const FontCandidate dejaVu = font("DejaVu Sans", "DejaVuSans.ttf");
  const FontCandidate dejaVuBold = font("DejaVu Sans", "DejaVuSans-Bold.ttf", 200);
  const FontCandidate dejaVuMono = font("DejaVu Sans Mono", "DejaVuSansMono.ttf", 80, 0, 100, true);
  const FontCandidate serif = font("DejaVu Serif", "DejaVuSerif.ttf");
  const FontCandidate liberation = font("Liberation Sans", "LiberationSans-Regular.ttf");
  const FontCandidate liberationItalic = font("Liberation Sans", "LiberationSans-Italic.ttf", 80, 100);
  const FontCandidate liberationNarrow = font("Liberation Sans Narrow", "LiberationSansNarrow.ttf", 80, 0, 75);
  const FontCandidate arimo = font("Arimo", "Arimo-Regular.ttf");
  const FontCandidate arialBold = font("Arial", "arialbd.ttf", 200);
  const FontCandidate arial = font("Arial", "arial.ttf");
  const FontCandidate courier = font("Courier New", "cour.ttf", 80, 0, 100, true);

  struct Case {
    const char* what;
    std::vector<FontCandidate> fonts;
    const char* expected;
  };
  const Case cases[] = {
      {"Arial over everything", {dejaVu, liberation, arialBold, arial, arimo}, "arial.ttf"},
      {"Arial's bold face over its twins", {liberation, arialBold}, "arialbd.ttf"},
      {"a metric twin over other sans faces", {dejaVu, liberationItalic, liberation}, "LiberationSans-Regular.ttf"},
      {"Arimo is a twin too", {dejaVu, arimo}, "Arimo-Regular.ttf"},
      {"the narrow face is only some sans", {liberationNarrow, dejaVu}, "DejaVuSans.ttf"},
      {"the regular face of any sans", {serif, dejaVuMono, dejaVuBold, dejaVu}, "DejaVuSans.ttf"},
      {"an italic twin over no twin", {dejaVu, liberationItalic}, "LiberationSans-Italic.ttf"},
      {"no sans serif face at all", {serif, dejaVuMono, courier}, "none"},
      {"no fonts", {}, "none"},
      {"first listed among equals", {font("Noto Sans", "a.ttf"), font("FreeSans", "b.ttf")}, "a.ttf"},
  };
  for (const Case& c : cases) EXPECT_EQ(chosen_file(c.fonts), c.expected) << c.what;
}

// Each of the 37 names is offered exactly when the context's version or
// extension string says so; a look-alike extension does not count.
TEST(GlEntryPoints, OfferedFromTheContextsVersionAndExtensions) {
  const std::string full =
      "GL_ARB_multitexture GL_ARB_vertex_program GL_ARB_fragment_program GL_ARB_vertex_buffer_object "
      "GL_ARB_shader_objects GL_EXT_framebuffer_object";
  auto offered_names = [](const char* version, const std::string& extensions) {
    std::vector<std::string> names;
    const char* name = kGlEntryPointNames;
    for (int i = 0; i < kGlEntryPointCount; ++i, name += std::strlen(name) + 1) {
      if (sdl_rules::gl_entry_point_offered(name, version, extensions.c_str())) names.emplace_back(name);
    }
    return names;
  };
  auto without = [&](const std::string& extension) {
    std::string rest = full;
    rest.erase(rest.find(extension), extension.size());
    return rest;
  };
  auto missing = [&](const char* version, const std::string& extensions) {
    std::vector<std::string> names;
    const std::vector<std::string> have = offered_names(version, extensions);
    const char* name = kGlEntryPointNames;
    for (int i = 0; i < kGlEntryPointCount; ++i, name += std::strlen(name) + 1) {
      bool found = false;
      for (const std::string& h : have) found = found || h == name;
      if (!found) names.emplace_back(name);
    }
    return names;
  };
  using Names = std::vector<std::string>;

  EXPECT_EQ(missing("2.1 Mesa 22.3.6", full), Names{});
  EXPECT_EQ(missing("4.5 (Compatibility Profile) Mesa 22.3.6", full), Names{});
  EXPECT_EQ(missing("OpenGL ES 3.2 Mesa", full), Names{});
  // Vertex or fragment programs: either extension defines the program calls.
  EXPECT_EQ(missing("2.1", without("GL_ARB_vertex_program ")), Names{});
  EXPECT_EQ(missing("2.1", without(" GL_EXT_framebuffer_object")),
            (Names{"glBindRenderbufferEXT", "glDeleteRenderbuffersEXT", "glRenderbufferStorageEXT",
                   "glBindFramebufferEXT", "glDeleteFramebuffersEXT", "glCheckFramebufferStatusEXT",
                   "glFramebufferTexture1DEXT", "glFramebufferTexture2DEXT", "glFramebufferTexture3DEXT",
                   "glFramebufferRenderbufferEXT", "glGenerateMipmapEXT"}));
  EXPECT_EQ(missing("2.1", without("GL_ARB_multitexture ")),
            (Names{"glActiveTextureARB", "glClientActiveTextureARB", "glMultiTexCoord4fvARB"}));
  EXPECT_EQ(missing("2.1", "GL_ARB_multitexture2 GL_ARB_vertex_program GL_ARB_fragment_program "
                           "GL_ARB_vertex_buffer_object GL_ARB_shader_objects GL_EXT_framebuffer_object_x"),
            (Names{"glActiveTextureARB", "glClientActiveTextureARB", "glMultiTexCoord4fvARB",
                   "glBindRenderbufferEXT", "glDeleteRenderbuffersEXT", "glRenderbufferStorageEXT",
                   "glBindFramebufferEXT", "glDeleteFramebuffersEXT", "glCheckFramebufferStatusEXT",
                   "glFramebufferTexture1DEXT", "glFramebufferTexture2DEXT", "glFramebufferTexture3DEXT",
                   "glFramebufferRenderbufferEXT", "glGenerateMipmapEXT"}));
  // Shading-language programs came with 2.0, transposed matrices with 1.3,
  // three-dimensional textures with 1.2.
  EXPECT_EQ(missing("1.5 Vendor", full),
            (Names{"glCreateProgram", "glCreateShader", "glShaderSource", "glCompileShader", "glAttachShader",
                   "glLinkProgram", "glUseProgram", "glUniform4fv", "glUniform1i"}));
  EXPECT_EQ(missing("1.2.1", full).size(), 10u);
  EXPECT_EQ(missing("1.1", full).size(), 11u);
  EXPECT_EQ(missing("", full).size(), 11u);
  EXPECT_EQ(missing("junk", full).size(), 11u);
  EXPECT_FALSE(sdl_rules::gl_entry_point_offered("glCreateShader", nullptr, full.c_str()));
  EXPECT_FALSE(sdl_rules::gl_entry_point_offered("glBindBufferARB", "2.1", nullptr));
  EXPECT_TRUE(sdl_rules::gl_entry_point_offered("glSomethingElse", "1.1", ""));
}

// The position heard runs behind what was handed over by what SDL still
// holds, catches up with the time since SDL's last request, never passes
// what was handed over, never runs back and counts on across the wrap.
TEST(HeardPosition, HandedLessQueuedPlusTimeSinceTheRequest) {
  struct Case {
    const char* what;
    std::uint32_t previous, handed, queued, playedSince, expected;
  };
  const Case cases[] = {
      {"nothing requested yet", 0, 0, 4096, 0, 0},
      {"first request just taken", 0, 4096, 4096, 0, 0},
      {"part of it heard", 0, 4096, 4096, 1000, 1000},
      {"all of it heard, no more", 0, 4096, 4096, 99999, 4096},
      {"latency beyond the request", 0, 8192, 6000, 1000, 3192},
      {"a request came early", 3000, 8192, 4096, 0, 4096},
      {"an estimate behind the last answer", 5000, 8192, 4096, 0, 5000},
      {"across the wrap", 0xFFFFF000u, 0x00000800u, 0x1000u, 0x400u, 0xFFFFFC00u},
      {"past the wrap", 0xFFFFFC00u, 0x00001800u, 0x1000u, 0x400u, 0x00000C00u},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sdl_rules::heard_position(c.previous, c.handed, c.queued, c.playedSince), c.expected) << c.what;
  }
}

// A driver that shows nothing means there is no display, unless
// SDL_VIDEODRIVER asked for it by name; the line names what the two display
// variables hold.
TEST(Display, MissingWhenSdlFellBackToADriverThatShowsNothing) {
  struct Case {
    const char* driver;
    const char* requested;
    bool missing;
  };
  const Case cases[] = {
      {"x11", nullptr, false},      {"wayland", nullptr, false},    {"KMSDRM", nullptr, false},
      {"offscreen", nullptr, true}, {"dummy", nullptr, true},       {"offscreen", "x11", true},
      {"offscreen", "offscreen", false}, {"offscreen", "x11,OFFSCREEN", false}, {"dummy", "dummy", false},
      {"offscreen", "offscreenx", true}, {nullptr, nullptr, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(sdl_rules::display_missing(c.driver, c.requested), c.missing)
        << (c.driver ? c.driver : "none") << " asked " << (c.requested ? c.requested : "nothing");
  }
  EXPECT_EQ(sdl_rules::no_display_line(nullptr, ""),
            "vantor: no display to show the intro on (DISPLAY is not set, WAYLAND_DISPLAY is not set)");
  EXPECT_EQ(sdl_rules::no_display_line(":5", nullptr),
            "vantor: no display to show the intro on (cannot open DISPLAY=:5, WAYLAND_DISPLAY is not set)");
  EXPECT_EQ(sdl_rules::no_display_line(nullptr, nullptr, true),
            "vantor: no display to show the intro on (DISPLAY is not set, the Wayland compositor at wayland-0 "
            "offers no seat for keyboard and pointer)");
}

// A compositor without a seat is left out of the drivers SDL tries: the
// others asked for stay, in their order; unasked, X11 is tried as before.
TEST(Display, WaylandLeftOutOfTheDriversTried) {
  struct Case {
    const char* requested;
    bool mayTryWayland;
    const char* others;
  };
  const Case cases[] = {
      {nullptr, true, "x11"},          {"", true, "x11"},
      {"wayland", true, ""},           {"Wayland,x11", true, "x11"},
      {"x11,wayland,offscreen", true, "x11,offscreen"},
      {"x11", false, "x11"},           {"waylandx", false, "waylandx"},
  };
  for (const Case& c : cases) {
    const char* asked = c.requested ? c.requested : "nothing";
    EXPECT_EQ(sdl_rules::may_try_wayland(c.requested), c.mayTryWayland) << asked;
    EXPECT_EQ(sdl_rules::drivers_without_wayland(c.requested), c.others) << asked;
  }
}

// The question's buttons lie in a row under the text, inside the window,
// apart and in order; a point finds the button it is on and nothing between
// them. A long text or label widens the window, never narrows a button.
TEST(Prompt, ButtonsInARowUnderTheTextInsideTheWindow) {
  for (const std::vector<int>& labels : {std::vector<int>{25, 20}, {30}, {300, 10, 10}}) {
    for (int textWidth : {80, 600}) {
      const sdl_rules::PromptLayout p = sdl_rules::prompt_layout(textWidth, 85, labels);
      ASSERT_EQ(p.buttons.size(), labels.size());
      EXPECT_GE(p.text.x, 0);
      EXPECT_LE(p.text.x + p.text.w, p.width);
      for (std::size_t i = 0; i < labels.size(); ++i) {
        const sdl_rules::Box& b = p.buttons[i];
        EXPECT_GT(b.w, labels[i]);
        EXPECT_GE(b.y, p.text.y + p.text.h);
        EXPECT_GE(b.x, 0);
        EXPECT_LE(b.x + b.w, p.width);
        EXPECT_LE(b.y + b.h, p.height);
        EXPECT_EQ(sdl_rules::button_at(p, b.x + b.w / 2, b.y + b.h / 2), static_cast<int>(i));
        EXPECT_EQ(sdl_rules::button_at(p, b.x + b.w / 2, b.y - 1), -1);
        if (i > 0) {
          const sdl_rules::Box& left = p.buttons[i - 1];
          EXPECT_EQ(b.y, left.y);
          EXPECT_GT(b.x, left.x + left.w);
          EXPECT_EQ(sdl_rules::button_at(p, left.x + left.w, b.y), -1);
        }
      }
    }
  }
}
