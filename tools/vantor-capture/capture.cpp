#include "capture.h"

#include "headless_gl.h"
#include "platform/gl.h"
#include "scroller/random.h"
#include "shell/view.h"
#include "tool_cli.h"

namespace {

void collect(void* context, const CubeRecord& cube) {
  static_cast<std::vector<CubeRecord>*>(context)->push_back(cube);
}

void ignore(void*, const CubeRecord&) {}

}  // namespace

int startCapture(HeadlessGl* gl, IntroCapture& capture, int width, int height) {
  std::string error;
  if (gl != nullptr && !gl->open(width, height, &error)) return cli::fail("headless OpenGL", error);
  if (!capture.build()) return cli::fail("the palette and scroller", "out of memory");
  return 0;
}

IntroCapture::~IntroCapture() { destroyIntroContent(built); }

bool IntroCapture::build() {
  destroyIntroContent(built);
  index.clear();
  next = 0;
  seedRandom(kIntroSeed);
  if (!createIntroContent(built)) return false;
  for (std::size_t i = 0; i < built.scroller->charCount(); ++i) index[&built.scroller->charAt(i)] = i;
  return true;
}

void IntroCapture::setView(int desktopWidth, int desktopHeight) {
  set_intro_view(desktopWidth, desktopHeight);
}

void IntroCapture::frame(bool drawGl, std::vector<CubeRecord>* cubes) {
  const CubeRecorder recorder{cubes, cubes != nullptr ? &collect : &ignore, drawGl};
  const bool needRecorder = cubes != nullptr || !drawGl;
  if (needRecorder) setCubeRecorder(&recorder);
  if (drawGl) glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // The scroller counts frames, not time; the value only mimics the intro.
  built.scroller->draw(static_cast<float>(next) / 60.0f);
  if (needRecorder) setCubeRecorder(nullptr);
  ++next;
}
