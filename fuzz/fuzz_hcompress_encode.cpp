// HCOMPRESS_1 lossless encoding. The stream is the tile's pixels
// (big-endian); tail: pixel width (1, 2, 4 bytes), the row count, the
// short-room selector. The columns are as many as the pixels fill. Checks:
// the encoder fits hcompressMaxEncodedBytes and never writes past its
// output; decode(encode(x)) == x; with less room it writes the same or says
// `truncated`; too little scratch is refused.
#include <vector>

#include "codecs/hcompress.h"
#include "codecs/hcompress_encode.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

namespace {

template <typename T>
void roundTrip(std::span<const uint8_t> stream, uint32_t rowsWanted, uint8_t shortSelector) {
    std::vector<T> pixels = codec_fuzz::elementsOf<T>(stream);
    if (pixels.empty()) return;
    const uint32_t rows = rowsWanted > pixels.size() ? static_cast<uint32_t>(pixels.size()) : rowsWanted;
    const uint32_t columns = static_cast<uint32_t>(pixels.size() / rows);
    pixels.resize(size_t{rows} * columns);
    const uint64_t bound = hcompressMaxEncodedBytes(rows, columns, static_cast<int>(sizeof(T)));
    CODEC_CHECK(bound > 0);
    std::vector<uint8_t> scratch(hcompressEncodeScratchBytes(rows, columns));
    codec_fuzz::GuardedOutput out(static_cast<size_t>(bound));
    const Encoded r = hcompressEncode(std::span<const T>(pixels), rows, columns, out.span(), scratch);
    CODEC_CHECK(r.result == CodecResult::ok);
    CODEC_CHECK(r.bytes <= bound);
    CODEC_CHECK(out.guardIntact());

    std::vector<int64_t> back(pixels.size());
    std::vector<uint8_t> decodeScratch(hcompressScratchBytes(rows, columns));
    CODEC_CHECK(hcompressDecode(out.written(r.bytes), rows, columns, back, decodeScratch) == CodecResult::ok);
    for (size_t i = 0; i < pixels.size(); ++i) CODEC_CHECK(back[i] == static_cast<int64_t>(pixels[i]));

    const size_t room = codec_fuzz::shortRoom(r.bytes, shortSelector);
    codec_fuzz::GuardedOutput small(room);
    const Encoded s = hcompressEncode(std::span<const T>(pixels), rows, columns, small.span(), scratch);
    CODEC_CHECK(small.guardIntact());
    CODEC_CHECK(room >= r.bytes ? s.result == CodecResult::ok : s.result == CodecResult::truncated && s.bytes == 0);

    std::vector<uint8_t> tooLittle(scratch.size() - 1);
    CODEC_CHECK(hcompressEncode(std::span<const T>(pixels), rows, columns, out.span(), tooLittle).result ==
                CodecResult::unsupported);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 3, in)) return 0;
    const uint32_t rows = 1 + in.tail[1];
    switch (in.tail[0] % 3) {
        case 0: roundTrip<uint8_t>(in.stream, rows, in.tail[2]); break;
        case 1: roundTrip<int16_t>(in.stream, rows, in.tail[2]); break;
        default: roundTrip<int32_t>(in.stream, rows, in.tail[2]); break;
    }
    return 0;
}
