#include "import/read_header.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "header/card_buffer.h"
#include "header/card_text.h"
#include "platform/win32.h"
#include "shell/file_access.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/session.h"
#include "shell/sizes.h"

namespace nebulite {

namespace {

// The estimate made from the file's length only pre-sizes the header text;
// past this the text grows as cards arrive instead, so a file with a huge
// tail after its primary data costs no memory for it.
constexpr uint64_t kPresizeLimit = 64 * uint64_t{kBlockBytes};

void refuse(PluginState& state, const std::string& message) {
    MessageBoxA(nullptr, message.c_str(), "Nebulite", MB_OK);
    recordCancel(state, true);
    releaseReadMemory();
}

// ---- The keyword table -------------------------------------------------------

using KeywordEffect = void (*)(std::string_view value);

void onBitpix(std::string_view value) {
    ++session.keyCardsSeen;
    int64_t v = intValue(value);
    session.bitpixSeen = true;
    session.bitpixValue = v;
    session.bitpixNegative = v < 0;
    if (v < 0) v = -v;
    // Keep the magnitude within 16 bits; anything that large is refused later.
    int16_t bits = static_cast<int16_t>(v > 512 ? 512 : v);
    session.fileBitpix = bits;
    session.hostDepth = bits > 16 ? int16_t{16} : bits;
    session.hostSampleBytes = static_cast<int16_t>(session.hostDepth / 8);
    session.fileSampleBytes = static_cast<int16_t>(session.fileBitpix / 8);
}
void onNaxis(std::string_view value) {
    ++session.keyCardsSeen;
    session.naxisSeen = true;
    session.naxisValue = intValue(value);
    session.isColor = session.naxisValue == 3;
}
void onNaxis1(std::string_view value) {
    ++session.keyCardsSeen;
    session.naxis1Seen = true;
    session.naxis1Value = intValue(value);
}
void onNaxis2(std::string_view value) {
    ++session.keyCardsSeen;
    session.naxis2Seen = true;
    session.naxis2Value = intValue(value);
}
void onNaxis3(std::string_view value) { session.naxis3Value = intValue(value); }
void onBzero(std::string_view value) { session.bzero = realValue(value); }
void onBscale(std::string_view value) { session.bscale = realValue(value); }
void onBlank(std::string_view value) {
    session.blankSeen = true;
    session.blankValue = intValue(value);
}
void onRangeLow(std::string_view value) {
    session.rangeLow = realValue(value);
    session.rangeKeywordSeen = true;
}
void onRangeHigh(std::string_view value) {
    session.rangeHigh = realValue(value);
    session.rangeKeywordSeen = true;
}
void onOffsetLow(std::string_view value) {
    onRangeLow(value);
    session.rangeIsOffset = true;
}
void onOffsetHigh(std::string_view value) {
    onRangeHigh(value);
    session.rangeIsOffset = true;
}
void onEnd(std::string_view) { session.endSeen = true; }
void onNebulite(std::string_view) { session.idCardPresent = true; }
void noEffect(std::string_view) {}

struct KeywordRow {
    std::string_view keyword;
    KeywordEffect effect;
};

constexpr std::array<KeywordRow, 19> kKeywords = {{
    {"BITPIX", onBitpix},
    {"NAXIS", onNaxis},
    {"NAXIS1", onNaxis1},
    {"NAXIS2", onNaxis2},
    {"NAXIS3", onNaxis3},
    {"BZERO", onBzero},
    {"BUNIT", noEffect},
    {"BSCALE", onBscale},
    {"BLANK", onBlank},
    {"BACKGRND", onOffsetLow},
    {"RANGE", onOffsetHigh},
    {"AVISUMIN", onRangeLow},
    {"AVISUMAX", onRangeHigh},
    {"DATAMIN", onRangeLow},
    {"DATAMAX", onRangeHigh},
    {"CBLACK", onRangeLow},
    {"CWHITE", onRangeHigh},
    {"END", onEnd},
    {"NEBULITE", onNebulite},
}};

void applyKeyword(const char* card) {
    SplitCard split = splitCard(card);
    for (const KeywordRow& row : kKeywords) {
        if (keywordIs(split.keyword, row.keyword)) {
            row.effect(split.value);
            return;
        }
    }
}

// Planes the host receives: three for a colour cube, one otherwise. A cube
// of one or two planes is shown as its first plane in grey.
int16_t planesToOpen() {
    if (session.naxisValue == 3 && session.naxis3Value >= 3) return 3;
    return 1;
}

// Bytes of file data for the planes that will be opened, or -1 when the
// size keywords do not describe something that can be opened.
int64_t dataBytesFor(int64_t planes) {
    if (session.naxis1Value < 1 || session.naxis1Value > kMaxHostDimension ||
        session.naxis2Value < 1 || session.naxis2Value > kMaxHostDimension ||
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
    int64_t data = dataBytesFor(session.isColor ? 3 : 1);
    if (data < 0) return;  // refused after the header is read
    session.dataBytes = data;
    lookUpFileLength(state);
    int64_t header = session.fileLength - static_cast<int64_t>(roundUpToBlock(static_cast<uint64_t>(data)));
    if (header <= 0) header = kBlockBytes;
    uint64_t length = roundUpToBlock(static_cast<uint64_t>(header));
    if (length > kMaxByteCount) length = kMaxByteCount / kBlockBytes * kBlockBytes;
    state.headerLength = static_cast<uint32_t>(length);
    if (length != kBlockBytes && length <= kPresizeLimit)
        resizeCardBuffer(static_cast<uint32_t>(session.filePos), static_cast<uint32_t>(length));
}

std::string notSupported(const std::string& what) {
    return "Fits Files " + what + " are not supported";
}

}  // namespace

void lookUpFileLength(PluginState& state) {
    session.fileLength = 0;
    const FSSpec* location = state.formatRecord->fileSpec;
    if (location == nullptr) return;
    // The path's characters start 9 bytes into the record and end at a NUL.
    const char* text = reinterpret_cast<const char*>(location) + 9;
    char path[256];
    size_t n = 0;
    while (n < 255 && text[n] != '\0') {
        path[n] = text[n];
        ++n;
    }
    path[n] = '\0';
    if (n == 0) return;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        long length = std::ftell(file);
        if (length > 0) session.fileLength = length;
    }
    std::fclose(file);
}

std::string unsupportedReason() {
    if (!session.bitpixSeen) return notSupported("without a BITPIX card");
    if (!session.naxisSeen) return notSupported("without a NAXIS card");
    int64_t bitpix = session.bitpixValue;
    if (bitpix != 8 && bitpix != 16 && bitpix != 32 && bitpix != -32)
        return notSupported("with BITPIX = " + std::to_string(bitpix));
    if (session.naxisValue < 2)
        return notSupported("with NAXIS = " + std::to_string(session.naxisValue));
    if (!session.naxis1Seen) return notSupported("without a NAXIS1 card");
    if (!session.naxis2Seen) return notSupported("without a NAXIS2 card");
    if (session.naxis1Value < 1 || session.naxis1Value > kMaxHostDimension)
        return notSupported("with NAXIS1 = " + std::to_string(session.naxis1Value));
    if (session.naxis2Value < 1 || session.naxis2Value > kMaxHostDimension)
        return notSupported("with NAXIS2 = " + std::to_string(session.naxis2Value));
    if (session.naxisValue >= 3 && session.naxis3Value < 1)
        return notSupported("with NAXIS3 = " + std::to_string(session.naxis3Value));
    // The host holds the image in memory with 32-bit byte counts.
    auto hostBytes = checkedMul(static_cast<uint64_t>(session.naxis1Value) *
                                    static_cast<uint64_t>(session.naxis2Value),
                                static_cast<uint64_t>(planesToOpen() * session.hostSampleBytes));
    if (!hostBytes) return notSupported("with more than 2 GB of image data");
    return {};
}

void doReadPrepare(PluginState& state) {
    if (!allocateCardBuffer()) recordError(state, memFullErr);
}

namespace {
void readHeader(PluginState& state);
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
    record.imageRsrcData = handleNew(record.handleProcs, 0);
    record.imageRsrcSize = 0;
    consumeScriptParameters(state);
    session.cardPos = 0;
    session.filePos = 0;
    session.keyCardsSeen = 0;
    if (state.result != noErr) return;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    if (!recordError(state, fileSeek(record.dataFork, FILE_BEGIN, 0))) return;
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
    readExact(state, kCardBytes, card);
    session.filePos = kCardBytes;
    if (state.result == noErr) appendCard(card);
    session.cardsRead = 1;

