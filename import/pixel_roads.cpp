#include "import/pixel_roads.h"

#include <cstddef>
#include <cstring>

#include "import/debayer/demosaic.h"
#include "import/road.h"

namespace nebulite {

PixelRoad choosePixelRoad(int16_t fileSampleBytes, DataExtent extent, bool headerRangeUsable, bool stretched,
                          int16_t depth, bool mosaic) {
    if (mosaic) return extent == DataExtent::cutShort ? PixelRoad::cutShort : PixelRoad::mosaic;
    if (stretched || depth == 32) {
        if (extent == DataExtent::cutShort) return PixelRoad::cutShort;
        return stretched ? PixelRoad::mapped : PixelRoad::floats;
    }
    switch (fileSampleBytes) {
        // Bytes need no conversion: the rows a short file has still arrive.
        case 1: return PixelRoad::bytes;
        case 2:
            if (extent == DataExtent::whole) return PixelRoad::streamed16;
            return extent == DataExtent::unknown ? PixelRoad::stored16 : PixelRoad::cutShort;
        case 4:
        case 8:
            if (extent == DataExtent::cutShort) return PixelRoad::cutShort;
            return extent == DataExtent::whole && headerRangeUsable ? PixelRoad::streamedWide
                                                                    : PixelRoad::twoPassWide;
        default: return PixelRoad::none;
    }
}

bool headerRange(const HeaderKeywords& keys, double& lo, double& hi) {
    if (!keys.rangeSeen) return false;
    double low = keys.rangeLow;
    double high = keys.rangeIsOffset ? keys.rangeLow + keys.rangeHigh : keys.rangeHigh;
    // An empty or reversed range says nothing; the data's own range applies.
    if (!(high > low)) return false;
    lo = low;
    hi = high;
    return true;
}

namespace {

// A mosaic's demosaicer and rows beside the row of the file: memory for a
// few rows, however tall the image.
bool allocateMosaicWork(const HeaderKeywords& keys, const RowPlan& plan, uint64_t width, uint64_t sampleBytes,
                        RoadWork& work) {
    debayer::MosaicGeometry geometry;
    geometry.width = width;
    geometry.height = static_cast<uint64_t>(keys.naxis2() < 2 ? 2 : keys.naxis2());
    geometry.method = plan.demosaic;
    const std::optional<uint64_t> floats = debayer::demosaicWorkFloats(geometry);
    return floats && work.fileRow.allocate(nebuliteAllocRowBlock, width * sampleBytes) &&
           work.values.allocate(nebuliteAllocRowBlock, width) &&
           work.table16.allocate(nebuliteAllocOther, 65536) &&
           (!plan.stretched || work.estimator.make(nebuliteAllocOther)) &&
           work.demosaic.allocate(nebuliteAllocRowBlock, *floats) &&
           work.mosaicRow.allocate(nebuliteAllocRowBlock, width) &&
           work.colourRows.allocate(nebuliteAllocRowBlock, 3 * width);
}

}  // namespace

bool allocateRoadWork(PluginState& state, PixelRoad road, const HeaderKeywords& keys, const RowPlan& plan,
                      int32_t columns, RoadWork& work) {
    if (state.result != noErr) return false;
    const auto width = static_cast<uint64_t>(columns < 0 ? 0 : columns);
    const auto sampleBytes = static_cast<uint64_t>(keys.fileSampleBytes() < 1 ? 1 : keys.fileSampleBytes());
    bool had = true;
    switch (road) {
        case PixelRoad::streamed16:
        case PixelRoad::stored16: had = work.table16.allocate(nebuliteAllocOther, 65536); break;
        case PixelRoad::streamedWide:
        case PixelRoad::twoPassWide: had = work.fileRow.allocate(nebuliteAllocRowBlock, width * sampleBytes); break;
        case PixelRoad::mapped:
            had = work.fileRow.allocate(nebuliteAllocRowBlock, width * sampleBytes) &&
                  work.values.allocate(nebuliteAllocRowBlock, width) &&
                  work.estimator.make(nebuliteAllocOther);
            break;
        case PixelRoad::floats:
            had = work.fileRow.allocate(nebuliteAllocRowBlock, width * sampleBytes) &&
                  work.values.allocate(nebuliteAllocRowBlock, width);
            break;
        case PixelRoad::mosaic: had = allocateMosaicWork(keys, plan, width, sampleBytes, work); break;
        default: break;
    }
    // A document of another depth than the file's own takes each row from
    // a row of the file's depth (the stretches write the document's levels
    // themselves).
    if (had && road != PixelRoad::mapped && road != PixelRoad::floats && road != PixelRoad::mosaic &&
        road != PixelRoad::none && plan.depth != keys.hostDepth())
        had = work.nativeRow.allocate(nebuliteAllocRowBlock, width * static_cast<uint64_t>(keys.hostSampleBytes()));
    return had || recordError(state, memFullErr);
}

void Road::toDocumentDepth() const {
    const size_t n = columns();
    const unsigned char* in = work.nativeRow.data();
    unsigned char* out = hostRow();
    if (plan.depth == 16) {
        for (size_t i = 0; i < n; ++i) {
            const uint16_t v = level8To16(in[i]);
            std::memcpy(out + 2 * i, &v, 2);
        }
    } else {
        for (size_t i = 0; i < n; ++i) {
            uint16_t v = 0;
            std::memcpy(&v, in + 2 * i, 2);
            out[i] = level16To8(v);
        }
    }
}

namespace {

void moveBytes(Road& road) {
    road.handOver([&] { road.rows.read(road.state, road.nativeRow(), road.nativeRowBytes()); });
}

// The file's 2-byte samples fit a host row, so they are converted there.
void moveStreamed16(Road& road) {
    build16BitTable(road.keys.bscale, road.keys.bzero, road.table16());
    road.handOver([&] {
        road.rows.read(road.state, road.nativeRow(), road.nativeRowBytes());
        if (road.state.result == noErr) convert16BitRow(road.nativeRow(), road.columns(), road.table16());
    });
}

// The converted rows of the road that waits for the file's end before the
// host sees a row, held in blocks that come as the rows do: what the header
// claims costs nothing until the file shows it.
class RowStore {
public:
    explicit RowStore(size_t rowBytes)
        : rowBytes_(rowBytes == 0 ? 1 : rowBytes),
          rowsPerBlock_(kBlockTarget / rowBytes_ == 0 ? 1 : kBlockTarget / rowBytes_) {}
    RowStore(const RowStore&) = delete;
    RowStore& operator=(const RowStore&) = delete;
    ~RowStore() {
        for (uint64_t b = 0; b < blockCount_; ++b) moduleFree(blocks_[b]);
    }

