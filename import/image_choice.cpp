#include "import/image_choice.h"

#include <cstring>

#include "header/card_text.h"
#include "header/header_keywords.h"
#include "import/extensions.h"
#include "import/hdu_facts.h"
#include "import/merged_header.h"
#include "import/read_header.h"
#include "import/refusals.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tiled_header.h"
#include "import/tiled/tiled_rows.h"
#include "options/fixed_text.h"
#include "options/hdu_choice.h"
#include "shell/module_memory.h"

namespace nebulite {

namespace {

HduTarget targetOf(const options::ImageChoice& choice) {
    HduTarget t;
    t.select = choice.select;
    t.index = choice.index;
    t.extname = choice.extname;
    t.extver = choice.extver;
    return t;
}

// Whether the primary is the image asked for.
bool primaryIsTarget(const HduTarget& target, const HeaderKeywords& primary) {
    switch (target.select) {
        case options::ImageSelect::automatic: return !(primary.naxisSeen && primary.naxis == 0);
        case options::ImageSelect::index: return target.index == 0;
        case options::ImageSelect::name:
            return options::hduIsNamed(hduFactsOf(primary), target.extname, target.extver);
    }
    return true;
}

// A compressed image's table header: the image's own header restored from it
// into `restored` and its tiles described to the row source. A refusal text
// when it cannot be read, else nullptr (with memFullErr in `result` when
// there was no memory for the restored header).
const char* openCompressedImage(PluginState& state, ReadOperation& read, const HeaderCards& table,
                                int64_t dataStart, HeaderCards& restored, tiled::TiledImage& image) {
    const tiled::TiledHeaderError fault = tiled::parseTiledHeader(table.text, table.count, image);
    if (fault == tiled::TiledHeaderError::unknownAlgorithm)
        return notSupported(read, "with compressed images of an unknown ZCMPTYPE");
    if (fault != tiled::TiledHeaderError::none) return unusableTable(read, tiled::tiledHeaderErrorName(fault));
    // Smoothing is a display aid of lossy HCOMPRESS, not the image's pixels.
    if (image.hcompressSmooth) return notSupported(read, "with smoothed HCOMPRESS images");
    if (!tiled::plausibleTiling(image))
        return notSupported(read, "with tiles larger than their compressed data can hold");
    if (!tileWorkFits(image)) return notSupported(read, "with tiles of more than 512 MB");
    const uint32_t capacity = table.count + 4;
    restored.text = static_cast<char*>(moduleAllocate(nebuliteAllocCardBuffer, size_t{capacity} * kCardBytes));
    if (restored.text == nullptr) {
        recordError(state, memFullErr);
        return nullptr;
    }
    restored.capacity = capacity;
    const int64_t cards = tiled::restoreImageHeader(table.text, table.count, restored.text, capacity);
    if (cards < 0) return notSupported(read, "with a compressed image whose header cannot be restored");
    restored.count = static_cast<uint32_t>(cards);
    // An image fpack took from a primary array comes back with SIMPLE; the
    // merge writes the document's own, as for an extension's XTENSION.
    if (restored.count > 0 && std::memcmp(restored.text, "SIMPLE  ", 8) == 0) {
        std::memmove(restored.text, restored.text + kCardBytes, size_t{restored.count - 1} * kCardBytes);
        --restored.count;
    }
    read.rowSource.emplace<TiledRows>(read.input, image, dataStart, read.input.reachableEnd(state));
    return nullptr;
}

// Why the walk did not reach an image asked for, as the options word it.
options::Message missedTarget(const HduTarget& target, ExtensionSearch found, const WalkEnd& end) {
    if (found == ExtensionSearch::notImage) {
        switch (end.keys.type) {
            case HduType::asciiTable: return options::compose("HDU ", end.index, " is an ASCII table, not an image");
            case HduType::binaryTable: return options::compose("HDU ", end.index, " is a binary table, not an image");
            default: return options::compose("HDU ", end.index, " is an extension of a kind that holds no image");
        }
    }
    if (target.select == options::ImageSelect::index) {
        if (end.index == 1)
            return options::compose("HDU ", target.index, " asked for, but the file holds the primary HDU alone");
        return options::compose("HDU ", target.index, " asked for, but the file holds HDUs 0 to ", end.index - 1);
    }
    if (target.extver)
        return options::compose("no HDU has EXTNAME '", target.extname, "' and EXTVER ", *target.extver);
    return options::compose("no HDU has EXTNAME '", target.extname, "'");
}

}  // namespace

bool chooseImage(PluginState& state, ReadOperation& read, uint32_t primaryCards, ChosenImage& chosen) {
    const HduTarget target = targetOf(read.asked.image);
    chosen.hdu = 0;
    chosen.facts = hduFactsOf(read.keys);
    chosen.dataStart = read.filePos;
    if (primaryIsTarget(target, read.keys)) return true;

    HeaderCards image;
    WalkEnd end;
    int64_t dataStart = 0;
    // The extensions begin after the primary's data unit (none, for the
    // image every open took before there were options).
    int64_t start = read.filePos;
    if (const auto primaryData = dataUnitBytes(read.keys))
        if (const auto next = nextHeaderOffset(static_cast<uint64_t>(read.filePos), *primaryData, INT64_MAX))
            start = static_cast<int64_t>(*next);
    ExtensionSearch found = findExtension(state, read.input, start, target, image, dataStart, end);
    const char* refusal = nullptr;
    tiled::TiledImage tiledImage;
    if (found == ExtensionSearch::compressed) {
        // The document gets the image as it was before compression.
        HeaderCards restored;
        refusal = openCompressedImage(state, read, image, dataStart, restored, tiledImage);
        releaseHeaderCards(image);
        image = restored;
        if (refusal != nullptr) releaseHeaderCards(image);
        if (state.result != noErr) {
            releaseHeaderCards(image);
            return false;
        }
        if (refusal == nullptr) found = ExtensionSearch::found;
    }
    // The cards of an HDU that was passed over may be held.
    if (found != ExtensionSearch::found) releaseHeaderCards(image);
    switch (found) {
        case ExtensionSearch::found: break;
        case ExtensionSearch::none:
            // Today's words for a file with no image at all.
            if (target.select == options::ImageSelect::automatic) return true;
            refuseAsAsked(state, read, missedTarget(target, found, end).view());
            return false;
        case ExtensionSearch::notImage: refuseAsAsked(state, read, missedTarget(target, found, end).view()); return false;
        case ExtensionSearch::failed: return false;
        case ExtensionSearch::compressed: break;
        case ExtensionSearch::unknownSize: refusal = notSupported(read, "with an extension of unknown size"); break;
        case ExtensionSearch::tooLong: refusal = headerTooLong(read); break;
    }
    if (refusal != nullptr) {
        refuse(state, read, refusal);
        return false;
    }
    chosen.hdu = end.index;
    chosen.dataStart = dataStart;
    chosen.facts = read.rows() != nullptr ? compressedHduFacts(end.keys, tiledImage) : hduFactsOf(end.keys);
    // The extension's own header alone describes its image: nothing the
    // primary said about scaling or range applies to it.
    read.keys = HeaderKeywords{};
    read.dataBytes = 0;
    for (uint32_t i = 0; i < image.count; ++i) noteKeyword(image.text + size_t{i} * kCardBytes, read.keys);
    read.keys.sizeCardsSeen = 0;
    MergeResult merged = mergeExtensionHeader(state, read, primaryCards, image);
    releaseHeaderCards(image);
    if (merged == MergeResult::tooLong) {
        refuse(state, read, headerTooLong(read));
        return false;
    }
    if (merged == MergeResult::noMemory) {
        recordError(state, memFullErr);
        return false;
    }
    lookUpFileLength(state, read);
    return true;
}

}  // namespace nebulite
