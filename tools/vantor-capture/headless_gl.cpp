#include "headless_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdlib>
#include <cstring>

#include "platform/gl.h"

namespace {

EGLDisplay surfacelessDisplay() {
  const char* extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
  if (extensions != nullptr && std::strstr(extensions, "EGL_MESA_platform_surfaceless") != nullptr) {
    auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (getPlatformDisplay != nullptr) {
      EGLDisplay d = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
      if (d != EGL_NO_DISPLAY) return d;
    }
  }
  return eglGetDisplay(EGL_DEFAULT_DISPLAY);
}

}  // namespace

HeadlessGl::~HeadlessGl() { close(); }

bool HeadlessGl::open(int w, int h, std::string* error) {
  close();
  // The same pixels on every machine: Mesa's software rasteriser unless the
  // caller asked for something else.
  setenv("LIBGL_ALWAYS_SOFTWARE", "1", 0);

  auto fail = [&](const char* what) {
    if (error != nullptr) *error = what;
    close();
    return false;
  };

  EGLDisplay d = surfacelessDisplay();
  if (d == EGL_NO_DISPLAY) return fail("no EGL display");
  display = d;
  EGLint major = 0, minor = 0;
  if (!eglInitialize(d, &major, &minor)) {
    display = nullptr;
    return fail("EGL cannot be initialised");
  }
  if (!eglBindAPI(EGL_OPENGL_API)) return fail("EGL offers no desktop OpenGL");

  const EGLint configAttributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT,
                                     EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                                     EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8,
                                     EGL_DEPTH_SIZE, 24,
                                     EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  if (!eglChooseConfig(d, configAttributes, &config, 1, &configs) || configs < 1) {
    return fail("no EGL configuration with an RGB pbuffer and a depth buffer");
  }
  const EGLint surfaceAttributes[] = {EGL_WIDTH, w, EGL_HEIGHT, h, EGL_NONE};
  surface = eglCreatePbufferSurface(d, config, surfaceAttributes);
  if (surface == EGL_NO_SURFACE) {
    surface = nullptr;
    return fail("the EGL pbuffer cannot be created");
  }
  // No attributes: a compatibility-profile context.
  context = eglCreateContext(d, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) {
    context = nullptr;
    return fail("the OpenGL context cannot be created");
  }
  if (!eglMakeCurrent(d, surface, surface, context)) return fail("the OpenGL context cannot be made current");
  width = w;
  height = h;
  glViewport(0, 0, w, h);
  return true;
}

void HeadlessGl::close() {
  if (display == nullptr) return;
  eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (context != nullptr) eglDestroyContext(display, context);
  if (surface != nullptr) eglDestroySurface(display, surface);
  // The display itself stays initialised for the rest of the process:
  // terminating it unloads the driver, and the next open would load it
  // again. eglInitialize on an initialised display simply succeeds.
  display = surface = context = nullptr;
}

RgbImage HeadlessGl::read() const {
  RgbImage image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<std::size_t>(width) * height * 3);
  glFinish();
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  std::vector<std::uint8_t> bottomUp(image.pixels.size());
  glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, bottomUp.data());
  const std::size_t row = static_cast<std::size_t>(width) * 3;
  for (int y = 0; y < height; ++y) {
    std::memcpy(&image.pixels[row * y], &bottomUp[row * (height - 1 - y)], row);
  }
  return image;
}

void HeadlessGl::readBgra(std::uint8_t* out) const {
  glFinish();
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, width, height, GL_BGRA, GL_UNSIGNED_BYTE, out);
}
