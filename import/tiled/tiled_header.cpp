#include "import/tiled/tiled_header.h"

#include <array>
#include <string_view>

#include "header/card_text.h"
#include "import/tiled/table_columns.h"
#include "import/tiled/tiled_cards.h"
#include "header/fits_units.h"

namespace nebulite::tiled {

namespace {

// A binary table has up to 999 columns.
constexpr int kMaxColumns = 999;
// ZNAMEi/ZVALi run from 1 to 999.
constexpr int kMaxParameters = 999;
// Real Rice block sizes are 16 and 32; the decoder takes any up to this.
constexpr int64_t kMaxRiceBlockSize = 4096;

using codecs::Algorithm;

// What the cards say, before any of it is checked against the rest.
struct Seen {
    bool bintable = false;
    bool zimage = false;
    bool bitpix8 = false;
    bool naxis2 = false;
    bool gcountOk = true;
    bool naxis1Seen = false, naxis2Seen = false, pcountSeen = false, theapSeen = false, tfieldsSeen = false;
    int64_t naxis1 = 0, naxis2Value = 0, pcount = 0, theap = 0, tfields = 0;
    std::string_view cmptype;
    bool cmptypeSeen = false;
    bool zbitpixSeen = false, znaxisSeen = false;
    int64_t zbitpix = 0, znaxis = 0;
    int64_t znaxisn[kMaxTiledAxes] = {};
    bool znaxisnSeen[kMaxTiledAxes] = {};
    int64_t ztile[kMaxTiledAxes] = {};
    bool ztileSeen[kMaxTiledAxes] = {};
    std::string_view zquantiz;
    bool zquantizSeen = false;
    bool zditherSeen = false;
    int64_t zdither = 1;
    // The cards (index + 1; 0 when absent) of column n's TTYPE and TFORM
    // and of ZNAMEi and ZVALi: 16 KB, where views would take 64.
    std::array<uint32_t, kMaxColumns + 1> ttype{};
    std::array<uint32_t, kMaxColumns + 1> tform{};
    std::array<uint32_t, kMaxParameters + 1> zname{};
    std::array<uint32_t, kMaxParameters + 1> zval{};
};

// The cards a Seen refers to.
struct Cards {
    const char* text;
    const char* card(uint32_t ref) const { return text + size_t{ref - 1} * kCardBytes; }
    std::string_view string(uint32_t ref) const { return ref == 0 ? std::string_view{} : stringValue(card(ref)); }
    std::string_view value(uint32_t ref) const { return ref == 0 ? std::string_view{} : splitCard(card(ref)).value; }
};

void noteCard(const char* card, uint32_t ref, Seen& s, TiledImage& image) {
    const SplitCard c = splitCard(card);
    const std::string_view k = c.keyword;
    if (keywordIs(k, "XTENSION")) {
        s.bintable = stringValue(card) == "BINTABLE";
    } else if (keywordIs(k, "ZIMAGE")) {
        s.zimage = logicalTrue(card);
    } else if (keywordIs(k, "BITPIX")) {
        s.bitpix8 = intValue(c.value) == 8;
    } else if (keywordIs(k, "NAXIS")) {
        s.naxis2 = intValue(c.value) == 2;
    } else if (keywordIs(k, "NAXIS1")) {
        s.naxis1Seen = true;
        s.naxis1 = intValue(c.value);
    } else if (keywordIs(k, "NAXIS2")) {
        s.naxis2Seen = true;
        s.naxis2Value = intValue(c.value);
    } else if (keywordIs(k, "PCOUNT")) {
        s.pcountSeen = true;
        s.pcount = intValue(c.value);
    } else if (keywordIs(k, "GCOUNT")) {
        s.gcountOk = intValue(c.value) == 1;
    } else if (keywordIs(k, "THEAP")) {
        s.theapSeen = true;
        s.theap = intValue(c.value);
    } else if (keywordIs(k, "TFIELDS")) {
        s.tfieldsSeen = true;
        s.tfields = intValue(c.value);
    } else if (keywordIs(k, "ZCMPTYPE")) {
        s.cmptypeSeen = true;
        s.cmptype = stringValue(card);
    } else if (keywordIs(k, "ZBITPIX")) {
        s.zbitpixSeen = true;
        s.zbitpix = intValue(c.value);
    } else if (keywordIs(k, "ZNAXIS")) {
        s.znaxisSeen = true;
        s.znaxis = intValue(c.value);
    } else if (keywordIs(k, "ZQUANTIZ")) {
        s.zquantizSeen = true;
        s.zquantiz = stringValue(card);
    } else if (keywordIs(k, "ZDITHER0")) {
        s.zditherSeen = true;
        s.zdither = intValue(c.value);
    } else if (keywordIs(k, "ZSCALE")) {
        image.zscaleKeyword = true;
        image.zscale = realValue(c.value);
    } else if (keywordIs(k, "ZZERO")) {
        image.zzeroKeyword = true;
        image.zzero = realValue(c.value);
    } else if (keywordIs(k, "ZBLANK")) {
        image.zblankKeyword = true;
        image.zblank = intValue(c.value);
    } else if (keywordIs(k, "BZERO")) {
        image.bzero = realValue(c.value);
    } else if (keywordIs(k, "BLANK")) {
        image.blankKeyword = true;
        image.blank = intValue(c.value);
    } else if (keywordIs(k, "ZSIMPLE")) {
        image.fromPrimary = true;
    } else if (int n = indexedKeyword(k, "ZNAXIS"); n > 0) {
        if (n <= static_cast<int>(kMaxTiledAxes)) {
            s.znaxisnSeen[n - 1] = true;
            s.znaxisn[n - 1] = intValue(c.value);
        }
    } else if (int t = indexedKeyword(k, "ZTILE"); t > 0) {
        if (t <= static_cast<int>(kMaxTiledAxes)) {
            s.ztileSeen[t - 1] = true;
            s.ztile[t - 1] = intValue(c.value);
        }
    } else if (int f = indexedKeyword(k, "TFORM"); f > 0) {
        s.tform[static_cast<size_t>(f)] = ref;
    } else if (int y = indexedKeyword(k, "TTYPE"); y > 0) {
        s.ttype[static_cast<size_t>(y)] = ref;
    } else if (int p = indexedKeyword(k, "ZNAME"); p > 0) {
        s.zname[static_cast<size_t>(p)] = ref;
    } else if (int v = indexedKeyword(k, "ZVAL"); v > 0) {
        s.zval[static_cast<size_t>(v)] = ref;
    }
}

// The ZVALi card of the parameter named `name` (ZNAMEi compared without
// case), or 0. Writers order the pairs differently; the names decide.
uint32_t parameterNamed(const Seen& s, const Cards& cards, std::string_view name) {
    for (size_t i = 1; i <= kMaxParameters; ++i)
        if (s.zname[i] != 0 && equalsIgnoringCase(cards.string(s.zname[i]), name)) return s.zval[i];
    return 0;
}

TiledHeaderError readParameters(const Seen& s, const Cards& cards, TiledImage& image) {
    if (image.algorithm == Algorithm::rice) {
        // By name first. Unnamed values (and the first files, whose ZNAME2
        // said NOISEBIT) hold the block size in ZVAL1 and BYTEPIX in ZVAL2;
        // NOISEBIT itself is not BYTEPIX, which then keeps its default of 4.
        uint32_t block = parameterNamed(s, cards, "BLOCKSIZE");
        uint32_t bytes = parameterNamed(s, cards, "BYTEPIX");
        if (block == 0 && s.zname[1] == 0) block = s.zval[1];
        if (bytes == 0 && s.zname[2] == 0) bytes = s.zval[2];
        if (block != 0) {
            const int64_t v = intValue(cards.value(block));
            if (v < 1 || v > kMaxRiceBlockSize) return TiledHeaderError::badParameter;
            image.riceBlockSize = static_cast<int32_t>(v);
        }
        if (bytes != 0) {
            const int64_t v = intValue(cards.value(bytes));
            if (v != 1 && v != 2 && v != 4 && v != 8) return TiledHeaderError::badParameter;
            image.riceBytePix = static_cast<int32_t>(v);
        }
    } else if (image.algorithm == Algorithm::hcompress) {
        if (uint32_t scale = parameterNamed(s, cards, "SCALE")) image.hcompressScale = realValue(cards.value(scale));
        if (uint32_t smooth = parameterNamed(s, cards, "SMOOTH"))
            image.hcompressSmooth = intValue(cards.value(smooth)) != 0;
    }
    return TiledHeaderError::none;
}

TiledHeaderError readGeometry(const Seen& s, TiledImage& image) {
    const int64_t b = s.zbitpix;
    if (b != 8 && b != 16 && b != 32 && b != 64 && b != -32 && b != -64) return TiledHeaderError::badBitpix;
    image.bitpix = static_cast<int32_t>(b);
    if (s.znaxis < 1 || s.znaxis > static_cast<int64_t>(kMaxTiledAxes)) return TiledHeaderError::badAxes;
    image.naxis = static_cast<uint32_t>(s.znaxis);
    uint64_t tiles = 1;
    uint64_t pixels = 1;
    constexpr uint64_t kLimit = UINT64_MAX;
    for (uint32_t n = 0; n < image.naxis; ++n) {
        if (!s.znaxisnSeen[n]) return TiledHeaderError::missingKeyword;
        const int64_t axis = s.znaxisn[n];
        if (axis < 1) return TiledHeaderError::badAxes;
        // Without ZTILEn the image is tiled row by row.
        int64_t t = s.ztileSeen[n] ? s.ztile[n] : (n == 0 ? axis : 1);
        if (t < 1) return TiledHeaderError::badTile;
        if (t > axis) t = axis;
        image.axes[n] = axis;
        image.tile[n] = t;
        image.tilesAlong[n] = (axis - 1) / t + 1;
        auto nextTiles = checkedMul(tiles, static_cast<uint64_t>(image.tilesAlong[n]), kLimit);
        auto nextPixels = checkedMul(pixels, static_cast<uint64_t>(t), kLimit);
        if (!nextTiles || !nextPixels) return TiledHeaderError::tooLarge;
        tiles = *nextTiles;
        pixels = *nextPixels;
    }
    image.tileCount = tiles;
    image.maxTilePixels = pixels;
    return TiledHeaderError::none;
}

TiledHeaderError readQuantization(const Seen& s, TiledImage& image) {
    if (image.bitpix > 0) return TiledHeaderError::none;
    // Floats are quantized only when a tile can say how: without ZSCALE and
    // ZZERO (column or keyword) the tiles hold the floats themselves.
    const bool scaled = (image.zscaleColumn.present || image.zscaleKeyword) &&
                        (image.zzeroColumn.present || image.zzeroKeyword);
    if (!scaled) return TiledHeaderError::none;
    const std::string_view q = s.zquantiz;
    if (!s.zquantizSeen || q == "NO_DITHER") {
        // Files from before dithering say nothing and mean plain scaling.
        image.quantization = Quantization::noDither;
    } else if (q == "SUBTRACTIVE_DITHER_1") {
        image.quantization = Quantization::subtractive1;
    } else if (q == "SUBTRACTIVE_DITHER_2") {
        image.quantization = Quantization::subtractive2;
    } else if (q == "NONE") {
        image.quantization = Quantization::lossless;
        return TiledHeaderError::none;
    } else {
        return TiledHeaderError::badParameter;
    }
    // The seed is checked where a dithered tile uses it: fpack -d writes
    // ZDITHER0 = 0 beside tiles that are never unquantized.
    if (image.quantization != Quantization::noDither) image.ditherSeed = s.zditherSeen ? s.zdither : 1;
    return TiledHeaderError::none;
}

bool integerType(char t) { return t == 'B' || t == 'I' || t == 'J' || t == 'K'; }
bool numericType(char t) { return integerType(t) || t == 'E' || t == 'D'; }

// Lays out the columns: every TFORM gives its width; the tile columns are
// found by TTYPE (without case, as column names are compared).
TiledHeaderError readColumns(const Seen& s, const Cards& cards, TiledImage& image) {
    if (!s.tfieldsSeen) return TiledHeaderError::missingKeyword;
    if (s.tfields < 1 || s.tfields > kMaxColumns) return TiledHeaderError::badColumn;
    uint64_t offset = 0;
    for (int n = 1; n <= s.tfields; ++n) {
        const uint32_t form = s.tform[static_cast<size_t>(n)];
        if (form == 0) return TiledHeaderError::missingKeyword;
        const auto f = parseColumnFormat(cards.string(form));
        if (!f) return TiledHeaderError::badColumn;
        const std::string_view name = cards.string(s.ttype[static_cast<size_t>(n)]);
        HeapColumn* heap = equalsIgnoringCase(name, "COMPRESSED_DATA")        ? &image.compressed
                           : equalsIgnoringCase(name, "GZIP_COMPRESSED_DATA") ? &image.gzipCompressed
                           : equalsIgnoringCase(name, "UNCOMPRESSED_DATA")    ? &image.uncompressed
                                                                               : nullptr;
        ScalarColumn* scalar = equalsIgnoringCase(name, "ZSCALE")   ? &image.zscaleColumn
                               : equalsIgnoringCase(name, "ZZERO")  ? &image.zzeroColumn
                               : equalsIgnoringCase(name, "ZBLANK") ? &image.zblankColumn
                                                                     : nullptr;
        if (heap != nullptr && !heap->present) {
            if (!f->isHeap() || f->repeat != 1 || !numericType(f->heapType)) return TiledHeaderError::badColumn;
            // Compressed bytes are bytes (PLIO's words are 16-bit); the gzip
            // fallback holds gzip bytes.
            if (heap == &image.gzipCompressed && f->heapType != 'B') return TiledHeaderError::badColumn;
            if (heap == &image.compressed && !integerType(f->heapType)) return TiledHeaderError::badColumn;
            *heap = {true, offset, f->type == 'Q', f->heapType, elementBytes(f->heapType)};
        } else if (scalar != nullptr && !scalar->present) {
            if (f->isHeap() || f->repeat != 1 || !numericType(f->type)) return TiledHeaderError::badColumn;
            if (scalar == &image.zblankColumn && !integerType(f->type)) return TiledHeaderError::badColumn;
            *scalar = {true, offset, f->type};
        }
        offset += f->rowBytes;
    }
    if (!image.compressed.present) return TiledHeaderError::noCompressedData;
    if (offset != image.rowBytes) return TiledHeaderError::rowWidth;
    return TiledHeaderError::none;
}

TiledHeaderError readTable(const Seen& s, TiledImage& image) {
    if (!s.naxis1Seen || !s.naxis2Seen) return TiledHeaderError::missingKeyword;
    if (s.naxis1 < 0 || s.naxis2Value < 0 || s.pcount < 0 || s.theap < 0) return TiledHeaderError::notTable;
    image.rowBytes = static_cast<uint64_t>(s.naxis1);
    image.rows = static_cast<uint64_t>(s.naxis2Value);
    const auto table = checkedMul(image.rowBytes, image.rows, INT64_MAX);
    if (!table) return TiledHeaderError::tooLarge;
    const auto data = checkedAdd(*table, static_cast<uint64_t>(s.pcount), INT64_MAX);
    if (!data) return TiledHeaderError::tooLarge;
    image.dataBytes = *data;
    // The heap starts after the table (THEAP's default) and within PCOUNT.
    image.heapOffset = s.theapSeen ? static_cast<uint64_t>(s.theap) : *table;
    if (image.heapOffset < *table || image.heapOffset > *data) return TiledHeaderError::heap;
    image.heapBytes = *data - image.heapOffset;
    return TiledHeaderError::none;
}

}  // namespace

const char* tiledHeaderErrorName(TiledHeaderError e) {
    switch (e) {
        case TiledHeaderError::none: return "none";
        case TiledHeaderError::notCompressedImage: return "not a compressed image";
        case TiledHeaderError::notTable: return "not a binary table";
        case TiledHeaderError::missingKeyword: return "missing keyword";
        case TiledHeaderError::unknownAlgorithm: return "unknown compression algorithm";
        case TiledHeaderError::badBitpix: return "bad ZBITPIX";
        case TiledHeaderError::badAxes: return "bad ZNAXIS";
        case TiledHeaderError::badTile: return "bad ZTILE";
        case TiledHeaderError::badParameter: return "bad compression parameter";
        case TiledHeaderError::badColumn: return "bad column format";
        case TiledHeaderError::noCompressedData: return "no COMPRESSED_DATA column";
        case TiledHeaderError::rowWidth: return "NAXIS1 is not the columns' width";
        case TiledHeaderError::rowCount: return "NAXIS2 is not the number of tiles";
        case TiledHeaderError::heap: return "THEAP outside the data unit";
        case TiledHeaderError::tooLarge: return "counts too large";
    }
    return "?";
}

TiledHeaderError parseTiledHeader(const char* cards, uint32_t count, TiledImage& image) {
    image = TiledImage{};
    Seen s;
    const Cards refs{cards};
    for (uint32_t i = 0; i < count; ++i) noteCard(cards + size_t{i} * kCardBytes, i + 1, s, image);

    if (!s.bintable || !s.zimage) return TiledHeaderError::notCompressedImage;
    if (!s.bitpix8 || !s.naxis2 || !s.gcountOk) return TiledHeaderError::notTable;
    if (!s.cmptypeSeen || !s.zbitpixSeen || !s.znaxisSeen) return TiledHeaderError::missingKeyword;
    image.algorithm = codecs::algorithmNamed(s.cmptype);
    image.riceOne = s.cmptype == "RICE_ONE";
    if (image.algorithm == Algorithm::unknown) return TiledHeaderError::unknownAlgorithm;

    if (auto e = readGeometry(s, image); e != TiledHeaderError::none) return e;
    if (auto e = readTable(s, image); e != TiledHeaderError::none) return e;
    if (auto e = readColumns(s, refs, image); e != TiledHeaderError::none) return e;
    if (auto e = readParameters(s, refs, image); e != TiledHeaderError::none) return e;
    if (auto e = readQuantization(s, image); e != TiledHeaderError::none) return e;
    // One row per tile: a table with more or fewer rows was written wrong.
    if (image.rows != image.tileCount) return TiledHeaderError::rowCount;
    return TiledHeaderError::none;
}

uint64_t tileGeometry(const TiledImage& image, uint64_t row, int64_t* start, int64_t* size) {
    uint64_t pixels = 1;
    for (uint32_t n = 0; n < image.naxis; ++n) {
        const auto along = static_cast<uint64_t>(image.tilesAlong[n]);
        start[n] = static_cast<int64_t>(row % along) * image.tile[n];
        row /= along;
        const int64_t left = image.axes[n] - start[n];
        size[n] = left < image.tile[n] ? left : image.tile[n];
        pixels *= static_cast<uint64_t>(size[n]);
    }
    return pixels;
}

}  // namespace nebulite::tiled
