// The header field lines of an OPR image, as the loader shows them after a
// code load and for the stored image, and as the host tools list them.
#pragma once

#include "common/text_sink.h"
#include "image/image_format.h"

namespace swboot {

// Prints the field lines of the header. The five boot code lines are
// printed only when withBootCode is true.
void imageHeaderFieldLines(const ImageHeader& header, bool withBootCode, TextSink& out);

}  // namespace swboot
