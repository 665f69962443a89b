// GZIP_1 / GZIP_2 encoding. The stream is the tile's elements (big-endian);
// tail: element type (uint8, int16, int32, int64, float, double) and
// algorithm, short-room selector. Checks: the encoder fits
// gzipMaxEncodedBytes and never writes past its output; inflating and
// unshuffling gives back the elements' bytes exactly (NaN payloads
// included); with less room it writes the same or says `truncated`.
#include <vector>

#include "codecs/gzip_encode.h"
#include "codecs/gzip_tile.h"
#include "codecs/raw_encode.h"
#include "fuzz/codec_fuzz.h"

using namespace nebulite::codecs;

namespace {

template <typename T>
void roundTrip(std::span<const uint8_t> stream, Algorithm algorithm, uint8_t shortSelector) {
    const std::vector<T> pixels = codec_fuzz::elementsOf<T>(stream);
    const uint64_t bound = gzipMaxEncodedBytes(pixels.size(), sizeof(T));
    codec_fuzz::GuardedOutput out(static_cast<size_t>(bound));
    const Encoded r = gzipEncode(std::span<const T>(pixels), algorithm, out.span());
    CODEC_CHECK(r.result == CodecResult::ok);
    CODEC_CHECK(r.bytes <= bound);
    CODEC_CHECK(out.guardIntact());

    const size_t n = pixels.size() * sizeof(T);
    std::vector<uint8_t> inflated(n), whole(n), expected(n);
    const Inflated back = inflateTile(out.written(r.bytes), inflated);
    CODEC_CHECK(back.result == CodecResult::ok && back.bytes == n);
    if (algorithm == Algorithm::gzip2 && sizeof(T) > 1 && n > 0)
        CODEC_CHECK(unshuffleBytes(inflated, sizeof(T), whole) == CodecResult::ok);
    else
        whole = inflated;
    CODEC_CHECK(rawEncode(std::span<const T>(pixels), expected).result == CodecResult::ok);
    CODEC_CHECK(whole == expected);

    const size_t room = codec_fuzz::shortRoom(r.bytes, shortSelector);
    codec_fuzz::GuardedOutput small(room);
    const Encoded s = gzipEncode(std::span<const T>(pixels), algorithm, small.span());
    CODEC_CHECK(small.guardIntact());
    CODEC_CHECK(room >= r.bytes ? s.result == CodecResult::ok : s.result == CodecResult::truncated && s.bytes == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    codec_fuzz::Split in;
    if (!codec_fuzz::splitTail(data, size, 2, in)) return 0;
    const Algorithm algorithm = (in.tail[0] & 8) != 0 ? Algorithm::gzip2 : Algorithm::gzip1;
    switch (in.tail[0] % 6) {
        case 0: roundTrip<uint8_t>(in.stream, algorithm, in.tail[1]); break;
        case 1: roundTrip<int16_t>(in.stream, algorithm, in.tail[1]); break;
        case 2: roundTrip<int32_t>(in.stream, algorithm, in.tail[1]); break;
        case 3: roundTrip<int64_t>(in.stream, algorithm, in.tail[1]); break;
        case 4: roundTrip<float>(in.stream, algorithm, in.tail[1]); break;
        default: roundTrip<double>(in.stream, algorithm, in.tail[1]); break;
    }
    return 0;
}
