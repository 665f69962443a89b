// RICE_1 encoding. The stream is the tile's pixels (big-endian, BYTEPIX
// bytes each); tail: BYTEPIX and block size selector, short-room selector.
// Checks: the encoder fits riceMaxEncodedBytes and never writes past its
// output; decode(encode(x)) == x; with less room it either writes the same
// bytes or says `truncated`.
#include <vector>

#include "codecs/rice.h"
#include "codecs/rice_encode.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

namespace {

template <typename T>
void roundTrip(std::span<const uint8_t> stream, int blockSize, uint8_t shortSelector) {
    const std::vector<T> pixels = codec_fuzz::elementsOf<T>(stream);
    constexpr int bytePix = static_cast<int>(sizeof(T));
    const uint64_t bound = riceMaxEncodedBytes(pixels.size(), bytePix, blockSize);
    codec_fuzz::GuardedOutput out(static_cast<size_t>(bound));
    const Encoded r = riceEncode(std::span<const T>(pixels), blockSize, out.span());
    CODEC_CHECK(r.result == CodecResult::ok);
    CODEC_CHECK(r.bytes <= bound);
    CODEC_CHECK(out.guardIntact());
    std::vector<int32_t> back(pixels.size());
    CODEC_CHECK(riceDecode(out.written(r.bytes), bytePix, blockSize, back) == CodecResult::ok);
    for (size_t i = 0; i < pixels.size(); ++i) CODEC_CHECK(back[i] == static_cast<int32_t>(pixels[i]));

    const size_t room = codec_fuzz::shortRoom(r.bytes, shortSelector);
    codec_fuzz::GuardedOutput small(room);
    const Encoded s = riceEncode(std::span<const T>(pixels), blockSize, small.span());
    CODEC_CHECK(small.guardIntact());
    CODEC_CHECK(room >= r.bytes ? s.result == CodecResult::ok : s.result == CodecResult::truncated && s.bytes == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 2, in)) return 0;
    const int bytePixChoice = in.tail[0] % 3;
    const int blockChoice = (in.tail[0] >> 2) & 3;
    const int blockSize = blockChoice == 0 ? 16 : blockChoice == 3 ? 1 + (in.tail[0] >> 4) * 7 : 32;
    switch (bytePixChoice) {
        case 0: roundTrip<uint8_t>(in.stream, blockSize, in.tail[1]); break;
        case 1: roundTrip<int16_t>(in.stream, blockSize, in.tail[1]); break;
        default: roundTrip<int32_t>(in.stream, blockSize, in.tail[1]); break;
    }
    return 0;
}
