#include "export/tiled/tiled_writer.h"

#include <algorithm>
#include <cstring>

#include "export/tiled/dither_seed.h"
#include "export/tiled/table_rows.h"
#include "export/tiled/tile_grid.h"
#include "export/tiled/work_memory.h"
#include "header/fits_units.h"

namespace nebulite::tiledsave {

namespace {

// The parts of the one work block, in order, each aligned.
std::span<uint8_t> carve(uint8_t*& at, uint64_t bytes) {
    std::span<uint8_t> part(at, static_cast<size_t>(bytes));
    at += (bytes + kPartAlignment - 1) / kPartAlignment * kPartAlignment;
    return part;
}

}  // namespace

// Cards into the output buffer, written each time it holds as many whole
// cards as fit.
class HeaderCards final : public CardSink {
public:
    explicit HeaderCards(TiledWriter& w) : w_(w), room_(w.output_.size() / kCardBytes * kCardBytes) {}
    void card(const char* card) override {
        if (fill_ == room_) flush();
        std::memcpy(w_.output_.data() + fill_, card, kCardBytes);
        fill_ += kCardBytes;
        ++cards_;
    }
    // Blank cards to the end of the block, then everything out.
    bool close() {
        char blank[kCardBytes];
        std::memset(blank, ' ', kCardBytes);
        while (!atBlockBoundary(cardBytes(cards_))) card(blank);
        flush();
        return ok_;
    }

private:
    void flush() {
        if (fill_ > 0 && ok_) ok_ = w_.write(w_.output_.first(static_cast<size_t>(fill_)));
        fill_ = 0;
    }
    TiledWriter& w_;
    uint64_t room_;
    uint64_t fill_ = 0;
    uint64_t cards_ = 0;
    bool ok_ = true;
};

TiledWriter::TiledWriter(const Layout& layout, std::span<const char> imageCards, ByteSink& sink, WriterMemory& memory)
    : layout_(layout), imageCards_(imageCards), sink_(sink), memory_(memory) {}

TiledWriter::~TiledWriter() { memory_.give(block_); }

SaveError TiledWriter::fail(SaveError e) {
    if (error_ == SaveError::none) error_ = e;
    memory_.give(block_);
    block_ = nullptr;
    return error_;
}

bool TiledWriter::write(std::span<const uint8_t> bytes) {
    ++stats_.writes;
    if (!sink_.write(bytes)) return false;
    filePosition_ += bytes.size();
    return true;
}

bool TiledWriter::seek(uint64_t position) {
    if (!sink_.seek(position)) return false;
    filePosition_ = position;
    return true;
}

bool TiledWriter::flushOutput() {
    if (outputFill_ == 0) return true;
    const bool ok = write(output_.first(static_cast<size_t>(outputFill_)));
    outputFill_ = 0;
    return ok;
}

// The table rows held, written where they belong; then back to the heap's end.
bool TiledWriter::flushTableRows() {
    const uint64_t rows = nextTile_ - windowFirst_;
    if (rows == 0) return true;
    const uint64_t heapEnd = filePosition_;
    const uint64_t at = layout_.tableStart + windowFirst_ * layout_.table.rowBytes;
    const std::span<const uint8_t> bytes = table_.first(static_cast<size_t>(rows * layout_.table.rowBytes));
    dataSum_.add(bytes, windowFirst_ * layout_.table.rowBytes);
    if (!seek(at) || !write(bytes) || !seek(heapEnd)) return false;
    windowFirst_ = nextTile_;
    return true;
}

uint64_t TiledWriter::bandBytes() const {
    const uint64_t first = bandY_ * layout_.grid.tileRows;
    return std::min(layout_.grid.tileRows, layout_.params.height - first) * layout_.rowBytes;
}

bool TiledWriter::writeZeros(uint64_t count) {
    std::memset(output_.data(), 0, output_.size());
    while (count > 0) {
        const uint64_t n = std::min<uint64_t>(count, output_.size());
        if (!write(output_.first(static_cast<size_t>(n)))) return false;
        count -= n;
    }
    return true;
}

SaveError TiledWriter::begin() {
    if (error_ != SaveError::none) return error_;
    if (stage_ != Stage::planned) return fail(SaveError::sequence);
    const WorkSizes& w = layout_.work;
    block_ = memory_.take(static_cast<size_t>(w.block));
    if (block_ == nullptr) return fail(SaveError::noMemory);
    uint8_t* at = static_cast<uint8_t*>(block_);
    band_ = carve(at, w.band);
    work_.pixels = carve(at, w.pixels);
    const std::span<uint8_t> ints = carve(at, w.ints);
    work_.ints = {static_cast<int32_t*>(static_cast<void*>(ints.data())), ints.size() / sizeof(int32_t)};
    work_.scratch = carve(at, w.scratch);
    output_ = carve(at, w.output);
    table_ = carve(at, w.table);
    work_.deflate = memory_.deflate();
    seed_ = layout_.params.ditherSeed;
    stage_ = Stage::writing;
    // The headers' and the table's room: zeros, so that until the headers
    // go in last the file is no FITS file at all.
    if (!writeZeros(layout_.tableStart + layout_.tableBytes)) return fail(SaveError::writeFailed);
    return SaveError::none;
}

bool TiledWriter::encodeBand() {
    const TileGrid& g = layout_.grid;
    for (uint64_t tx = 0; tx < g.across; ++tx) {
        const uint64_t row = (plane_ * g.down + bandY_) * g.across + tx;
        const TileRect rect = tileRect(layout_.params, g, row);
        if (row == 0 && seed_ == kSeedFromFirstTile) {
            ByteSum sum;
            for (uint64_t y = 0; y < rect.rows; ++y)
                sum.add(band_.subspan(static_cast<size_t>(y * layout_.rowBytes + rect.x * layout_.sampleBytes),
                                      static_cast<size_t>(rect.columns * layout_.sampleBytes)));
            seed_ = sum.seed();
        }
        if (output_.size() - outputFill_ < layout_.maxTileBytes && !flushOutput()) {
            fail(SaveError::writeFailed);
            return false;
        }
        const EncodedTile tile = encodeTile(layout_, rect, row, seed_, band_, work_,
                                            output_.subspan(static_cast<size_t>(outputFill_)));
        if (tile.error != SaveError::none) {
            fail(tile.error);
            return false;
        }
        const uint64_t slot = (nextTile_ - windowFirst_) * layout_.table.rowBytes;
        fillTableRow(layout_.table, tile, facts_.heapBytes,
                     table_.subspan(static_cast<size_t>(slot), static_cast<size_t>(layout_.table.rowBytes)));
        uint64_t& longest = tile.column == Column::gzipFallback   ? facts_.longestGzip
                            : tile.column == Column::uncompressed ? facts_.longestUncompressed
                                                                  : facts_.longestCompressed;
        longest = std::max(longest, tile.elements);
        dataSum_.add(output_.subspan(static_cast<size_t>(outputFill_), static_cast<size_t>(tile.bytes)),
                     layout_.tableBytes + facts_.heapBytes);
        if (tile.column == Column::gzipFallback) ++stats_.declinedTiles;
        stats_.anyNull = stats_.anyNull || tile.anyNull;
        facts_.heapBytes += tile.bytes;
        outputFill_ += tile.bytes;
        ++nextTile_;
        if (nextTile_ - windowFirst_ == table_.size() / layout_.table.rowBytes && !flushTableRows()) {
            fail(SaveError::writeFailed);
            return false;
        }
    }
    return true;
}

SaveError TiledWriter::add(std::span<const uint8_t> bytes) {
    if (error_ != SaveError::none) return error_;
    if (stage_ != Stage::writing) return fail(SaveError::sequence);
    while (!bytes.empty()) {
        if (nextTile_ == layout_.grid.count) return fail(SaveError::tooManyBytes);
        const uint64_t want = bandBytes() - bandFill_;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(want, bytes.size()));
        std::memcpy(band_.data() + bandFill_, bytes.data(), n);
        bandFill_ += n;
        bytes = bytes.subspan(n);
        if (bandFill_ < bandBytes()) continue;
        if (!encodeBand()) return error_;
        bandFill_ = 0;
        if (++bandY_ == layout_.grid.down) {
            bandY_ = 0;
            ++plane_;
        }
    }
    return SaveError::none;
}

