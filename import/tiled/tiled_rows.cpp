#include "import/tiled/tiled_rows.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>

#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "shell/input_stream.h"
#include <utility>
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

using Work = TiledRows::Work;

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

// zlib's working memory for GZIP tiles comes from the module's allocator,
// like every other block of the read.
void* inflateAllocate(void*, unsigned items, unsigned size) {
    const auto bytes = checkedMul(items, size);
    return bytes ? moduleAllocate(nebuliteAllocOther, static_cast<size_t>(*bytes)) : nullptr;
}
void inflateRelease(void*, void* block) { moduleFree(block); }

}  // namespace

OSErr tileError(tiled::TileResult r) { return r == tiled::TileResult::noMemory ? memFullErr : readErr; }

// The table's NAXIS1 x NAXIS2 bytes, read piece by piece.
bool TiledRows::readTable(PluginState& state) {
    const uint64_t total = image_.rowBytes * image_.rows;
    uint64_t done = 0;
    input_.seek(state, tableStart_);
    while (state.result == noErr && done < total) {
        const uint64_t piece = std::min(kTablePiece, total - done);
        if (done + piece > table_.size()) {
            const uint64_t grown = std::min(total, std::max(table_.size() * 2, done + piece));
            ModuleArray<uint8_t> block;
            if (!block.allocate(nebuliteAllocOther, grown)) return recordError(state, memFullErr);
            if (done > 0) std::memcpy(block.data(), table_.data(), static_cast<size_t>(done));
            table_ = std::move(block);
        }
        input_.readExact(state, table_.data() + done, static_cast<int64_t>(piece));
        done += piece;
    }
    return state.result == noErr;
}

// The array `column` points at in table row `row`, read from the heap.
std::span<const uint8_t> TiledRows::readArray(PluginState& state, std::span<const uint8_t> row,
                                              const tiled::HeapColumn& column) {
    tiled::HeapArray array;
    const tiled::DescriptorCheck check = tiled::heapArray(row, column, image_.heapBytes, array);
    if (check == tiled::DescriptorCheck::absent || array.bytes == 0) return {};
    if (check != tiled::DescriptorCheck::ok || array.bytes > heapArrayLimit(image_)) {
        recordError(state, readErr);
        return {};
    }
    if (array.bytes > heap_.size() && !heap_.allocate(nebuliteAllocOther, array.bytes)) {
        recordError(state, memFullErr);
        return {};
    }
    // Within the data unit: heapArray checked the array against the heap.
    input_.seek(state, tableStart_ + static_cast<int64_t>(image_.heapOffset + array.offset));
    input_.readExact(state, heap_.data(), static_cast<int64_t>(array.bytes));
    if (state.result != noErr) return {};
    return {heap_.data(), static_cast<size_t>(array.bytes)};
}

// Table row `row`'s arrays. Only the array the decoder will use is read: a
// nonempty COMPRESSED_DATA, else UNCOMPRESSED_DATA, else the gzip fallback.
tiled::TileArrays TiledRows::readArrays(PluginState& state, uint64_t row) {
    tiled::TileArrays arrays;
    arrays.row = {table_.data() + row * image_.rowBytes, static_cast<size_t>(image_.rowBytes)};
    arrays.compressed = readArray(state, arrays.row, image_.compressed);
    if (arrays.compressed.empty() && state.result == noErr)
        arrays.uncompressed = readArray(state, arrays.row, image_.uncompressed);
    if (arrays.compressed.empty() && arrays.uncompressed.empty() && state.result == noErr)
        arrays.gzipped = readArray(state, arrays.row, image_.gzipCompressed);
    return arrays;
}

tiled::TileWorkspace TiledRows::workspace() {
    return {{wide_.data(), work_.codec.wide},
            {ints_.data(), work_.codec.ints},
            {reals_.data(), work_.codec.reals},
            {bytes_.data(), work_.codec.bytes},
            {inflateAllocate, inflateRelease, nullptr}};
}

// Table row `row` decoded into `out`.
void TiledRows::decodeRow(PluginState& state, uint64_t row, std::span<uint8_t> out) {
    const tiled::TileArrays arrays = readArrays(state, row);
    if (state.result != noErr) return;
    const tiled::TileResult r = tiled::decodeTile(image_, row, arrays, workspace(), out);
    if (r != tiled::TileResult::ok) recordError(state, tileError(r));
}

