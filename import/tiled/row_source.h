// The rows of a tile-compressed image as its uncompressed data unit would
// hold them: big-endian samples of ZBITPIX (floats for quantized tiles),
// plane after plane, row after row. The pixel roads read them exactly as
// they read a plain data unit, so nothing after this knows the image was
// compressed.
//
// One band of tiles (the tiles that cover the next image rows) is decoded at
// a time. The table's rows (a few bytes per tile) are held; the heap is read
// array by array through the input stream, so a gzip'd .fits.fz reads too.
#pragma once

#include <cstdint>

#include "import/tiled/tiled_header.h"
#include "shell/plugin_state.h"

namespace nebulite {

// Work memory one band of tiles takes beyond the table's rows, or nothing
// when it passes kMaxTileWork: a tiling the reader refuses.
constexpr uint64_t kMaxTileWork = uint64_t{512} << 20;
bool tileWorkFits(const tiled::TiledImage& image);

// The next reads of image rows come from `image`, whose table's data unit
// starts at `tableStart` in the FITS bytes. Allocates nothing.
void tiledSourceDescribe(const tiled::TiledImage& image, int64_t tableStart);
// Reads come from the input stream again; frees the work memory.
void tiledSourceForget();
bool tiledSourceActive();
// The table's data unit: NAXIS1 x NAXIS2 + PCOUNT bytes.
int64_t tiledSourceDataBytes();

// Reads the table's rows and gets the band's memory. readErr, eofErr or
// memFullErr in `result` when it cannot. Unless the file's length already
// showed the table's data unit whole, its last byte is read first: the
// workspace follows from the tiling, which only a heap that is there backs.
void tiledSourceBegin(PluginState& state, bool dataKnownWhole);
// Back to the first row of the first plane.
void tiledSourceRestart();
// The next `count` bytes of the uncompressed data unit into `out`.
void tiledSourceRead(PluginState& state, unsigned char* out, int64_t count);
// Frees the table's rows and the band's memory; the description stays.
void tiledSourceRelease();

}  // namespace nebulite
