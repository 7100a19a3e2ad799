#include "sdl_prompt.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/gl.h"
#include "platform/sdl/sdl_loading_screen.h"
#include "sdl_rules.h"

namespace {

// About 17 pixels from one line to the next.
constexpr int kTextPoints = 15;

constexpr platform::Rgb kBackground{44, 48, 69};
constexpr platform::Rgb kInk{255, 255, 255};
constexpr platform::Rgb kButton{48, 80, 112};
constexpr platform::Rgb kOutline{0, 0, 0};
constexpr platform::Rgb kDefaultOutline{176, 208, 240};

std::vector<std::string> lines_of(const char* message) {
  std::vector<std::string> lines;
  std::string text(message);
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

int text_width(TTF_Font* font, const std::string& text) {
  int w = 0, h = 0;
  if (text.empty() || TTF_SizeUTF8(font, text.c_str(), &w, &h) != 0) return 0;
  return w;
}

struct Prompt {
  TTF_Font* font;
  std::vector<std::string> lines;
  const std::vector<PromptButton>& buttons;
  sdl_rules::PromptLayout layout;
};

void draw(SDL_Window* window, const Prompt& p) {
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  if (w <= 0 || h <= 0) return;
  glViewport(0, 0, w, h);
  glEnable(GL_SCISSOR_TEST);
  fill_rect_gl(h, 0, 0, w, h, kBackground);
  for (std::size_t i = 0; i < p.buttons.size(); ++i) {
    const sdl_rules::Box& b = p.layout.buttons[i];
    const bool byReturn = p.buttons[i].returnKey;
    const int edge = byReturn ? 2 : 1;
    fill_rect_gl(h, b.x, b.y, b.x + b.w, b.y + b.h, byReturn ? kDefaultOutline : kOutline);
    fill_rect_gl(h, b.x + edge, b.y + edge, b.x + b.w - edge, b.y + b.h - edge, kButton);
  }
  glDisable(GL_SCISSOR_TEST);
  const int lineSkip = TTF_FontLineSkip(p.font);
  for (std::size_t n = 0; n < p.lines.size(); ++n) {
    if (p.lines[n].empty()) continue;
    draw_text_gl(p.font, w, h, p.layout.text.x, p.layout.text.y + static_cast<int>(n) * lineSkip,
                 p.lines[n].c_str(), kInk);
  }
  const int labelHeight = TTF_FontHeight(p.font);
  for (std::size_t i = 0; i < p.buttons.size(); ++i) {
    const sdl_rules::Box& b = p.layout.buttons[i];
    const int labelWidth = text_width(p.font, p.buttons[i].label);
    draw_text_gl(p.font, w, h, b.x + (b.w - labelWidth) / 2, b.y + (b.h - labelHeight) / 2, p.buttons[i].label,
                 kInk);
  }
  SDL_GL_SwapWindow(window);
}

constexpr int kNoAnswer = -3;

// What a key answers: the button marked for it; Escape with no button for
// it closes the question; any other key answers nothing.
int chosen_by_key(const std::vector<PromptButton>& buttons, SDL_Keycode key) {
  const bool enter = key == SDLK_RETURN || key == SDLK_KP_ENTER;
  for (const PromptButton& button : buttons) {
    if ((enter && button.returnKey) || (key == SDLK_ESCAPE && button.escapeKey)) return button.id;
  }
  return key == SDLK_ESCAPE ? kPromptClosed : kNoAnswer;
}

int wait_for_answer(SDL_Window* window, const Prompt& p) {
  int pressed = -1;  // the button the left mouse button went down on
  SDL_Event event;
  while (SDL_WaitEvent(&event)) {
    switch (event.type) {
      case SDL_QUIT:
        return kPromptClosed;
      case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) return kPromptClosed;
        draw(window, p);  // shown, exposed, resized or focused: draw it again
        break;
      case SDL_KEYDOWN: {
        const int answer = chosen_by_key(p.buttons, event.key.keysym.sym);
        if (answer != kNoAnswer) return answer;
        break;
      }
      case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT) pressed = sdl_rules::button_at(p.layout, event.button.x, event.button.y);
        break;
      case SDL_MOUSEBUTTONUP:
        if (event.button.button != SDL_BUTTON_LEFT) break;
        // A click: down and up on the same button.
        if (pressed >= 0 && sdl_rules::button_at(p.layout, event.button.x, event.button.y) == pressed) {
          return p.buttons[static_cast<std::size_t>(pressed)].id;
        }
        pressed = -1;
        break;
      default:
        break;
    }
  }
  return kPromptClosed;
}

}  // namespace

int ask_in_window(const char* title, const char* message, const std::vector<PromptButton>& buttons) {
  static TTF_Font* font = open_sans_font(kTextPoints);
  if (!font) return kPromptNoWindow;
  Prompt prompt{font, lines_of(message), buttons, {}};
  int textWidth = 0;
  for (const std::string& line : prompt.lines) textWidth = std::max(textWidth, text_width(font, line));
  std::vector<int> labelWidths;
  for (const PromptButton& button : buttons) labelWidths.push_back(text_width(font, button.label));
  prompt.layout = sdl_rules::prompt_layout(textWidth, static_cast<int>(prompt.lines.size()) * TTF_FontLineSkip(font),
                                           labelWidths);

  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
  SDL_Window* window = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, prompt.layout.width,
                                        prompt.layout.height, SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
  if (!window) {
    std::fprintf(stderr, "vantor: %s\n", SDL_GetError());
    return kPromptNoWindow;
  }
  SDL_GLContext context = SDL_GL_CreateContext(window);
  if (!context || SDL_GL_MakeCurrent(window, context) != 0) {
    std::fprintf(stderr, "vantor: %s\n", SDL_GetError());
    if (context) SDL_GL_DeleteContext(context);
    SDL_DestroyWindow(window);
    return kPromptNoWindow;
  }
  draw(window, prompt);
  const int answer = wait_for_answer(window, prompt);
  SDL_GL_MakeCurrent(window, nullptr);
  SDL_GL_DeleteContext(context);
  SDL_DestroyWindow(window);
  return answer;
}
