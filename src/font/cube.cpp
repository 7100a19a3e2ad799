#include "font/cube.h"

#include "platform/gl.h"

namespace {

struct Vertex {
  float x, y, z;
};

constexpr float h = 0.5f;

// Six faces, four corners each.
constexpr Vertex kFaces[24] = {
    {h, h, -h},  {-h, h, -h},  {-h, h, h},   {h, h, h},    // y = +0.5
    {h, -h, h},  {-h, -h, h},  {-h, -h, -h}, {h, -h, -h},  // y = -0.5
    {h, h, h},   {-h, h, h},   {-h, -h, h},  {h, -h, h},   // z = +0.5
    {h, -h, -h}, {-h, -h, -h}, {-h, h, -h},  {h, h, -h},   // z = -0.5
    {-h, h, h},  {-h, h, -h},  {-h, -h, -h}, {-h, -h, h},  // x = -0.5
    {h, h, -h},  {h, h, h},    {h, -h, h},   {h, -h, -h},  // x = +0.5
};

// Twelve edges as from/to pairs: around the front face, around the back
// face, then the four that join them.
constexpr Vertex kEdges[24] = {
    {-h, -h, h},  {h, -h, h},   {-h, h, h},   {h, h, h},
    {-h, -h, h},  {-h, h, h},   {h, -h, h},   {h, h, h},
    {-h, -h, -h}, {h, -h, -h},  {-h, h, -h},  {h, h, -h},
    {-h, -h, -h}, {-h, h, -h},  {h, -h, -h},  {h, h, -h},
    {-h, -h, -h}, {-h, -h, h},  {-h, h, -h},  {-h, h, h},
    {h, h, -h},   {h, h, h},    {h, -h, -h},  {h, -h, h},
};

}  // namespace

void drawCube(const col& c) {
  glBegin(GL_QUADS);
  glColor3f(static_cast<float>(0.25 * c.r), static_cast<float>(0.25 * c.g),
            static_cast<float>(0.25 * c.b));
  for (const Vertex& v : kFaces) glVertex3f(v.x, v.y, v.z);
  glEnd();

  glBegin(GL_LINES);
  glColor3f(c.r, c.g, c.b);
  for (const Vertex& v : kEdges) glVertex3f(v.x, v.y, v.z);
  glEnd();
}
