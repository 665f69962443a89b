#include "codecs/gzip_encode.h"

#include <bit>
#include <climits>
#include <type_traits>

#include <zlib.h>

namespace nebulite::codecs {

namespace {

// 15 window bits plus 16: a gzip wrapper, as cfitsio writes.
constexpr int kWindowBitsGzip = 15 + 16;
constexpr int kMemLevel = 8;
// Bytes handed to deflate at a time: big enough that the calls cost
// nothing, small enough for any stack.
constexpr size_t kChunkBytes = 4096;

// An element's bits, as an unsigned integer of its width.
template <typename T>
auto bitsOf(T v) {
    if constexpr (std::is_same_v<T, float>)
        return std::bit_cast<uint32_t>(v);
    else if constexpr (std::is_same_v<T, double>)
        return std::bit_cast<uint64_t>(v);
    else
        return static_cast<std::make_unsigned_t<T>>(v);
}

// Byte `b` (0 the most significant) of an element.
template <typename T>
uint8_t byteOf(T v, size_t b) {
    return static_cast<uint8_t>(bitsOf(v) >> (8 * (sizeof(T) - 1 - b)));
}

class Deflater {
public:
    Deflater(std::span<uint8_t> out, const DeflateMemory& memory) {
        z_.zalloc = memory.allocate;
        z_.zfree = memory.release;
        z_.opaque = memory.opaque;
        const int status = deflateInit2(&z_, kGzipTileLevel, Z_DEFLATED, kWindowBitsGzip, kMemLevel, Z_DEFAULT_STRATEGY);
        if (status != Z_OK) {
            result_ = status == Z_MEM_ERROR ? CodecResult::noMemory : CodecResult::unsupported;
            return;
        }
        open_ = true;
        z_.next_out = out.data();
        // Less room than given is harmless: a tile never comes near 4 GiB.
        z_.avail_out = out.size() > UINT_MAX ? UINT_MAX : static_cast<uInt>(out.size());
    }
    ~Deflater() {
        if (open_) deflateEnd(&z_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool ok() const { return result_ == CodecResult::ok; }

    // Hands deflate `n` bytes; the last call finishes the member.
    void feed(const uint8_t* bytes, size_t n, bool last) {
        if (!ok()) return;
        z_.next_in = const_cast<Bytef*>(bytes);  // zlib never writes to its input
        z_.avail_in = static_cast<uInt>(n);
        const int flush = last ? Z_FINISH : Z_NO_FLUSH;
        for (;;) {
            const int status = deflate(&z_, flush);
            if (status == Z_STREAM_END) return;
            if (status != Z_OK && status != Z_BUF_ERROR) {
                result_ = CodecResult::corrupt;  // zlib's own state broken: never expected
                return;
            }
            if (!last && z_.avail_in == 0) return;
            if (z_.avail_out == 0) {
                result_ = CodecResult::truncated;
                return;
            }
            if (status == Z_BUF_ERROR) {
                result_ = CodecResult::corrupt;
                return;
            }
        }
    }

    Encoded finish() const { return ok() ? Encoded{CodecResult::ok, z_.total_out} : Encoded{result_, 0}; }

private:
    z_stream z_{};
    bool open_ = false;
    CodecResult result_ = CodecResult::ok;
};

template <typename T>
Encoded encode(std::span<const T> pixels, Algorithm algorithm, std::span<uint8_t> out, const DeflateMemory& memory) {
    if (algorithm != Algorithm::gzip1 && algorithm != Algorithm::gzip2) return {CodecResult::unsupported, 0};
    // zlib counts in 32-bit units; no tile comes near that.
    if (pixels.size() > UINT_MAX / sizeof(T)) return {CodecResult::unsupported, 0};
    // Even an empty member takes 20 bytes; and zlib refuses a null output.
    if (out.empty()) return {CodecResult::truncated, 0};
    Deflater deflater(out, memory);
    if (!deflater.ok()) return deflater.finish();

    uint8_t chunk[kChunkBytes];
    size_t used = 0;
    const auto put = [&](uint8_t byte) {
        chunk[used++] = byte;
        if (used == kChunkBytes) {
            deflater.feed(chunk, used, false);
            used = 0;
        }
    };
    const size_t n = pixels.size();
    if (algorithm == Algorithm::gzip2) {
        // Significance planes: the most significant byte of every element first.
        for (size_t b = 0; b < sizeof(T) && deflater.ok(); ++b)
            for (size_t i = 0; i < n; ++i) put(byteOf(pixels[i], b));
    } else {
        for (size_t i = 0; i < n && deflater.ok(); ++i)
            for (size_t b = 0; b < sizeof(T); ++b) put(byteOf(pixels[i], b));
    }
    deflater.feed(chunk, used, true);
    return deflater.finish();
}

}  // namespace

Encoded gzipEncode(std::span<const uint8_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory) {
    return encode(pixels, algorithm, out, memory);
}
Encoded gzipEncode(std::span<const int16_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory) {
    return encode(pixels, algorithm, out, memory);
}
Encoded gzipEncode(std::span<const int32_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory) {
    return encode(pixels, algorithm, out, memory);
}
Encoded gzipEncode(std::span<const int64_t> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory) {
    return encode(pixels, algorithm, out, memory);
}
Encoded gzipEncode(std::span<const float> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory) {
    return encode(pixels, algorithm, out, memory);
}
Encoded gzipEncode(std::span<const double> pixels, Algorithm algorithm, std::span<uint8_t> out,
                   const DeflateMemory& memory) {
    return encode(pixels, algorithm, out, memory);
}

uint64_t gzipMaxEncodedBytes(uint64_t pixels, size_t elementBytes) {
    if (elementBytes == 0 || pixels > (uint64_t{1} << 60) / elementBytes) return UINT64_MAX;
    const uint64_t n = pixels * elementBytes;
    return n + n / 8 + n / 256 + 32;
}

}  // namespace nebulite::codecs
