// RICE_1 (alias RICE_ONE): the Rice coder of the tiled image convention.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "codecs/codec_result.h"

namespace nebulite::codecs {

// The block size every writer uses; the convention also allows 16.
constexpr int kRiceDefaultBlockSize = 32;
// BYTEPIX when ZNAMEi/ZVALi say nothing (not |ZBITPIX| / 8).
constexpr int kRiceDefaultBytePix = 4;

// Decodes one tile of out.size() pixels coded with `bytePix` bytes per
// pixel (1, 2 or 4) in blocks of `blockSize` pixels. Values are the P-byte
// integers: 0..255 for P = 1 (8-bit images are unsigned), signed for 2 and 4.
// BYTEPIX 8 is `unsupported`: no writer makes it and no reader exists to
// check a decoder against. Bytes left over after the last pixel are allowed.
CodecResult riceDecode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<int32_t> out);
// The same into 16-bit values, for 8- and 16-bit images decoded straight into
// their rows; BYTEPIX 4 is `unsupported` here.
CodecResult riceDecode(std::span<const uint8_t> in, int bytePix, int blockSize, std::span<int16_t> out);

// The most pixels a Rice stream of `inBytes` bytes can describe: every block
// costs at least its FS field. Tiles claiming more are refused before any
// buffer is sized for them.
uint64_t riceMaxPixels(uint64_t inBytes, int bytePix, int blockSize);

}  // namespace nebulite::codecs
