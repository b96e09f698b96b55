# Writes a C++ source that holds a file's bytes: cmake -DINPUT=FILE -DOUTPUT=FILE.cpp
# -DNAMESPACE=ns -DNAME=kName -P embed-bytes.cmake. Defines `const unsigned char NAME[]` and
# `const std::size_t NAMESize` in NAMESPACE. The same file gives the same source.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
# Lines of 24 bytes, for an editor that opens it.
string(REGEX REPLACE "((0x[0-9a-f][0-9a-f],){24})" "\\1\n" bytes "${bytes}")
file(WRITE "${OUTPUT}.new"
"// Made by cmake/embed-bytes.cmake from ${NAME_OF_INPUT}; do not edit.\n"
"#include <cstddef>\n"
"namespace ${NAMESPACE} {\n"
"extern const unsigned char ${NAME}[];\n"
"extern const std::size_t ${NAME}Size;\n"
"const unsigned char ${NAME}[] = {\n${bytes}\n};\n"
"const std::size_t ${NAME}Size = ${size};\n"
"}  // namespace ${NAMESPACE}\n")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
