// The tiled-image table: a header's cards (the input, cut into 80-byte cards
// up to END) described and its image header restored; then, from the next
// block boundary, its data unit: descriptors read and every row decoded
// into samples. Besides memory safety: a header that parses describes tiles
// whose count is the row count and whose sizes add up to the image, every
// descriptor that checks lies in the heap, decoding writes only its tile,
// and the restored header fits count + 4 cards. The range a tile gives
// (tile_range.h: quantized tiles from their extreme integers) fails as
// decoding fails and otherwise equals the range of the decoded samples of
// the same planes, under scalings that keep, reverse and overflow them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/codec_fuzz.h"
#include "import/sample_conversion.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tile_range.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"

using namespace nebulite::tiled;

namespace {

// The tile's range from widenByTile against widenRange over the samples
// decodeTile gave (`decoded`, ended with `result`), for some planes of the
// tile and a scaling that the row picks.
void checkRange(const TiledImage& image, uint64_t row, const TileArrays& arrays, const TileWorkspace& work,
                std::span<const uint8_t> decoded, TileResult result) {
    nebulite::WideRules rules;
    rules.isFloat = image.bitpix < 0;
    rules.sampleBytes = static_cast<int>(sampleBytes(image));
    constexpr double kScales[3][2] = {{1.0, 0.0}, {-2.5, 7.0}, {1e300, -1e300}};
    rules.bscale = kScales[row % 3][0];
    rules.bzero = kScales[row % 3][1];
    rules.blankSeen = image.bitpix > 0 && image.blankKeyword;
    rules.blankValue = image.blank;
    if (!tileRangeApplies(image, rules)) return;
    int64_t start[kMaxTiledAxes], size[kMaxTiledAxes];
    const uint64_t n = tileGeometry(image, row, start, size);
    // Every plane, or the tile's last plane alone.
    const int64_t z0 = image.naxis > 2 ? start[2] : 0;
    const int64_t depth = image.naxis > 2 ? size[2] : 1;
    const uint32_t all[3] = {0, 1, 2};
    const uint32_t last[1] = {static_cast<uint32_t>(z0 + depth - 1)};
    const std::span<const uint32_t> planes =
        row % 2 == 0 ? std::span<const uint32_t>(all) : std::span<const uint32_t>(last);
    std::vector<uint8_t> samples(decoded.size() + 1, 0x5a);
    nebulite::WideRange range;
    const TileResult r = widenByTile(image, row, arrays, work, std::span<uint8_t>(samples.data(), decoded.size()),
                                     planes, rules, range);
    CODEC_CHECK(samples.back() == 0x5a);
    if (!tileInPlanes(image, row, planes)) {
        CODEC_CHECK(r == TileResult::ok && range.lo > range.hi);
        return;
    }
    CODEC_CHECK(r == result);
    if (r != TileResult::ok) return;
    nebulite::WideRange expected;
    const size_t planePixels = static_cast<size_t>(size[0] * (image.naxis > 1 ? size[1] : 1));
    const size_t bytes = sampleBytes(image);
    for (const uint32_t p : planes)
        if (p >= z0 && p < z0 + depth && (static_cast<size_t>(p - z0) + 1) * planePixels <= n)
            nebulite::widenRange(decoded.data() + static_cast<size_t>(p - z0) * planePixels * bytes, planePixels,
                                 rules, expected);
    CODEC_CHECK(range.lo == expected.lo && range.hi == expected.hi);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The cards end at the first END card or the input's last whole card;
    // the bytes after END (to the end) are the main table.
    const size_t whole = size / 80;
    if (whole > 2000) return 0;
    std::vector<char> cards;
    size_t count = 0;
    size_t tableStart = size;
    for (; count < whole; ++count) {
        const char* card = reinterpret_cast<const char*>(data) + count * 80;
        if (std::memcmp(card, "END     ", 8) == 0) {
            tableStart = ((count + 1) * 80 + 2879) / 2880 * 2880;
            break;
        }
        cards.insert(cards.end(), card, card + 80);
    }
    TiledImage image;
    const TiledHeaderError e = parseTiledHeader(cards.data(), static_cast<uint32_t>(count), image);
    std::vector<char> restored((count + 4) * 80 + 1, 'x');
    const int64_t written = restoreImageHeader(cards.data(), static_cast<uint32_t>(count), restored.data(),
                                               static_cast<uint32_t>(count + 4));
    CODEC_CHECK(written >= 0 && static_cast<size_t>(written) <= count + 4);
    CODEC_CHECK(restored.back() == 'x');
    if (e != TiledHeaderError::none) return 0;

    CODEC_CHECK(image.tileCount == image.rows);
    CODEC_CHECK(image.heapOffset + image.heapBytes == image.dataBytes);
    // Tile sizes add up to the image (when it is small enough to count).
    uint64_t pixels = 1;
    for (uint32_t n = 0; n < image.naxis; ++n) pixels *= static_cast<uint64_t>(image.axes[n] > 4096 ? 0 : image.axes[n]);
    if (pixels > 0 && image.tileCount <= 4096) {
        uint64_t sum = 0;
        int64_t start[kMaxTiledAxes], extent[kMaxTiledAxes];
        for (uint64_t row = 0; row < image.tileCount; ++row) {
            const uint64_t p = tileGeometry(image, row, start, extent);
            CODEC_CHECK(p <= image.maxTilePixels);
            sum += p;
        }
        CODEC_CHECK(sum == pixels);
    }
    // The rows, when the input holds the whole data unit and the tiles are
    // small enough for a fuzzing run.
    const size_t unitBytes = size - std::min(size, tableStart);
    if (image.dataBytes > unitBytes || image.rows > 4096 || image.maxTilePixels > (uint64_t{1} << 16)) return 0;
    if (!plausibleTiling(image)) return 0;
    const uint8_t* unit = data + tableStart;
    const TileWorkspaceSize need = tileWorkspaceSize(image);
    std::vector<int64_t> wide(need.wide);
    std::vector<int32_t> ints(need.ints);
    std::vector<double> reals(need.reals);
    std::vector<uint8_t> scratch(need.bytes);
    const TileWorkspace work{wide, ints, reals, scratch};
    const size_t tileBytes = static_cast<size_t>(image.maxTilePixels) * sampleBytes(image);
    std::vector<uint8_t> out(tileBytes + 1, 0x5a);
    for (uint64_t row = 0; row < image.rows; ++row) {
        const std::span<const uint8_t> bytes(unit + row * image.rowBytes, image.rowBytes);
        TileArrays arrays{bytes, {}, {}, {}};
        std::span<const uint8_t>* targets[3] = {&arrays.compressed, &arrays.gzipped, &arrays.uncompressed};
        const HeapColumn* columns[3] = {&image.compressed, &image.gzipCompressed, &image.uncompressed};
        bool usable = true;
        for (int k = 0; k < 3; ++k) {
            HeapArray a;
            const DescriptorCheck check = heapArray(bytes, *columns[k], image.heapBytes, a);
            if (check == DescriptorCheck::ok) {
                CODEC_CHECK(a.bytes <= image.heapBytes && a.offset <= image.heapBytes - a.bytes);
                *targets[k] = std::span<const uint8_t>(unit + image.heapOffset + a.offset, a.bytes);
            } else if (check != DescriptorCheck::absent) {
                usable = false;
            }
        }
        if (!usable) continue;
        const TileResult r = decodeTile(image, row, arrays, work, std::span<uint8_t>(out.data(), tileBytes));
        CODEC_CHECK(r <= TileResult::ratio);
        CODEC_CHECK(out[tileBytes] == 0x5a);
        checkRange(image, row, arrays, work, std::span<const uint8_t>(out.data(), tileBytes), r);
    }
    return 0;
}
