#include "export/compressed_save.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "export/block_writer.h"
#include "export/float_header.h"
#include "export/float_samples.h"
#include "export/save_choices.h"
#include "export/tiled/plan.h"
#include "export/tiled/tiled_writer.h"
#include "export/write_layout.h"
#include "header/card_text.h"
#include "header/fits_units.h"
#include "header/header_keywords.h"
#include "import/tiled/tiled_rows.h"
#include "shell/file_access.h"
#include "shell/geometry.h"
#include "shell/module_memory.h"
#include "shell/row_transfer.h"

namespace nebulite {

namespace {

using options::Message;
using tiledsave::SaveError;

constexpr uint64_t kMiB = uint64_t{1} << 20;

codecs::Algorithm algorithmOf(options::Compression c) {
    switch (c) {
        case options::Compression::rice: return codecs::Algorithm::rice;
        case options::Compression::gzip1: return codecs::Algorithm::gzip1;
        case options::Compression::gzip2: return codecs::Algorithm::gzip2;
        case options::Compression::hcompress: return codecs::Algorithm::hcompress;
        case options::Compression::none: break;
    }
    return codecs::Algorithm::none;
}

const char* algorithmName(codecs::Algorithm a) {
    switch (a) {
        case codecs::Algorithm::rice: return "RICE_1";
        case codecs::Algorithm::gzip1: return "GZIP_1";
        case codecs::Algorithm::gzip2: return "GZIP_2";
        case codecs::Algorithm::hcompress: return "HCOMPRESS_1";
        default: return "NOCOMPRESS";
    }
}

// The bytes of the image the host holds: the planes the file takes.
uint64_t hostImageBytes(const FormatRecord& record) {
    const ImageSize size = imageSizeOf(record);
    const uint64_t pixels = static_cast<uint64_t>(std::max(size.rows, 0)) * static_cast<uint64_t>(std::max(size.columns, 0));
    return pixels * static_cast<uint64_t>(planesToWrite(record.imageMode, record.planes)) *
           static_cast<uint64_t>(record.depth / 8);
}

// What the writer is asked for: the document's geometry, the BITPIX and
// NAXIS of the header the uncompressed save writes, the resolved tiling.
// ZDITHER0 comes from the first tile's bytes (fpack -qt): the same document
// always saves to the same file.
tiledsave::SaveParams paramsFor(const FormatRecord& record, int32_t bitpix, uint32_t naxis,
                                const options::ResolvedSave& resolved) {
    const ImageSize size = imageSizeOf(record);
    tiledsave::SaveParams p;
    p.bitpix = bitpix;
    p.naxis = naxis;
    p.width = static_cast<uint64_t>(std::max(size.columns, 0));
    p.height = static_cast<uint64_t>(std::max(size.rows, 0));
    p.planes = static_cast<uint64_t>(planesToWrite(record.imageMode, record.planes));
    p.algorithm = algorithmOf(resolved.compression);
    p.tileRows = resolved.tileRows;
    p.tileColumns = resolved.tileColumns;
    const double q = resolved.chosen.quantize;
    p.floats = q > 0.0 ? tiledsave::FloatStorage::quantized : tiledsave::FloatStorage::lossless;
    p.quantizeLevel = static_cast<float>(q > 0.0 ? q : 4.0);
    p.dither = codecs::Dither::subtractive1;
    p.ditherSeed = tiledsave::kSeedFromFirstTile;
    return p;
}

// The module's reader opens what this layout writes: the work of one band
// of its tiles within kMaxTileWork, as the reader measures it.
bool readerOpens(const tiledsave::Layout& L) {
    tiled::TiledImage image;
    image.algorithm = L.params.algorithm;
    image.bitpix = L.params.bitpix;
    image.naxis = L.params.naxis;
    image.axes[0] = static_cast<int64_t>(L.params.width);
    image.axes[1] = static_cast<int64_t>(L.params.height);
    image.axes[2] = static_cast<int64_t>(L.params.planes);
    image.tile[0] = static_cast<int64_t>(L.grid.tileColumns);
    image.tile[1] = static_cast<int64_t>(L.grid.tileRows);
    image.tile[2] = 1;
    image.maxTilePixels = L.grid.tilePixels;
    image.tileCount = L.grid.count;
    image.quantization = L.quantized ? tiled::Quantization::subtractive1 : tiled::Quantization::lossless;
    return tileWorkFits(image);
}

Message tileText(const tiledsave::Layout& L) {
    return options::compose(L.grid.tileRows, "x", L.grid.tileColumns);
}

// Why the plan cannot be written, in the user's words; empty when it can.
Message refusalOf(const tiledsave::Plan& plan, const tiledsave::SaveParams& p, uint64_t imageBytes) {
    const char* name = algorithmName(p.algorithm);
    switch (plan.error) {
        case SaveError::none: break;
        case SaveError::algorithmRefused:
            if (p.bitpix == 64) return options::compose("64-bit integers are compressed by GZIP_1 or GZIP_2 only, not ", name);
            return options::compose("floating-point samples are compressed exactly by GZIP_1 or GZIP_2 only: give a "
                                    "quantize level above 0 to use ",
                                    name);
        case SaveError::badTile:
            return options::compose(name, " cannot code tiles of ", p.tileRows, "x", p.tileColumns,
                                    " of this image: choose smaller tiles");
        case SaveError::badGeometry:
            // NAXIS comes from the header; the document's own geometry always fits.
            if (p.naxis == 2 || p.naxis == 3)
                return options::compose("an image of ", p.planes, " planes and NAXIS ", p.naxis, " cannot be compressed");
            [[fallthrough]];
        case SaveError::badHeader:
            return options::compose("its header's SIMPLE, BITPIX, NAXIS and NAXISn, first and once each, do not "
                                    "describe the image, which a compressed file needs");
        default:
            return options::compose("it cannot be compressed (", tiledsave::saveErrorName(plan.error), ")");
    }
    const tiledsave::Layout& L = plan.layout;
    const uint64_t budget = compressedSaveBudget(imageBytes);
    if (L.work.total > budget)
        return options::compose(name, " tiles of ", tileText(L).view(), " need ", (L.work.total + kMiB - 1) / kMiB,
                                " MB of memory to save, more than the ", budget / kMiB,
                                " MB a save of this image may take: choose smaller tiles");
    if (!readerOpens(L))
        return options::compose(name, " tiles of ", tileText(L).view(),
                                " are too large to open again: choose smaller tiles");
    return {};
}

// The image's size cards alone (SIMPLE, BITPIX, NAXIS, NAXISn, END), where
// the header is not made yet.
struct SizeCards {
    char text[7 * kCardBytes];
    uint32_t count = 0;

