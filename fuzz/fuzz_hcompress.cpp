// HCOMPRESS_1 tiles. The tile's size is the one the stream's own header
// states (rows at bytes 2-5, columns at 6-9), so the fuzzer reaches the
// decoder proper; sizes beyond the cap are skipped. Tail: one byte, whether
// to pass a wrong size instead (which must be refused as corrupt).
#include <vector>

#include "codecs/big_endian.h"
#include "codecs/hcompress.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 1, in)) return 0;
    if (in.stream.size() < 10) {
        std::vector<int64_t> out(16);
        std::vector<uint8_t> scratch(hcompressScratchBytes(4, 4));
        const CodecResult r = hcompressDecode(in.stream, 4, 4, out, scratch);
        CODEC_CHECK(r == CodecResult::truncated);
        return 0;
    }
    uint32_t rows = loadBE32(in.stream.data() + 2);
    uint32_t columns = loadBE32(in.stream.data() + 6);
    const bool wrongSize = (in.tail[0] & 1) != 0;
    if (wrongSize) rows = rows % 64 + 2, columns = columns % 64 + 2;
    if (rows == 0 || columns == 0 || uint64_t{rows} * columns > codec_fuzz::kMaxFuzzPixels) return 0;

    std::vector<int64_t> out(size_t{rows} * columns);
    std::vector<uint8_t> scratch(hcompressScratchBytes(rows, columns));
    const CodecResult r = hcompressDecode(in.stream, rows, columns, out, scratch);
    CODEC_CHECK(r == CodecResult::ok || r == CodecResult::truncated || r == CodecResult::corrupt);
    if (wrongSize && (rows != loadBE32(in.stream.data() + 2) || columns != loadBE32(in.stream.data() + 6)))
        CODEC_CHECK(r != CodecResult::ok);
    // Too little scratch is refused, never written past.
    std::vector<uint8_t> small(scratch.size() / 2);
    CODEC_CHECK(hcompressDecode(in.stream, rows, columns, out, small) == CodecResult::unsupported);
    return 0;
}
