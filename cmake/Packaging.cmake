# The download: `--target package` writes an archive with the intro and its
# music, "2.xm" (composed by the build): a zip with a note on running it for
# Windows, a tar.gz for Linux, and for the web a zip with the page at its
# root, to unpack into any folder of any static web host.

install(TARGETS vantor RUNTIME DESTINATION .)
if(TARGET music_module)
  install(FILES ${CMAKE_BINARY_DIR}/2.xm DESTINATION .)
endif()

if(EMSCRIPTEN)
  install(FILES ${CMAKE_BINARY_DIR}/index.html ${CMAKE_BINARY_DIR}/vantor.wasm DESTINATION .)
  set(package_system web)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
elseif(WIN32)
  if(CMAKE_SYSTEM_PROCESSOR MATCHES "64")
    set(package_system windows-x64)
  else()
    set(package_system windows-x86)
  endif()
  # Windows line endings, for the plainest text editor.
  configure_file(${CMAKE_CURRENT_LIST_DIR}/package/readme-windows.txt ${CMAKE_BINARY_DIR}/readme.txt
                 @ONLY NEWLINE_STYLE WIN32)
  install(FILES ${CMAKE_BINARY_DIR}/readme.txt DESTINATION .)
  set(CPACK_GENERATOR ZIP)
else()
  set(package_system linux-${CMAKE_SYSTEM_PROCESSOR})
  set(CPACK_GENERATOR TGZ)
  # The build's copy keeps its symbols for the tests; the download has none.
  set(CPACK_STRIP_FILES ON)
endif()

set(CPACK_PACKAGE_NAME vantor-filigree)
set(CPACK_PACKAGE_VENDOR Kestrel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME vantor-filigree-${PROJECT_VERSION}-${package_system})
set(CPACK_SOURCE_GENERATOR "")
include(CPack)
