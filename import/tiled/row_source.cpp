#include "import/tiled/row_source.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>

#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "shell/input_stream.h"
#include "shell/module_memory.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

using tiled::TiledImage;

// The table's rows are read in pieces of this size and held in a block that
// grows as they arrive, so a claim of many rows costs memory only once the
// file has shown them.
constexpr uint64_t kTablePiece = uint64_t{1} << 20;

// Real codecs never make a tile's array much larger than its pixels: RICE
// and GZIP add a few bytes per block, PLIO at worst two 16-bit words per
// pixel. An array past this is a damaged descriptor, not a tile.
uint64_t heapArrayLimit(const TiledImage& image) { return image.maxTilePixels * 16 + 65536; }

int64_t axisLength(const TiledImage& image, uint32_t a) { return a < image.naxis ? image.axes[a] : 1; }
int64_t axisTile(const TiledImage& image, uint32_t a) { return a < image.naxis ? image.tile[a] : 1; }

// Tiles as wide as the image and one deep along the axes past the third
// hold their pixels in the band's own order: they decode straight into it.
bool decodesInPlace(const TiledImage& image) {
    if (axisTile(image, 0) != axisLength(image, 0)) return false;
    for (uint32_t a = 3; a < image.naxis; ++a)
        if (image.tile[a] != 1) return false;
    return true;
}

struct Work {
    uint64_t band = 0;  // bytes of the band
    uint64_t tile = 0;  // bytes of one decoded tile, when it does not go straight into the band
    tiled::TileWorkspaceSize codec;
    uint64_t total = 0;
};

std::optional<Work> workFor(const TiledImage& image) {
    Work w;
    const uint64_t sample = tiled::sampleBytes(image);
    auto row = checkedMul(static_cast<uint64_t>(axisLength(image, 0)), sample, UINT64_MAX);
    if (!row) return std::nullopt;
    auto rows = checkedMul(static_cast<uint64_t>(axisTile(image, 1)), static_cast<uint64_t>(axisTile(image, 2)),
                           UINT64_MAX);
    if (!rows) return std::nullopt;
    auto band = checkedMul(*row, *rows, kMaxTileWork);
    auto tile = checkedMul(image.maxTilePixels, sample, kMaxTileWork);
    if (!band || !tile || image.maxTilePixels > kMaxTileWork) return std::nullopt;
    w.band = *band;
    w.tile = decodesInPlace(image) ? 0 : *tile;
    w.codec = tiled::tileWorkspaceSize(image);
    const uint64_t codec = uint64_t{w.codec.wide} * 8 + uint64_t{w.codec.ints} * 4 +
                           uint64_t{w.codec.reals} * 8 + w.codec.bytes;
    w.total = w.band + w.tile + codec + heapArrayLimit(image);
    if (w.total > kMaxTileWork) return std::nullopt;
    return w;
}

struct Source {
    bool active = false;
    TiledImage image;
    int64_t tableStart = 0;
    uint64_t imageRowBytes = 0;

    // Work memory, from tiledSourceBegin to tiledSourceRelease.
    uint8_t* table = nullptr;
    uint8_t* band = nullptr;
    uint8_t* tile = nullptr;
    uint8_t* heap = nullptr;
    uint64_t heapCapacity = 0;
    int64_t* wide = nullptr;
    int32_t* ints = nullptr;
    double* reals = nullptr;
    uint8_t* bytes = nullptr;
    Work work;

    // Where the reads stand: a row of the image counted over its planes,
    // and the bytes of it already handed over.
    uint64_t row = 0;
    uint64_t rowOffset = 0;
    // The band decoded: tile indices along the second and third axes.
    int64_t bandY = -1;
    int64_t bandZ = -1;
    uint64_t bandRows = 0;  // rows of one plane the band holds
};

Source source;

template <typename T>
T* allocate(uint64_t count) {
    return static_cast<T*>(moduleAllocate(nebuliteAllocOther, static_cast<size_t>(count * sizeof(T))));
}

// zlib's working memory for GZIP tiles comes from the module's allocator,
// like every other block of the read.
void* inflateAllocate(void*, unsigned items, unsigned size) {
    const auto bytes = checkedMul(items, size);
    return bytes ? moduleAllocate(nebuliteAllocOther, static_cast<size_t>(*bytes)) : nullptr;
}
void inflateRelease(void*, void* block) { moduleFree(block); }

OSErr tileError(tiled::TileResult r) {
    return r == tiled::TileResult::noMemory ? memFullErr : readErr;
}

