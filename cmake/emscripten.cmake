# Builds for the browser with the Emscripten that emcc on the path belongs
# to (Debian's package keeps it under /usr/share/emscripten).
find_program(VANTOR_EMCC emcc REQUIRED)
get_filename_component(vantor_emcc_real ${VANTOR_EMCC} REALPATH)
get_filename_component(vantor_emscripten_root ${vantor_emcc_real} DIRECTORY)
if(NOT EXISTS ${vantor_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake)
  message(FATAL_ERROR "no Emscripten toolchain beside ${vantor_emcc_real}")
endif()
include(${vantor_emscripten_root}/cmake/Modules/Platform/Emscripten.cmake)
