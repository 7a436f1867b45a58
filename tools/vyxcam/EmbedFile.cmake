# EmbedFile.cmake - writes a file's bytes as a C++ header:
#   cmake -DINPUT=web/index.html -DOUTPUT=WebPage.h -P EmbedFile.cmake
# gives kWebPage (the bytes) and kWebPageSize.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n" bytes "${bytes}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${name} at build time: do not edit.\n"
  "#pragma once\n#include <cstddef>\n"
  "static const unsigned char kWebPage[] = {\n${bytes}0};\n"
  "static const std::size_t kWebPageSize = ${size};\n")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
