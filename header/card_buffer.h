// The FITS header held in memory exactly as a file holds it: 80-byte cards,
// 36 to a 2880-byte block. Reading fills it card by card; writing rebuilds,
// rewrites or synthesises it and writes it out ahead of the samples. One
// operation owns one CardBuffer, which frees its text when it goes.
#pragma once

#include <cstdint>

#include "header/fits_units.h"

namespace nebulite {

class CardBuffer {
public:
    CardBuffer() = default;
    CardBuffer(const CardBuffer&) = delete;
    CardBuffer& operator=(const CardBuffer&) = delete;
    ~CardBuffer() { release(); }

    // A new text of one block of spaces. False when it cannot be had; the
    // old text (if any) is released either way.
    bool allocate();
    // Replaces the text by one of `newSize` bytes (whole blocks) keeping the
    // first `keep` bytes; the rest are spaces. False (text unchanged) when
    // the new text cannot be had.
    bool resize(uint32_t keep, uint32_t newSize);
    // Grows the text, by whole blocks, until it holds `bytes`. False when it cannot.
    bool reserve(uint64_t bytes);
    void release();
    // Takes over `other`'s text, releasing its own.
    void adopt(CardBuffer& other);
    // Gives the text up to the caller, who frees it with moduleFree.
    char* take();

    bool held() const { return text_ != nullptr; }
    char* text() const { return text_; }
    uint32_t size() const { return size_; }
    // Card `index` of the text, or null when the text does not reach it.
    char* cardAt(uint32_t index) const;
    // Every card of the text blank.
    void blank();
    // The header's length in whole blocks: headerBlocks of them.
    uint32_t blockBytes() const { return static_cast<uint32_t>(headerBlocks) * kBlockBytes; }
    // The same, never more than the text holds.
    uint32_t keptBytes() const;

    // ---- Reading -------------------------------------------------------------
    // Starts a header over: no card stored, no block complete, no END seen.
    void startReading();
    // Stores one card at slot cardPos: drops it beyond the last slot of the
    // block being read, and puts the identification card in front of END
    // when END falls in slots 1 to 34 of a header without one. False only
    // when the text could not grow to hold the card.
    bool append(const char* card);

    int32_t cardPos = 0;         // slot of the next card append stores
    int32_t headerBlocks = 0;    // blocks of the header read or kept
    bool endSeen = false;        // the END card has been read
    bool idCardPresent = false;  // a NEBULITE card is in the header

private:
    bool storeAtCardPos(const char* card);

    char* text_ = nullptr;  // whole blocks; null when none
    uint32_t size_ = 0;
};

}  // namespace nebulite
