// One colour: three single-precision components, nominally 0 to 1.
#pragma once

struct col {
  float r;
  float g;
  float b;
};
