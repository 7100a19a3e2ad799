# The download: `--target package` writes an archive with the intro and its
# music, "2.xm" (composed by the build) and a note on running it: a zip for
# Windows, a tar.gz for Linux, and for the web a zip with the page at its
# root, to unpack into any folder of any static web host.

install(TARGETS vantor RUNTIME DESTINATION .)
if(TARGET music_module)
  install(FILES ${CMAKE_BINARY_DIR}/2.xm DESTINATION .)
endif()

if(EMSCRIPTEN)
  install(FILES ${CMAKE_BINARY_DIR}/index.html ${CMAKE_BINARY_DIR}/vantor.wasm ${CMAKE_BINARY_DIR}/vantor-xm.wasm
          DESTINATION .)
  set(package_system web)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
elseif(WIN32)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "64")
    set(package_system windows-x64)
  else()
    set(package_system windows-x86)
  endif()
  set(CPACK_GENERATOR ZIP)
else()
  set(package_system linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ)
  # The build's copy keeps its symbols for the tests; the download has none.
  set(CPACK_STRIP_FILES ON)
endif()

# The same short note on running it beside the Windows and Linux intro.
if(NOT EMSCRIPTEN)
  if(WIN32)
    set(VANTOR_EXE vantor.exe)
    set(VANTOR_START "\"vantor.exe\"")
    set(VANTOR_NEEDS "")
    # Windows line endings, for the plainest text editor.
    set(readme_newlines WIN32)
  else()
    set(VANTOR_EXE vantor)
    set(VANTOR_START "\"vantor\" (./vantor in a terminal, from that folder)")
    set(VANTOR_NEEDS "\nIt also needs a display and the SDL2, SDL2_ttf and fontconfig libraries (on\nDebian and Ubuntu: libsdl2-2.0-0, libsdl2-ttf-2.0-0 and libfontconfig1).")
    set(readme_newlines UNIX)
  endif()
  configure_file(${CMAKE_CURRENT_LIST_DIR}/package/readme.txt ${CMAKE_BINARY_DIR}/readme.txt
                 @ONLY NEWLINE_STYLE ${readme_newlines})
  install(FILES ${CMAKE_BINARY_DIR}/readme.txt DESTINATION .)
endif()

set(CPACK_PACKAGE_NAME vantor-filigree)
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME vantor-filigree-${PROJECT_VERSION}-${package_system})
set(CPACK_SOURCE_GENERATOR "")
# The intro's files only: the player library installs as a component of its
# own (vantor-xm), for `cmake --install`.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};Unspecified;/")
include(CPack)
