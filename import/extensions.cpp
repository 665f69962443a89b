#include "import/extensions.h"

#include <cstring>
#include <string_view>

#include "header/card_text.h"
#include "header/header_keywords.h"
#include "header/header_reader.h"
#include "import/hdu_facts.h"
#include "options/hdu_choice.h"
#include "platform/win32.h"
#include "shell/input_stream.h"
#include "shell/module_memory.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

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

// Reads one extension header from the stream's position, noting its
// keywords; its cards before END go into `keep` when it is an image or a
// table (which may turn out to hold a compressed image: ZIMAGE can come
// anywhere in its header).
HeaderRead readExtensionHeader(PluginState& state, InputStream& input, HeaderKeywords& hdu, HeaderCards& keep) {
    keep.count = 0;
    StreamSource source(state, input);
    return readHeader(source, HeaderStart::extension, [&](const char* card, const CardPlace& place) {
        if (place.afterEnd || place.isEnd) return true;
        noteKeyword(card, hdu);
        const bool kept = hdu.type == HduType::image || hdu.type == HduType::binaryTable;
        if (kept && !keepCard(keep, card)) {
            recordError(state, memFullErr);
            return false;
        }
        return true;
    });
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

ExtensionSearch findExtension(PluginState& state, InputStream& input, int64_t start, const HduTarget& target,
                              HeaderCards& image, int64_t& dataStart, WalkEnd& end) {
    // The data unit before the header being looked for; the primary has none.
    int64_t previousData = start;
    int64_t previousEnd = start;
    int64_t position = start;
    // Every pass moves on by at least one block, and positions stop at the
    // stream's offset limit, so the walk ends. A data unit that would end
    // past that limit is one no file holds: the file is cut short, and a
    // gzip file whose claims go beyond what it can inflate to is found out
    // before any of the claim is inflated.
    const int64_t maxOffset = input.reachableEnd(state);
    auto cutShort = [&state] {
        recordError(state, eofErr);
        return ExtensionSearch::failed;
    };
    end.index = 0;
    // Already there after a primary without data: nothing moves.
    input.seek(state, start);
    if (state.result != noErr) return ExtensionSearch::failed;
    for (;;) {
        ++end.index;
        HeaderKeywords& hdu = end.keys;
        hdu = HeaderKeywords{};
        const HeaderRead read = readExtensionHeader(state, input, hdu, image);
        switch (read.end) {
            case HeaderEnd::failed: return ExtensionSearch::failed;
            case HeaderEnd::cutShort:
                recordError(state, eofErr);
                return ExtensionSearch::failed;
            case HeaderEnd::tooLong: return ExtensionSearch::tooLong;
            // Whatever follows the last header is not ours to read: zeros
            // that pad the file, or bytes another program appended.
            case HeaderEnd::notHeader: return ExtensionSearch::none;
            case HeaderEnd::noBytes:
                // The file ends where a header would start: the end of the
                // HDUs, unless the data unit before it was cut short.
                if (!dataUnitWhole(state, input, previousData, previousEnd)) {
                    recordError(state, eofErr);  // unless the read itself failed
                    return ExtensionSearch::failed;
                }
                return ExtensionSearch::none;
            case HeaderEnd::complete: break;
        }
        const int64_t headerEnd = position + static_cast<int64_t>(cardBytes(read.cards));
        const bool isImage = hdu.type == HduType::image;
        const bool compressed = hdu.type == HduType::binaryTable && hdu.zimage;
        bool stop = false;
        switch (target.select) {
            case options::ImageSelect::automatic: stop = (isImage && hdu.naxisSeen && hdu.naxis >= 2) || compressed; break;
            case options::ImageSelect::index: stop = end.index == target.index; break;
            case options::ImageSelect::name:
                stop = options::hduIsNamed(hduFactsOf(hdu), target.extname, target.extver);
                break;
        }
        if (stop) {
            if (!isImage && !compressed) return ExtensionSearch::notImage;
            if (headerEnd > maxOffset) return cutShort();
            dataStart = headerEnd;
            return isImage ? ExtensionSearch::found : ExtensionSearch::compressed;
        }
        auto bytes = dataUnitBytes(hdu);
        if (!bytes) return ExtensionSearch::unknownSize;
        if (*bytes > static_cast<uint64_t>(maxOffset - headerEnd)) return cutShort();
        const auto next = nextHeaderOffset(static_cast<uint64_t>(headerEnd), *bytes, static_cast<uint64_t>(maxOffset));
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

bool surveyExtensions(PluginState& state, InputStream& input, int64_t start, SurveyVisit visit, void* context) {
    const int64_t maxOffset = input.reachableEnd(state);
    int64_t position = start;
    HeaderCards cards;
    bool complete = false;
    input.seek(state, start);
    for (uint32_t index = 1; state.result == noErr; ++index) {
        HeaderKeywords keys;
        const HeaderRead read = readExtensionHeader(state, input, keys, cards);
        if (read.end != HeaderEnd::complete) {
            complete = read.end == HeaderEnd::noBytes || read.end == HeaderEnd::notHeader;
            break;
        }
        const int64_t headerEnd = position + static_cast<int64_t>(cardBytes(read.cards));
        const SurveyedHdu hdu{index, &keys, headerEnd, &cards};
        if (!visit(context, hdu)) {
            complete = true;
            break;
        }
        const auto bytes = dataUnitBytes(keys);
        if (!bytes) break;
        const auto next = nextHeaderOffset(static_cast<uint64_t>(headerEnd), *bytes, static_cast<uint64_t>(maxOffset));
        if (!next) break;
        position = static_cast<int64_t>(*next);
        input.seek(state, position);
    }
    releaseHeaderCards(cards);
    return complete && state.result == noErr;
}

}  // namespace nebulite
