#include "import/read_header.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "header/card_buffer.h"
#include "header/card_text.h"
#include "import/extensions.h"
#include "import/keywords.h"
#include "import/merged_header.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/row_source.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tiled_header.h"
#include "platform/win32.h"
#include "shell/input_stream.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/module_memory.h"
#include "shell/session.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

// The estimate made from the file's length only pre-sizes the header text;
// past this the text grows as cards arrive instead, so a file with a huge
// tail after its primary data costs no memory for it.
constexpr uint64_t kPresizeLimit = 64 * uint64_t{kBlockBytes};

void refuse(PluginState& state, const char* message) {
    // Cards that a damaged gzip file inflated to are no grounds for telling
    // the user what the file holds: the damage is what they hear of.
    inputVerifyToEnd(state);
    if (state.result != noErr) {
        releaseReadMemory();
        return;
    }
    MessageBoxA(nullptr, message, "Nebulite", MB_OK);
    recordCancel(state, true);
    releaseReadMemory();
}

// Planes the host receives: three for a colour cube, one otherwise. A cube
// of one or two planes is shown as its first plane in grey.
int16_t planesToOpen() {
    if (session.naxisValue == 3 && session.naxis3Value >= 3) return 3;
    return 1;
}

// Bytes of file data for the planes that will be opened, or -1 when the
// size keywords do not describe something that can be opened.
int64_t dataBytesFor(const FormatRecord& record, int64_t planes) {
    const int64_t most = maxDimension(record);
    if (session.naxis1Value < 1 || session.naxis1Value > most || session.naxis2Value < 1 ||
        session.naxis2Value > most ||
        session.fileSampleBytes < 1)
        return -1;
    auto samples = checkedMul(static_cast<uint64_t>(session.naxis1Value),
                              static_cast<uint64_t>(session.naxis2Value), UINT64_MAX);
    if (!samples) return -1;
    auto bytes = checkedMul(*samples * static_cast<uint64_t>(planes),
                            static_cast<uint64_t>(session.fileSampleBytes), UINT64_MAX);
    return bytes ? static_cast<int64_t>(*bytes) : -1;
}

// Made as soon as the four size keywords are known: the header's length is
// what the file holds beyond its data, in whole blocks.
void estimateHeaderLength(PluginState& state) {
    // NAXIS3 normally follows NAXIS2, so the estimate counts three planes
    // for any cube; the final length below corrects it when that was wrong.
    int64_t data = dataBytesFor(*state.formatRecord, session.isColor ? 3 : 1);
    if (data < 0) return;  // refused after the header is read
    session.dataBytes = data;
    lookUpFileLength(state);
    int64_t header = session.fileLength - static_cast<int64_t>(roundUpToBlock(static_cast<uint64_t>(data)));
    if (header <= 0) header = kBlockBytes;
    uint64_t length = roundUpToBlock(static_cast<uint64_t>(header));
    if (length > kMaxByteCount) length = kMaxByteCount / kBlockBytes * kBlockBytes;
    state.headerLength = static_cast<uint32_t>(length);
    // Only ever a larger buffer: a later set of size keywords that claims
    // more data than the file holds gives an estimate below the cards
    // already read, and those must not be given up for it.
    if (length > session.cardBufferSize && length <= kPresizeLimit)
        resizeCardBuffer(static_cast<uint32_t>(session.filePos), static_cast<uint32_t>(length));
}

// Refusal texts are built in a fixed buffer: no heap outside the module's
// allocator, nothing that could throw into the host.
char refusalText[160];

const char* notSupported(const char* what) {
    std::snprintf(refusalText, sizeof refusalText, "Fits Files %s are not supported", what);
    return refusalText;
}

// "Fits Files with NAXIS = 1 are not supported": `what` ends before the value.
const char* notSupported(const char* what, int64_t value) {
    std::snprintf(refusalText, sizeof refusalText, "Fits Files %s %lld are not supported", what,
                  static_cast<long long>(value));
    return refusalText;
}

const char* headerTooLong() {
    std::snprintf(refusalText, sizeof refusalText,
                  "Fits Files with a header longer than %u blocks are not supported",
                  static_cast<unsigned>(kMaxHeaderBlocks));
    return refusalText;
}