namespace {

// A header's cards summed, not written: the first of its two passes.
class SummedCards final : public CardSink {
public:
    void card(const char* card) override {
        uint8_t bytes[kCardBytes];
        std::memcpy(bytes, card, kCardBytes);
        sum.add(bytes, cardBytes(cards++));
    }
    // The blank cards that fill the last block count too (spaces are not zeros).
    uint32_t close() {
        char blank[kCardBytes];
        std::memset(blank, ' ', kCardBytes);
        while (!atBlockBoundary(cardBytes(cards))) card(blank);
        return sum.value();
    }
    OnesSum sum;
    uint64_t cards = 0;
};

}  // namespace

bool TiledWriter::writeHeaders() {
    // Each header is made twice: summed with CHECKSUM all zeros (its data's
    // sum added), then written with the text that makes the HDU sum to
    // minus zero.
    facts_.dataSum = dataSum_.value();
    SummedCards tableSum;
    writeTableHeader(layout_, facts_, imageCards_, tableSum);
    OnesSum hdu;
    hdu.add(tableSum.close());
    hdu.add(facts_.dataSum);
    checksumText(hdu.value(), facts_.checksum);
    if (!seek(kBlockBytes)) return false;
    HeaderCards table(*this);
    writeTableHeader(layout_, facts_, imageCards_, table);
    if (!table.close()) return false;

    const TableFacts zeros;
    SummedCards primarySum;
    writePrimaryHeader(imageCards_.data(), zeros.checksum, primarySum);
    char checksum[16];
    checksumText(primarySum.close(), checksum);
    // The primary header: all of its block but the first byte, then that
    // byte alone, the last write of all.
    HeaderCards primary(*this);
    writePrimaryHeader(imageCards_.data(), checksum, primary);
    char blank[kCardBytes];
    std::memset(blank, ' ', kCardBytes);
    for (uint64_t i = kPrimaryCards; i < kCardsPerBlock; ++i) primary.card(blank);
    // All 36 cards sit in output_ unwritten: the block is smaller than its room.
    const std::span<const uint8_t> block = output_.first(kBlockBytes);
    return seek(1) && write(block.subspan(1)) && seek(0) && write(block.first(1));
}

SaveError TiledWriter::finish() {
    if (error_ != SaveError::none) return error_;
    if (stage_ != Stage::writing) return fail(SaveError::sequence);
    if (nextTile_ != layout_.grid.count) return fail(SaveError::incomplete);
    stage_ = Stage::finished;
    const uint64_t dataBytes = layout_.tableBytes + facts_.heapBytes;
    if (!flushOutput() || !writeZeros(blockFill(dataBytes)) || !flushTableRows()) return fail(SaveError::writeFailed);
    stats_.fileBytes = filePosition_;
    facts_.ditherSeed = seed_;
    if (!writeHeaders()) return fail(SaveError::writeFailed);
    stats_.heapBytes = facts_.heapBytes;
    stats_.ditherSeed = layout_.quantized && layout_.params.dither != codecs::Dither::none ? seed_ : 0;
    memory_.give(block_);
    block_ = nullptr;
    return SaveError::none;
}

}  // namespace nebulite::tiledsave
