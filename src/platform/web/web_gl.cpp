// The part of OpenGL 1.1 the intro draws with, over WebGL: immediate-mode
// geometry between glBegin and glEnd, the two matrix stacks and the
// fixed-function colour. WebGL has none of these.
//
// Vertices are moved by the model-view matrix as they arrive and gathered
// into two batches, triangles and lines, which are drawn with the projection
// in one call each when the frame is presented or cleared. Quadrilaterals
// become two triangles each, so every face is drawn whole. Faces go before
// lines, as each cube draws its faces before its edges.
#include "platform/web/web_gl.h"

#include <webgl/webgl1.h>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

constexpr GLenum kQuads = 0x0007;
constexpr GLenum kModelView = 0x1700;
constexpr GLenum kProjection = 0x1701;
constexpr GLenum kLineSmooth = 0x0B20;
constexpr int kStackDepth = 32;

// Column-major, as OpenGL keeps them.
struct Matrix {
  float m[16];
};

constexpr Matrix kIdentity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};

Matrix multiply(const Matrix& a, const Matrix& b) {
  Matrix r{};
  for (int col = 0; col < 4; ++col) {
    for (int row = 0; row < 4; ++row) {
      float sum = 0.0f;
      for (int k = 0; k < 4; ++k) sum += a.m[k * 4 + row] * b.m[col * 4 + k];
      r.m[col * 4 + row] = sum;
    }
  }
  return r;
}

struct Stack {
  Matrix levels[kStackDepth] = {kIdentity};
  int top = 0;
  Matrix& current() { return levels[top]; }
};

struct Vertex {
  float x, y, z, r, g, b;
};

Stack modelView, projection;
Stack* currentStack = &modelView;

GLenum primitive = 0;
bool inside = false;
float colour[3] = {1.0f, 1.0f, 1.0f};
std::vector<Vertex> primitiveVertices;  // since glBegin
std::vector<Vertex> triangles, lines;   // waiting to be drawn

GLuint program = 0, vertexBuffer = 0;
GLint projectionUniform = -1;

const char* const kVertexShader =
    "attribute vec3 position;\n"
    "attribute vec3 colour;\n"
    "uniform mat4 projection;\n"
    "varying vec3 v_colour;\n"
    "void main() {\n"
    "  v_colour = colour;\n"
    "  gl_Position = projection * vec4(position, 1.0);\n"
    "}\n";

const char* const kFragmentShader =
    "precision mediump float;\n"
    "varying vec3 v_colour;\n"
    "void main() { gl_FragColor = vec4(v_colour, 1.0); }\n";

GLuint compile(GLenum kind, const char* source) {
  const GLuint shader = emscripten_glCreateShader(kind);
  emscripten_glShaderSource(shader, 1, &source, nullptr);
  emscripten_glCompileShader(shader);
  GLint ok = 0;
  emscripten_glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char text[512] = {};
    emscripten_glGetShaderInfoLog(shader, sizeof text, nullptr, text);
    std::fprintf(stderr, "vantor: shader: %s\n", text);
    return 0;
  }
  return shader;
}

void draw(std::vector<Vertex>& batch, GLenum mode) {
  if (batch.empty()) return;
  emscripten_glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(batch.size() * sizeof(Vertex)),
                          batch.data(), GL_STREAM_DRAW);
  emscripten_glDrawArrays(mode, 0, static_cast<GLsizei>(batch.size()));
  batch.clear();
}

// What waits was given under the old projection: it is drawn before that
// changes (model-view changes already moved the vertices).
void changing_current() {
  if (currentStack == &projection) web_gl_flush();
}

void multiply_current(const Matrix& by) {
  changing_current();
  currentStack->current() = multiply(currentStack->current(), by);
}

}  // namespace

bool web_gl_init() {
  const GLuint vs = compile(GL_VERTEX_SHADER, kVertexShader);
  const GLuint fs = compile(GL_FRAGMENT_SHADER, kFragmentShader);
  if (!vs || !fs) return false;
  program = emscripten_glCreateProgram();
  emscripten_glAttachShader(program, vs);
  emscripten_glAttachShader(program, fs);
  emscripten_glBindAttribLocation(program, 0, "position");
  emscripten_glBindAttribLocation(program, 1, "colour");
  emscripten_glLinkProgram(program);
  GLint ok = 0;
  emscripten_glGetProgramiv(program, GL_LINK_STATUS, &ok);
  if (!ok) return false;
  emscripten_glUseProgram(program);
  projectionUniform = emscripten_glGetUniformLocation(program, "projection");
  emscripten_glGenBuffers(1, &vertexBuffer);
  emscripten_glBindBuffer(GL_ARRAY_BUFFER, vertexBuffer);
  emscripten_glEnableVertexAttribArray(0);
  emscripten_glEnableVertexAttribArray(1);
  emscripten_glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex), nullptr);
  emscripten_glVertexAttribPointer(1, 3, GL_FLOAT, GL_FALSE, sizeof(Vertex),
                                   reinterpret_cast<const void*>(3 * sizeof(float)));
  return true;
}

