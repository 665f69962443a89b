#include "codecs/raw_tile.h"

#include "codecs/big_endian.h"

namespace nebulite::codecs {

CodecResult bigEndianToInt32(std::span<const uint8_t> in, size_t elementBytes, std::span<int32_t> out) {
    if (elementBytes != 1 && elementBytes != 2 && elementBytes != 4) return CodecResult::unsupported;
    if (in.size() / elementBytes < out.size()) return CodecResult::truncated;
    if (in.size() != out.size() * elementBytes) return CodecResult::corrupt;
    const uint8_t* p = in.data();
    switch (elementBytes) {
        case 1:
            for (int32_t& v : out) v = *p++;
            break;
        case 2:
            for (int32_t& v : out) v = static_cast<int16_t>(loadBE16(p)), p += 2;
            break;
        default:
            for (int32_t& v : out) v = static_cast<int32_t>(loadBE32(p)), p += 4;
            break;
    }
    return CodecResult::ok;
}

CodecResult bigEndianToInt64(std::span<const uint8_t> in, std::span<int64_t> out) {
    if (in.size() / 8 < out.size()) return CodecResult::truncated;
    if (in.size() != out.size() * 8) return CodecResult::corrupt;
    const uint8_t* p = in.data();
    for (int64_t& v : out) v = static_cast<int64_t>(loadBE64(p)), p += 8;
    return CodecResult::ok;
}

}  // namespace nebulite::codecs
