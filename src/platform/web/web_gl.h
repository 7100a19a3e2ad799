// The immediate-mode drawing the intro uses, over WebGL (web_gl.cpp).
#pragma once

// Sets up the drawing for the current WebGL context; false when it cannot.
bool web_gl_init();

// Draws whatever geometry is still waiting; called before a frame is shown.
void web_gl_flush();
