#include "codecs/gzip_tile.h"

#include <climits>
#include <cstring>

#include <zlib.h>

namespace nebulite::codecs {

namespace {

// 15 window bits plus 32: zlib takes a gzip header (what fpack and astropy
// write) or a zlib header, whichever the stream starts with.
constexpr int kWindowBitsAutoDetect = 15 + 32;

}  // namespace

Inflated inflateTile(std::span<const uint8_t> in, std::span<uint8_t> out, const InflateMemory& memory) {
    // zlib counts in 32-bit units; no tile comes near that.
    if (in.size() > UINT_MAX || out.size() > UINT_MAX) return {CodecResult::unsupported, 0};
    if (in.empty()) return {CodecResult::truncated, 0};
    z_stream z{};
    z.zalloc = memory.allocate;
    z.zfree = memory.release;
    z.opaque = memory.opaque;
    if (inflateInit2(&z, kWindowBitsAutoDetect) != Z_OK) return {CodecResult::noMemory, 0};
    // zlib's interface is not const-correct; it never writes to the input.
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    // Once `out` is full, one spare byte of room shows whether the stream
    // goes on: a tile longer than its tiling says is corrupt.
    uint8_t spare = 0;
    bool onSpare = false;
    // An empty tile (an empty member) has no room at all, and zlib refuses a
    // null output pointer: it starts on the spare byte.
    if (out.empty()) {
        onSpare = true;
        z.next_out = &spare;
        z.avail_out = 1;
    }
    CodecResult result = CodecResult::ok;
    for (;;) {
        const int status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_STREAM_END) break;
        if ((status == Z_OK || status == Z_BUF_ERROR) && z.avail_out == 0 && !onSpare) {
            onSpare = true;
            z.next_out = &spare;
            z.avail_out = 1;
            continue;
        }
        if (status == Z_OK && z.avail_out != 0) continue;
        if (status == Z_BUF_ERROR && z.avail_out != 0)
            result = z.avail_in == 0 ? CodecResult::truncated : CodecResult::corrupt;
        else if (status == Z_MEM_ERROR)
            result = CodecResult::noMemory;
        else
            result = CodecResult::corrupt;
        break;
    }
    if (onSpare && z.avail_out == 0) result = CodecResult::corrupt;
    const size_t produced =
        result != CodecResult::ok ? 0 : onSpare ? out.size() : out.size() - z.avail_out;
    inflateEnd(&z);
    return {result, produced};
}

CodecResult unshuffleBytes(std::span<const uint8_t> in, size_t elementBytes, std::span<uint8_t> out) {
    if (elementBytes != 1 && elementBytes != 2 && elementBytes != 4 && elementBytes != 8)
        return CodecResult::unsupported;
    if (in.size() != out.size() || in.size() % elementBytes != 0) return CodecResult::corrupt;
    const size_t n = in.size() / elementBytes;
    for (size_t b = 0; b < elementBytes; ++b) {
        const uint8_t* plane = in.data() + b * n;
        uint8_t* dst = out.data() + b;
        for (size_t i = 0; i < n; ++i) dst[i * elementBytes] = plane[i];
    }
    return CodecResult::ok;
}

}  // namespace nebulite::codecs
