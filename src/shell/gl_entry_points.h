// The OpenGL entry points the driver must offer for the intro to start.
#pragma once

constexpr int kGlEntryPointCount = 37;

// The 37 names back to back, each zero-terminated.
extern const char kGlEntryPointNames[];

// Resolves the names in order for the current context. Returns 1 when all
// resolved, 0 at the first that did not (the rest are not looked up). The
// drawing uses only what OpenGL 1.1 exports, so the addresses are not kept.
int load_gl_entry_points();
