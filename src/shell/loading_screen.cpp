#include "shell/loading_screen.h"

void draw_loading_screen(void* context, int value) {
  auto* record = static_cast<WindowRecord*>(context);
  platform::paint_loading_screen(*record, loading_screen_layout(value));
}
