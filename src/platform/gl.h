// OpenGL 1.1 for the portable core, without pulling in <windows.h>.
#pragma once

#if defined(_WIN32)
// The Windows <GL/gl.h> expects these from <windows.h>.
#ifndef APIENTRY
#define APIENTRY __stdcall
#define VANTOR_DEFINED_APIENTRY
#endif
#ifndef WINGDIAPI
#define WINGDIAPI __declspec(dllimport)
#define VANTOR_DEFINED_WINGDIAPI
#endif
#include <GL/gl.h>
#ifdef VANTOR_DEFINED_APIENTRY
#undef APIENTRY
#undef VANTOR_DEFINED_APIENTRY
#endif
#ifdef VANTOR_DEFINED_WINGDIAPI
#undef WINGDIAPI
#undef VANTOR_DEFINED_WINGDIAPI
#endif
#else
#include <GL/gl.h>
#endif
