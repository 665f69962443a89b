// NOCOMPRESS: raw big-endian elements. The stream is the tile's elements;
// tail: element type, short-room selector. Checks: exactly
// rawMaxEncodedBytes written, read back by the raw decoders (integers) or
// bit for bit (floats); less room is `truncated`, nothing past it written.
#include <cstring>
#include <vector>

#include "codecs/big_endian.h"
#include "codecs/raw_encode.h"
#include "codecs/raw_tile.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

namespace {

template <typename T>
void roundTrip(std::span<const uint8_t> stream, uint8_t shortSelector) {
    const std::vector<T> pixels = codec_fuzz::elementsOf<T>(stream);
    const size_t n = static_cast<size_t>(rawMaxEncodedBytes(pixels.size(), sizeof(T)));
    codec_fuzz::GuardedOutput out(n);
    const Encoded r = rawEncode(std::span<const T>(pixels), out.span());
    CODEC_CHECK(r.result == CodecResult::ok && r.bytes == n);
    CODEC_CHECK(out.guardIntact());
    const std::span<const uint8_t> bytes = out.written(n);
    if constexpr (std::is_integral_v<T> && sizeof(T) < 8) {
        std::vector<int32_t> back(pixels.size());
        CODEC_CHECK(bigEndianToInt32(bytes, sizeof(T), back) == CodecResult::ok);
        for (size_t i = 0; i < pixels.size(); ++i) CODEC_CHECK(back[i] == static_cast<int32_t>(pixels[i]));
    } else {
        // The stream's own bytes: elements were read big-endian from it.
        CODEC_CHECK(n == 0 || std::memcmp(bytes.data(), stream.data(), n) == 0);
    }
    const size_t room = codec_fuzz::shortRoom(n, shortSelector);
    codec_fuzz::GuardedOutput small(room);
    const Encoded s = rawEncode(std::span<const T>(pixels), small.span());
    CODEC_CHECK(small.guardIntact());
    CODEC_CHECK(room >= n ? s.result == CodecResult::ok : s.result == CodecResult::truncated && s.bytes == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 2, in)) return 0;
    switch (in.tail[0] % 6) {
        case 0: roundTrip<uint8_t>(in.stream, in.tail[1]); break;
        case 1: roundTrip<int16_t>(in.stream, in.tail[1]); break;
        case 2: roundTrip<int32_t>(in.stream, in.tail[1]); break;
        case 3: roundTrip<int64_t>(in.stream, in.tail[1]); break;
        case 4: roundTrip<float>(in.stream, in.tail[1]); break;
        default: roundTrip<double>(in.stream, in.tail[1]); break;
    }
    return 0;
}
