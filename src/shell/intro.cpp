#include "shell/intro.h"

#include "platform/gl.h"
#include "platform/platform.h"
#include "scroller/intro_content.h"
#include "scroller/random.h"
#include "shell/intro_music.h"
#include "shell/view.h"

namespace {
std::uint32_t introStartTime = 0;
IntroContent content;
IntroMusic music{};  // nothing when there is no module to play
}  // namespace

float milliseconds_to_seconds(double milliseconds) {
  return static_cast<float>(milliseconds * static_cast<double>(0.001f));
}

int intro_init(int /*width*/, int /*height*/, int /*flag*/, const ProgressCallback* progress) {
  progress->report(progress->context, 0);
  seedRandom(kIntroSeed);
  progress->report(progress->context, 200);
  introStartTime = platform::milliseconds();
  if (!createIntroContent(content)) return 0;

  int desktopWidth = 0, desktopHeight = 0;
  platform::desktop_size(&desktopWidth, &desktopHeight);
  set_intro_view(desktopWidth, desktopHeight);

  // A missing or damaged module leaves no music: the intro runs silently.
  music = music_start();
  return 1;
}

int intro_frame() {
  const auto elapsed = static_cast<std::int32_t>(platform::milliseconds() - introStartTime);
  const float t = milliseconds_to_seconds(static_cast<double>(elapsed));
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (content.scroller != nullptr) content.scroller->draw(t);
  return 0;
}

void intro_shutdown() {
  music_stop(music);
}