// The table's NAXIS1 x NAXIS2 bytes, read piece by piece.
bool readTable(PluginState& state) {
    const uint64_t total = source.image.rowBytes * source.image.rows;
    uint64_t capacity = 0;
    uint64_t done = 0;
    inputSeek(state, source.tableStart);
    while (state.result == noErr && done < total) {
        const uint64_t piece = std::min(kTablePiece, total - done);
        if (done + piece > capacity) {
            const uint64_t grown = std::min(total, std::max(capacity * 2, done + piece));
            auto* block = allocate<uint8_t>(grown);
            if (block == nullptr) return recordError(state, memFullErr);
            if (done > 0) std::memcpy(block, source.table, static_cast<size_t>(done));
            moduleFree(source.table);
            source.table = block;
            capacity = grown;
        }
        inputReadExact(state, source.table + done, static_cast<int64_t>(piece));
        done += piece;
    }
    return state.result == noErr;
}

// The array `column` points at in table row `row`, read from the heap.
std::span<const uint8_t> readArray(PluginState& state, std::span<const uint8_t> row, const tiled::HeapColumn& column) {
    tiled::HeapArray array;
    const tiled::DescriptorCheck check = tiled::heapArray(row, column, source.image.heapBytes, array);
    if (check == tiled::DescriptorCheck::absent || array.bytes == 0) return {};
    if (check != tiled::DescriptorCheck::ok || array.bytes > heapArrayLimit(source.image)) {
        recordError(state, readErr);
        return {};
    }
    if (array.bytes > source.heapCapacity) {
        moduleFree(source.heap);
        source.heapCapacity = 0;
        source.heap = allocate<uint8_t>(array.bytes);
        if (source.heap == nullptr) {
            recordError(state, memFullErr);
            return {};
        }
        source.heapCapacity = array.bytes;
    }
    // Within the data unit: heapArray checked the array against the heap.
    inputSeek(state, source.tableStart + static_cast<int64_t>(source.image.heapOffset + array.offset));
    inputReadExact(state, source.heap, static_cast<int64_t>(array.bytes));
    if (state.result != noErr) return {};
    return {source.heap, static_cast<size_t>(array.bytes)};
}

// Table row `row` decoded into `out`. Only the array the decoder will use
// is read: a nonempty COMPRESSED_DATA, else UNCOMPRESSED_DATA, else the
// gzip fallback.
void decodeRow(PluginState& state, uint64_t row, std::span<uint8_t> out) {
    const TiledImage& image = source.image;
    tiled::TileArrays arrays;
    arrays.row = {source.table + row * image.rowBytes, static_cast<size_t>(image.rowBytes)};
    arrays.compressed = readArray(state, arrays.row, image.compressed);
    if (arrays.compressed.empty() && state.result == noErr)
        arrays.uncompressed = readArray(state, arrays.row, image.uncompressed);
    if (arrays.compressed.empty() && arrays.uncompressed.empty() && state.result == noErr)
        arrays.gzipped = readArray(state, arrays.row, image.gzipCompressed);
    if (state.result != noErr) return;
    const tiled::TileWorkspace work{{source.wide, source.work.codec.wide},
                                    {source.ints, source.work.codec.ints},
                                    {source.reals, source.work.codec.reals},
                                    {source.bytes, source.work.codec.bytes},
                                    {inflateAllocate, inflateRelease, nullptr}};
    const tiled::TileResult r = tiled::decodeTile(image, row, arrays, work, out);
    if (r != tiled::TileResult::ok) recordError(state, tileError(r));
}

// Decodes the tiles covering rows of tile index `by` (second axis) and
// `bz` (third) into the band: row (z, y) of it at ((z - z0) x rows + y - y0).
void decodeBand(PluginState& state, int64_t by, int64_t bz) {
    const TiledImage& image = source.image;
    const int64_t y0 = by * axisTile(image, 1);
    source.bandRows = static_cast<uint64_t>(std::min(axisTile(image, 1), axisLength(image, 1) - y0));
    source.bandY = source.bandZ = -1;
    const int64_t across = image.tilesAlong[0];
    const int64_t down = image.naxis > 1 ? image.tilesAlong[1] : 1;
    const uint64_t first = static_cast<uint64_t>(by * across + bz * across * down);
    const uint32_t sample = tiled::sampleBytes(image);
    for (int64_t tx = 0; tx < across && state.result == noErr; ++tx) {
        const uint64_t row = first + static_cast<uint64_t>(tx);
        if (source.tile == nullptr) {
            decodeRow(state, row, {source.band, static_cast<size_t>(source.work.band)});
            continue;
        }
        decodeRow(state, row, {source.tile, static_cast<size_t>(source.work.tile)});
        if (state.result != noErr) return;
        int64_t start[tiled::kMaxTiledAxes];
        int64_t size[tiled::kMaxTiledAxes];
        tiled::tileGeometry(image, row, start, size);
        const int64_t rows = image.naxis > 1 ? size[1] : 1;
        const int64_t planes = image.naxis > 2 ? size[2] : 1;
        const size_t piece = static_cast<size_t>(size[0]) * sample;
        for (int64_t dz = 0; dz < planes; ++dz)
            for (int64_t dy = 0; dy < rows; ++dy) {
                const uint64_t to = (static_cast<uint64_t>(dz) * source.bandRows + static_cast<uint64_t>(dy)) *
                                        source.imageRowBytes +
                                    static_cast<uint64_t>(start[0]) * sample;
                const uint64_t from = static_cast<uint64_t>((dz * rows + dy) * size[0]) * sample;
                std::memcpy(source.band + to, source.tile + from, piece);
            }
    }
    if (state.result != noErr) return;
    source.bandY = by;
    source.bandZ = bz;
}

}  // namespace