    // Room for the next row; null, with memFullErr, when there is no memory.
    unsigned char* append(PluginState& state) {
        const uint64_t block = rows_ / rowsPerBlock_;
        if (block == blockCount_ && !addBlock()) {
            recordError(state, memFullErr);
            return nullptr;
        }
        unsigned char* slot = blocks_[block] + (rows_ % rowsPerBlock_) * rowBytes_;
        ++rows_;
        return slot;
    }
    const unsigned char* row(uint64_t k) const { return blocks_[k / rowsPerBlock_] + (k % rowsPerBlock_) * rowBytes_; }

private:
    // 8 MiB blocks: few enough that their list stays small for the largest
    // image, large enough that a row always fits one.
    static constexpr size_t kBlockTarget = size_t{8} << 20;

    bool addBlock() {
        if (blockCount_ == blocks_.size()) {
            ModuleArray<unsigned char*> grown;
            if (!grown.allocate(nebuliteAllocSampleStore, blocks_.size() == 0 ? 16 : blocks_.size() * 2)) return false;
            for (uint64_t b = 0; b < blockCount_; ++b) grown[b] = blocks_[b];
            blocks_ = std::move(grown);
        }
        auto* block = static_cast<unsigned char*>(moduleAllocate(nebuliteAllocSampleStore, rowsPerBlock_ * rowBytes_));
        if (block == nullptr) return false;
        blocks_[blockCount_++] = block;
        return true;
    }

