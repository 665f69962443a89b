#include "import/extensions.h"

#include <cstring>
#include <string_view>

#include "header/card_text.h"
#include "platform/win32.h"
#include "shell/input_stream.h"
#include "shell/module_memory.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

// FITS allows axes NAXIS1 to NAXIS999.
constexpr int64_t kMaxAxes = 999;

enum class HduKind { image, table, other };

// What the structural cards of one extension header say.
struct HduKeywords {
    HduKind kind = HduKind::other;
    bool compressed = false;  // ZIMAGE = T: an image stored as a binary table
    bool bitpixSeen = false;
    bool naxisSeen = false;
    int64_t bitpix = 0;
    int64_t naxis = 0;
    int64_t pcount = 0;
    int64_t gcount = 1;
    int64_t axes[kMaxAxes];  // -1 until its NAXISn card is read
    HduKeywords() {
        for (int64_t& a : axes) a = -1;
    }
};

// The text of a quoted string value, without its trailing spaces.
std::string_view stringValue(const char* card) {
    size_t i = 10;
    while (i < kCardBytes && card[i] == ' ') ++i;
    if (i >= kCardBytes || card[i] != '\'') return {};
    size_t from = ++i;
    while (i < kCardBytes && card[i] != '\'') ++i;
    size_t to = i;
    while (to > from && card[to - 1] == ' ') --to;
    return {card + from, to - from};
}

bool logicalTrue(std::string_view value) {
    size_t i = 0;
    while (i < value.size() && value[i] == ' ') ++i;
    return i < value.size() && value[i] == 'T';
}

void noteCard(const char* card, HduKeywords& hdu) {
    SplitCard split = splitCard(card);
    if (keywordIs(split.keyword, "XTENSION")) {
        std::string_view type = stringValue(card);
        hdu.kind = type == "IMAGE" ? HduKind::image : type == "BINTABLE" ? HduKind::table : HduKind::other;
    } else if (keywordIs(split.keyword, "BITPIX")) {
        hdu.bitpixSeen = true;
        hdu.bitpix = intValue(split.value);
    } else if (keywordIs(split.keyword, "NAXIS")) {
        hdu.naxisSeen = true;
        hdu.naxis = intValue(split.value);
    } else if (keywordIs(split.keyword, "PCOUNT")) {
        hdu.pcount = intValue(split.value);
    } else if (keywordIs(split.keyword, "GCOUNT")) {
        hdu.gcount = intValue(split.value);
    } else if (keywordIs(split.keyword, "ZIMAGE")) {
        hdu.compressed = logicalTrue(split.value);
    } else if (int n = axisNumber(split.keyword); n > 0) {
        hdu.axes[n - 1] = intValue(split.value);
    }
}

bool keepCard(HeaderCards& cards, const char* card) {
    if (cards.count == cards.capacity) {
        // Doubling keeps a long header to a few copies; the header limit
        // bounds it.
        uint32_t capacity = cards.capacity == 0 ? kCardsPerBlock : cards.capacity * 2;
        auto* text = static_cast<char*>(
            moduleAllocate(nebuliteAllocCardBuffer, size_t{capacity} * kCardBytes));
        if (text == nullptr) return false;
        if (cards.count > 0) std::memcpy(text, cards.text, size_t{cards.count} * kCardBytes);
        moduleFree(cards.text);
        cards.text = text;
        cards.capacity = capacity;
    }
    std::memcpy(cards.text + size_t{cards.count} * kCardBytes, card, kCardBytes);
    ++cards.count;
    return true;
}

enum class HeaderRead { header, endOfFile, notExtension, tooLong, failed };

// Reads one header card by card from the file's position, to the end of the
// block holding END. Its cards before END go into `keep` when it is an image
// extension. `cardsRead` counts every card, the blank ones after END included.
HeaderRead readHeader(PluginState& state, InputStream& input, HduKeywords& hdu, HeaderCards& keep,
                      uint32_t& cardsRead) {
    bool endSeen = false;
    cardsRead = 0;
    keep.count = 0;
    char card[kCardBytes];
    while (!(endSeen && cardsRead % kCardsPerBlock == 0)) {
        if (cardsRead >= kMaxHeaderBlocks * kCardsPerBlock) return HeaderRead::tooLong;
        int64_t moved = input.read(state, card, kCardBytes);
        if (state.result != noErr) return HeaderRead::failed;
        if (cardsRead == 0 && moved == 0) return HeaderRead::endOfFile;
        if (moved < int64_t{kCardBytes}) {
            recordError(state, eofErr);
            return HeaderRead::failed;
        }
        ++cardsRead;
        // Whatever follows the last header is not ours to read: zeros that
        // pad the file, or bytes another program appended.
        if (cardsRead == 1 && std::memcmp(card, "XTENSION=", 9) != 0) return HeaderRead::notExtension;
        if (endSeen) continue;
        cleanReadCard(card);
        if (keywordIs(splitCard(card).keyword, "END")) {
            endSeen = true;
            continue;
        }
        noteCard(card, hdu);
        // A table's cards are kept too: it may turn out to hold a
        // compressed image (ZIMAGE can come anywhere in its header).
        if (hdu.kind != HduKind::other && !keepCard(keep, card)) {
            recordError(state, memFullErr);
            return HeaderRead::failed;
        }
    }
    return HeaderRead::header;
}

