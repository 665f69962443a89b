#include "import/read_header.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "header/card_buffer.h"
#include "header/card_text.h"
#include "header/header_keywords.h"
#include "header/header_reader.h"
#include "import/extensions.h"
#include "header/header_keywords.h"
#include "import/read_operation.h"
#include "import/merged_header.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tiled_rows.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tiled_header.h"
#include "platform/win32.h"
#include "shell/input_stream.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/module_memory.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

// The estimate made from the file's length only pre-sizes the header text;
// past this the text grows as cards arrive instead, so a file with a huge
// tail after its primary data costs no memory for it.
constexpr uint64_t kPresizeLimit = 64 * uint64_t{kBlockBytes};

void refuse(PluginState& state, ReadOperation& read, const char* message) {
    // Cards that a damaged gzip file inflated to are no grounds for telling
    // the user what the file holds: the damage is what they hear of.
    read.input.verifyToEnd(state);
    if (state.result != noErr) return;
    MessageBoxA(nullptr, message, "Nebulite", MB_OK);
    recordCancel(state, true);
}

// Planes the host receives: three for a colour cube, one otherwise. A cube
// of one or two planes is shown as its first plane in grey.
int16_t planesToOpen(const HeaderKeywords& keys) {
    if (keys.naxis == 3 && keys.naxis3() >= 3) return 3;
    return 1;
}

// Bytes of file data for the planes that will be opened, or -1 when the
// size keywords do not describe something that can be opened.
int64_t dataBytesFor(const FormatRecord& record, const HeaderKeywords& keys, int64_t planes) {
    const int64_t most = maxDimension(record);
    if (keys.naxis1() < 1 || keys.naxis1() > most || keys.naxis2() < 1 || keys.naxis2() > most || keys.fileSampleBytes() < 1)
        return -1;
    auto samples = checkedMul(static_cast<uint64_t>(keys.naxis1()), static_cast<uint64_t>(keys.naxis2()), UINT64_MAX);
    if (!samples) return -1;
    auto bytes = checkedMul(*samples * static_cast<uint64_t>(planes), static_cast<uint64_t>(keys.fileSampleBytes()),
                            UINT64_MAX);
    return bytes ? static_cast<int64_t>(*bytes) : -1;
}

// Made as soon as the four size keywords are known: the header's length is
// what the file holds beyond its data, in whole blocks.
void estimateHeaderLength(PluginState& state, ReadOperation& read) {
    // NAXIS3 normally follows NAXIS2, so the estimate counts three planes
    // for any cube; the final length below corrects it when that was wrong.
    int64_t data = dataBytesFor(*state.formatRecord, read.keys, read.keys.isCube() ? 3 : 1);
    if (data < 0) return;  // refused after the header is read
    read.dataBytes = data;
    lookUpFileLength(state, read);
    const uint64_t length = headerBytesBeside(read.fileLength, static_cast<uint64_t>(data));
    state.headerLength = static_cast<uint32_t>(length);
    // Only ever a larger buffer: a later set of size keywords that claims
    // more data than the file holds gives an estimate below the cards
    // already read, and those must not be given up for it.
    if (length > read.header.size() && length <= kPresizeLimit)
        read.header.resize(static_cast<uint32_t>(read.filePos), static_cast<uint32_t>(length));
}

const char* notSupported(ReadOperation& read, const char* what) {
    std::snprintf(read.refusal, sizeof read.refusal, "Fits Files %s are not supported", what);
    return read.refusal;
}

// "Fits Files with NAXIS = 1 are not supported": `what` ends before the value.
const char* notSupported(ReadOperation& read, const char* what, int64_t value) {
    std::snprintf(read.refusal, sizeof read.refusal, "Fits Files %s %lld are not supported", what,
                  static_cast<long long>(value));
    return read.refusal;
}

const char* headerTooLong(ReadOperation& read) {
    std::snprintf(read.refusal, sizeof read.refusal,
                  "Fits Files with a header longer than %u blocks are not supported",
                  static_cast<unsigned>(kMaxHeaderBlocks));
    return read.refusal;
}

