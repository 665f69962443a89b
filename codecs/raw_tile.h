// NOCOMPRESS tiles and UNCOMPRESSED_DATA rows: the tile's pixels as plain
// big-endian elements. Also how inflated GZIP tiles become integers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// Big-endian integers of 1 (unsigned), 2 or 4 bytes (signed) into out.size()
// values; `in` must hold exactly that many. Quantized tiles are 4-byte
// integers whatever the image's float width.
CodecResult bigEndianToInt32(std::span<const uint8_t> in, size_t elementBytes, std::span<int32_t> out);

// Big-endian integers of 8 bytes into out.size() values.
CodecResult bigEndianToInt64(std::span<const uint8_t> in, std::span<int64_t> out);

}  // namespace nebulite::codecs
