// How a document is written as FITS: which way up a new document goes, what
// a floating-point document becomes, and whether the image is tile-compressed.
// The defaults are the save every document had before there were options.
#pragma once

#include <cstdint>
#include <optional>

#include "options/open_options.h"

namespace nebulite::options {

enum class FloatBitpix : uint8_t {
    original,  // the BITPIX of the header the document kept (-32 without one)
    minus32,   // IEEE single precision
};

enum class Compression : uint8_t { none, rice, gzip1, gzip2, hcompress };

struct TileSize {
    uint32_t rows = 0;
    uint32_t columns = 0;

    friend bool operator==(const TileSize&, const TileSize&) = default;
};

struct SaveOptions {
    // For documents without a kept header; one opened from FITS goes back
    // the way it came.
    Orientation orientation = Orientation::stored;
    FloatBitpix floatBitpix = FloatBitpix::original;
    Compression compression = Compression::none;
    // Absent: row by row (for HCOMPRESS, bands of rows as fpack makes them).
    std::optional<TileSize> tile;
    // Floating-point samples in compressed saves: 0 keeps them exactly
    // (GZIP only); Q > 0 quantizes to steps of the noise / Q, as fpack -q Q.
    double quantize = 0.0;

    friend bool operator==(const SaveOptions&, const SaveOptions&) = default;
};

// Irrelevant fields (tile and quantize of an uncompressed save) at their defaults.
SaveOptions canonical(const SaveOptions& options);

}  // namespace nebulite::options
