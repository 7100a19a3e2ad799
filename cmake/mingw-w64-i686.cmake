# Cross build for 32-bit Windows with mingw-w64. SSE arithmetic, not x87:
# single-precision results must match the other builds bit for bit.
set(MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/MingwToolchain.cmake)
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
