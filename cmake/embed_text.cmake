# Writes a C++ source file whose function returns the bytes of a file, so a data file that
# ships beside the program is also built into it.
# Usage: cmake -DINPUT=<file> -DOUTPUT=<source> -DFUNCTION=<name> -P embed_text.cmake
# The function is declared as `std::string_view <name>();`.
file(READ "${INPUT}" hex HEX)
# Every byte as a hexadecimal escape, 32 bytes to a line of the string literal.
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "\\\\x\\1" escaped "${hex}")
string(REPEAT "." 128 line)
string(REGEX REPLACE "(${line})" "\\1\"\n    \"" escaped "${escaped}")
get_filename_component(name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
  "// Made by cmake/embed_text.cmake from ${name}; edit that file, not this one.\n"
  "#include <string_view>\n\n"
  "std::string_view ${FUNCTION}() {\n"
  "  static constexpr char kText[] =\n"
  "    \"${escaped}\";\n"
  "  return std::string_view(kText, sizeof kText - 1);\n"
  "}\n")
# Replaced only when the text changed, so an unchanged file compiles nothing again.
configure_file("${OUTPUT}.tmp" "${OUTPUT}" COPYONLY)
file(REMOVE "${OUTPUT}.tmp")
