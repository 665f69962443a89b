// What the options are checked against: a few facts the caller reads from
// the file's headers (and, for a save, from the document). The options code
// never reads a file itself.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "options/cfa_pattern.h"
#include "options/open_options.h"

namespace nebulite::options {

enum class HduKind : uint8_t {
    image,            // the primary array or an IMAGE extension
    compressedImage,  // a BINTABLE with ZIMAGE = T: the image it holds
    asciiTable,
    binaryTable,
    other,            // any other XTENSION
};

enum class RowOrder : uint8_t { unknown, topDown, bottomUp };  // ROWORDER

struct HduFacts {
    HduKind kind = HduKind::image;
    // Absent EXTNAME: hasExtname false. EXTVER is 1 when the header has none.
    bool hasExtname = false;
    ExtName extname;
    int32_t extver = 1;
    // The image's own: ZBITPIX, ZNAXIS... for a compressed image.
    int16_t bitpix = 0;
    uint16_t naxis = 0;
    uint64_t naxis1 = 0;
    uint64_t naxis2 = 0;
    uint64_t naxis3 = 1;  // 1 unless NAXIS >= 3
    RowOrder rowOrder = RowOrder::unknown;
    CfaPattern bayer = CfaPattern::none;  // BAYERPAT
    int64_t xBayerOffset = 0;             // XBAYROFF
    int64_t yBayerOffset = 0;             // YBAYROFF
    uint8_t mosaicDoubts = 0;             // MosaicDoubt bits: what the user may be told
};

// The file's HDUs in order, 0 being the primary: all of them, or at least
// every one up to the image chosen (the caller may stop reading there).
struct FileFacts {
    std::span<const HduFacts> hdus;
};

// What a save needs to know about the document and the header it kept.
struct SaveFacts {
    uint32_t columns = 0;
    uint32_t rows = 0;
    uint8_t depth = 8;   // 8, 16 or 32
    uint8_t planes = 1;  // 1 or 3
    // The BITPIX of the header the document kept, if it kept one.
    std::optional<int16_t> keptBitpix;
    // Whether the document opened with its rows turned over (orientation
    // sky); a document with a kept header is written back the same way.
    bool keptHeader = false;
    bool openedFlipped = false;
};

}  // namespace nebulite::options
