# kp_add_test(NAME SOURCES src... LIBS lib... [DBUS])
# One QtTest executable per module, run headless: offscreen platform, a private runtime folder,
# the Russian locale. With DBUS the test runs under its own private session bus.
set(KP_LSAN_SUPPRESSIONS ${CMAKE_SOURCE_DIR}/tests/lsan.supp)
set(KP_ASAN_OPTIONS "detect_leaks=1:abort_on_error=0:detect_odr_violation=0")

function(kp_add_test name)
  cmake_parse_arguments(T "DBUS" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kp_testsupport Qt6::Test)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  if(T_DBUS)
    add_test(NAME ${name}
      COMMAND ${CMAKE_SOURCE_DIR}/tests/with-private-bus.sh $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${CMAKE_SOURCE_DIR}/tests/headless.sh $<TARGET_FILE:${name}>)
  endif()
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LSAN_OPTIONS=suppressions=${KP_LSAN_SUPPRESSIONS}:print_suppressions=0;ASAN_OPTIONS=${KP_ASAN_OPTIONS};KP_BIN_DIR=${CMAKE_BINARY_DIR}/bin;KP_SOURCE_DIR=${CMAKE_SOURCE_DIR};LC_ALL=ru_RU.UTF-8"
    TIMEOUT 600)
endfunction()
