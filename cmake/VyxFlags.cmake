# Compiler flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Werror)

# VYX_SANITIZER: "address", "thread" or empty, from the VYX_SANITIZE choice.
string(TOLOWER "${VYX_SANITIZE}" sanitize)
if(sanitize STREQUAL "thread")
  set(VYX_SANITIZER thread)
elseif(sanitize STREQUAL "address" OR VYX_SANITIZE)
  set(VYX_SANITIZER address)
else()
  set(VYX_SANITIZER "")
endif()

if(VYX_SANITIZER STREQUAL "address")
  # float-cast-overflow and float-divide-by-zero are not part of "undefined"
  # in GCC; the sensor and PL arithmetic relies on their being clean.
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow,float-divide-by-zero
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow,float-divide-by-zero)
elseif(VYX_SANITIZER STREQUAL "thread")
  if(CMAKE_CROSSCOMPILING)
    message(FATAL_ERROR "VYX_SANITIZE=thread: there is no ThreadSanitizer runtime for ${CMAKE_SYSTEM_PROCESSOR}")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(VYX_FUZZ)
  # libFuzzer instruments everything for coverage; every target also runs
  # under AddressSanitizer and UndefinedBehaviorSanitizer, so a finding is a
  # crash.
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "VYX_FUZZ needs clang (CC=clang-15 CXX=clang++-15)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(VYX_COVERAGE)
  add_compile_options(--coverage)
  add_link_options(--coverage)
endif()

# The shipped libraries export only what their headers declare; everything
# else stays inside the shared object.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
