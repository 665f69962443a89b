// RICE_1 tiles. Tail: BYTEPIX selector, block size selector, pixel count
// (16 bits). Besides memory safety: a stream that decodes never describes
// more pixels than riceMaxPixels allows for its length (the bound the tile
// reader sizes buffers by), the 16-bit and 32-bit outputs agree, and
// decoding fewer pixels gives the same prefix.
#include <vector>

#include "codecs/rice.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 4, in)) return 0;
    constexpr int kBytePix[8] = {1, 2, 4, 1, 2, 4, 8, 3};
    const int bytePix = kBytePix[in.tail[0] & 7];
    const int blockSize = (in.tail[1] & 3) == 0 ? 16 : (in.tail[1] & 3) == 3 ? 1 + (in.tail[1] >> 2) : 32;
    const size_t pixels = codec_fuzz::tailU16(in.tail + 2) % codec_fuzz::kMaxFuzzPixels;

    std::vector<int32_t> out(pixels);
    const CodecResult r = riceDecode(in.stream, bytePix, blockSize, out);
    if (bytePix == 8 || bytePix == 3) {
        CODEC_CHECK(r == CodecResult::unsupported);
        return 0;
    }
    CODEC_CHECK(r == CodecResult::ok || r == CodecResult::truncated || r == CodecResult::corrupt);
    if (r != CodecResult::ok || pixels == 0) return 0;
    CODEC_CHECK(pixels <= riceMaxPixels(in.stream.size(), bytePix, blockSize));
    for (int32_t v : out) {
        if (bytePix == 1) CODEC_CHECK(v >= 0 && v <= 255);
        if (bytePix == 2) CODEC_CHECK(v >= -32768 && v <= 32767);
    }
    // The 16-bit road gives the same values.
    if (bytePix != 4) {
        std::vector<int16_t> narrow(pixels);
        CODEC_CHECK(riceDecode(in.stream, bytePix, blockSize, narrow) == CodecResult::ok);
        for (size_t i = 0; i < pixels; ++i) CODEC_CHECK(narrow[i] == out[i]);
    }
    std::vector<int32_t> shorter(pixels - 1);
    CODEC_CHECK(riceDecode(in.stream, bytePix, blockSize, shorter) == CodecResult::ok);
    for (size_t i = 0; i + 1 < pixels; ++i) CODEC_CHECK(shorter[i] == out[i]);
    return 0;
}
