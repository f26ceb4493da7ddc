# Writes OUTPUT, a C++ source defining sim::DEMO_CODE_BINARY with the bytes
# of INPUT (empty when INPUT is not given).
set(bytes "")
set(length 0)
if(DEFINED INPUT)
  file(READ ${INPUT} hex HEX)
  string(LENGTH "${hex}" hex_length)
  math(EXPR length "${hex_length} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(REGEX REPLACE "((0x..,){16})" "\\1\n    " bytes "${bytes}")
endif()
file(WRITE ${OUTPUT}.tmp
"// Generated from the demo operational code; do not edit.
#include <cstddef>
#include <cstdint>

namespace sim {
extern const uint8_t DEMO_CODE_BINARY[];
extern const size_t DEMO_CODE_BINARY_SIZE;
const uint8_t DEMO_CODE_BINARY[${length} + 1] = {
    ${bytes}0};
const size_t DEMO_CODE_BINARY_SIZE = ${length};
}  // namespace sim
")
file(COPY_FILE ${OUTPUT}.tmp ${OUTPUT} ONLY_IF_DIFFERENT)
