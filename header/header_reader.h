// The one reader of FITS headers: cards read one by one from any byte
// source (the module's input stream, a file in the CLI, a buffer in a
// fuzzer or a benchmark) up to the end of the block that holds END, each
// cleaned as the module keeps cards and handed to the caller, who fills a
// HeaderKeywords from them (header/header_keywords.h) and keeps what it
// wants. The bytes are read 80 at a time, exactly as far as the header
// goes, so the source stands at the first byte of the data unit after it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "header/card_text.h"
#include "header/fits_units.h"

namespace nebulite {

// Where the header reader gets its bytes.
class ByteSource {
public:
    // Up to `count` bytes into `out`; fewer only where the bytes end or
    // reading failed, which failed() then tells.
    virtual int64_t read(void* out, int64_t count) = 0;
    virtual bool failed() const = 0;

protected:
    ByteSource() = default;
    ByteSource(const ByteSource&) = default;
    ByteSource& operator=(const ByteSource&) = default;
    ~ByteSource() = default;
};

// Bytes in memory, from an offset.
class MemorySource final : public ByteSource {
public:
    explicit MemorySource(std::span<const uint8_t> bytes, uint64_t offset = 0) : bytes_(bytes), position_(offset) {}
    int64_t read(void* out, int64_t count) override;
    bool failed() const override { return false; }
    uint64_t position() const { return position_; }
    void seek(uint64_t offset) { position_ = offset; }

private:
    std::span<const uint8_t> bytes_;
    uint64_t position_;
};

// Which header the first card must start.
enum class HeaderStart : uint8_t {
    primary,    // "SIMPLE  =" (isSimpleCard)
    extension,  // "XTENSION="
};

enum class HeaderEnd : uint8_t {
    complete,   // read through the end of the block that holds END
    noBytes,    // the bytes ended (cleanly) where the header would start
    notHeader,  // the first card does not start the header asked for
    tooLong,    // no END within kMaxHeaderBlocks blocks
    cutShort,   // the bytes ended inside the header
    failed,     // the source failed, or the caller stopped the read
};

struct HeaderRead {
    HeaderEnd end = HeaderEnd::failed;
    uint64_t cards = 0;           // cards read, the blank ones after END included
    uint64_t cardsBeforeEnd = 0;  // cards before END
};

// Where a card stands in its header.
struct CardPlace {
    uint64_t index = 0;     // from 0
    bool afterEnd = false;  // blank by definition: it follows END in END's block
    bool isEnd = false;     // the END card itself
    bool endsBlock = false; // the last card of its block
};

// Reads one header from the source's position. `visit(card, place)` sees
// every card read (80 bytes, cleaned: see cleanReadCard; the cards after
// END blank) and answers false to stop the read. The first card is shown
// only when it starts the header asked for.
template <typename Visit>
HeaderRead readHeader(ByteSource& source, HeaderStart start, Visit&& visit) {
    HeaderRead result;
    char card[kCardBytes];
    bool endSeen = false;
    while (!(endSeen && atBlockBoundary(cardBytes(result.cards)))) {
        if (result.cards >= kMaxHeaderCards) {
            result.end = HeaderEnd::tooLong;
            return result;
        }
        const int64_t moved = source.read(card, kCardBytes);
        if (source.failed()) {
            result.end = HeaderEnd::failed;
            return result;
        }
        if (moved < int64_t{kCardBytes}) {
            result.end = result.cards == 0 && moved == 0 ? HeaderEnd::noBytes : HeaderEnd::cutShort;
            return result;
        }
        if (result.cards == 0) {
            const bool starts = start == HeaderStart::primary ? isSimpleCard(card)
                                                              : std::memcmp(card, "XTENSION=", 9) == 0;
            if (!starts) {
                ++result.cards;
                result.end = HeaderEnd::notHeader;
                return result;
            }
        }
        CardPlace place;
        place.index = result.cards++;
        place.afterEnd = endSeen;
        place.endsBlock = atBlockBoundary(cardBytes(result.cards));
        if (endSeen) {
            std::memset(card, ' ', kCardBytes);
        } else {
            cleanReadCard(card);
            if (keywordIs(splitCard(card).keyword, "END")) {
                endSeen = place.isEnd = true;
                result.cardsBeforeEnd = place.index;
            }
        }
        if (!visit(static_cast<const char*>(card), place)) {
            result.end = HeaderEnd::failed;
            return result;
        }
    }
    result.end = HeaderEnd::complete;
    return result;
}

}  // namespace nebulite
