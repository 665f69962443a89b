// The tile-compressed writer (export/tiled) into memory, and what it wrote
// read back through import/tiled. The first 8 bytes choose the image and
// the save: BITPIX; algorithm, float storage, dither, descriptor width and
// seed; width and height (1..64); planes and the size of the pieces the
// bytes arrive in; tile rows and columns (0: the default); the quantizing
// level. The rest are the samples, repeated to fill the data unit.
//
// Checks: the plan refuses exactly the documented combinations; the sink
// is only ever sought within what was written; the file is whole blocks,
// starts with the primary header and holds a table import/tiled describes
// with the image's geometry; the restored header is the image header card
// for card; both HDUs sum to minus zero (CHECKSUM); every tile decodes; lossless tiles (and float tiles kept in the
// gzip fallback) give back the very bytes, quantized ones the same NaNs and
// every other value within half a step of its own; the memory held never
// passes the planned bound and is all given back.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "codecs/big_endian.h"
#include "export/tiled/checksum.h"
#include "export/tiled/plan.h"
#include "export/tiled/tiled_writer.h"
#include "fuzz/codec_fuzz.h"
#include "header/header_reader.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"

using namespace nebulite;
using namespace nebulite::tiledsave;

namespace {

class MemorySink final : public ByteSink {
public:
    bool write(std::span<const uint8_t> bytes) override {
        if (position_ + bytes.size() > file.size()) file.resize(position_ + bytes.size());
        std::memcpy(file.data() + position_, bytes.data(), bytes.size());
        position_ += bytes.size();
        return true;
    }
    bool seek(uint64_t position) override {
        CODEC_CHECK(position <= file.size());
        position_ = position;
        return true;
    }
    std::vector<uint8_t> file;

private:
    uint64_t position_ = 0;
};

class CountingMemory final : public WriterMemory {
public:
    void* allocate(size_t bytes) override {
        ++outstanding;
        return std::malloc(bytes);
    }
    void release(void* block) override {
        --outstanding;
        std::free(block);
    }
    int64_t outstanding = 0;
};

void card(std::vector<char>& cards, const char* text) {
    char c[kCardBytes];
    std::memset(c, ' ', kCardBytes);
    std::memcpy(c, text, std::strlen(text));
    cards.insert(cards.end(), c, c + kCardBytes);
}

std::vector<char> imageHeader(const SaveParams& p) {
    std::vector<char> cards;
    char text[81];
    card(cards, "SIMPLE  =                    T");
    std::snprintf(text, sizeof text, "BITPIX  = %20d", p.bitpix);
    card(cards, text);
    std::snprintf(text, sizeof text, "NAXIS   = %20u", p.naxis);
    card(cards, text);
    const uint64_t axes[3] = {p.width, p.height, p.planes};
    for (uint32_t n = 0; n < p.naxis; ++n) {
        std::snprintf(text, sizeof text, "NAXIS%u  = %20llu", n + 1, static_cast<unsigned long long>(axes[n]));
        card(cards, text);
    }
    card(cards, "OBJECT  = 'fuzz    '           / kept as it stands");
    card(cards, "HISTORY   a kept card");
    card(cards, "END");
    return cards;
}

SaveError expectedRefusal(const SaveParams& p) {
    using codecs::Algorithm;
    const bool wideCodec = p.algorithm == Algorithm::rice || p.algorithm == Algorithm::hcompress;
    if (p.bitpix == 64 && wideCodec) return SaveError::algorithmRefused;
    if (p.bitpix < 0 && p.floats == FloatStorage::lossless && wideCodec) return SaveError::algorithmRefused;
    if (p.bitpix < 0 && p.floats == FloatStorage::quantized && p.algorithm == Algorithm::none)
        return SaveError::badQuantize;
    if ((p.tileRows == 0) != (p.tileColumns == 0)) return SaveError::badTile;
    return SaveError::none;
}

double sampleValue(const uint8_t* p, int32_t bitpix) {
    if (bitpix == -32) return std::bit_cast<float>(codecs::loadBE32(p));
    return std::bit_cast<double>(codecs::loadBE64(p));
}

// The written file read back as import/tiled reads it; `data` is the data
// unit that went in.
void readBack(const std::vector<uint8_t>& file, const Layout& L, const std::vector<char>& cards,
              const std::vector<uint8_t>& data) {
    CODEC_CHECK(file.size() % kBlockBytes == 0);
    MemorySource source(file);
    uint64_t primaryCards = 0;
    CODEC_CHECK(readHeader(source, HeaderStart::primary, [&](const char*, const CardPlace& place) {
                    primaryCards += place.afterEnd ? 0 : 1;
                    return true;
                }).end == HeaderEnd::complete);
    CODEC_CHECK(primaryCards == kPrimaryCards && source.position() == kBlockBytes);
    std::vector<char> table;
    CODEC_CHECK(readHeader(source, HeaderStart::extension, [&](const char* c, const CardPlace& place) {
                    if (!place.afterEnd && !place.isEnd) table.insert(table.end(), c, c + kCardBytes);
                    return true;
                }).end == HeaderEnd::complete);
    CODEC_CHECK(source.position() == L.tableStart);
    const auto count = static_cast<uint32_t>(table.size() / kCardBytes);
    CODEC_CHECK(count + 1 == L.headerCards);
    tiled::TiledImage image;
    CODEC_CHECK(tiled::parseTiledHeader(table.data(), count, image) == tiled::TiledHeaderError::none);
    CODEC_CHECK(image.bitpix == L.params.bitpix && image.rows == L.grid.count);
    CODEC_CHECK(L.tableStart + roundUpToBlock(image.dataBytes) == file.size());
    // Each HDU, header and data, sums to minus zero: CHECKSUM holds.
    OnesSum primarySum, tableSum;
    primarySum.add({file.data(), kBlockBytes}, 0);
    tableSum.add({file.data() + kBlockBytes, file.size() - kBlockBytes}, 0);
    CODEC_CHECK(primarySum.value() == 0xffffffffu && tableSum.value() == 0xffffffffu);

    std::vector<char> restored((count + 4) * size_t{kCardBytes});
    const int64_t n = tiled::restoreImageHeader(table.data(), count, restored.data(), count + 4);
    CODEC_CHECK(n >= 0 && static_cast<size_t>(n + 1) * kCardBytes == cards.size());
    CODEC_CHECK(std::memcmp(restored.data(), cards.data(), static_cast<size_t>(n) * kCardBytes) == 0);

    const uint8_t* unit = file.data() + L.tableStart;
    const std::span<const uint8_t> heap(unit + image.heapOffset, image.heapBytes);
    const tiled::TileWorkspaceSize ws = tiled::tileWorkspaceSize(image);
    std::vector<int64_t> wide(ws.wide);
    std::vector<int32_t> ints(ws.ints);
    std::vector<double> reals(ws.reals);
    std::vector<uint8_t> bytes(ws.bytes);
    const tiled::TileWorkspace work{wide, ints, reals, bytes, {}};
    const uint32_t s = L.sampleBytes;
    std::vector<uint8_t> tile(image.maxTilePixels * s);
    for (uint64_t row = 0; row < image.rows; ++row) {
        const std::span<const uint8_t> r(unit + row * image.rowBytes, image.rowBytes);
        auto array = [&](const tiled::HeapColumn& c) -> std::span<const uint8_t> {
            tiled::HeapArray a;
            const tiled::DescriptorCheck d = tiled::heapArray(r, c, image.heapBytes, a);
            CODEC_CHECK(d == tiled::DescriptorCheck::ok || d == tiled::DescriptorCheck::absent);
            return heap.subspan(a.offset, a.bytes);
        };
        const tiled::TileArrays arrays{r, array(image.compressed), array(image.gzipCompressed),
                                       array(image.uncompressed)};
        CODEC_CHECK(tiled::decodeTile(image, row, arrays, work, tile) == tiled::TileResult::ok);
        const TileRect rect = tileRect(L.params, L.grid, row);
        const bool kept = !L.quantized || !arrays.gzipped.empty();
        const double step = L.quantized ? tiled::scalarReal(r, image.zscaleColumn, 0.0) : 0.0;
        for (uint64_t y = 0; y < rect.rows; ++y) {
            const uint8_t* in = data.data() + ((rect.plane * L.params.height + rect.y + y) * L.params.width + rect.x) * s;
            const uint8_t* out = tile.data() + y * rect.columns * s;
            if (kept) {
                CODEC_CHECK(std::memcmp(in, out, static_cast<size_t>(rect.columns * s)) == 0);
                continue;
            }
            for (uint64_t x = 0; x < rect.columns; ++x) {
                const double a = sampleValue(in + x * s, L.params.bitpix);
                const double b = sampleValue(out + x * s, L.params.bitpix);
                CODEC_CHECK(std::isnan(a) == std::isnan(b));
                if (std::isnan(a)) continue;
                // The unscaled value is rounded once more to the sample's
                // type: a unit in its last place (a denormal's is absolute).
                const double ulp = L.params.bitpix == -32
                                       ? static_cast<double>(std::nextafter(static_cast<float>(std::fabs(b)), INFINITY) -
                                                             static_cast<float>(std::fabs(b)))
                                       : std::nextafter(std::fabs(b), INFINITY) - std::fabs(b);
                const double slack = 1e-6 * (std::fabs(a) + step) + ulp;
                CODEC_CHECK(std::fabs(a - b) <= 0.5 * step + slack);
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    constexpr int32_t kBitpix[6] = {8, 16, 32, 64, -32, -64};
    constexpr codecs::Algorithm kAlgorithms[5] = {codecs::Algorithm::rice, codecs::Algorithm::gzip1,
                                                  codecs::Algorithm::gzip2, codecs::Algorithm::hcompress,
                                                  codecs::Algorithm::none};
    SaveParams p;
    p.bitpix = kBitpix[data[0] % 6];
    p.algorithm = kAlgorithms[(data[1] & 7) % 5];
    p.floats = data[1] & 8 ? FloatStorage::lossless : FloatStorage::quantized;
    p.dither = static_cast<codecs::Dither>((data[1] >> 4) % 3);
    p.descriptors = data[1] & 64 ? DescriptorWidth::always64 : DescriptorWidth::automatic;
    p.width = data[2] % 64 + 1;
    p.height = data[3] % 64 + 1;
    p.planes = data[4] & 1 ? 3 : 1;
    p.naxis = p.planes == 3 ? 3 : 2;
    p.tileRows = data[5] % 70;
    p.tileColumns = data[6] % 70;
    p.quantizeLevel = static_cast<float>(static_cast<int8_t>(data[7])) / 4.0f;
    p.ditherSeed = data[1] & 128 ? kSeedFromFirstTile : data[7] % 100 + 1;
    const uint64_t chunk = static_cast<uint64_t>(data[4] >> 1) * 37 + 1;

    const std::vector<char> cards = imageHeader(p);
    const Plan plan = planSave(p, cards);
    const SaveError expected = expectedRefusal(p);
    CODEC_CHECK(plan.error == expected);
    if (plan.error != SaveError::none) return 0;
    const Layout& L = plan.layout;

    std::vector<uint8_t> unit(static_cast<size_t>(L.dataBytes));
    const std::span<const uint8_t> samples(data + 8, size - 8);
    for (size_t i = 0; i < unit.size(); ++i) unit[i] = samples.empty() ? 0 : samples[i % samples.size()];

    MemorySink sink;
    CountingMemory memory;
    {
        TiledWriter writer(L, cards, sink, memory);
        CODEC_CHECK(writer.begin() == SaveError::none);
        for (uint64_t done = 0; done < unit.size(); done += chunk) {
            const uint64_t n = std::min<uint64_t>(chunk, unit.size() - done);
            CODEC_CHECK(writer.add({unit.data() + done, static_cast<size_t>(n)}) == SaveError::none);
        }
        CODEC_CHECK(writer.finish() == SaveError::none);
        CODEC_CHECK(writer.stats().peakBytes <= L.work.total);
        CODEC_CHECK(writer.stats().fileBytes == sink.file.size());
        // One byte more is one too many.
        const uint8_t extra = 0;
        CODEC_CHECK(writer.add({&extra, 1}) == SaveError::sequence);
    }
    CODEC_CHECK(memory.outstanding == 0);
    readBack(sink.file, L, cards, unit);
    return 0;
}
