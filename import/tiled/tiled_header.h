// A tile-compressed image's table header (a BINTABLE with ZIMAGE = T) read
// into one plain description: the image it holds, its tiling, the tile
// algorithm and its parameters, quantization, and where each tile column
// sits in a row and in the heap. Every count the file states is checked
// against the others before anything is sized from it.
#pragma once

#include <cstdint>

#include "codecs/algorithm.h"

namespace nebulite::tiled {

// Axes the description keeps. Images beyond three axes do not open in the
// host; eight leaves room for degenerate axes of length 1.
constexpr uint32_t kMaxTiledAxes = 8;

// A heap column: where its descriptor sits in a row and what its arrays hold.
struct HeapColumn {
    bool present = false;
    uint64_t rowOffset = 0;     // byte offset of the descriptor in a row
    bool wide = false;          // Q: two 64-bit integers; P: two 32-bit
    char type = 0;              // the array's element type: B I J K E D
    uint32_t elementBytes = 0;  // bytes per element (descriptor counts are in elements)
};

// A scalar column of one number per row (ZSCALE, ZZERO, ZBLANK).
struct ScalarColumn {
    bool present = false;
    uint64_t rowOffset = 0;
    char type = 0;  // B I J K E D
};

enum class Quantization : uint8_t {
    lossless,  // integer images; float images without ZSCALE/ZZERO, or ZQUANTIZ = 'NONE'
    noDither,
    subtractive1,
    subtractive2,
};

struct TiledImage {
    codecs::Algorithm algorithm = codecs::Algorithm::unknown;
    bool riceOne = false;  // ZCMPTYPE = 'RICE_ONE' (CFITSIO's name under SUBTRACTIVE_DITHER_2)
    int32_t bitpix = 0;    // ZBITPIX
    uint32_t naxis = 0;    // ZNAXIS
    int64_t axes[kMaxTiledAxes] = {};       // ZNAXISn
    int64_t tile[kMaxTiledAxes] = {};       // ZTILEn (defaults: whole rows), at most the axis
    int64_t tilesAlong[kMaxTiledAxes] = {}; // tiles along each axis
    uint64_t tileCount = 0;                 // = NAXIS2, checked
    uint64_t maxTilePixels = 0;             // pixels of a whole (not edge) tile

    // RICE_1: ZNAMEi/ZVALi BLOCKSIZE and BYTEPIX.
    int32_t riceBlockSize = 32;
    int32_t riceBytePix = 4;
    // HCOMPRESS_1: SCALE as written (the decoder uses each stream's own) and SMOOTH.
    double hcompressScale = 0.0;
    bool hcompressSmooth = false;

    // Quantized floats: the method, the seed, and keyword forms of the
    // per-tile values (a column of the same name wins).
    Quantization quantization = Quantization::lossless;
    int64_t ditherSeed = 1;  // ZDITHER0; CFITSIO's 1 when absent
    bool zscaleKeyword = false;
    double zscale = 1.0;
    bool zzeroKeyword = false;
    double zzero = 0.0;
    bool zblankKeyword = false;
    int64_t zblank = 0;

    // The table: NAXIS1 x NAXIS2 bytes, then the heap at THEAP.
    uint64_t rowBytes = 0;    // NAXIS1
    uint64_t rows = 0;        // NAXIS2
    uint64_t heapOffset = 0;  // THEAP, from the start of the data unit
    uint64_t heapBytes = 0;   // PCOUNT less the gap before the heap
    uint64_t dataBytes = 0;   // NAXIS1 x NAXIS2 + PCOUNT: the whole data unit

    HeapColumn compressed;      // COMPRESSED_DATA
    HeapColumn gzipCompressed;  // GZIP_COMPRESSED_DATA
    HeapColumn uncompressed;    // UNCOMPRESSED_DATA
    ScalarColumn zscaleColumn;
    ScalarColumn zzeroColumn;
    ScalarColumn zblankColumn;

    // The image's own scaling cards, copied verbatim into the table: an
    // unsigned 16-bit PLIO image is stored unsigned (BZERO 32768), and an
    // integer image's nulls come back as its BLANK.
    double bzero = 0.0;
    bool blankKeyword = false;
    int64_t blank = 0;

    // BITPIX, NAXIS, NAXISn of the restored image follow from the above;
    // these say which form its first card takes.
    bool fromPrimary = false;  // ZSIMPLE present: the image was a primary array
};

enum class TiledHeaderError : uint8_t {
    none,
    notCompressedImage,  // not a BINTABLE with ZIMAGE = T
    notTable,            // BITPIX, NAXIS or GCOUNT not those of a binary table
    missingKeyword,      // ZCMPTYPE, ZBITPIX, ZNAXIS, ZNAXISn, NAXIS1, NAXIS2, TFIELDS or a TFORMn
    unknownAlgorithm,
    badBitpix,
    badAxes,             // ZNAXIS outside 1..8, or a ZNAXISn below 1
    badTile,             // a ZTILEn below 1
    badParameter,        // BLOCKSIZE, BYTEPIX or ZQUANTIZ out of range
    badColumn,           // a TFORMn that is not a column format, or a tile column of the wrong kind
    noCompressedData,    // no COMPRESSED_DATA column
    rowWidth,            // NAXIS1 is not the sum of the column widths
    rowCount,            // NAXIS2 is not the number of tiles
    heap,                // THEAP before the table's end or past PCOUNT
    tooLarge,            // a product of counts beyond 64 bits
};

// A short text naming the fault, for messages and tests.
const char* tiledHeaderErrorName(TiledHeaderError e);

// Reads the `count` cards (80 bytes each, END excluded) of a table header.
TiledHeaderError parseTiledHeader(const char* cards, uint32_t count, TiledImage& image);

// The tile of table row `row` (from 0): its first pixel along each axis and
// its size, shorter at the image's far edges. Pixels of the tile.
uint64_t tileGeometry(const TiledImage& image, uint64_t row, int64_t* start, int64_t* size);

}  // namespace nebulite::tiled