void web_gl_flush() {
  if (!program) return;
  emscripten_glUniformMatrix4fv(projectionUniform, 1, GL_FALSE, projection.current().m);
  draw(triangles, GL_TRIANGLES);
  draw(lines, GL_LINES);
}

// The OpenGL 1.1 calls themselves, with C linkage as <GL/gl.h> declares them.
extern "C" {

void glBegin(GLenum mode) {
  primitive = mode;
  inside = true;
  primitiveVertices.clear();
}

void glEnd() {
  inside = false;
  const std::vector<Vertex>& v = primitiveVertices;
  switch (primitive) {
    case kQuads:
      for (std::size_t i = 0; i + 4 <= v.size(); i += 4) {
        triangles.insert(triangles.end(), {v[i], v[i + 1], v[i + 2], v[i], v[i + 2], v[i + 3]});
      }
      break;
    case GL_TRIANGLES:
      triangles.insert(triangles.end(), v.begin(), v.begin() + static_cast<long>(v.size() / 3 * 3));
      break;
    case GL_LINES:
      lines.insert(lines.end(), v.begin(), v.begin() + static_cast<long>(v.size() / 2 * 2));
      break;
    default:
      break;  // the intro draws nothing else
  }
}

void glColor3f(GLfloat r, GLfloat g, GLfloat b) {
  colour[0] = r;
  colour[1] = g;
  colour[2] = b;
}

void glVertex3f(GLfloat x, GLfloat y, GLfloat z) {
  if (!inside) return;
  const float* m = modelView.current().m;
  primitiveVertices.push_back({m[0] * x + m[4] * y + m[8] * z + m[12],
                               m[1] * x + m[5] * y + m[9] * z + m[13],
                               m[2] * x + m[6] * y + m[10] * z + m[14], colour[0], colour[1], colour[2]});
}

void glMatrixMode(GLenum mode) {
  if (mode == kModelView) currentStack = &modelView;
  if (mode == kProjection) currentStack = &projection;
}

void glLoadIdentity() {
  changing_current();
  currentStack->current() = kIdentity;
}

void glPushMatrix() {
  if (currentStack->top + 1 >= kStackDepth) return;  // overflow: ignored
  currentStack->levels[currentStack->top + 1] = currentStack->current();
  ++currentStack->top;
}

void glPopMatrix() {
  changing_current();
  if (currentStack->top > 0) --currentStack->top;
}

void glTranslatef(GLfloat x, GLfloat y, GLfloat z) {
  Matrix t = kIdentity;
  t.m[12] = x;
  t.m[13] = y;
  t.m[14] = z;
  multiply_current(t);
}

void glRotatef(GLfloat angle, GLfloat x, GLfloat y, GLfloat z) {
  const float length = std::sqrt(x * x + y * y + z * z);
  if (length == 0.0f) return;
  x /= length;
  y /= length;
  z /= length;
  const float radians = angle * 3.14159265358979323846f / 180.0f;
  const float c = std::cos(radians), s = std::sin(radians), k = 1.0f - c;
  const Matrix r{{x * x * k + c, y * x * k + z * s, x * z * k - y * s, 0,
                  x * y * k - z * s, y * y * k + c, y * z * k + x * s, 0,
                  x * z * k + y * s, y * z * k - x * s, z * z * k + c, 0,
                  0, 0, 0, 1}};
  multiply_current(r);
}

void glFrustum(double left, double right, double bottom, double top, double zNear, double zFar) {
  const Matrix f{{static_cast<float>(2 * zNear / (right - left)), 0, 0, 0,
                  0, static_cast<float>(2 * zNear / (top - bottom)), 0, 0,
                  static_cast<float>((right + left) / (right - left)),
                  static_cast<float>((top + bottom) / (top - bottom)),
                  static_cast<float>(-(zFar + zNear) / (zFar - zNear)), -1,
                  0, 0, static_cast<float>(-2 * zFar * zNear / (zFar - zNear)), 0}};
  multiply_current(f);
}

void glClearDepth(double depth) { emscripten_glClearDepthf(static_cast<GLfloat>(depth)); }

// What is waiting is drawn before the buffers are cleared.
void glClear(GLbitfield mask) {
  web_gl_flush();
  emscripten_glClear(mask);
}

// WebGL smooths lines only through the context's multisampling.
void glEnable(GLenum cap) {
  if (cap == kLineSmooth) return;
  emscripten_glEnable(cap);
}

}  // extern "C"
