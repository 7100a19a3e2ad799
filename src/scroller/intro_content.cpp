#include "scroller/intro_content.h"

#include <new>

#include "scroller/scroll_text.h"

bool createIntroContent(IntroContent& content) {
  content.palette = new (std::nothrow) xpalette;
  if (content.palette != nullptr && content.palette->ok()) {
    content.scroller = new (std::nothrow) xscroller(scrollText, content.palette, 1.0f, 1.0f, 1.0f);
    if (content.scroller != nullptr && content.scroller->ok()) return true;
  }
  destroyIntroContent(content);
  return false;
}

void destroyIntroContent(IntroContent& content) {
  delete content.scroller;
  delete content.palette;
  content.scroller = nullptr;
  content.palette = nullptr;
}
