// HCOMPRESS_1: the H-transform coder (a 2-D Haar transform whose
// coefficients are coded by bit plane with quadtrees), lossless and lossy.
// Smoothing (ZNAME SMOOTH = 1, which fpack never sets) is not applied.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// Scratch bytes hcompressDecode needs for a tile of `rows` x `columns`.
size_t hcompressScratchBytes(uint32_t rows, uint32_t columns);

// Decodes one tile of `rows` (the slow axis, ZTILE2 or the edge tile's
// height) by `columns` pixels, any size from 1 x 1, into `out` (rows x
// columns, row after row),
// as 64-bit integers: the caller narrows them to the image's type, clipping
// as lossy 16-bit tiles need. The stream's own size must be the tile's; its
// integer scale is used, not the header's ZVAL. `scratch` holds at least
// hcompressScratchBytes(rows, columns) bytes.
CodecResult hcompressDecode(std::span<const uint8_t> in, uint32_t rows, uint32_t columns,
                            std::span<int64_t> out, std::span<uint8_t> scratch);

}  // namespace nebulite::codecs
