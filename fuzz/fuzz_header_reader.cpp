// The one header reader on arbitrary bytes, as the extension walk uses it:
// the primary header, then extension after extension, each data unit
// skipped by the size its keywords give. Whatever the bytes, the reader
// stops within its limit, hands over only whole cards (blank after END),
// stands exactly after the cards it counted, and the data unit's size is
// the exact product of the keywords, or nothing when that does not fit.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>

#include "header/header_keywords.h"
#include "header/header_reader.h"

namespace {

#define READER_CHECK(condition, what)                                   \
    do {                                                                \
        if (!(condition)) {                                             \
            std::fprintf(stderr, "header reader: %s (%s)\n", what, #condition); \
            std::abort();                                               \
        }                                                               \
    } while (0)

using nebulite::CardPlace;
using nebulite::HeaderEnd;
using nebulite::HeaderKeywords;
using nebulite::HeaderRead;
using nebulite::HeaderStart;
using nebulite::kCardBytes;

__extension__ typedef unsigned __int128 Wide;

// The data unit's size worked out again in 128 bits: nothing when a value is
// missing or out of range, or the size passes INT64_MAX.
std::optional<uint64_t> slowDataUnitBytes(const HeaderKeywords& k) {
    const int64_t b = k.bitpix;
    if (!k.bitpixSeen || !k.naxisSeen) return std::nullopt;
    if (b != 8 && b != 16 && b != 32 && b != 64 && b != -32 && b != -64) return std::nullopt;
    if (k.naxis < 0 || k.naxis > nebulite::kMaxAxes || k.pcount < 0 || k.gcount < 0) return std::nullopt;
    const Wide limit = INT64_MAX;
    Wide product = k.naxis == 0 ? 0 : 1;
    for (int32_t n = 1; n <= k.naxis; ++n) {
        if (!k.axisKnown(n) || k.axis(n) < 0) return std::nullopt;
        product *= static_cast<uint64_t>(k.axis(n));
        if (product > limit) return std::nullopt;
    }
    Wide size = (product + static_cast<uint64_t>(k.pcount));
    if (size > limit) return std::nullopt;
    size *= static_cast<uint64_t>(k.gcount);
    if (size > limit) return std::nullopt;
    size *= static_cast<uint64_t>(b < 0 ? -b : b) / 8;
    if (size > limit) return std::nullopt;
    return static_cast<uint64_t>(size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    nebulite::MemorySource source(std::span<const uint8_t>(data, size));
    HeaderStart start = HeaderStart::primary;
    // Every header moves the reader on by at least a card, so this ends.
    for (int hdu = 0; hdu < 64; ++hdu) {
        const uint64_t at = source.position();
        HeaderKeywords keys;
        uint64_t seen = 0;
        bool endVisited = false;
        const HeaderRead read = nebulite::readHeader(source, start, [&](const char* card, const CardPlace& place) {
            READER_CHECK(place.index == seen, "cards come in order");
            ++seen;
            if (place.afterEnd) {
                for (uint32_t i = 0; i < kCardBytes; ++i) READER_CHECK(card[i] == ' ', "cards after END are blank");
            } else {
                nebulite::noteKeyword(card, keys);
            }
            READER_CHECK(!(place.isEnd && endVisited), "one END");
            endVisited = endVisited || place.isEnd;
            READER_CHECK(place.endsBlock == ((place.index + 1) % 36 == 0), "block ends every 36 cards");
            return true;
        });
        READER_CHECK(read.cards <= nebulite::kMaxHeaderCards, "the header limit holds");
        switch (read.end) {
            case HeaderEnd::complete:
                READER_CHECK(endVisited && read.cards % 36 == 0, "a complete header ends on a block");
                READER_CHECK(read.cardsBeforeEnd < read.cards, "END among the cards");
                READER_CHECK(seen == read.cards, "every card shown");
                READER_CHECK(source.position() == at + read.cards * kCardBytes, "the reader stands after its cards");
                break;
            case HeaderEnd::noBytes:
                READER_CHECK(at == size && read.cards == 0, "no bytes only at the end");
                return 0;
            case HeaderEnd::cutShort:
                READER_CHECK(source.position() == size, "cut short only at the end");
                return 0;
            case HeaderEnd::notHeader:
                READER_CHECK(read.cards == 1 && seen == 0, "a wrong first card is not shown");
                return 0;
            case HeaderEnd::tooLong:
            case HeaderEnd::failed: return 0;
        }
        const auto bytes = nebulite::dataUnitBytes(keys);
        READER_CHECK(bytes == slowDataUnitBytes(keys), "the data unit's size is the keywords' product");
        if (!bytes) return 0;
        const auto next = nebulite::nextHeaderOffset(source.position(), *bytes, size);
        if (!next) return 0;
        READER_CHECK(*next % 2880 == at % 2880 || at % 2880 != 0 || *next % 2880 == 0, "headers start on blocks");
        source.seek(*next);
        start = HeaderStart::extension;
    }
    return 0;
}
