// One unit cube centred at the current model-view origin: a quarter-bright
// solid body with its twelve edges drawn over it at full brightness.
#pragma once

#include "font/col.h"

// Immediate-mode OpenGL; needs a current context. Leaves the current colour
// at c and changes no other state.
void drawCube(const col& c);
