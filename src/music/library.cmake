# The player as a library for other programs: libvantor-xm, static and (off
# Windows) shared, built from the player's own sources, with vantor_xm.h as
# its one header (and the version header it includes). Both define only that
# header's calls as global names.
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
set(vxm_include_dirs ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_BINARY_DIR}/include)

# The player compiled once for both libraries: position independent, with
# only the API visible.
add_library(vantor_xm_objects OBJECT ${vxm_sources})
set_target_properties(vantor_xm_objects PROPERTIES
  CXX_VISIBILITY_PRESET hidden
  VISIBILITY_INLINES_HIDDEN ON
  POSITION_INDEPENDENT_CODE ON)
target_include_directories(vantor_xm_objects PRIVATE ${PROJECT_SOURCE_DIR}/src ${vxm_include_dirs})
vantor_warnings(vantor_xm_objects)
if(VANTOR_MIX_X86 AND MINGW)
  target_compile_options(vantor_xm_objects PRIVATE -Wa,-muse-unaligned-vector-move)
endif()

# The static library links beside any program, whatever names that program
# uses itself (a C program's own `channels`): its objects are linked into one
# (section groups resolved, so none of its copies of inline and template
# code can be discarded in favour of the program's), and every name in it
# but the API's is made local. Where there is no such partial link (the
# Windows toolchains) it is a plain archive of the objects, whose internal
# names stay visible.
if(CMAKE_EXECUTABLE_FORMAT STREQUAL "ELF" AND CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang" AND CMAKE_OBJCOPY)
  set(vxm_object ${CMAKE_CURRENT_BINARY_DIR}/vantor-xm.o)
  set(vxm_api ${CMAKE_CURRENT_SOURCE_DIR}/package/vantor_xm.keep)
  add_custom_command(
    OUTPUT ${vxm_object}
    COMMAND ${CMAKE_CXX_COMPILER} -r -nostdlib -Wl,--force-group-allocation -o ${vxm_object}
            $<TARGET_OBJECTS:vantor_xm_objects>
    COMMAND ${CMAKE_OBJCOPY} --wildcard --keep-global-symbols=${vxm_api} ${vxm_object}
    DEPENDS $<TARGET_OBJECTS:vantor_xm_objects> ${vxm_api}
    COMMENT "Linking the player into one object that shows only its API"
    COMMAND_EXPAND_LISTS VERBATIM)
  set_source_files_properties(${vxm_object} PROPERTIES EXTERNAL_OBJECT ON GENERATED ON)
  add_library(vantor_xm_static STATIC ${vxm_object})
else()
  add_library(vantor_xm_static STATIC $<TARGET_OBJECTS:vantor_xm_objects>)
endif()
# What the player needs besides the C library comes with the target, so a
# program in C links it too: the C++ runtime and libm.
if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  if("c++" IN_LIST CMAKE_CXX_IMPLICIT_LINK_LIBRARIES)
    set(vxm_runtime c++ m)
  else()
    set(vxm_runtime stdc++ m)
  endif()
  target_link_libraries(vantor_xm_static INTERFACE ${vxm_runtime})
endif()
list(TRANSFORM vxm_runtime PREPEND -l OUTPUT_VARIABLE vxm_libs_private)
list(JOIN vxm_libs_private " " vxm_libs_private)

set(vxm_targets vantor_xm_static)
if(NOT WIN32)
  add_library(vantor_xm_shared SHARED $<TARGET_OBJECTS:vantor_xm_objects>)
  list(APPEND vxm_targets vantor_xm_shared)
  set_target_properties(vantor_xm_shared PROPERTIES VERSION ${vxm_version} SOVERSION ${VXM_VERSION_MAJOR})
  # Only the API: everything else stays inside, whatever the compiler makes.
  target_link_options(vantor_xm_shared PRIVATE
                      -Wl,--version-script=${CMAKE_CURRENT_SOURCE_DIR}/package/vantor_xm.map -Wl,--no-undefined)
  set_property(TARGET vantor_xm_shared APPEND PROPERTY LINK_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/package/vantor_xm.map)
endif()
set_target_properties(vantor_xm_static PROPERTIES EXPORT_NAME vantor-xm-static)
if(TARGET vantor_xm_shared)
  set_target_properties(vantor_xm_shared PROPERTIES EXPORT_NAME vantor-xm)
endif()
foreach(target ${vxm_targets})
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME vantor-xm
    LINKER_LANGUAGE CXX
    ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib
    PUBLIC_HEADER "vantor_xm.h;${CMAKE_CURRENT_BINARY_DIR}/include/vantor_xm_version.h")
  target_include_directories(${target} INTERFACE "$<BUILD_INTERFACE:${vxm_include_dirs}>"
                                                 $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
endforeach()

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
