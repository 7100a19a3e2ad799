# What ships is small: the Windows build leaves out what the intro does not
# use (exceptions, RTTI, unwind tables, unreferenced code) and strips the
# intro. (The Linux intro is stripped in its package: the tests' own copy
# keeps its symbols, for a backtrace of a hung run.)
#
# The music library keeps the build type's speed options: it mixes in real
# time. Everything else in the Windows intro is optimised for size.

# Called once the targets exist.
function(vantor_lean_intro)
  if(NOT MINGW)
    return()
  endif()
  target_link_options(vantor PRIVATE $<$<CONFIG:Release,MinSizeRel>:-s>)
  foreach(target vantor vantor_shell vantor_scroller vantor_font)
    target_compile_options(${target} PRIVATE $<$<CONFIG:Release>:-Os>)
  endforeach()
  # The module loader runs once, and the engine once a tick: speed buys them
  # nothing here, so they are optimised for size like the rest. The mixer
  # keeps -O3.
  set(music ${PROJECT_SOURCE_DIR}/src/music)
  set(engine_and_loader xm_loader xm_engine xm_effects xm_envelopes xm_oscillators xm_periods xm_voice xm_player)
  list(TRANSFORM engine_and_loader PREPEND ${music}/)
  list(TRANSFORM engine_and_loader APPEND .cpp)
  set_source_files_properties(${engine_and_loader} DIRECTORY ${music} PROPERTIES COMPILE_OPTIONS $<$<CONFIG:Release>:-Os>)
  # The map shows where the remaining bytes come from.
  target_link_options(vantor PRIVATE -Wl,-Map=${CMAKE_BINARY_DIR}/vantor.map)
endfunction()

if(MINGW)
  # No exceptions or RTTI anywhere in the Windows build: nothing catches,
  # and an allocation that fails is checked where it happens (nothrow).
  # Without exceptions no unwind tables are needed either. Function-level
  # sections let the linker drop what nothing calls. (Not data sections:
  # this compiler then places zero-filled arrays in the file's initialised
  # data, which costs more than it saves.)
  add_compile_options(-ffunction-sections -fno-asynchronous-unwind-tables
                      "$<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions;-fno-rtti;-fno-threadsafe-statics>")
  add_link_options(-Wl,--gc-sections)
endif()