// The data unit that ends at `end` is all in the file: its last byte reads.
// A last block cut short is tolerated, as for the primary.
bool dataUnitWhole(PluginState& state, InputStream& input, int64_t start, int64_t end) {
    if (end <= start) return true;
    // A file that cannot seek there cannot show the byte: refused, not guessed.
    input.seek(state, end - 1);
    char last = 0;
    int64_t moved = input.read(state, &last, 1);
    return state.result == noErr && moved == 1;
}

}  // namespace

void releaseHeaderCards(HeaderCards& cards) {
    moduleFree(cards.text);
    cards = HeaderCards{};
}

std::optional<uint64_t> dataUnitBytes(int64_t bitpix, int64_t naxis, const int64_t* axes,
                                      int64_t pcount, int64_t gcount) {
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64)
        return std::nullopt;
    if (naxis < 0 || naxis > kMaxAxes || pcount < 0 || gcount < 0) return std::nullopt;
    constexpr uint64_t kLimit = INT64_MAX;
    uint64_t product = naxis == 0 ? 0 : 1;
    for (int64_t i = 0; i < naxis; ++i) {
        if (axes[i] < 0) return std::nullopt;
        auto p = checkedMul(product, static_cast<uint64_t>(axes[i]), kLimit);
        if (!p) return std::nullopt;
        product = *p;
    }
    auto elements = checkedAdd(product, static_cast<uint64_t>(pcount), kLimit);
    if (!elements) return std::nullopt;
    auto groups = checkedMul(*elements, static_cast<uint64_t>(gcount), kLimit);
    if (!groups) return std::nullopt;
    return checkedMul(*groups, static_cast<uint64_t>(bitpix < 0 ? -bitpix : bitpix) / 8, kLimit);
}

ExtensionSearch findImageExtension(PluginState& state, InputStream& input, int64_t start, HeaderCards& image,
                                   int64_t& dataStart) {
    // The data unit before the header being looked for; the primary has none.
    int64_t previousData = start;
    int64_t previousEnd = start;
    int64_t position = start;
    // Every pass moves on by at least one block, and positions stop at the
    // stream's offset limit, so the walk ends. A data unit that would end
    // past that limit is one no file holds: the file is cut short.
    const int64_t maxOffset = INT64_MAX;
    auto cutShort = [&state] {
        recordError(state, eofErr);
        return ExtensionSearch::failed;
    };
    for (;;) {
        HduKeywords hdu;
        uint32_t cards = 0;
        switch (readHeader(state, input, hdu, image, cards)) {
            case HeaderRead::failed: return ExtensionSearch::failed;
            case HeaderRead::tooLong: return ExtensionSearch::tooLong;
            case HeaderRead::notExtension: return ExtensionSearch::none;
            case HeaderRead::endOfFile:
                // The file ends where a header would start: the end of the
                // HDUs, unless the data unit before it was cut short.
                if (!dataUnitWhole(state, input, previousData, previousEnd)) {
                    recordError(state, eofErr);  // unless the read itself failed
                    return ExtensionSearch::failed;
                }
                return ExtensionSearch::none;
            case HeaderRead::header: break;
        }
        const int64_t headerEnd = position + int64_t{cards} * kCardBytes;
        if (hdu.kind == HduKind::image && hdu.naxisSeen && hdu.naxis >= 2) {
            if (headerEnd > maxOffset) return cutShort();
            dataStart = headerEnd;
            return ExtensionSearch::found;
        }
        if (hdu.kind == HduKind::table && hdu.compressed) {
            if (headerEnd > maxOffset) return cutShort();
            dataStart = headerEnd;
            return ExtensionSearch::compressed;
        }
        if (!hdu.bitpixSeen || !hdu.naxisSeen) return ExtensionSearch::unknownSize;
        auto bytes = dataUnitBytes(hdu.bitpix, hdu.naxis, hdu.axes, hdu.pcount, hdu.gcount);
        if (!bytes) return ExtensionSearch::unknownSize;
        if (*bytes > static_cast<uint64_t>(maxOffset - headerEnd)) return cutShort();
        const auto next = checkedAdd(static_cast<uint64_t>(headerEnd), roundUpToBlock(*bytes),
                                     static_cast<uint64_t>(maxOffset));
        if (!next) return cutShort();
        previousData = headerEnd;
        previousEnd = headerEnd + static_cast<int64_t>(*bytes);
        position = static_cast<int64_t>(*next);
        // Past the data unit; a file that cannot get there stops the read
        // rather than have bytes of the data taken for the next header.
        input.seek(state, position);
        if (state.result != noErr) return ExtensionSearch::failed;
    }
}

}  // namespace nebulite
