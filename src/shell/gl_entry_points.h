// The OpenGL entry points the driver must offer for the intro to start.
#pragma once

constexpr int kGlEntryPointCount = 37;

// Slot i holds the address resolved for name i; later slots stay null after
// a name fails to resolve.
extern void* GlEntryPoints[kGlEntryPointCount];

// The 37 names back to back, each zero-terminated.
extern const char kGlEntryPointNames[];

// Resolves the names in order for the current context. Returns 1 when all
// resolved, 0 at the first that did not (the rest are not looked up).
int load_gl_entry_points();
