# The mixer's vector loops. Which of them a build has is decided here and
# nowhere else: the sources compiled and the definitions the code reads
# (VANTOR_MIX_X86: SSE2 and AVX2; VANTOR_MIX_AVX512: AVX-512 besides) both
# follow from the two switches below. Each file is compiled for its own
# instruction set and called only on a processor that has it.

# x86 (32 or 64 bit) only. (Emscripten's toolchain calls its WebAssembly
# target x86.)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86|X86)$" AND NOT EMSCRIPTEN)
  set(VANTOR_MIX_X86 ON)
else()
  set(VANTOR_MIX_X86 OFF)
endif()
# AVX-512 in 64-bit builds only: the 32-bit intro is kept small, and AVX2
# serves it.
if(VANTOR_MIX_X86 AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(VANTOR_MIX_AVX512 ON)
else()
  set(VANTOR_MIX_AVX512 OFF)
endif()

# The vector loops' sources, relative to the player's folder.
set(VANTOR_MIX_SOURCES)
if(VANTOR_MIX_X86)
  list(APPEND VANTOR_MIX_SOURCES xm_mix_sse2.cpp xm_mix_avx2.cpp)
endif()
if(VANTOR_MIX_AVX512)
  list(APPEND VANTOR_MIX_SOURCES xm_mix_avx512.cpp)
endif()

# Source properties hold in the folder that sets them, so every folder that
# compiles the player's sources calls this for its own copy.
#   vantor_mix_kernel_options(DIR) with DIR the folder of the player sources
function(vantor_mix_kernel_options dir)
  set(definitions)
  if(VANTOR_MIX_X86)
    list(APPEND definitions VANTOR_MIX_X86=1)
  endif()
  if(VANTOR_MIX_AVX512)
    list(APPEND definitions VANTOR_MIX_AVX512=1)
  endif()
  # Every source that includes xm_mix_kernels.h.
  set(mixer_sources xm_mixer.cpp xm_mix_scalar.cpp ${VANTOR_MIX_SOURCES})
  list(TRANSFORM mixer_sources PREPEND ${dir}/)
  set_source_files_properties(${mixer_sources} PROPERTIES COMPILE_DEFINITIONS "${definitions}")
  if(NOT VANTOR_MIX_X86)
    return()
  endif()
  if(MSVC)
    set_source_files_properties(${dir}/xm_mix_avx2.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX2")
    set_source_files_properties(${dir}/xm_mix_avx512.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX512")
  else()
    set_source_files_properties(${dir}/xm_mix_sse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
    set_source_files_properties(${dir}/xm_mix_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2;-mfma")
    set_source_files_properties(${dir}/xm_mix_avx512.cpp PROPERTIES COMPILE_OPTIONS "-mavx512f;-mavx512bw")
  endif()
endfunction()
