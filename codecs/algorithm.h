// The tile algorithms by name (ZCMPTYPE), and how much a tile of each may
// claim to decode to before a buffer is sized for it.
#pragma once

#include <cstdint>
#include <string_view>

namespace nebulite::codecs {

enum class Algorithm : uint8_t { unknown, rice, gzip1, gzip2, hcompress, plio, none };

// ZCMPTYPE's value, trailing spaces removed. RICE_ONE is what CFITSIO writes
// for RICE_1 with SUBTRACTIVE_DITHER_2, so that older readers refuse it.
constexpr Algorithm algorithmNamed(std::string_view name) {
    if (name == "RICE_1" || name == "RICE_ONE") return Algorithm::rice;
    if (name == "GZIP_1") return Algorithm::gzip1;
    if (name == "GZIP_2") return Algorithm::gzip2;
    if (name == "HCOMPRESS_1") return Algorithm::hcompress;
    if (name == "PLIO_1") return Algorithm::plio;
    if (name == "NOCOMPRESS") return Algorithm::none;
    return Algorithm::unknown;
}

// Decoded bytes a tile may always claim, whatever its compressed size: a
// default row tile of the widest host image (32767 x 8 bytes) and well
// beyond, small enough that a few kilobytes of file never cost more than a
// few megabytes for one tile.
constexpr uint64_t kTileBytesAlwaysAllowed = uint64_t{1} << 20;

// Deflate's own ceiling: a 258-byte match costs at least about two bits, so
// no gzip stream inflates by more than 1032:1 (zlib's technical notes). Add
// a member's header and trailer.
constexpr uint64_t kMaxDeflateRatio = 1032;
constexpr uint64_t kGzipMemberOverhead = 18;

// Rice codes every block of 32 pixels in at least 3 bits (the FS field of a
// constant block): 86 pixels per byte for 8-bit data, 8 bytes each at most.
constexpr uint64_t kMaxRiceRatio = 32 * 8 / 3 * 8 + 8;

// HCOMPRESS and PLIO describe a constant tile in a fixed few bytes (a 26-byte
// stream, a 7-word list), so a real file reaches huge ratios on a blank
// frame: fpack's default 16-row HCOMPRESS tile of the widest 64-bit image is
// 4 MiB from 26 bytes, about 161000:1. 2^18 admits that and still refuses a
// tile of a few kilobytes that claims gigabytes.
constexpr uint64_t kMaxConstantTileRatio = uint64_t{1} << 18;

// True when a tile of `compressedBytes` may decode to `decodedBytes` under
// `algorithm`: the check made before a tile buffer is sized.
constexpr bool plausibleTileRatio(Algorithm algorithm, uint64_t compressedBytes, uint64_t decodedBytes) {
    if (decodedBytes <= kTileBytesAlwaysAllowed) return true;
    uint64_t ratio = 0;
    switch (algorithm) {
        case Algorithm::gzip1:
        case Algorithm::gzip2:
            if (compressedBytes <= kGzipMemberOverhead) return false;
            compressedBytes -= kGzipMemberOverhead;
            ratio = kMaxDeflateRatio;
            break;
        case Algorithm::rice: ratio = kMaxRiceRatio; break;
        case Algorithm::hcompress:
        case Algorithm::plio: ratio = kMaxConstantTileRatio; break;
        case Algorithm::none: ratio = 1; break;
        case Algorithm::unknown: return false;
    }
    return compressedBytes >= (decodedBytes + ratio - 1) / ratio;
}

static_assert(plausibleTileRatio(Algorithm::rice, 4, 1024));
static_assert(!plausibleTileRatio(Algorithm::gzip1, 3000, uint64_t{4} << 30));
static_assert(plausibleTileRatio(Algorithm::hcompress, 26, uint64_t{16} * 32767 * 8));
static_assert(!plausibleTileRatio(Algorithm::plio, 3000, uint64_t{32767} * 32767 * 4));

}  // namespace nebulite::codecs
