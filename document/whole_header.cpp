#include "document/whole_header.h"

#include <cstring>

#include "header/fits_units.h"

namespace nebulite {

void writeWholeHeaderPreamble(uint32_t cards, uint8_t (&out)[kWholeHeaderPreambleBytes]) {
    std::memcpy(out, kWholeHeaderTag, 4);
    out[4] = static_cast<uint8_t>(kWholeHeaderVersion >> 8);
    out[5] = static_cast<uint8_t>(kWholeHeaderVersion & 0xFF);
    for (int i = 0; i < 4; ++i) out[6 + i] = static_cast<uint8_t>(cards >> (24 - 8 * i));
}

std::optional<WholeHeaderCards> readWholeHeader(const uint8_t* bytes, size_t size) {
    if (bytes == nullptr || size < kWholeHeaderPreambleBytes) return std::nullopt;
    if (std::memcmp(bytes, kWholeHeaderTag, 4) != 0) return std::nullopt;
    if ((uint32_t{bytes[4]} << 8 | bytes[5]) != kWholeHeaderVersion) return std::nullopt;
    uint32_t count = 0;
    for (int i = 0; i < 4; ++i) count = count << 8 | bytes[6 + i];
    if (count == 0 || count > kMaxHeaderCards) return std::nullopt;
    if (size - kWholeHeaderPreambleBytes != uint64_t{count} * kCardBytes) return std::nullopt;
    return WholeHeaderCards{reinterpret_cast<const char*>(bytes + kWholeHeaderPreambleBytes), count};
}

OSErr addWholeHeaderRecord(PluginState& state, const char* text, uint32_t cards) {
    const FormatRecord& record = *state.formatRecord;
    auto size = checkedAdd(kWholeHeaderPreambleBytes, uint64_t{cards} * kCardBytes);
    if (!size) return memFullErr;
    Handle handle = handleNew(record.handleProcs, static_cast<int32_t>(*size));
    if (handle == nullptr) return memFullErr;
    OSErr result = memFullErr;
    if (Ptr address = handleLock(record.handleProcs, handle)) {
        uint8_t preamble[kWholeHeaderPreambleBytes];
        writeWholeHeaderPreamble(cards, preamble);
        std::memcpy(address, preamble, sizeof preamble);
        std::memcpy(address + sizeof preamble, text, size_t{cards} * kCardBytes);
        result = resourceAdd(record.resourceProcs, kWholeHeaderResourceType, handle);
        handleUnlock(record.handleProcs, handle);
    }
    handleDispose(record.handleProcs, handle);
    return result;
}

}  // namespace nebulite
