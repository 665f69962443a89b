#include "header/card_buffer.h"

#include <cstring>

#include "shell/module_memory.h"
#include "header/identification.h"
#include "shell/session.h"

namespace nebulite {

FitsSession session;

namespace {

char* newSpaces(uint32_t size) {
    auto* block = static_cast<char*>(moduleAllocate(nebuliteAllocCardBuffer, size));
    if (block != nullptr) std::memset(block, ' ', size);
    return block;
}

}  // namespace

bool allocateCardBuffer() {
    releaseCardBuffer();
    char* block = newSpaces(kBlockBytes);
    if (block == nullptr) return false;
    session.cardBuffer = block;
    session.cardBufferSize = kBlockBytes;
    return true;
}

bool resizeCardBuffer(uint32_t keep, uint32_t newSize) {
    if (session.cardBuffer == nullptr) return false;
    newSize = static_cast<uint32_t>(roundUpToBlock(newSize < kBlockBytes ? kBlockBytes : newSize));
    if (keep > session.cardBufferSize) keep = session.cardBufferSize;
    if (keep > newSize) keep = newSize;
    // The new buffer is complete before the old one goes, so the kept cards
    // survive the exchange.
    char* block = newSpaces(newSize);
    if (block == nullptr) return false;
    std::memcpy(block, session.cardBuffer, keep);
    moduleFree(session.cardBuffer);
    session.cardBuffer = block;
    session.cardBufferSize = newSize;
    return true;
}

bool reserveCardBuffer(uint64_t bytes) {
    if (session.cardBuffer == nullptr) return false;
    if (bytes <= session.cardBufferSize) return true;
    if (bytes > uint64_t{kMaxHeaderBlocks} * kBlockBytes) return false;
    // Grow geometrically so a long header costs a few copies, not one per block.
    uint64_t size = session.cardBufferSize;
    while (size < bytes) size *= 2;
    if (size > uint64_t{kMaxHeaderBlocks} * kBlockBytes) size = uint64_t{kMaxHeaderBlocks} * kBlockBytes;
    return resizeCardBuffer(session.cardBufferSize, static_cast<uint32_t>(size));
}

void releaseCardBuffer() {
    moduleFree(session.cardBuffer);
    session.cardBuffer = nullptr;
    session.cardBufferSize = 0;
}

char* cardAt(uint32_t index) {
    uint64_t offset = uint64_t{index} * kCardBytes;
    if (session.cardBuffer == nullptr || offset + kCardBytes > session.cardBufferSize) return nullptr;
    return session.cardBuffer + offset;
}

namespace {

// Stores a card at slot cardPos, growing the buffer when the slot lies
// beyond it; a card that finds no room is dropped as at the bound.
bool storeAtCardPos(const char* card) {
    uint64_t end = (uint64_t{static_cast<uint32_t>(session.cardPos)} + 1) * kCardBytes;
    if (!reserveCardBuffer(end)) return false;
    std::memcpy(cardAt(static_cast<uint32_t>(session.cardPos)), card, kCardBytes);
    ++session.cardPos;
    return true;
}

}  // namespace

bool appendCard(const char* card) {
    int64_t bound = (int64_t{session.headerBlocks} + 1) * kCardsPerBlock;
    if (session.cardPos >= bound) return true;
    if (session.endSeen && identificationGoesBeforeEnd(session.cardPos, session.idCardPresent)) {
        char id[kCardBytes];
        makeIdentificationCard(id);
        if (!storeAtCardPos(id)) return false;
        session.idCardPresent = true;
    }
    return storeAtCardPos(card);
}

}  // namespace nebulite
