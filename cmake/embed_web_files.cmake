# cmake -DOUTPUT=file.cpp -DFILES="a;b" -P embed_web_files.cmake
#
# Writes the status page's web files into one C++ source as byte arrays, so
# the server reads nothing from disk at run time and the files stay files.
set(arrays "")
set(entries "")
set(index 0)
foreach(path IN LISTS FILES)
  get_filename_component(name ${path} NAME)
  file(READ ${path} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR size "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
  string(APPEND arrays "const unsigned char kFile${index}[] = {\n    ${bytes}0};\n")
  string(APPEND entries "    {\"/${name}\", kFile${index}, ${size}},\n")
  math(EXPR index "${index} + 1")
endforeach()
file(WRITE ${OUTPUT}.new "// Made by cmake/embed_web_files.cmake from src/status/www/: edit those files.
#include \"status/web_files.h\"

namespace Spectrafox {
namespace {
${arrays}} // namespace

extern const WebFile kWebFiles[] = {
${entries}};
extern const size_t kWebFileCount = ${index};

} // namespace Spectrafox
")
# Only a changed source recompiles.
file(COPY_FILE ${OUTPUT}.new ${OUTPUT} ONLY_IF_DIFFERENT)
file(REMOVE ${OUTPUT}.new)
