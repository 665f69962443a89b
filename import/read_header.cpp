#include "import/read_header.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "header/card_buffer.h"
#include "header/card_text.h"
#include "header/header_keywords.h"
#include "header/header_reader.h"
#include "import/image_choice.h"
#include "import/open_choices.h"
#include "import/open_dialog_step.h"
#include "import/refusals.h"
#include "header/header_keywords.h"
#include "import/read_operation.h"
#include "import/tiled/tiled_rows.h"
#include "import/tiled/tile_decode.h"
#include "import/tiled/tiled_header.h"
#include "options/fixed_text.h"
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

void readHeader(PluginState& state, ReadOperation& read);

// The highest plane of the file the read takes, counted from 1.
int64_t highestPlane(const options::ResolvedOpen& r) {
    uint32_t most = 1;
    for (uint8_t p = 0; p < r.planeCount; ++p)
        if (r.planes[p] > most) most = r.planes[p];
    return most;
}

// The options measured against the chosen image; the user is told, and the
// read ends, when they cannot be honoured.
bool resolveOptions(PluginState& state, ReadOperation& read, const ChosenImage& chosen) {
    options::OpenOptions asked = read.asked;
    asked.image = options::ImageChoice{};
    asked.image.select = options::ImageSelect::index;
    const options::HduFacts one[1] = {chosen.facts};
    options::OpenResolution r = options::resolve(asked, options::FileFacts{one});
    if (!r.ok()) {
        refuseAsAsked(state, read, r.message.view());
        return false;
    }
    // What an action records: a name stays a name, anything else the HDU's number.
    r.resolved.hdu = chosen.hdu;
    if (read.asked.image.select == options::ImageSelect::name) {
        r.resolved.chosen.image = read.asked.image;
    } else {
        r.resolved.chosen.image = options::ImageChoice{};
        r.resolved.chosen.image.select = options::ImageSelect::index;
        r.resolved.chosen.image.index = chosen.hdu;
    }
    r.resolved.chosen = options::canonical(r.resolved.chosen);
    // The host holds the image in memory with 32-bit byte counts.
    const HeaderKeywords& k = read.keys;
    if (!checkedMul(static_cast<uint64_t>(k.naxis1()) * static_cast<uint64_t>(k.naxis2()),
                    uint64_t{r.resolved.documentPlanes} * (r.resolved.depth / 8), maxImageBytes(*state.formatRecord))) {
        refuse(state, read, notSupported(read, "with more than 2 GB of image data"));
        return false;
    }
    read.resolved = r.resolved;
    read.resolvedReady = true;
    return true;
}

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
    readOpenChoices(state, read);
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
        // The first card is the SIMPLE card: kept, and it says what the HDU is.
        if (place.index == 0) {
            read.keys.type = HduType::primary;
            return read.header.append(card);
        }
        const bool endBefore = read.header.endSeen;
        noteKeyword(card, read.keys);
        // An XTENSION card inside a primary header does not make it an extension.
        read.keys.type = HduType::primary;
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
    // A value of the descriptor the options cannot take: told, not guessed;
    // but only of a file this is (what is not FITS, or is cut short, is
    // refused as FilterFile and a plain open refuse it).
    if (!read.refusedValue.empty()) {
        refuseAsAsked(state, read, read.refusedValue.view());
        return;
    }

    // The final length: exactly the cards read, in whole blocks.
    uint32_t length = static_cast<uint32_t>(cardBytes(static_cast<uint64_t>(read.cardsRead)));
    state.headerLength = length;
    if (read.header.size() != length && !read.header.resize(length, length)) {
        recordError(state, memFullErr);
        return;
    }

    // The user's say, where the host and the file call for a dialog.
    if (!askOpenChoices(state, read, read.filePos)) return;
    // The image asked for: the primary's, or one past it.
    ChosenImage chosen;
    if (!chooseImage(state, read, cardsBeforeEnd, chosen)) return;
    const int64_t dataStart = chosen.dataStart;
    // An HDU asked for that holds no data: which one, as of any option the
    // file cannot honour, rather than the words for a file without an image.
    if (read.asked.image.select != options::ImageSelect::automatic && read.keys.naxisSeen && read.keys.naxis == 0) {
        refuseAsAsked(state, read, options::compose("HDU ", chosen.hdu, " holds no image (NAXIS = 0)").view());
        return;
    }
    if (const char* reason = unsupportedReason(record, read); reason != nullptr) {
        refuse(state, read, reason);
        return;
    }
    if (!resolveOptions(state, read, chosen)) return;
    const options::ResolvedOpen& r = read.resolved;
    read.planesOpened = r.documentPlanes;
    read.dataBytes = dataBytesFor(record, read.keys, highestPlane(r));
    read.flipRows = r.flipRows;
    for (uint8_t p = 0; p < 3; ++p) read.filePlanes[p] = p < r.planeCount ? r.planes[p] - 1 : 0;

    read.dataStart = dataStart;
    read.filePos = dataStart;
    if (read.rows() == nullptr) {
        const int64_t planeBytes = dataBytesFor(record, read.keys, 1);
        if (read.input.isGzip())
            read.rowSource.emplace<GzipRows>(read.input, dataStart, read.dataBytes, planeBytes,
                                             read.input.reachableEnd(state));
        else
            read.rowSource.emplace<PlainRows>(read.input, dataStart, read.dataBytes, planeBytes);
    }
    read.toldColumns = static_cast<int32_t>(read.keys.naxis1());
    read.toldRows = static_cast<int32_t>(read.keys.naxis2());
    read.readReady = true;
    setImageSize(record, {read.toldRows, read.toldColumns});
    record.depth = read.resolved.depth;
    record.planes = read.planesOpened;
    record.imageMode = read.planesOpened == 3 ? plugInModeRGBColor : plugInModeGrayScale;
}

}  // namespace

}  // namespace nebulite
