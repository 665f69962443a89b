#include "document/history.h"

#include <cstring>

#include "header/card_buffer.h"
#include "shell/host_services.h"
#include "shell/pascal_string.h"
#include "header/fits_units.h"

namespace nebulite {

// The record format is the one documents already carry: the card is taken
// as a Pascal string whose length byte is the card's own first character.
// So a record holds columns 2 to L + 1 of the card (L = that character's
// code), with a 0 at content byte 80; cards from 'O' on come back whole,
// lower ones lose their tail. It cannot change without losing the headers
// of existing documents.
size_t historyRecordOf(const char* card, uint8_t (&out)[kMaxHistoryRecordBytes]) {
    // The work area is the card, its closing 0, and zeros beyond, so a
    // length byte above 80 never reads past it.
    PascalString work;
    std::memset(work.bytes, 0, sizeof work.bytes);
    std::memcpy(work.bytes, card, kCardBytes);
    const size_t length = work.length();
    std::memcpy(out, work.text(), length);
    return length;
}

OSErr addHistoryRecords(PluginState& state, const char* text, uint32_t cards) {
    const FormatRecord& record = *state.formatRecord;
    if (!resourceSuiteUsable(record.resourceProcs)) return noErr;
    const int16_t before = resourceCount(record.resourceProcs, kHistoryResourceType);
    OSErr failure = noErr;
    for (uint32_t i = 0; i < cards && failure == noErr; ++i) {
        PascalString work;
        std::memset(work.bytes, 0, sizeof work.bytes);
        std::memcpy(work.bytes, text + size_t{i} * kCardBytes, kCardBytes);
        Handle handle = handleFromPString(record.handleProcs, work);
        if (handle == nullptr) {
            failure = memFullErr;
            break;
        }
        handleLock(record.handleProcs, handle);
        failure = resourceAdd(record.resourceProcs, kHistoryResourceType, handle);
        handleUnlock(record.handleProcs, handle);
        handleDispose(record.handleProcs, handle);
    }
    if (failure == noErr) return noErr;
    for (int16_t n = resourceCount(record.resourceProcs, kHistoryResourceType); n > before; --n)
        resourceDelete(record.resourceProcs, kHistoryResourceType, n);
    return failure;
}

bool historyAgrees(PluginState& state, const char* text, uint32_t cards) {
    const FormatRecord& record = *state.formatRecord;
    const int16_t count = resourceCount(record.resourceProcs, kHistoryResourceType);
    char blank[kCardBytes];
    std::memset(blank, ' ', kCardBytes);
    for (int16_t i = 0; i < count; ++i) {
        auto index = static_cast<uint32_t>(i);
        uint8_t expected[kMaxHistoryRecordBytes];
        size_t length = historyRecordOf(index < cards ? text + size_t{index} * kCardBytes : blank, expected);
        Handle handle = resourceGet(record.resourceProcs, kHistoryResourceType, static_cast<int16_t>(i + 1));
        if (handle == nullptr) return false;
        Ptr address = handleLock(record.handleProcs, handle);
        int32_t size = handleSize(record.handleProcs, handle);
        bool same = address != nullptr && size >= 0 && static_cast<size_t>(size) == length &&
                    std::memcmp(address, expected, length) == 0;
        handleUnlock(record.handleProcs, handle);
        if (!same) return false;
    }
    return true;
}

bool rebuildFromHistory(PluginState& state, CardBuffer& header) {
    const FormatRecord& record = *state.formatRecord;
    int16_t count = resourceCount(record.resourceProcs, kHistoryResourceType);
    if (count < 0) count = 0;
    header.blank();
    // Every record is one card, so the header is the records in whole blocks.
    // Sizing it from the count up front holds records that lack the size
    // keywords as well as those that have them.
    uint64_t length = blockedCardBytes(uint64_t{static_cast<uint16_t>(count)});
    if (length < kBlockBytes) length = kBlockBytes;
    bool roomy = length == header.size() || header.resize(0, static_cast<uint32_t>(length));
    if (!roomy) {
        state.headerLength = header.size();
        header.headerBlocks = static_cast<int32_t>(blocksFor(header.size()));
        return false;
    }
    state.headerLength = static_cast<uint32_t>(length);
    for (int16_t i = 0; i < count; ++i) {
        PascalString work;
        std::memset(work.bytes, ' ', 255);
        work.bytes[255] = 0;
        Handle handle = resourceGet(record.resourceProcs, kHistoryResourceType, static_cast<int16_t>(i + 1));
        pstringFromHandle(record.handleProcs, handle, work);
        for (size_t k = 0; k < kCardBytes; ++k)
            if (work.bytes[k] == 0) work.bytes[k] = ' ';
        std::memcpy(header.cardAt(static_cast<uint32_t>(i)), work.bytes, kCardBytes);
    }
    header.headerBlocks = static_cast<int32_t>(blocksFor(state.headerLength));
    return true;
}

}  // namespace nebulite