// A compressed image's table header: the image's own header restored from it
// into `restored` and its tiles described to the row source. A refusal text
// when it cannot be read, else nullptr (with memFullErr in `result` when
// there was no memory for the restored header).
const char* openCompressedImage(PluginState& state, ReadOperation& read, const HeaderCards& table,
                                int64_t dataStart, HeaderCards& restored) {
    tiled::TiledImage image;
    const tiled::TiledHeaderError fault = tiled::parseTiledHeader(table.text, table.count, image);
    if (fault == tiled::TiledHeaderError::unknownAlgorithm)
        return notSupported(read, "with compressed images of an unknown ZCMPTYPE");
    if (fault != tiled::TiledHeaderError::none) {
        std::snprintf(read.refusal, sizeof read.refusal,
                      "Fits Files with a compressed image whose table is unusable (%s) are not supported",
                      tiled::tiledHeaderErrorName(fault));
        return read.refusal;
    }
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

}  // namespace

void lookUpFileLength(PluginState& state, ReadOperation& read) {
    int64_t length = read.input.length(state);
    read.fileLength = length > 0 ? length : 0;
}

const char* unsupportedReason(const FormatRecord& record, ReadOperation& read) {
    const HeaderKeywords& k = read.keys;
    const int64_t most = maxDimension(record);
    if (!k.bitpixSeen) return notSupported(read, "without a BITPIX card");
    int64_t bitpix = k.bitpix;
    if (!k.naxisSeen) return notSupported(read, "without a NAXIS card");
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != 64 && bitpix != -32 && bitpix != -64)
        return notSupported(read, "with BITPIX =", bitpix);
    if (k.naxis < 2) return notSupported(read, "with NAXIS =", k.naxis);
    if (!k.naxis1Seen()) return notSupported(read, "without a NAXIS1 card");
    if (!k.naxis2Seen()) return notSupported(read, "without a NAXIS2 card");
    if (k.naxis1() < 1 || k.naxis1() > most) return notSupported(read, "with NAXIS1 =", k.naxis1());
    if (k.naxis2() < 1 || k.naxis2() > most) return notSupported(read, "with NAXIS2 =", k.naxis2());
    if (k.naxis >= 3 && k.naxis3() < 1) return notSupported(read, "with NAXIS3 =", k.naxis3());
    // The host holds the image in memory with 32-bit byte counts.
    auto hostBytes = checkedMul(static_cast<uint64_t>(k.naxis1()) * static_cast<uint64_t>(k.naxis2()),
                                static_cast<uint64_t>(planesToOpen(k) * k.hostSampleBytes()), maxImageBytes(record));
    if (!hostBytes) return notSupported(read, "with more than 2 GB of image data");
    return nullptr;
}

void doReadPrepare(PluginState& state) {
    ReadOperation* read = beginOperation<ReadOperation>(state);
    if (read != nullptr && !read->header.allocate()) recordError(state, memFullErr);
}