// A compressed image's table header: the image's own header restored from it
// into `restored` and its tiles described to the row source. A refusal text
// when it cannot be read, else nullptr (with memFullErr in `result` when
// there was no memory for the restored header).
const char* openCompressedImage(PluginState& state, const HeaderCards& table, int64_t dataStart,
                                HeaderCards& restored) {
    tiled::TiledImage image;
    const tiled::TiledHeaderError fault = tiled::parseTiledHeader(table.text, table.count, image);
    if (fault == tiled::TiledHeaderError::unknownAlgorithm)
        return notSupported("with compressed images of an unknown ZCMPTYPE");
    if (fault != tiled::TiledHeaderError::none) {
        std::snprintf(refusalText, sizeof refusalText,
                      "Fits Files with a compressed image whose table is unusable (%s) are not supported",
                      tiled::tiledHeaderErrorName(fault));
        return refusalText;
    }
    // Smoothing is a display aid of lossy HCOMPRESS, not the image's pixels.
    if (image.hcompressSmooth) return notSupported("with smoothed HCOMPRESS images");
    if (!tiled::plausibleTiling(image))
        return notSupported("with tiles larger than their compressed data can hold");
    if (!tileWorkFits(image)) return notSupported("with tiles of more than 512 MB");
    const uint32_t capacity = table.count + 4;
    restored.text = static_cast<char*>(moduleAllocate(nebuliteAllocCardBuffer, size_t{capacity} * kCardBytes));
    if (restored.text == nullptr) {
        recordError(state, memFullErr);
        return nullptr;
    }
    restored.capacity = capacity;
    const int64_t cards = tiled::restoreImageHeader(table.text, table.count, restored.text, capacity);
    if (cards < 0) return notSupported("with a compressed image whose header cannot be restored");
    restored.count = static_cast<uint32_t>(cards);
    // An image fpack took from a primary array comes back with SIMPLE; the
    // merge writes the document's own, as for an extension's XTENSION.
    if (restored.count > 0 && std::memcmp(restored.text, "SIMPLE  ", 8) == 0) {
        std::memmove(restored.text, restored.text + kCardBytes, size_t{restored.count - 1} * kCardBytes);
        --restored.count;
    }
    tiledSourceDescribe(image, dataStart);
    return nullptr;
}

}  // namespace

void lookUpFileLength(PluginState& state) {
    int64_t length = inputLength(state);
    session.fileLength = length > 0 ? length : 0;
}

const char* unsupportedReason(const FormatRecord& record) {
    const int64_t most = maxDimension(record);
    if (!session.bitpixSeen) return notSupported("without a BITPIX card");
    int64_t bitpix = session.bitpixValue;
    if (!session.naxisSeen) return notSupported("without a NAXIS card");
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64)
        return notSupported("with BITPIX =", bitpix);
    if (session.naxisValue < 2) return notSupported("with NAXIS =", session.naxisValue);
    if (!session.naxis1Seen) return notSupported("without a NAXIS1 card");
    if (!session.naxis2Seen) return notSupported("without a NAXIS2 card");
    if (session.naxis1Value < 1 || session.naxis1Value > most)
        return notSupported("with NAXIS1 =", session.naxis1Value);
    if (session.naxis2Value < 1 || session.naxis2Value > most)
        return notSupported("with NAXIS2 =", session.naxis2Value);
    if (session.naxisValue >= 3 && session.naxis3Value < 1)
        return notSupported("with NAXIS3 =", session.naxis3Value);
    // The host holds the image in memory with 32-bit byte counts.
    auto hostBytes = checkedMul(static_cast<uint64_t>(session.naxis1Value) *
                                    static_cast<uint64_t>(session.naxis2Value),
                                static_cast<uint64_t>(planesToOpen() * session.hostSampleBytes),
                                maxImageBytes(record));
    if (!hostBytes) return notSupported("with more than 2 GB of image data");
    return nullptr;
}

void doReadPrepare(PluginState& state) {
    if (!allocateCardBuffer()) recordError(state, memFullErr);
}

namespace {

void readHeader(PluginState& state);

// Looks past a primary header without data for the image. True when the
// read goes on: with the extension's image, its header merged into the one
// the document keeps and `dataStart` at its data, or, when the file has no
// image extension, with the primary's values, which the caller refuses.
bool openImageExtension(PluginState& state, uint32_t primaryCards, int64_t& dataStart) {
    HeaderCards image;
    ExtensionSearch found = findImageExtension(state, session.filePos, image, dataStart);
    const char* refusal = nullptr;
    if (found == ExtensionSearch::compressed) {
        // The document gets the image as it was before compression.
        HeaderCards restored;
        refusal = openCompressedImage(state, image, dataStart, restored);
        releaseHeaderCards(image);
        image = restored;
        if (refusal != nullptr) releaseHeaderCards(image);
        if (state.result != noErr) {
            releaseHeaderCards(image);
            releaseReadMemory();
            return false;
        }
        if (refusal == nullptr) found = ExtensionSearch::found;
    }
    // The cards of an image extension that was passed over may be held.
    if (found != ExtensionSearch::found) releaseHeaderCards(image);
    switch (found) {
        case ExtensionSearch::found: break;
        case ExtensionSearch::none: return true;
        case ExtensionSearch::failed: releaseReadMemory(); return false;
        case ExtensionSearch::compressed: break;
        case ExtensionSearch::unknownSize: refusal = notSupported("with an extension of unknown size"); break;
        case ExtensionSearch::tooLong: refusal = headerTooLong(); break;
    }
    if (refusal != nullptr) {
        refuse(state, refusal);
        return false;
    }
    // The extension's own header alone describes its image: nothing the
    // primary said about scaling or range applies to it.
    resetImageKeywords();
    for (uint32_t i = 0; i < image.count; ++i) applyKeyword(image.text + size_t{i} * kCardBytes);
    session.keyCardsSeen = 0;
    MergeResult merged = mergeExtensionHeader(state, primaryCards, image);
    releaseHeaderCards(image);
    if (merged == MergeResult::tooLong) {
        refuse(state, headerTooLong());
        return false;
    }
    if (merged == MergeResult::noMemory) {
        recordError(state, memFullErr);
        releaseReadMemory();
        return false;
    }
    lookUpFileLength(state);
    return true;
}

}  // namespace

