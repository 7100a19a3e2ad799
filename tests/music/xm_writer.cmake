# The tests' modules (xmtest::): stated in a few lines, written by the
# module writer (tools/xm-write) and served to the player through its file
# callbacks. A library of its own, because the benchmarks and the fuzzer's
# seeds build their modules with it too.
add_library(xm_test_writer STATIC EXCLUDE_FROM_ALL ${CMAKE_CURRENT_LIST_DIR}/xm_writer.cpp)
target_include_directories(xm_test_writer PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(xm_test_writer PUBLIC vantor_music xm_write)
vantor_warnings(xm_test_writer)
