#include "sdl_rules.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace sdl_rules {
namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool has_word(const std::string& text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
    const bool startsWord = at == 0 || !std::isalpha(static_cast<unsigned char>(text[at - 1]));
    const std::size_t end = at + word.size();
    const bool endsWord = end == text.size() || !std::isalpha(static_cast<unsigned char>(text[end]));
    if (startsWord && endsWord) return true;
  }
  return false;
}

// 0 Arial, 1 Arial's metrics, 2 another sans serif face, 3 none of these.
int font_rank(const FontCandidate& font) {
  const std::string family = lower(font.family);
  if (family == "arial") return 0;
  for (const char* twin : {"liberation sans", "arimo", "albany", "albany amt"}) {
    if (family == twin) return 1;
  }
  if (!font.monospace && has_word(family, "sans") && !has_word(family, "mono")) return 2;
  return 3;
}

// How far a face is from a regular upright one of normal width.
int font_distance(const FontCandidate& font) {
  return std::abs(font.weight - 80) + (font.slant != 0 ? 1000 : 0) + std::abs(font.width - 100);
}

// Where each entry point comes from: the core version that introduced it,
// or the extensions that define it (either will do).
struct Origin {
  const char* name;
  int major, minor;  // 0.0 for names that only an extension defines
  const char* extensions[2];
};

constexpr const char* kMultitexture = "GL_ARB_multitexture";
constexpr const char* kVertexProgram = "GL_ARB_vertex_program";
constexpr const char* kFragmentProgram = "GL_ARB_fragment_program";
constexpr const char* kBufferObject = "GL_ARB_vertex_buffer_object";
constexpr const char* kShaderObjects = "GL_ARB_shader_objects";
constexpr const char* kFramebufferObject = "GL_EXT_framebuffer_object";

constexpr Origin kOrigins[] = {
    {"glActiveTextureARB", 0, 0, {kMultitexture}},
    {"glClientActiveTextureARB", 0, 0, {kMultitexture}},
    {"glMultiTexCoord4fvARB", 0, 0, {kMultitexture}},
    {"glDeleteProgramsARB", 0, 0, {kVertexProgram, kFragmentProgram}},
    {"glBindProgramARB", 0, 0, {kVertexProgram, kFragmentProgram}},
    {"glProgramStringARB", 0, 0, {kVertexProgram, kFragmentProgram}},
    {"glProgramLocalParameter4fvARB", 0, 0, {kVertexProgram, kFragmentProgram}},
    {"glProgramEnvParameter4fvARB", 0, 0, {kVertexProgram, kFragmentProgram}},
    {"glTexImage3D", 1, 2, {}},
    {"glBindBufferARB", 0, 0, {kBufferObject}},
    {"glBufferDataARB", 0, 0, {kBufferObject}},
    {"glBufferSubDataARB", 0, 0, {kBufferObject}},
    {"glDeleteBuffersARB", 0, 0, {kBufferObject}},
    {"glCreateProgram", 2, 0, {}},
    {"glCreateShader", 2, 0, {}},
    {"glShaderSource", 2, 0, {}},
    {"glCompileShader", 2, 0, {}},
    {"glAttachShader", 2, 0, {}},
    {"glLinkProgram", 2, 0, {}},
    {"glUseProgram", 2, 0, {}},
    {"glUniform4fv", 2, 0, {}},
    {"glUniform1i", 2, 0, {}},
    {"glGetUniformLocationARB", 0, 0, {kShaderObjects}},
    {"glGetObjectParameterivARB", 0, 0, {kShaderObjects}},
    {"glGetInfoLogARB", 0, 0, {kShaderObjects}},
    {"glLoadTransposeMatrixf", 1, 3, {}},
    {"glBindRenderbufferEXT", 0, 0, {kFramebufferObject}},
    {"glDeleteRenderbuffersEXT", 0, 0, {kFramebufferObject}},
    {"glRenderbufferStorageEXT", 0, 0, {kFramebufferObject}},
    {"glBindFramebufferEXT", 0, 0, {kFramebufferObject}},
    {"glDeleteFramebuffersEXT", 0, 0, {kFramebufferObject}},
    {"glCheckFramebufferStatusEXT", 0, 0, {kFramebufferObject}},
    {"glFramebufferTexture1DEXT", 0, 0, {kFramebufferObject}},
    {"glFramebufferTexture2DEXT", 0, 0, {kFramebufferObject}},
    {"glFramebufferTexture3DEXT", 0, 0, {kFramebufferObject}},
    {"glFramebufferRenderbufferEXT", 0, 0, {kFramebufferObject}},
    {"glGenerateMipmapEXT", 0, 0, {kFramebufferObject}},
};

// "major.minor" at the start of GL_VERSION (after "OpenGL ES " on an ES
// context); false when the string does not start so.
bool parse_version(const char* version, int* major, int* minor) {
  constexpr std::string_view kEs = "OpenGL ES ";
  if (std::strncmp(version, kEs.data(), kEs.size()) == 0) version += kEs.size();
  char* end = nullptr;
  const long ma = std::strtol(version, &end, 10);
  if (end == version || *end != '.') return false;
  const char* minorText = end + 1;
  const long mi = std::strtol(minorText, &end, 10);
  if (end == minorText) return false;
  *major = static_cast<int>(ma);
  *minor = static_cast<int>(mi);
  return true;
}

// A whole space-separated name of the extension string, not a prefix of a
// longer one.
bool lists_extension(const char* extensions, std::string_view wanted) {
  const std::string_view all(extensions);
  std::size_t at = 0;
  while (at < all.size()) {
    const std::size_t end = std::min(all.find(' ', at), all.size());
    if (all.substr(at, end - at) == wanted) return true;
    at = end + 1;
  }
  return false;
}

}  // namespace

