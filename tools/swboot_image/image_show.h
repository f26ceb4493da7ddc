// Listing an OPR image or an STK container: the kind of file, and the
// header field lines as the loader prints them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/text_sink.h"
#include "result.h"

namespace swboot::tool {

// Lists the file. For a container, a summary of the entry table comes
// first, then each entry's image with its component Offsets rebased to
// file positions, as the loader reads them. Fails only when not even the
// first header can be read.
Status imageShow(const std::string& name, std::span<const uint8_t> file, TextSink& out);

}  // namespace swboot::tool