    void add(const char* card) {
        std::memcpy(text + size_t{count} * kCardBytes, card, kCardBytes);
        ++count;
    }
    std::span<const char> span() const { return {text, size_t{count} * kCardBytes}; }
};

void valueCard(char* card, const char* keyword, std::string_view value) {
    setCardText(card, keyword);
    card[8] = '=';
    putRightAligned(card, value, 30);
}

void sizeCards(const tiledsave::SaveParams& p, SizeCards& out) {
    char card[kCardBytes];
    char digits[24];
    valueCard(card, "SIMPLE", "T");
    out.add(card);
    valueCard(card, "BITPIX", decimalText(p.bitpix, digits));
    out.add(card);
    valueCard(card, "NAXIS", decimalText(p.naxis, digits));
    out.add(card);
    valueCard(card, "NAXIS1", decimalText(static_cast<int64_t>(p.width), digits));
    out.add(card);
    valueCard(card, "NAXIS2", decimalText(static_cast<int64_t>(p.height), digits));
    out.add(card);
    if (p.naxis == 3) {
        valueCard(card, "NAXIS3", decimalText(static_cast<int64_t>(p.planes), digits));
        out.add(card);
    }
    setCardText(card, "END");
    out.add(card);
}

// The plan made before the header is: the BITPIX the options resolved to.
tiledsave::Plan planBeforeHeader(PluginState& state, const options::ResolvedSave& resolved,
                                 tiledsave::SaveParams& params) {
    const FormatRecord& record = *state.formatRecord;
    const int16_t planes = planesToWrite(record.imageMode, record.planes);
    params = paramsFor(record, resolved.bitpix, planes > 1 ? 3u : 2u, resolved);
    SizeCards cards;
    sizeCards(params, cards);
    return tiledsave::planSave(params, cards.span());
}

OSErr resultOf(SaveError e) {
    switch (e) {
        case SaveError::none: return noErr;
        case SaveError::noMemory: return memFullErr;
        default: return writErr;
    }
}

// The host's file: writes through dataFork, seeks back within it.
class HostFileSink final : public tiledsave::ByteSink {
public:
    explicit HostFileSink(intptr_t file) : file_(file) {}
    bool write(std::span<const uint8_t> bytes) override {
        while (!bytes.empty()) {
            const size_t n = std::min<size_t>(bytes.size(), size_t{1} << 30);
            int32_t moved = static_cast<int32_t>(n);
            if (fileWrite(file_, &moved, bytes.data()) != noErr) return false;
            bytes = bytes.subspan(n);
        }
        return true;
    }
    bool seek(uint64_t position) override {
        return position <= static_cast<uint64_t>(INT64_MAX) &&
               fileSeekTo(file_, static_cast<int64_t>(position)) == noErr;
    }

private:
    intptr_t file_;
};

// The module's heap, 16-byte aligned on every target (a 32-bit Windows
// heap gives 8): each block starts up to 16 bytes into what was had, the
// distance kept in the byte before it.
class ModuleWriterMemory final : public tiledsave::WriterMemory {
public:
    void* allocate(size_t bytes) override {
        if (bytes > SIZE_MAX - kAlign) return nullptr;
        auto* raw = static_cast<uint8_t*>(moduleAllocate(nebuliteAllocRowBlock, bytes + kAlign));
        if (raw == nullptr) return nullptr;
        const auto shift = static_cast<uint8_t>(kAlign - reinterpret_cast<uintptr_t>(raw) % kAlign);
        uint8_t* block = raw + shift;
        block[-1] = shift;
        return block;
    }
    void release(void* block) override {
        if (block == nullptr) return;
        auto* at = static_cast<uint8_t*>(block);
        moduleFree(at - at[-1]);
    }

private:
    static constexpr size_t kAlign = 16;
};

}  // namespace

uint64_t compressedSaveBudget(uint64_t hostImageBytes) {
    return std::max(kCompressedSaveFloorBytes, hostImageBytes / 10);
}

std::optional<options::ResolvedSave> compressedSaveOf(PluginState& state) {
    if (state.saveOptions.compression == options::Compression::none) return std::nullopt;
    const options::SaveResolution r = options::resolve(state.saveOptions, saveFactsOf(state));
    if (!r.ok() || r.resolved.compression == options::Compression::none) return std::nullopt;
    return r.resolved;
}

Message compressedSaveRefusal(PluginState& state, const options::ResolvedSave& resolved) {
    tiledsave::SaveParams params;
    const tiledsave::Plan plan = planBeforeHeader(state, resolved, params);
    return refusalOf(plan, params, hostImageBytes(*state.formatRecord));
}

std::optional<SizeBounds> compressedSizeBounds(PluginState& state, const options::ResolvedSave& resolved) {
    tiledsave::SaveParams params;
    const tiledsave::Plan plan = planBeforeHeader(state, resolved, params);
    if (!refusalOf(plan, params, hostImageBytes(*state.formatRecord)).empty()) return std::nullopt;
    const tiledsave::Layout& L = plan.layout;
    // The kept header's cards go into the table header beside the size cards.
    const uint64_t header = L.headerBytes + (state.headerLength > kBlockBytes ? state.headerLength : 0);
    SizeBounds b;
    b.least = kBlockBytes + header + roundUpToBlock(L.tableBytes);
    b.most = kBlockBytes + header + roundUpToBlock(L.tableBytes + L.heapBound);
    return b;
}

void writeCompressedFile(PluginState& state, WriteOperation& write, const options::ResolvedSave& resolved) {
    FormatRecord& record = *state.formatRecord;
    if (state.result != noErr) return;
    CardBuffer& header = write.header;
    const std::span<const char> cards(header.text(), std::min(state.headerLength, header.size()));
    HeaderKeywords keys;
    for (size_t at = 0; at + kCardBytes <= cards.size() && !keys.endSeen; at += kCardBytes)
        noteKeyword(cards.data() + at, keys);
    const auto naxis = static_cast<uint32_t>(keys.naxisSeen && keys.naxis >= 0 && keys.naxis <= 3 ? keys.naxis : 0);
    const tiledsave::SaveParams params = paramsFor(record, write.plan.bitpix, naxis, resolved);
    const tiledsave::Plan plan = tiledsave::planSave(params, cards);
    if (const Message why = refusalOf(plan, params, hostImageBytes(record)); !why.empty()) {
        refuseSaveAsAsked(state, why.view());
        return;
    }

    HostFileSink sink(record.dataFork);
    ModuleWriterMemory memory;
    // The cards stay where they are until finish() writes the table header:
    // the range cards a 32-bit document fills in once its data is written
    // change in place, before it.
    tiledsave::TiledWriter writer(plan.layout, cards, sink, memory);
    if (!recordError(state, resultOf(writer.begin()))) return;

    const auto sampleBytes = static_cast<int16_t>(record.depth / 8);
    RowBuffer buffer(record);
    if (buffer.size(state, sampleBytes)) buffer.acquire(state);
    const auto columns = static_cast<uint64_t>(imageSizeOf(record).columns);
    const uint64_t storedBytes = columns * storedSampleBytes(write.plan.bitpix);
    ModuleArray<unsigned char> stored;
    if (state.result == noErr && record.depth == 32 && !stored.allocate(nebuliteAllocRowBlock, storedBytes))
        recordError(state, memFullErr);
    if (state.result != noErr) return;
    record.colBytes = sampleBytes;
    record.rowBytes = buffer.rowBytes();
    record.planeBytes = 0;
    record.data = buffer.data();
    const auto rowBytes = static_cast<uint32_t>(buffer.rowBytes());
    auto* host = reinterpret_cast<uint8_t*>(buffer.data());
    walkRows(
        state, write.planesWritten, imageSizeOf(record).rows * write.planesWritten, write.plan.flipRows,
        [](int16_t, int32_t) {},
        [&](int16_t, int32_t) {
            if (state.result != noErr) return;
            std::span<const uint8_t> row;
            if (record.depth == 32) {
                storeFloatRow(host, static_cast<size_t>(columns), write.plan, write.blank, stored.data(), write.written);
                row = {stored.data(), static_cast<size_t>(storedBytes)};
            } else {
                storeLevelSamples(host, rowBytes, sampleBytes, write.bzero);
                row = {host, rowBytes};
            }
            recordError(state, resultOf(writer.add(row)));
        });
    record.data = nullptr;
    buffer.release();
    if (state.result != noErr) return;
    if (record.depth == 32) completeFloatHeaderText(write, state.headerLength);
    recordError(state, resultOf(writer.finish()));
}

}  // namespace nebulite
