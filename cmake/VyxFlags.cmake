# Compiler flags shared by every target of the project.
add_compile_options(-Wall -Wextra -Werror)

if(VYX_SANITIZE)
  # float-cast-overflow and float-divide-by-zero are not part of "undefined"
  # in GCC; the sensor and PL arithmetic relies on their being clean.
  add_compile_options(-fsanitize=address,undefined,float-cast-overflow,float-divide-by-zero
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined,float-cast-overflow,float-divide-by-zero)
endif()

# The shipped libraries export only what their headers declare; everything
# else stays inside the shared object.
set(CMAKE_CXX_VISIBILITY_PRESET hidden)
set(CMAKE_C_VISIBILITY_PRESET hidden)
set(CMAKE_VISIBILITY_INLINES_HIDDEN ON)
