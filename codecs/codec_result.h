// What decoding one tile can end in. The codecs are pure: they know nothing
// of the host, so the caller maps these to its own result codes.
#pragma once

#include <cstdint>

namespace nebulite::codecs {

enum class CodecResult : uint8_t {
    ok,
    truncated,    // the stream ends before the tile's pixels do
    corrupt,      // the stream breaks the algorithm's rules
    unsupported,  // a parameter the codec does not handle (BYTEPIX 8, an odd block size)
    noMemory,     // zlib could not get its working memory
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
