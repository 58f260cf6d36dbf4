# Writes a C++ source that holds the bytes of INPUT as the constant array NAME
# and their count as LENGTH_NAME, both declared in HEADER. Run as
#   cmake -DINPUT=... -DOUTPUT=... -DNAME=... -DLENGTH_NAME=... -DHEADER=... -P embed_file.cmake
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(size EQUAL 0)
    message(FATAL_ERROR "${INPUT} is empty: there is nothing to embed")
endif()
# Sixteen bytes to a line.
string(REGEX REPLACE "(................................)" "\\1\n" hex "${hex}")
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
get_filename_component(source_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}.tmp"
"// Generated at build time from ${source_name}; do not edit.
#include \"${HEADER}\"

const uint8_t ${NAME}[] = {
${bytes}
};
const int32_t ${LENGTH_NAME} = ${size};
")
# Only a changed image rewrites the output, so nothing recompiles needlessly.
execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUTPUT}.tmp" "${OUTPUT}")
file(REMOVE "${OUTPUT}.tmp")
