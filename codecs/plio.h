// PLIO_1: IRAF's pixel-list line encoding, one list of 16-bit words per tile.
#pragma once

#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// Decodes the line list in `in` (big-endian 16-bit words, as the heap holds
// a 1PI column) into out.size() pixels. A list that ends early leaves the
// rest of the tile zero, as IRAF's lists do; one longer than the tile stops
// at its last pixel.
CodecResult plioDecode(std::span<const uint8_t> in, std::span<int32_t> out);

}  // namespace nebulite::codecs