// Decodes the tiles covering rows of tile index `by` (second axis) and
// `bz` (third) into the band: row (z, y) of it at ((z - z0) x rows + y - y0).
void TiledRows::decodeBand(PluginState& state, int64_t by, int64_t bz) {
    const TiledImage& image = image_;
    const int64_t y0 = by * axisTile(image, 1);
    bandRows_ = static_cast<uint64_t>(std::min(axisTile(image, 1), axisLength(image, 1) - y0));
    bandY_ = bandZ_ = -1;
    const int64_t across = image.tilesAlong[0];
    const int64_t down = image.naxis > 1 ? image.tilesAlong[1] : 1;
    const uint64_t first = static_cast<uint64_t>(by * across + bz * across * down);
    const uint32_t sample = tiled::sampleBytes(image);
    for (int64_t tx = 0; tx < across && state.result == noErr; ++tx) {
        const uint64_t row = first + static_cast<uint64_t>(tx);
        if (!tile_.held()) {
            decodeRow(state, row, {band_.data(), static_cast<size_t>(work_.band)});
            continue;
        }
        decodeRow(state, row, {tile_.data(), static_cast<size_t>(work_.tile)});
        if (state.result != noErr) return;
        int64_t start[tiled::kMaxTiledAxes];
        int64_t size[tiled::kMaxTiledAxes];
        tiled::tileGeometry(image, row, start, size);
        const int64_t rows = image.naxis > 1 ? size[1] : 1;
        const int64_t planes = image.naxis > 2 ? size[2] : 1;
        const size_t piece = static_cast<size_t>(size[0]) * sample;
        for (int64_t dz = 0; dz < planes; ++dz)
            for (int64_t dy = 0; dy < rows; ++dy) {
                const uint64_t to = (static_cast<uint64_t>(dz) * bandRows_ + static_cast<uint64_t>(dy)) *
                                        imageRowBytes_ +
                                    static_cast<uint64_t>(start[0]) * sample;
                const uint64_t from = static_cast<uint64_t>((dz * rows + dy) * size[0]) * sample;
                std::memcpy(band_.data() + to, tile_.data() + from, piece);
            }
    }
    if (state.result != noErr) return;
    bandY_ = by;
    bandZ_ = bz;
}

bool tileWorkFits(const TiledImage& image) { return workFor(image).has_value(); }

TiledRows::TiledRows(InputStream& input, const TiledImage& image, int64_t tableStart, int64_t reachableEnd)
    : input_(input),
      image_(image),
      tableStart_(tableStart),
      reachableEnd_(reachableEnd),
      imageRowBytes_(static_cast<uint64_t>(axisLength(image, 0)) * tiled::sampleBytes(image)) {}

DataExtent TiledRows::extent(int64_t fileLength) const {
    const auto bytes = static_cast<int64_t>(image_.dataBytes);
    const DataExtent e = dataExtent(fileLength, tableStart_, bytes);
    return input_.isGzip() ? gzipExtent(e, tableStart_, bytes, reachableEnd_) : e;
}

void TiledRows::begin(PluginState& state, bool whole) {
    release();
    if (state.result != noErr) return;
    if (!whole && image_.dataBytes > 0) {
        input_.seek(state, tableStart_ + static_cast<int64_t>(image_.dataBytes) - 1);
        uint8_t last = 0;
        input_.readExact(state, &last, 1);
        if (state.result != noErr) return;
    }
    const auto work = workFor(image_);
    // Refused at ReadStart; a second look costs nothing.
    if (!work) {
        recordError(state, memFullErr);
        return;
    }
    work_ = *work;
    if (!readTable(state)) return;
    const bool had = band_.allocate(nebuliteAllocOther, work->band) &&
                     (work->tile == 0 || tile_.allocate(nebuliteAllocOther, work->tile)) &&
                     wide_.allocate(nebuliteAllocOther, work->codec.wide) &&
                     ints_.allocate(nebuliteAllocOther, work->codec.ints) &&
                     reals_.allocate(nebuliteAllocOther, work->codec.reals) &&
                     bytes_.allocate(nebuliteAllocOther, work->codec.bytes);
    if (!had) {
        release();
        recordError(state, memFullErr);
        return;
    }
    restart(state);
}

void TiledRows::restart(PluginState&) {
    row_ = 0;
    rowOffset_ = 0;
}

void TiledRows::seekPlane(PluginState&, uint32_t plane) {
    row_ = uint64_t{plane} * static_cast<uint64_t>(axisLength(image_, 1));
    rowOffset_ = 0;
}

void TiledRows::read(PluginState& state, unsigned char* out, int64_t count) {
    if (state.result != noErr) return;
    const TiledImage& image = image_;
    const auto height = static_cast<uint64_t>(axisLength(image, 1));
    const auto planes = static_cast<uint64_t>(axisLength(image, 2));
    while (count > 0) {
        const uint64_t y = row_ % height;
        const uint64_t z = row_ / height;
        // The roads never read past the planes the image has.
        if (!band_.held() || z >= planes) {
            recordError(state, eofErr);
            return;
        }
        const auto by = static_cast<int64_t>(y / static_cast<uint64_t>(axisTile(image, 1)));
        const auto bz = static_cast<int64_t>(z / static_cast<uint64_t>(axisTile(image, 2)));
        if (by != bandY_ || bz != bandZ_) {
            decodeBand(state, by, bz);
            if (state.result != noErr) return;
        }
        const uint64_t inBand = (z - static_cast<uint64_t>(bz * axisTile(image, 2))) * bandRows_ +
                                (y - static_cast<uint64_t>(by * axisTile(image, 1)));
        const uint64_t piece = std::min(static_cast<uint64_t>(count), imageRowBytes_ - rowOffset_);
        std::memcpy(out, band_.data() + inBand * imageRowBytes_ + rowOffset_, static_cast<size_t>(piece));
        out += piece;
        count -= static_cast<int64_t>(piece);
        rowOffset_ += piece;
        if (rowOffset_ == imageRowBytes_) {
            rowOffset_ = 0;
            ++row_;
        }
    }
}

void TiledRows::release() {
    table_.release();
    band_.release();
    tile_.release();
    heap_.release();
    wide_.release();
    ints_.release();
    reals_.release();
    bytes_.release();
    bandY_ = bandZ_ = -1;
}

}  // namespace nebulite
