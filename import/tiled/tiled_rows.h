// The row source of a tile-compressed image: its rows as its uncompressed
// data unit would hold them, big-endian samples of ZBITPIX (floats for
// quantized tiles), plane after plane, row after row. The pixel roads read
// them exactly as they read a plain data unit, so nothing after this knows
// the image was compressed.
//
// One band of tiles (the tiles that cover the next image rows) is decoded at
// a time. The table's rows (a few bytes per tile) are held; the heap is read
// array by array through the input stream, so a gzip'd .fits.fz reads too.
#pragma once

#include <cstdint>

#include <span>

#include "import/row_source.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tiled_header.h"
#include "shell/module_memory.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Work memory one band of tiles takes beyond the table's rows, or nothing
// when it passes kMaxTileWork: a tiling the reader refuses.
constexpr uint64_t kMaxTileWork = uint64_t{512} << 20;
bool tileWorkFits(const tiled::TiledImage& image);

// What a tile that cannot be decoded gives the host.
OSErr tileError(tiled::TileResult r);

class TiledRows final : public RowSource {
public:
    // The rows of `image`, whose table's data unit starts at `tableStart`
    // in the FITS bytes of `input`, which end before `reachableEnd`
    // (InputStream::reachableEnd). Allocates nothing.
    TiledRows(InputStream& input, const tiled::TiledImage& image, int64_t tableStart, int64_t reachableEnd);
    ~TiledRows() override { release(); }

    // The table's data unit (NAXIS1 x NAXIS2 + PCOUNT bytes) must be in the
    // file; as for any data unit, a gzip stream's length says nothing of a cut.
    DataExtent extent(int64_t fileLength) const override;
    // Reads the table's rows and gets the band's memory. readErr, eofErr or
    // memFullErr in `result` when it cannot. Unless the file's length already
    // showed the table's data unit whole, its last byte is read first: the
    // workspace follows from the tiling, which only a heap that is there backs.
    void begin(PluginState& state, bool whole) override;
    // The next `count` bytes of the uncompressed data unit into `out`.
    void read(PluginState& state, unsigned char* out, int64_t count) override;
    // Back to the first row of the first plane.
    void restart(PluginState&) override;
    void seekPlane(PluginState& state, uint32_t plane) override;
    // The heap was read through the stream, whose checks are at its end.
    void verify(PluginState& state) override { input_.verifyToEnd(state); }
    // Every tile of the planes read as for the rows, a quantized one only
    // to its integers (import/tiled/tile_range.h); false, nothing read, for
    // samples of 1 or 2 bytes. The band is decoded again by the next read.
    bool physicalRange(PluginState& state, const WideRules& rules, std::span<const uint32_t> planes,
                       WideRange& range) override;
    // Frees the table's rows and the band's memory.
    void release();

    struct Work {
        uint64_t band = 0;  // bytes of the band
        uint64_t tile = 0;  // bytes of one decoded tile, when it does not go straight into the band
        tiled::TileWorkspaceSize codec;
        uint64_t total = 0;
    };

private:
    bool readTable(PluginState& state);
    std::span<const uint8_t> readArray(PluginState& state, std::span<const uint8_t> row,
                                       const tiled::HeapColumn& column);
    tiled::TileArrays readArrays(PluginState& state, uint64_t row);
    tiled::TileWorkspace workspace();
    void decodeRow(PluginState& state, uint64_t row, std::span<uint8_t> out);
    void decodeBand(PluginState& state, int64_t by, int64_t bz);

    InputStream& input_;
    tiled::TiledImage image_;
    int64_t tableStart_ = 0;
    int64_t reachableEnd_ = INT64_MAX;
    uint64_t imageRowBytes_ = 0;

    // Work memory, from begin to release.
    ModuleArray<uint8_t> table_;
    ModuleArray<uint8_t> band_;
    ModuleArray<uint8_t> tile_;
    ModuleArray<uint8_t> heap_;
    ModuleArray<int64_t> wide_;
    ModuleArray<int32_t> ints_;
    ModuleArray<double> reals_;
    ModuleArray<uint8_t> bytes_;
    Work work_;

    // Where the reads stand: a row of the image counted over its planes,
    // and the bytes of it already handed over.
    uint64_t row_ = 0;
    uint64_t rowOffset_ = 0;
    // The band decoded: tile indices along the second and third axes.
    int64_t bandY_ = -1;
    int64_t bandZ_ = -1;
    uint64_t bandRows_ = 0;  // rows of one plane the band holds
};

}  // namespace nebulite
