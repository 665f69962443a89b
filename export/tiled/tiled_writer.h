// The streaming writer of one tile-compressed image: an empty primary HDU,
// then the image as a BINTABLE of tiles (see table_header.h), written
// through a seekable sink with the memory of one band of tiles.
//
// How a save drives it: planSave (plan.h) checks the request against the
// image header the uncompressed save would write; begin() takes the work
// memory and reserves the headers' and the table's room with zeros; add()
// takes the bytes of the uncompressed data unit in order (big-endian
// samples, row after row, plane after plane, in pieces of any size) and
// writes each band's tiles into the heap as soon as its rows are in;
// finish() closes the heap on a block boundary, writes the table's rows in
// place, then the table header with its final PCOUNT, and the primary
// header last of all, its first byte alone at the very end. Both headers
// carry CHECKSUM and DATASUM, as fpack's do.
//
// A write that fails (a full disk) stops everything: the file then starts
// with a zero byte where SIMPLE's S belongs, and no reader takes it for a
// FITS file. The final writes only overwrite bytes already written, so a
// full disk cannot fail them.
#pragma once

#include <cstdint>
#include <span>

#include "export/tiled/checksum.h"
#include "export/tiled/counted_memory.h"
#include "export/tiled/layout.h"
#include "export/tiled/table_header.h"
#include "export/tiled/tile_encoder.h"
#include "export/tiled/writer_io.h"

namespace nebulite::tiledsave {

struct WriterStats {
    uint64_t heapBytes = 0;      // PCOUNT
    uint64_t fileBytes = 0;      // the whole file, in blocks
    uint64_t declinedTiles = 0;  // float tiles kept exactly in GZIP_COMPRESSED_DATA
    bool anyNull = false;        // some NaN was quantized to ZBLANK
    int32_t ditherSeed = 0;      // ZDITHER0 as written (quantized, dithered images)
    uint64_t writes = 0;         // calls of ByteSink::write
    uint64_t peakBytes = 0;      // the most memory held at once so far, zlib's included
};

class TiledWriter {
public:
    // `layout` comes from planSave with the same `imageCards`; both stay
    // alive and unchanged while the writer lives (the table header carries
    // the cards, written at finish()). The sink is empty, at position 0.
    TiledWriter(const Layout& layout, std::span<const char> imageCards, ByteSink& sink, WriterMemory& memory);
    ~TiledWriter();
    TiledWriter(const TiledWriter&) = delete;
    TiledWriter& operator=(const TiledWriter&) = delete;

    SaveError begin();
    SaveError add(std::span<const uint8_t> bytes);
    SaveError finish();

    // The first error, which every later call returns too.
    SaveError error() const { return error_; }
    WriterStats stats() const {
        WriterStats s = stats_;
        s.peakBytes = memory_.peak();
        return s;
    }

private:
    friend class HeaderCards;
    enum class Stage : uint8_t { planned, writing, finished };

    SaveError fail(SaveError e);

    bool write(std::span<const uint8_t> bytes);
    bool seek(uint64_t position);
    bool flushOutput();
    bool flushTableRows();
    uint64_t bandBytes() const;
    bool encodeBand();
    bool writeZeros(uint64_t count);
    bool writeHeaders();

    const Layout& layout_;
    std::span<const char> imageCards_;
    ByteSink& sink_;
    CountedMemory memory_;
    Stage stage_ = Stage::planned;
    SaveError error_ = SaveError::none;

    void* block_ = nullptr;
    std::span<uint8_t> band_;
    std::span<uint8_t> output_;
    std::span<uint8_t> table_;
    TileWork work_{};

    uint64_t filePosition_ = 0; // the end of what has been written
    uint64_t outputFill_ = 0;   // heap bytes waiting in output_
    uint64_t bandFill_ = 0;
    uint64_t bandY_ = 0;        // the band's row of tiles in its plane
    uint64_t plane_ = 0;
    uint64_t nextTile_ = 0;     // the next table row
    uint64_t windowFirst_ = 0;  // the first table row held in table_
    int32_t seed_ = 0;
    TableFacts facts_;
    OnesSum dataSum_;           // of the table's data unit, piece by piece as written
    WriterStats stats_;
};

}  // namespace nebulite::tiledsave