    session.bscale = 1.0;
    session.bzero = 0.0;
    session.rangeLow = 0.0;
    session.rangeHigh = 0.0;
    session.rangeIsOffset = false;
    session.rangeKeywordSeen = false;
    session.bitpixSeen = session.naxisSeen = session.naxis1Seen = session.naxis2Seen = false;
    session.bitpixValue = session.naxisValue = session.naxis1Value = session.naxis2Value = 0;
    session.naxis3Value = 1;
    session.blankSeen = false;
    session.blankValue = 0;
    session.fileBitpix = session.fileSampleBytes = session.hostDepth = session.hostSampleBytes = 0;
    session.bitpixNegative = false;
    session.isColor = false;
    session.dataBytes = 0;
    if (state.result != noErr) return;
    if (!isSimpleCard(card)) {
        state.result = formatCannotRead;
        return;
    }

    // The card loop: ends on the block boundary after the block holding END.
    while (!(session.filePos % kBlockBytes == 0 && session.endSeen)) {
        if (session.cardsRead >= static_cast<int32_t>(kMaxHeaderBlocks * kCardsPerBlock)) {
            refuse(state, notSupported("with a header longer than " +
                                       std::to_string(kMaxHeaderBlocks) + " blocks"));
            return;
        }
        readExact(state, kCardBytes, card);
        ++session.cardsRead;
        if (state.result != noErr) return;
        // What follows END in its block is blank by definition, and a card
        // starting with NUL is padding some writers leave.
        if (session.endSeen || card[0] == '\0') std::memset(card, ' ', kCardBytes);
        session.filePos += kCardBytes;
        bool endsBlock = session.filePos % kBlockBytes == 0;
        applyKeyword(card);
        if (session.fileBitpix == 64) {
            refuse(state, "64-bit Fits Files are not supported");
            return;
        }
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

    if (std::string reason = unsupportedReason(); !reason.empty()) {
        refuse(state, reason);
        return;
    }
    session.planesOpened = planesToOpen();
    session.isColor = session.planesOpened == 3;
    session.dataBytes = dataBytesFor(session.planesOpened);

    session.toldColumns = static_cast<int16_t>(session.naxis1Value);
    session.toldRows = static_cast<int16_t>(session.naxis2Value);
    session.readReady = true;
    record.imageSize.h = session.toldColumns;
    record.imageSize.v = session.toldRows;
    record.depth = session.hostDepth;
    record.planes = session.planesOpened;
    record.imageMode = session.isColor ? plugInModeRGBColor : plugInModeGrayScale;
    session.dataStart = session.filePos;
}

}  // namespace

}  // namespace nebulite