namespace {

// Looks past a primary header without data for the image. True when the
// read goes on: with the extension's image, its header merged into the one
// the document keeps and `dataStart` at its data, or, when the file has no
// image extension, with the primary's values, which the caller refuses.
bool openImageExtension(PluginState& state, ReadOperation& read, uint32_t primaryCards, int64_t& dataStart) {
    HeaderCards image;
    ExtensionSearch found = findImageExtension(state, read.input, read.filePos, image, dataStart);
    const char* refusal = nullptr;
    if (found == ExtensionSearch::compressed) {
        // The document gets the image as it was before compression.
        HeaderCards restored;
        refusal = openCompressedImage(state, read, image, dataStart, restored);
        releaseHeaderCards(image);
        image = restored;
        if (refusal != nullptr) releaseHeaderCards(image);
        if (state.result != noErr) {
            releaseHeaderCards(image);
            return false;
        }
        if (refusal == nullptr) found = ExtensionSearch::found;
    }
    // The cards of an image extension that was passed over may be held.
    if (found != ExtensionSearch::found) releaseHeaderCards(image);
    switch (found) {
        case ExtensionSearch::found: break;
        case ExtensionSearch::none: return true;
        case ExtensionSearch::failed: return false;
        case ExtensionSearch::compressed: break;
        case ExtensionSearch::unknownSize: refusal = notSupported(read, "with an extension of unknown size"); break;
        case ExtensionSearch::tooLong: refusal = headerTooLong(read); break;
    }
    if (refusal != nullptr) {
        refuse(state, read, refusal);
        return false;
    }
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

void readHeader(PluginState& state, ReadOperation& read);

}  // namespace

void doReadStart(PluginState& state) {
    // A host that skipped ReadPrepare (or whose ReadPrepare ran out of
    // memory) still gets a read, or memFullErr before anything is read.
    ReadOperation* read = operationAs<ReadOperation>(state);
    if (read == nullptr && state.result == noErr) read = beginOperation<ReadOperation>(state);
    if (read != nullptr) readHeader(state, *read);
    // The host makes no document of a file that failed here, so nothing
    // will dispose of the empty image-resource handle later.
    if (state.result != noErr) disposeImageResources(state);
}

namespace {

void readHeader(PluginState& state, ReadOperation& read) {
    FormatRecord& record = *state.formatRecord;
    read.readReady = false;
    read.dataStart = 0;
    record.imageRsrcData = handleNew(record.handleProcs, 0);
    record.imageRsrcSize = 0;
    consumeScriptParameters(state);
    read.header.cardPos = 0;
    read.filePos = 0;
    read.keys.sizeCardsSeen = 0;
    read.rowSource.emplace<std::monostate>();
    if (state.result != noErr) return;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    read.input.open(state);
    if (state.result != noErr) return;
    if (!read.header.held() && !read.header.allocate()) {
        recordError(state, memFullErr);
        return;
    }

    // Everything the previous file left behind starts over.
    read.header.startReading();
    read.cardsRead = 0;
    read.filePos = 0;
    read.keys = HeaderKeywords{};
    read.dataBytes = 0;
    uint32_t cardsBeforeEnd = 0;  // the header's own cards, without an inserted identification card
    StreamSource source(state, read.input);
    const HeaderRead primary = readHeader(source, HeaderStart::primary, [&](const char* card, const CardPlace& place) {
        read.filePos += kCardBytes;
        ++read.cardsRead;
        // The first card is the SIMPLE card: kept, not a keyword to act on.
        if (place.index == 0) return read.header.append(card);
        const bool endBefore = read.header.endSeen;
        noteKeyword(card, read.keys);
        if (read.keys.endSeen) read.header.endSeen = true;
        if (read.keys.identified) read.header.idCardPresent = true;
        if (read.header.endSeen && !endBefore) cardsBeforeEnd = static_cast<uint32_t>(read.header.cardPos);
        if (!read.header.append(card)) {
            // A header that cannot be held whole is not read at all.
            recordError(state, memFullErr);
            return false;
        }
        if (place.endsBlock) ++read.header.headerBlocks;
        if (read.keys.sizeCardsSeen == 4) {
            estimateHeaderLength(state, read);
            read.keys.sizeCardsSeen = 0;
        }
        return true;
    });
    switch (primary.end) {
        case HeaderEnd::complete: break;
        case HeaderEnd::notHeader: recordError(state, formatCannotRead); return;
        case HeaderEnd::tooLong: refuse(state, read, headerTooLong(read)); return;
        case HeaderEnd::noBytes:
        case HeaderEnd::cutShort: recordError(state, eofErr); return;
        case HeaderEnd::failed: recordError(state, memFullErr); return;  // unless the read said why first
    }

    // The final length: exactly the cards read, in whole blocks.
    uint32_t length = static_cast<uint32_t>(cardBytes(static_cast<uint64_t>(read.cardsRead)));
    state.headerLength = length;
    if (read.header.size() != length && !read.header.resize(length, length)) {
        recordError(state, memFullErr);
        return;
    }

    // A primary without data may be followed by the image in an extension.
    int64_t dataStart = length;
    if (read.keys.naxisSeen && read.keys.naxis == 0 && !openImageExtension(state, read, cardsBeforeEnd, dataStart))
        return;

    if (const char* reason = unsupportedReason(record, read); reason != nullptr) {
        refuse(state, read, reason);
        return;
    }
    read.planesOpened = planesToOpen(read.keys);
    read.dataBytes = dataBytesFor(record, read.keys, read.planesOpened);

    read.dataStart = dataStart;
    read.filePos = dataStart;
    if (read.rows() == nullptr) {
        if (read.input.isGzip())
            read.rowSource.emplace<GzipRows>(read.input, dataStart, read.dataBytes, read.input.reachableEnd(state));
        else
            read.rowSource.emplace<PlainRows>(read.input, dataStart, read.dataBytes);
    }
    read.toldColumns = static_cast<int32_t>(read.keys.naxis1());
    read.toldRows = static_cast<int32_t>(read.keys.naxis2());
    read.readReady = true;
    setImageSize(record, {read.toldRows, read.toldColumns});
    record.depth = read.keys.hostDepth();
    record.planes = read.planesOpened;
    record.imageMode = read.planesOpened == 3 ? plugInModeRGBColor : plugInModeGrayScale;
}

}  // namespace

}  // namespace nebulite
