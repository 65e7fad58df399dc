# Replays every kept fuzz input (seeds and crashers) through the sanitizer build, so a crash
# once found stays fixed. Included from tests/CMakeLists.txt with the test build.
function(kp_add_fuzz name)
  cmake_parse_arguments(F "" "" "LIBS" ${ARGN})
  set(dir ${CMAKE_SOURCE_DIR}/tests/fuzz/${name})
  add_executable(replay-${name} ${dir}/Fuzz.cpp ${CMAKE_SOURCE_DIR}/tests/fuzz/ReplayMain.cpp)
  target_link_libraries(replay-${name} PRIVATE ${F_LIBS})
  set_target_properties(replay-${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME replay-${name} COMMAND replay-${name} ${dir}/seeds ${dir}/crashers)
  set_tests_properties(replay-${name} PROPERTIES
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${KP_LSAN_SUPPRESSIONS}:print_suppressions=0;ASAN_OPTIONS=${KP_ASAN_OPTIONS}")
endfunction()
include(${CMAKE_SOURCE_DIR}/tests/fuzz/targets.cmake)
