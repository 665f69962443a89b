#include "header/card_buffer.h"

#include <cstring>

#include "header/identification.h"
#include "shell/module_memory.h"

namespace nebulite {

namespace {

char* newSpaces(uint32_t size) {
    auto* block = static_cast<char*>(moduleAllocate(nebuliteAllocCardBuffer, size));
    if (block != nullptr) std::memset(block, ' ', size);
    return block;
}

}  // namespace

bool CardBuffer::allocate() {
    release();
    char* block = newSpaces(kBlockBytes);
    if (block == nullptr) return false;
    text_ = block;
    size_ = kBlockBytes;
    return true;
}

bool CardBuffer::resize(uint32_t keep, uint32_t newSize) {
    if (text_ == nullptr) return false;
    newSize = static_cast<uint32_t>(roundUpToBlock(newSize < kBlockBytes ? kBlockBytes : newSize));
    if (keep > size_) keep = size_;
    if (keep > newSize) keep = newSize;
    // The new text is complete before the old one goes, so the kept cards
    // survive the exchange.
    char* block = newSpaces(newSize);
    if (block == nullptr) return false;
    std::memcpy(block, text_, keep);
    moduleFree(text_);
    text_ = block;
    size_ = newSize;
    return true;
}

bool CardBuffer::reserve(uint64_t bytes) {
    if (text_ == nullptr) return false;
    if (bytes <= size_) return true;
    if (bytes > kMaxHeaderBytes) return false;
    // Grow geometrically so a long header costs a few copies, not one per block.
    uint64_t size = size_;
    while (size < bytes) size *= 2;
    if (size > kMaxHeaderBytes) size = kMaxHeaderBytes;
    return resize(size_, static_cast<uint32_t>(size));
}

void CardBuffer::release() {
    moduleFree(text_);
    text_ = nullptr;
    size_ = 0;
}

void CardBuffer::adopt(CardBuffer& other) {
    if (this == &other) return;
    release();
    text_ = other.text_;
    size_ = other.size_;
    other.text_ = nullptr;
    other.size_ = 0;
}

char* CardBuffer::take() {
    char* text = text_;
    text_ = nullptr;
    size_ = 0;
    return text;
}

char* CardBuffer::cardAt(uint32_t index) const {
    uint64_t offset = uint64_t{index} * kCardBytes;
    if (text_ == nullptr || offset + kCardBytes > size_) return nullptr;
    return text_ + offset;
}

void CardBuffer::blank() {
    if (text_ != nullptr) std::memset(text_, ' ', size_);
}

uint32_t CardBuffer::keptBytes() const {
    uint64_t bytes = uint64_t{static_cast<uint32_t>(headerBlocks)} * kBlockBytes;
    return static_cast<uint32_t>(bytes > size_ ? size_ : bytes);
}

void CardBuffer::startReading() {
    cardPos = 0;
    headerBlocks = 0;
    endSeen = false;
    idCardPresent = false;
}

// Stores a card at slot cardPos, growing the text when the slot lies beyond
// it; a card that finds no room is dropped as at the bound.
bool CardBuffer::storeAtCardPos(const char* card) {
    uint64_t end = (uint64_t{static_cast<uint32_t>(cardPos)} + 1) * kCardBytes;
    if (!reserve(end)) return false;
    std::memcpy(cardAt(static_cast<uint32_t>(cardPos)), card, kCardBytes);
    ++cardPos;
    return true;
}

bool CardBuffer::append(const char* card) {
    int64_t bound = (int64_t{headerBlocks} + 1) * kCardsPerBlock;
    if (cardPos >= bound) return true;
    if (endSeen && identificationGoesBeforeEnd(cardPos, idCardPresent)) {
        char id[kCardBytes];
        makeIdentificationCard(id);
        if (!storeAtCardPos(id)) return false;
        idCardPresent = true;
    }
    return storeAtCardPos(card);
}

}  // namespace nebulite
