# Test helpers.  Every test executable links the virtual board ahead of libc,
# so the device nodes it opens can never be the real ones, and a main that
# refuses to run unless the board says it is active.
find_package(GTest QUIET)
if(NOT GTest_FOUND)
  # Debian ships the sources; building them avoids any download.
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  add_library(GTest::gtest ALIAS gtest)
  add_library(GTest::gmock ALIAS gmock)
endif()

set(VYX_TEST_TIMEOUT 600 CACHE STRING "Per-executable test time-out in seconds")

# Helpers every test may use (TestSupport.h).
add_library(vyx_test_support INTERFACE)
target_include_directories(vyx_test_support INTERFACE ${PROJECT_SOURCE_DIR}/tests/support)

# vyx_add_test(name SOURCES a.cpp ... [LIBS lib ...])
# Registers one CTest entry per executable: a suite shares one process, so it
# can share one initialised device.
function(vyx_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE vyxboard_main vyx_test_support ${T_LIBS} GTest::gtest pthread dl)
  # Link the board with --no-as-needed so its libc entry points come first.
  target_link_options(${name} PRIVATE -Wl,--no-as-needed)
  target_link_libraries(${name} PRIVATE vyxboard)
  add_test(NAME ${name} COMMAND ${name})
  set(env "VYX_TEST_BIN=${CMAKE_BINARY_DIR}/bin" "VYX_SOURCE_DIR=${PROJECT_SOURCE_DIR}")
  if(CMAKE_CROSSCOMPILING_EMULATOR)
    # A test that starts a board binary (itself included) starts it through
    # the emulator it runs under.
    string(JOIN " " emulator ${CMAKE_CROSSCOMPILING_EMULATOR})
    list(APPEND env "VYX_TEST_EMULATOR=${emulator}")
  endif()
  vyx_sanitizer_test_env(env)
  set_tests_properties(${name} PROPERTIES TIMEOUT ${VYX_TEST_TIMEOUT}
    ENVIRONMENT "${env}" WORKING_DIRECTORY ${CMAKE_BINARY_DIR})
endfunction()

# vyx_sanitizer_test_env(var): appends to var the environment a test of this
# build's sanitizer runs with.
function(vyx_sanitizer_test_env var)
  set(env ${${var}})
  if(VYX_SANITIZER STREQUAL "address")
    # LeakSanitizer cannot stop the world under qemu.
    if(CMAKE_CROSSCOMPILING)
      set(leaks 0)
    else()
      set(leaks 1)
    endif()
    list(APPEND env "ASAN_OPTIONS=detect_leaks=${leaks}"
                    "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  elseif(VYX_SANITIZER STREQUAL "thread")
    # Any report fails the test; only the virtual board, the hardware's
    # stand-in, is left out (tests/tsan.supp says why).
    list(APPEND env "TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp")
  endif()
  set(${var} "${env}" PARENT_SCOPE)
endfunction()
