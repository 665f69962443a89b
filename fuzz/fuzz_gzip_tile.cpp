// GZIP_1 / GZIP_2 tiles and the GZIP_COMPRESSED_DATA fallback. Tail: pixel
// count (16 bits) and the room given per pixel (1, 2, 4 or 8 bytes).
// Besides memory safety: inflating never writes past its output, a tile
// that inflates is within deflate's own ratio limit, and unshuffling keeps
// every byte.
#include <algorithm>
#include <vector>

#include "codecs/algorithm.h"
#include "codecs/gzip_tile.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 3, in)) return 0;
    const size_t pixels = codec_fuzz::tailU16(in.tail) % codec_fuzz::kMaxFuzzPixels;
    const size_t room = size_t{1} << (in.tail[2] & 3);
    std::vector<uint8_t> out(pixels * room + 1, 0xa5);
    const Inflated r = inflateTile(in.stream, std::span<uint8_t>(out.data(), pixels * room));
    CODEC_CHECK(out.back() == 0xa5);
    CODEC_CHECK(r.result == CodecResult::ok || r.result == CodecResult::truncated ||
                r.result == CodecResult::corrupt);
    if (r.result != CodecResult::ok) return 0;
    CODEC_CHECK(r.bytes <= pixels * room);
    CODEC_CHECK(in.stream.size() * kMaxDeflateRatio + kGzipMemberOverhead * kMaxDeflateRatio >= r.bytes);
    const size_t element = elementBytesOf(r.bytes, pixels);
    if (element == 0) return 0;
    std::vector<uint8_t> whole(r.bytes);
    CODEC_CHECK(unshuffleBytes(std::span<const uint8_t>(out.data(), r.bytes), element, whole) == CodecResult::ok);
    // The same bytes, only moved.
    std::vector<uint8_t> a(out.begin(), out.begin() + static_cast<ptrdiff_t>(r.bytes)), b = whole;
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    CODEC_CHECK(a == b);
    return 0;
}
