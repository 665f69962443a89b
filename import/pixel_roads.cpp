#include "import/pixel_roads.h"

#include <cstddef>
#include <cstring>

#include "shell/geometry.h"

namespace nebulite {

PixelRoad choosePixelRoad(int16_t fileSampleBytes, DataExtent extent, bool headerRangeUsable) {
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

bool allocateRoadWork(PluginState& state, PixelRoad road, const HeaderKeywords& keys, int32_t columns,
                      RoadWork& work) {
    if (state.result != noErr) return false;
    bool had = true;
    switch (road) {
        case PixelRoad::streamed16:
        case PixelRoad::stored16: had = work.table16.allocate(nebuliteAllocOther, 65536); break;
        case PixelRoad::streamedWide:
        case PixelRoad::twoPassWide:
            had = work.fileRow.allocate(nebuliteAllocRowBlock,
                                        static_cast<uint64_t>(columns < 0 ? 0 : columns) *
                                            static_cast<uint64_t>(keys.fileSampleBytes() < 1 ? 1 : keys.fileSampleBytes()));
            break;
        default: break;
    }
    return had || recordError(state, memFullErr);
}

namespace {

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

// What every road works with.
struct Road {
    PluginState& state;
    const HeaderKeywords& keys;
    RowSource& rows;
    RowBuffer& buffer;
    RoadWork& work;
    int16_t planes;
    int32_t total;

    unsigned char* hostRow() const { return reinterpret_cast<unsigned char*>(buffer.data()); }
    size_t columns() const { return static_cast<size_t>(imageSizeOf(*state.formatRecord).columns); }
    int64_t fileRowBytes() const { return static_cast<int64_t>(columns()) * keys.fileSampleBytes(); }
    std::span<uint16_t, 65536> table16() const { return std::span<uint16_t, 65536>(work.table16.data(), 65536); }

    // Every row of every plane the host was told of: `fill` puts the row
    // into the host buffer, then the host takes it.
    template <typename Fill>
    void handOver(Fill fill) {
        walkRows(state, planes, total, [&](int16_t, int32_t) { fill(); }, [](int16_t, int32_t) {});
    }

    // Every row read into `into` and shown to `take`, none handed over.
    template <typename Take>
    void readEvery(unsigned char* into, int64_t rowBytes, Take take) {
        const int32_t count = imageSizeOf(*state.formatRecord).rows * planes;
        for (int32_t k = 0; state.result == noErr && k < count; ++k) {
            rows.read(state, into, rowBytes);
            if (state.result == noErr) take(into);
        }
    }

    WideRules wideRules() const {
        WideRules rules;
        rules.isFloat = keys.isFloat();
        rules.sampleBytes = keys.fileSampleBytes();
        rules.bscale = keys.bscale;
        rules.bzero = keys.bzero;
        rules.blankSeen = keys.blankSeen && !rules.isFloat;
        rules.blankValue = keys.blank;
        return rules;
    }
};

void moveBytes(Road& road) {
    road.handOver([&] { road.rows.read(road.state, road.hostRow(), road.buffer.rowBytes()); });
}

// The file's 2-byte samples fit the host buffer, so they are converted there.
void moveStreamed16(Road& road) {
    build16BitTable(road.keys.bscale, road.keys.bzero, road.table16());
    road.handOver([&] {
        road.rows.read(road.state, road.hostRow(), road.buffer.rowBytes());
        if (road.state.result == noErr) convert16BitRow(road.hostRow(), road.columns(), road.table16());
    });
}

// Without the file's length a row missing at the end shows only when it is
// read, so every row is converted into the store before the host sees one.
void moveStored16(Road& road) {
    build16BitTable(road.keys.bscale, road.keys.bzero, road.table16());
    const size_t rowBytes = road.columns() * 2;
    RowStore store(rowBytes);
    road.readEvery(road.hostRow(), road.buffer.rowBytes(), [&](unsigned char* row) {
        convert16BitRow(row, road.columns(), road.table16());
        if (unsigned char* slot = store.append(road.state)) std::memcpy(slot, row, rowBytes);
    });
    // A gzip file shows itself intact only at its end.
    road.rows.verify(road.state);
    if (road.state.result != noErr) return;
    uint64_t next = 0;
    road.handOver([&] { std::memcpy(road.hostRow(), store.row(next++), rowBytes); });
}

void moveStreamedWide(Road& road, double lo, double hi) {
    const WideRules rules = road.wideRules();
    unsigned char* fileRow = road.work.fileRow.data();
    road.handOver([&] {
        road.rows.read(road.state, fileRow, road.fileRowBytes());
        if (road.state.result == noErr) convertWideRow(fileRow, road.columns(), rules, lo, hi, road.hostRow());
    });
}

// The first pass reads the file, not a copy of it: the data's range comes
// from it (unless the header gives one), and the host sees no row of a file
// that turns out short. The second starts over at the first row.
void moveTwoPassWide(Road& road) {
    const WideRules rules = road.wideRules();
    double lo = 0.0;
    double hi = 0.0;
    const bool fromHeader = headerRange(road.keys, lo, hi);
    WideRange range;
    // A tiled image's range comes from its tiles, quantized ones without
    // unquantizing every pixel; the rows of the first planes are read.
    const uint32_t planes[3] = {0, 1, 2};
    if (!road.rows.physicalRange(road.state, rules, std::span(planes, static_cast<size_t>(road.planes)), range))
        road.readEvery(road.work.fileRow.data(), road.fileRowBytes(), [&](const unsigned char* row) {
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
              RoadWork& work, int16_t planes, int32_t total) {
    if (state.result != noErr) return;
    Road r{state, keys, rows, buffer, work, planes, total};
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
        // A file too short is refused before anything is read.
        case PixelRoad::cutShort: recordError(state, eofErr); break;
        case PixelRoad::none: break;
    }
    // Rows handed over from a gzip file count only once its checks pass.
    rows.verify(state);
}

}  // namespace nebulite
