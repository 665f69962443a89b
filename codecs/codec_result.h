// What decoding or encoding one tile can end in. The codecs are pure: they
// know nothing of the host, so the caller maps these to its own result codes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nebulite::codecs {

enum class CodecResult : uint8_t {
    ok,
    // Decoding: the stream ends before the tile's pixels do. Encoding: the
    // output span ends before the stream does (size it with the encoder's
    // ...MaxEncodedBytes and this never happens).
    truncated,
    corrupt,      // the stream breaks the algorithm's rules
    unsupported,  // a parameter the codec does not handle (BYTEPIX 8, an odd block size)
    noMemory,     // zlib could not get its working memory
};

// What an encoder returns: how it ended and the bytes it wrote to the front
// of its output span (0 unless `ok`; the span's other bytes may have been
// written too, never any beyond it).
struct Encoded {
    CodecResult result;
    size_t bytes;
};

// A short name for messages and test output.
constexpr const char* codecResultName(CodecResult r) {
    switch (r) {
        case CodecResult::ok: return "ok";
        case CodecResult::truncated: return "truncated";
        case CodecResult::corrupt: return "corrupt";
        case CodecResult::unsupported: return "unsupported";
        case CodecResult::noMemory: return "noMemory";
    }
    return "?";
}

}  // namespace nebulite::codecs