void doReadStart(PluginState& state) {
    readHeader(state);
    // The host makes no document of a file that failed here, so nothing
    // will dispose of the empty image-resource handle later.
    if (state.result != noErr) disposeImageResources(state);
}

namespace {

void readHeader(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    session.readReady = false;
    session.dataStart = 0;
    record.imageRsrcData = handleNew(record.handleProcs, 0);
    record.imageRsrcSize = 0;
    consumeScriptParameters(state);
    session.cardPos = 0;
    session.filePos = 0;
    session.keyCardsSeen = 0;
    tiledSourceForget();
    if (state.result != noErr) return;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    inputOpen(state);
    if (state.result != noErr) return;
    // A host that skipped ReadPrepare (or whose ReadPrepare ran out of
    // memory) still gets a buffer, or memFullErr before anything is read.
    if (session.cardBuffer == nullptr && !allocateCardBuffer()) {
        recordError(state, memFullErr);
        return;
    }

    // Everything the previous file left behind starts over.
    session.headerBlocks = 0;
    session.endSeen = false;
    session.idCardPresent = false;
    session.cardsRead = 0;
    char card[kCardBytes];
    inputReadExact(state, card, kCardBytes);
    session.filePos = kCardBytes;
    if (state.result == noErr) appendCard(card);
    session.cardsRead = 1;

    resetImageKeywords();
    if (state.result != noErr) return;
    if (!isSimpleCard(card)) {
        state.result = formatCannotRead;
        return;
    }

    // The card loop: ends on the block boundary after the block holding END.
    uint32_t cardsBeforeEnd = 0;  // the header's own cards, without an inserted identification card
    while (!(session.filePos % kBlockBytes == 0 && session.endSeen)) {
        if (session.cardsRead >= static_cast<int32_t>(kMaxHeaderBlocks * kCardsPerBlock)) {
            refuse(state, headerTooLong());
            return;
        }
        inputReadExact(state, card, kCardBytes);
        ++session.cardsRead;
        if (state.result != noErr) return;
        // What follows END in its block is blank by definition.
        if (session.endSeen) std::memset(card, ' ', kCardBytes);
        cleanReadCard(card);
        session.filePos += kCardBytes;
        bool endsBlock = session.filePos % kBlockBytes == 0;
        const bool endBefore = session.endSeen;
        applyKeyword(card);
        if (session.endSeen && !endBefore) cardsBeforeEnd = static_cast<uint32_t>(session.cardPos);
        if (!appendCard(card)) {
            // A header that cannot be held whole is not read at all.
            recordError(state, memFullErr);
            releaseReadMemory();
            return;
        }
        if (endsBlock) ++session.headerBlocks;
        if (session.keyCardsSeen == 4) {
            estimateHeaderLength(state);
            session.keyCardsSeen = 0;
        }
    }

    // The final length: exactly the cards read, in whole blocks.
    uint32_t length = static_cast<uint32_t>(session.cardsRead) * kCardBytes;
    state.headerLength = length;
    if (session.cardBufferSize != length && !resizeCardBuffer(length, length)) {
        recordError(state, memFullErr);
        releaseReadMemory();
        return;
    }

    // A primary without data may be followed by the image in an extension.
    int64_t dataStart = length;
    if (session.naxisSeen && session.naxisValue == 0 && !openImageExtension(state, cardsBeforeEnd, dataStart))
        return;

    if (const char* reason = unsupportedReason(record); reason != nullptr) {
        refuse(state, reason);
        return;
    }
    session.planesOpened = planesToOpen();
    session.isColor = session.planesOpened == 3;
    session.dataBytes = dataBytesFor(record, session.planesOpened);

    session.dataStart = dataStart;
    session.filePos = dataStart;
    session.toldColumns = static_cast<int32_t>(session.naxis1Value);
    session.toldRows = static_cast<int32_t>(session.naxis2Value);
    session.readReady = true;
    setImageSize(record, {session.toldRows, session.toldColumns});
    record.depth = session.hostDepth;
    record.planes = session.planesOpened;
    record.imageMode = session.isColor ? plugInModeRGBColor : plugInModeGrayScale;
}

}  // namespace

}  // namespace nebulite