    size_t rowBytes_;
    size_t rowsPerBlock_;
    ModuleArray<unsigned char*> blocks_;
    uint64_t blockCount_ = 0;
    uint64_t rows_ = 0;
};

// Without the file's length a row missing at the end shows only when it is
// read, so every row is converted into the store before the host sees one.
void moveStored16(Road& road) {
    build16BitTable(road.keys.bscale, road.keys.bzero, road.table16());
    const size_t rowBytes = road.columns() * 2;
    RowStore store(rowBytes);
    road.readEvery(road.nativeRow(), road.nativeRowBytes(), [&](int16_t, unsigned char* row) {
        convert16BitRow(row, road.columns(), road.table16());
        if (unsigned char* slot = store.append(road.state)) std::memcpy(slot, row, rowBytes);
    });
    // A gzip file shows itself intact only at its end.
    road.rows.verify(road.state);
    if (road.state.result != noErr) return;
    uint64_t next = 0;
    road.handOver([&] { std::memcpy(road.nativeRow(), store.row(next++), rowBytes); }, Road::From::store);
}

WideRules wideRulesOf(const HeaderKeywords& keys) {
    WideRules rules;
    rules.isFloat = keys.isFloat();
    rules.sampleBytes = keys.fileSampleBytes();
    rules.bscale = keys.bscale;
    rules.bzero = keys.bzero;
    rules.blankSeen = keys.blankSeen && !rules.isFloat;
    rules.blankValue = keys.blank;
    return rules;
}

void moveStreamedWide(Road& road, double lo, double hi) {
    const WideRules rules = wideRulesOf(road.keys);
    unsigned char* fileRow = road.work.fileRow.data();
    road.handOver([&] {
        road.rows.read(road.state, fileRow, road.fileRowBytes());
        if (road.state.result == noErr) convertWideRow(fileRow, road.columns(), rules, lo, hi, road.nativeRow());
    });
}

// The first pass reads the file, not a copy of it: the data's range comes
// from it (unless the header gives one), and the host sees no row of a file
// that turns out short. The second starts over at the first row.
void moveTwoPassWide(Road& road) {
    const WideRules rules = wideRulesOf(road.keys);
    double lo = 0.0;
    double hi = 0.0;
    const bool fromHeader = headerRange(road.keys, lo, hi);
    WideRange range;
    // A tiled image's range comes from its tiles, quantized ones without
    // unquantizing every pixel: those of the file's planes the document takes.
    if (!road.rows.physicalRange(road.state, rules, road.filePlanes(), range))
        road.readEvery(road.work.fileRow.data(), road.fileRowBytes(), [&](int16_t, const unsigned char* row) {
            if (!fromHeader) widenRange(row, road.columns(), rules, range);
        });
    road.rows.verify(road.state);
    if (road.state.result != noErr) return;
    if (!fromHeader) {
        lo = range.lo;
        hi = range.hi;
    }
    // A gzip stream starts inflating again from the beginning.
    road.rows.restart(road.state);
    moveStreamedWide(road, lo, hi);
}

}  // namespace

void moveRows(PluginState& state, PixelRoad road, const HeaderKeywords& keys, RowSource& rows, RowBuffer& buffer,
              RoadWork& work, const RowPlan& plan, int32_t total, RoadFindings& findings) {
    if (state.result != noErr) return;
    Road r{state, keys, rows, buffer, work, plan, total};
    double lo = 0.0;
    double hi = 0.0;
    switch (road) {
        case PixelRoad::bytes: moveBytes(r); break;
        case PixelRoad::streamed16: moveStreamed16(r); break;
        case PixelRoad::stored16: moveStored16(r); break;
        case PixelRoad::streamedWide:
            headerRange(keys, lo, hi);
            moveStreamedWide(r, lo, hi);
            break;
        case PixelRoad::twoPassWide: moveTwoPassWide(r); break;
        case PixelRoad::mapped: moveMapped(r, findings.resolved); break;
        case PixelRoad::floats: moveFloats(r, findings.floatExponent); break;
        case PixelRoad::mosaic: moveMosaic(r, findings); break;
        // A file too short is refused before anything is read.
        case PixelRoad::cutShort: recordError(state, eofErr); break;
        case PixelRoad::none: break;
    }
    // Rows handed over from a gzip file count only once its checks pass.
    rows.verify(state);
}

}  // namespace nebulite
