// The tiled-image header: a table header's cards (the input, cut into 80-byte
// cards) described, its descriptors read from the table bytes that follow
// the cards, and the image header restored. Besides memory safety: a header
// that parses describes tiles whose count is the row count and whose sizes
// add up to the image, every descriptor that checks lies in the heap, and
// the restored header fits count + 4 cards.
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/codec_fuzz.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tile_table.h"
#include "import/tiled/tiled_header.h"

using namespace nebulite::tiled;

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
            tableStart = (count + 1) * 80;
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
    // Descriptors of the rows the input holds.
    const size_t tableBytes = size - std::min(size, tableStart);
    if (image.rowBytes == 0 || image.rowBytes > tableBytes) return 0;
    const uint8_t* table = data + tableStart;
    for (uint64_t row = 0; row < image.rows && (row + 1) * image.rowBytes <= tableBytes; ++row) {
        const std::span<const uint8_t> bytes(table + row * image.rowBytes, image.rowBytes);
        for (const HeapColumn* column : {&image.compressed, &image.gzipCompressed, &image.uncompressed}) {
            HeapArray a;
            if (heapArray(bytes, *column, image.heapBytes, a) == DescriptorCheck::ok)
                CODEC_CHECK(a.bytes <= image.heapBytes && a.offset <= image.heapBytes - a.bytes);
        }
        (void)scalarReal(bytes, image.zscaleColumn, 1.0);
        (void)scalarInteger(bytes, image.zblankColumn, 0);
    }
    return 0;
}
