// The intro's fixed OpenGL state and projection, shared with the tools that
// render the intro off screen.
#pragma once

// Sets the clear values, depth testing and the projection for a desktop of
// the given size (which picks the horizontal stretch, see aspect_factor).
// Leaves the matrix mode at GL_PROJECTION.
void set_intro_view(int desktopWidth, int desktopHeight);