bool tileWorkFits(const TiledImage& image) { return workFor(image).has_value(); }

void tiledSourceDescribe(const TiledImage& image, int64_t tableStart) {
    tiledSourceRelease();
    source.active = true;
    source.image = image;
    source.tableStart = tableStart;
    source.imageRowBytes = static_cast<uint64_t>(axisLength(image, 0)) * tiled::sampleBytes(image);
}

void tiledSourceForget() {
    tiledSourceRelease();
    source.active = false;
}

bool tiledSourceActive() { return source.active; }

int64_t tiledSourceDataBytes() { return static_cast<int64_t>(source.image.dataBytes); }

void tiledSourceBegin(PluginState& state, bool dataKnownWhole) {
    tiledSourceRelease();
    if (state.result != noErr || !source.active) return;
    if (!dataKnownWhole && source.image.dataBytes > 0) {
        inputSeek(state, source.tableStart + static_cast<int64_t>(source.image.dataBytes) - 1);
        uint8_t last = 0;
        inputReadExact(state, &last, 1);
        if (state.result != noErr) return;
    }
    const auto work = workFor(source.image);
    // Refused at ReadStart; a second look costs nothing.
    if (!work) {
        recordError(state, memFullErr);
        return;
    }
    source.work = *work;
    if (!readTable(state)) return;
    source.band = allocate<uint8_t>(work->band);
    source.tile = work->tile > 0 ? allocate<uint8_t>(work->tile) : nullptr;
    source.wide = allocate<int64_t>(work->codec.wide);
    source.ints = allocate<int32_t>(work->codec.ints);
    source.reals = allocate<double>(work->codec.reals);
    source.bytes = allocate<uint8_t>(work->codec.bytes);
    if (source.band == nullptr || (work->tile > 0 && source.tile == nullptr) || source.wide == nullptr ||
        source.ints == nullptr || source.reals == nullptr || source.bytes == nullptr) {
        tiledSourceRelease();
        recordError(state, memFullErr);
        return;
    }
    tiledSourceRestart();
}

void tiledSourceRestart() {
    source.row = 0;
    source.rowOffset = 0;
}

void tiledSourceRead(PluginState& state, unsigned char* out, int64_t count) {
    if (state.result != noErr) return;
    const TiledImage& image = source.image;
    const auto height = static_cast<uint64_t>(axisLength(image, 1));
    const auto planes = static_cast<uint64_t>(axisLength(image, 2));
    while (count > 0) {
        const uint64_t y = source.row % height;
        const uint64_t z = source.row / height;
        // The roads never read past the planes the image has.
        if (source.band == nullptr || z >= planes) {
            recordError(state, eofErr);
            return;
        }
        const auto by = static_cast<int64_t>(y / static_cast<uint64_t>(axisTile(image, 1)));
        const auto bz = static_cast<int64_t>(z / static_cast<uint64_t>(axisTile(image, 2)));
        if (by != source.bandY || bz != source.bandZ) {
            decodeBand(state, by, bz);
            if (state.result != noErr) return;
        }
        const uint64_t inBand = (z - static_cast<uint64_t>(bz * axisTile(image, 2))) * source.bandRows +
                                (y - static_cast<uint64_t>(by * axisTile(image, 1)));
        const uint64_t piece = std::min(static_cast<uint64_t>(count), source.imageRowBytes - source.rowOffset);
        std::memcpy(out, source.band + inBand * source.imageRowBytes + source.rowOffset, static_cast<size_t>(piece));
        out += piece;
        count -= static_cast<int64_t>(piece);
        source.rowOffset += piece;
        if (source.rowOffset == source.imageRowBytes) {
            source.rowOffset = 0;
            ++source.row;
        }
    }
}

void tiledSourceRelease() {
    for (void* block : {static_cast<void*>(source.table), static_cast<void*>(source.band),
                        static_cast<void*>(source.tile), static_cast<void*>(source.heap),
                        static_cast<void*>(source.wide), static_cast<void*>(source.ints),
                        static_cast<void*>(source.reals), static_cast<void*>(source.bytes)})
        moduleFree(block);
    source.table = source.band = source.tile = source.heap = source.bytes = nullptr;
    source.wide = nullptr;
    source.ints = nullptr;
    source.reals = nullptr;
    source.heapCapacity = 0;
    source.bandY = source.bandZ = -1;
}

}  // namespace nebulite
