# The mixer's vector loops: each file is compiled for its own instruction
# set and called only on a processor that has it. Source properties hold in
# the folder that sets them, so every folder that compiles the player's
# sources calls this for its own copy.
#   vantor_mix_kernel_options(DIR) with DIR the folder of the player sources
function(vantor_mix_kernel_options dir)
  if(MSVC)
    set_source_files_properties(${dir}/xm_mix_avx2.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX2")
    set_source_files_properties(${dir}/xm_mix_avx512.cpp PROPERTIES COMPILE_OPTIONS "/arch:AVX512")
  else()
    set_source_files_properties(${dir}/xm_mix_sse2.cpp PROPERTIES COMPILE_OPTIONS "-msse2")
    set_source_files_properties(${dir}/xm_mix_avx2.cpp PROPERTIES COMPILE_OPTIONS "-mavx2")
    set_source_files_properties(${dir}/xm_mix_avx512.cpp PROPERTIES COMPILE_OPTIONS "-mavx512f;-mavx512bw")
  endif()
endfunction()

# Whether the target processor is x86 (32 or 64 bit), where those loops exist.
# (Emscripten's toolchain calls its WebAssembly target x86.)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86|X86)$" AND NOT EMSCRIPTEN)
  set(VANTOR_MIX_X86 ON)
else()
  set(VANTOR_MIX_X86 OFF)
endif()
