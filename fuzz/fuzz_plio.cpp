// PLIO_1 line lists. Tail: pixel count (16 bits). Besides memory safety: a
// list never yields more pixels than asked, and the rest stay zero.
#include <vector>

#include "codecs/plio.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 2, in)) return 0;
    const size_t pixels = codec_fuzz::tailU16(in.tail) % codec_fuzz::kMaxFuzzPixels;
    // One more element than asked, as a guard that must stay untouched.
    std::vector<int32_t> out(pixels + 1, 0x5a5a5a5a);
    const CodecResult r = plioDecode(in.stream, std::span<int32_t>(out.data(), pixels));
    CODEC_CHECK(r == CodecResult::ok || r == CodecResult::truncated || r == CodecResult::corrupt);
    CODEC_CHECK(out[pixels] == 0x5a5a5a5a);
    return 0;
}
