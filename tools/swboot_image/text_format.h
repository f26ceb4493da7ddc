// printf-style formatting into a std::string, for the tools' messages.
#pragma once

#include <cinttypes>
#include <cstdint>
#include <string>

#include "common/text_sink.h"

namespace swboot::tool {

std::string format(const char* pattern, ...) SWBOOT_PRINTF(1, 2);

inline std::string hex32(uint32_t value) { return format("0x%08" PRIx32, value); }

}  // namespace swboot::tool