int choose_loading_font(const std::vector<FontCandidate>& fonts) {
  int best = -1, bestRank = 3, bestDistance = 0;
  for (std::size_t i = 0; i < fonts.size(); ++i) {
    const int rank = font_rank(fonts[i]);
    const int distance = font_distance(fonts[i]);
    if (rank < bestRank || (rank == bestRank && best >= 0 && distance < bestDistance)) {
      best = static_cast<int>(i);
      bestRank = rank;
      bestDistance = distance;
    }
  }
  return best;
}

bool gl_entry_point_offered(const char* name, const char* version, const char* extensions) {
  for (const Origin& origin : kOrigins) {
    if (std::strcmp(origin.name, name) != 0) continue;
    if (origin.major > 0) {
      int major = 0, minor = 0;
      if (!version || !parse_version(version, &major, &minor)) return false;
      return major > origin.major || (major == origin.major && minor >= origin.minor);
    }
    if (!extensions) return false;
    for (const char* extension : origin.extensions) {
      if (extension && lists_extension(extensions, extension)) return true;
    }
    return false;
  }
  return true;
}

std::uint32_t heard_position(std::uint32_t previous, std::uint32_t handed, std::uint32_t queued,
                             std::uint32_t playedSince) {
  // Not more than was queued can have played since the latest request.
  const std::uint32_t estimate = handed - queued + std::min(playedSince, queued);
  // Modulo 2^32, as the counts themselves: a step back (right after the
  // start, or when a request came early) keeps the previous answer.
  const auto ahead = static_cast<std::int32_t>(estimate - previous);
  return ahead > 0 ? estimate : previous;
}

bool display_missing(const char* driver, const char* requested) {
  if (!driver) return false;
  bool showsNothing = false;
  for (const char* blind : {"offscreen", "dummy", "evdev"}) showsNothing |= std::strcmp(driver, blind) == 0;
  if (!showsNothing || !requested) return showsNothing;
  const std::string wanted = lower(requested);
  for (std::size_t at = 0; at <= wanted.size();) {
    const std::size_t end = std::min(wanted.find(',', at), wanted.size());
    if (wanted.compare(at, end - at, driver) == 0) return false;
    at = end + 1;
  }
  return true;
}

std::string no_display_line(const char* display, const char* waylandDisplay, bool waylandSeatless) {
  const auto state = [](const char* name, const char* value) {
    return value && *value ? "cannot open " + std::string(name) + "=" + value : std::string(name) + " is not set";
  };
  std::string wayland = state("WAYLAND_DISPLAY", waylandDisplay);
  if (waylandSeatless) {
    // Unset, the compositor reached is the default one.
    const std::string name = waylandDisplay && *waylandDisplay ? waylandDisplay : "wayland-0";
    wayland = "the Wayland compositor at " + name + " offers no seat for keyboard and pointer";
  }
  return "vantor: no display to show the intro on (" + state("DISPLAY", display) + ", " + wayland + ")";
}

namespace {

// The names of a comma-separated driver list, in lower case.
std::vector<std::string> driver_names(const char* list) {
  std::vector<std::string> names;
  const std::string all = lower(list ? list : "");
  for (std::size_t at = 0; at <= all.size();) {
    const std::size_t end = std::min(all.find(',', at), all.size());
    if (end > at) names.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

}  // namespace

bool may_try_wayland(const char* requested) {
  const std::vector<std::string> names = driver_names(requested);
  return names.empty() || std::find(names.begin(), names.end(), "wayland") != names.end();
}

std::string drivers_without_wayland(const char* requested) {
  const std::vector<std::string> names = driver_names(requested);
  if (names.empty()) return "x11";
  std::string others;
  for (const std::string& name : names) {
    if (name == "wayland") continue;
    if (!others.empty()) others += ',';
    others += name;
  }
  return others;
}

namespace {

constexpr int kPromptMargin = 20;   // around the text and the buttons
constexpr int kButtonGap = 12;      // between two buttons
constexpr int kButtonHeight = 30;
constexpr int kButtonMinWidth = 84;
constexpr int kLabelPadding = 24;   // beside a label inside its button
constexpr int kPromptMinWidth = 400;  // room for the caption in a title bar

}  // namespace

PromptLayout prompt_layout(int textWidth, int textHeight, const std::vector<int>& labelWidths) {
  PromptLayout layout;
  int rowWidth = 0;
  for (int label : labelWidths) {
    const Box button{0, 0, std::max(kButtonMinWidth, label + kLabelPadding), kButtonHeight};
    rowWidth += (layout.buttons.empty() ? 0 : kButtonGap) + button.w;
    layout.buttons.push_back(button);
  }
  layout.width = std::max(kPromptMinWidth, std::max(textWidth, rowWidth) + 2 * kPromptMargin);
  layout.text = {(layout.width - textWidth) / 2, kPromptMargin, textWidth, textHeight};
  // The row sits under the text, centred as a whole.
  int x = (layout.width - rowWidth) / 2;
  const int y = kPromptMargin + textHeight + kPromptMargin;
  for (Box& button : layout.buttons) {
    button.x = x;
    button.y = y;
    x += button.w + kButtonGap;
  }
  layout.height = y + kButtonHeight + kPromptMargin;
  return layout;
}

int button_at(const PromptLayout& layout, int x, int y) {
  for (std::size_t i = 0; i < layout.buttons.size(); ++i) {
    const Box& b = layout.buttons[i];
    if (x >= b.x && x < b.x + b.w && y >= b.y && y < b.y + b.h) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace sdl_rules
