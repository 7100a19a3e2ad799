# The player as a library for other programs: libvantor-xm, static and (off
# Windows) shared, built from the player's own sources, with vantor_xm.h as
# its one header. The shared library exports only that header's calls.
# Included from this folder's CMakeLists, where the mixer's per-file options
# hold. `cmake --install BUILD --component vantor-xm` installs it with a
# pkg-config file and a CMake package.
if(EMSCRIPTEN)
  return()
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

get_target_property(vxm_sources vantor_music SOURCES)
# The intro's glue (its "2.xm", its wave device) is not the player's.
list(FILTER vxm_sources EXCLUDE REGEX "^music")

set(vxm_targets vantor_xm_static)
add_library(vantor_xm_static STATIC ${vxm_sources})
if(NOT WIN32)
  add_library(vantor_xm_shared SHARED ${vxm_sources})
  list(APPEND vxm_targets vantor_xm_shared)
  set_target_properties(vantor_xm_shared PROPERTIES VERSION ${vxm_version} SOVERSION ${VXM_VERSION_MAJOR})
  # Only the API: everything else stays inside, whatever the compiler makes.
  target_link_options(vantor_xm_shared PRIVATE
                      -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/package/vantor_xm.map -Wl,--no-undefined)
  set_property(TARGET vantor_xm_shared APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/package/vantor_xm.map)
endif()
foreach(target ${vxm_targets})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME vantor-xm
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    POSITION_INDEPENDENT_CODE ON
    PUBLIC_HEADER "vantor_xm.h;${CMAKE_CURRENT_BINARY_DIR}/include/vantor_xm_version.h")
  target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR}/src ${CMAKE_CURRENT_BINARY_DIR}/include
                             INTERFACE "$<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR};${CMAKE_CURRENT_BINARY_DIR}/include>"
                                       $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  vantor_warnings(${target})
endforeach()
if(VANTOR_MIX_X86 AND MINGW)
  target_compile_options(vantor_xm_static PRIVATE -Wa,-muse-unaligned-vector-move)
endif()

install(TARGETS ${vxm_targets} EXPORT VantorXmTargets COMPONENT vantor-xm
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(EXPORT VantorXmTargets NAMESPACE VantorXm:: COMPONENT vantor-xm
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VantorXm)
configure_package_config_file(package/VantorXmConfig.cmake.in ${CMAKE_BINARY_DIR}/VantorXmConfig.cmake
                              INSTALL_DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VantorXm)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/VantorXmConfigVersion.cmake
                                 VERSION ${vxm_version} COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/VantorXmConfig.cmake ${CMAKE_BINARY_DIR}/VantorXmConfigVersion.cmake
        COMPONENT vantor-xm DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/VantorXm)
# The .pc file finds the prefix from where it lies, so the installed tree
# can move.
file(RELATIVE_PATH vxm_pc_prefix /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
configure_file(package/vantor-xm.pc.in ${CMAKE_BINARY_DIR}/vantor-xm.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vantor-xm.pc COMPONENT vantor-xm
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
