#include "export/write_pixels.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "document/kept_header.h"
#include "export/block_writer.h"
#include "export/compressed_save.h"
#include "export/float_header.h"
#include "export/rewrite.h"
#include "export/save_choices.h"
#include "export/synthesize.h"
#include "export/write_layout.h"
#include "export/write_operation.h"
#include "header/card_buffer.h"
#include "platform/win32.h"
#include "shell/file_access.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/module_memory.h"
#include "shell/row_transfer.h"
#include "header/fits_units.h"

namespace nebulite {

int16_t planesToWrite(int16_t mode, int16_t planes) {
    int16_t channels = 1;
    switch (mode) {
        case plugInModeRGBColor:
        case plugInModeHSLColor:
        case plugInModeHSBColor:
        case plugInModeLabColor: channels = 3; break;
        case plugInModeCMYKColor: channels = 4; break;
        case plugInModeMultichannel: channels = planes; break;
        default: channels = 1; break;
    }
    if (planes < channels) channels = planes;
    return channels < 1 ? int16_t{1} : channels;
}

namespace {

void tellUser(const char* message) {
    MessageBoxA(nullptr, message, "Nebulite", MB_OK);
}

// Bytes of samples the file will hold, `perSample` bytes each, or nothing
// beyond what the host takes.
std::optional<uint64_t> sampleBytes(const FormatRecord& record, uint32_t perSample) {
    const ImageSize size = imageSizeOf(record);
    if (size.rows < 0 || size.columns < 0) return std::nullopt;
    const uint64_t limit = maxFileBytes(record);
    auto plane = checkedMul(static_cast<uint64_t>(size.rows) * static_cast<uint64_t>(size.columns), perSample, limit);
    if (!plane) return std::nullopt;
    return checkedMul(*plane, static_cast<uint64_t>(planesToWrite(record.imageMode, record.planes)), limit);
}

}  // namespace

bool imageCanBeSaved(PluginState& state, uint32_t storedBytes) {
    const FormatRecord& record = *state.formatRecord;
    if (record.depth != 8 && record.depth != 16 && record.depth != 32) {
        // Made in a fixed buffer: nothing here may allocate or throw.
        char message[64];
        std::snprintf(message, sizeof message, "%d-bit Fits Files are not supported", int{record.depth});
        tellUser(message);
        return recordCancel(state, true);
    }
    auto bytes = sampleBytes(record, storedBytes);
    uint64_t header = state.headerLength == 0 ? kBlockBytes : state.headerLength;
    // Room for the header, the samples and the closing fill within what
    // the host takes.
    const uint64_t limit = maxFileBytes(record);
    if (!bytes || !checkedAdd(*bytes, header + 2 * uint64_t{kBlockBytes}, limit)) {
        char message[64];
        std::snprintf(message, sizeof message, "Fits Files larger than %llu GB are not supported",
                      static_cast<unsigned long long>((limit + 1) >> 30));
        tellUser(message);
        return recordCancel(state, true);
    }
    return true;
}

namespace {

// Bytes of one sample as the save will store them: the document's own for
// 8 and 16 bits; for a 32-bit document those of the BITPIX its plan goes
// back to (one to eight), which the header it kept tells.
uint32_t plannedSampleBytes(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    if (record.depth != 32) return static_cast<uint32_t>(record.depth < 8 ? 1 : record.depth / 8);
    CardBuffer header;
    if (!header.allocate()) return 4;
    const uint32_t headerLength = state.headerLength;
    const RebuiltHeader rebuilt = rebuildHeaderFromResources(state, header);
    // The estimate leaves the header's length to the save.
    state.headerLength = headerLength;
    const bool kept = rebuilt != RebuiltHeader::noRoom && header.text()[0] == 'S';
    return storedSampleBytes(planSave(record.depth, header, kept, readOpenRecord(state), state.saveOptions).bitpix);
}

}  // namespace

void doEstimateStart(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (state.headerLength == 0) state.headerLength = kBlockBytes;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    const uint32_t perSample = plannedSampleBytes(state);
    if (!imageCanBeSaved(state, perSample)) return;
    uint64_t size = *sampleBytes(record, perSample) + state.headerLength;
    uint64_t least = size;
    // A compressed file: from its headers and table (tiles that all but
    // vanish) to every tile at its worst.
    if (const std::optional<options::ResolvedSave> compressed = compressedSaveOf(state)) {
        if (const std::optional<SizeBounds> bounds = compressedSizeBounds(state, *compressed)) {
            least = bounds->least;
            size = bounds->most;
        }
    }
    // The estimate's fields are 32-bit: a larger file is estimated at their
    // largest value, never at what a wrapped count would say.
    const auto estimate = static_cast<int32_t>(size > kMaxByteCount ? kMaxByteCount : size);
    record.minDataBytes = static_cast<int32_t>(least > kMaxByteCount ? kMaxByteCount : least);
    record.maxDataBytes = estimate;
    record.data = nullptr;
}

namespace {

// 8- and 16-bit rows: the host puts each straight into the block writer's
// buffer where it fits, and the samples are converted there.
void writeLevelRows(PluginState& state, WriteOperation& write, RowBuffer& buffer, BlockWriter& writer, int16_t planes) {
    FormatRecord& record = *state.formatRecord;
    const auto sampleBytes = static_cast<int16_t>(record.depth / 8);
    const auto rowBytes = static_cast<uint32_t>(buffer.rowBytes());
    uint8_t* slot = nullptr;
    walkRows(
        state, planes, imageSizeOf(record).rows * planes, write.plan.flipRows,
        [&](int16_t, int32_t) {
            slot = writer.slotFor(rowBytes);
            record.data = slot != nullptr ? static_cast<void*>(slot) : static_cast<void*>(buffer.data());
        },
        [&](int16_t, int32_t) {
            if (slot != nullptr)
                writer.take(state, rowBytes, sampleBytes, write.bzero);
            else
                writer.addSamples(state, reinterpret_cast<const uint8_t*>(buffer.data()), rowBytes, sampleBytes,
                                  write.bzero);
            write.bytesWritten += rowBytes;
        });
}

// A 32-bit document's rows: each host row of floats into the stored
// samples of the plan's BITPIX, then to the block writer.
void writeFloatRows(PluginState& state, WriteOperation& write, RowBuffer& buffer, BlockWriter& writer, int16_t planes) {
    FormatRecord& record = *state.formatRecord;
    const auto columns = static_cast<uint64_t>(imageSizeOf(record).columns);
    const uint64_t storedBytes = columns * storedSampleBytes(write.plan.bitpix);
    ModuleArray<unsigned char> stored;
    if (!stored.allocate(nebuliteAllocRowBlock, storedBytes)) {
        recordError(state, memFullErr);
        return;
    }
    walkRows(
        state, planes, imageSizeOf(record).rows * planes, write.plan.flipRows, [](int16_t, int32_t) {},
        [&](int16_t, int32_t) {
            if (state.result != noErr) return;
            storeFloatRow(reinterpret_cast<const unsigned char*>(buffer.data()), static_cast<size_t>(columns), write.plan,
                          write.blank, stored.data(), write.written);
            writer.addSamples(state, stored.data(), static_cast<uint32_t>(storedBytes), 1, 0.0);
            write.bytesWritten += storedBytes;
        });
}

}  // namespace

namespace {

// The header made ready for the document and the save's options: the one
// the document kept, brought up to date, or none (a new document's is made
// at WriteStart). False, with memFullErr, when the header could not be had.
bool prepareHeader(PluginState& state, WriteOperation& write) {
    const FormatRecord& record = *state.formatRecord;
    if (!write.header.allocate()) return recordError(state, memFullErr);
    RebuiltHeader rebuilt = rebuildHeaderFromResources(state, write.header);
    const bool kept = rebuilt != RebuiltHeader::noRoom && write.header.text()[0] == 'S';
    write.plannedWith = state.saveOptions;
    write.plan = planSave(record.depth, write.header, kept, readOpenRecord(state), state.saveOptions);
    write.blank = blankRuleOf(write.header, write.plan);
    for (int32_t& slot : write.rangeLowSlots) slot = -1;
    for (int32_t& slot : write.rangeHighSlots) slot = -1;
    write.historySlot = -1;
    if (rebuilt == RebuiltHeader::noRoom || !rewriteHeader(state, write, rebuilt == RebuiltHeader::fromHistory)) {
        // A header that lost cards for want of memory is not written at all.
        write.header.release();
        return recordError(state, memFullErr);
    }
    return true;
}

}  // namespace

void doWritePrepare(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    record.maxData = 0;
    WriteOperation* write = beginOperation<WriteOperation>(state);
    if (write == nullptr) return;
    prepareHeader(state, *write);
}

void doWriteStart(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (state.result != noErr) return;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    WriteOperation* write = operationAs<WriteOperation>(state);
    if (write == nullptr || !write->header.held()) {
        // WritePrepare could not make the header; nothing is written.
        recordError(state, memFullErr);
        return;
    }
    // A host that ran no options step plays the save's descriptor here; the
    // header is made again for options other than those it was made with.
    if (readSaveChoices(state) && !(state.saveOptions == write->plannedWith) && !prepareHeader(state, *write)) return;
    if (state.result != noErr) return;
    if (!imageCanBeSaved(state, storedSampleBytes(write->plan.bitpix))) return;
    fileSeek(record.dataFork, FILE_BEGIN, 0);
    const auto sampleBytes = static_cast<int16_t>(record.depth / 8);
    CardBuffer& header = write->header;
    if (header.text()[0] != 'S') {
        synthesizeHeader(state, *write);
        state.headerLength = kBlockBytes;
        header.headerBlocks = 1;
    }
    // A tile-compressed file carries the same header in its table.
    if (const std::optional<options::ResolvedSave> compressed = compressedSaveOf(state)) {
        writeCompressedFile(state, *write, *compressed);
        return;
    }
    const int16_t planes = write->planesWritten;
    // The samples go to the file through the block writer, whose buffer is
    // had before anything is written.
    BlockWriter writer;
    if (!writer.open(state)) return;
    // Never more than the header text holds.
    uint32_t headerBytes = state.headerLength;
    if (headerBytes > header.size()) headerBytes = header.size();
    writeExact(state, static_cast<int32_t>(headerBytes), header.text());
    write->bytesWritten = headerBytes;
    if (state.result != noErr) return;

    RowBuffer buffer(record);
    if (buffer.size(state, sampleBytes)) buffer.acquire(state);
    record.colBytes = sampleBytes;
    record.rowBytes = buffer.rowBytes();
    record.planeBytes = 0;
    record.data = buffer.data();
    if (record.depth == 32)
        writeFloatRows(state, *write, buffer, writer, planes);
    else
        writeLevelRows(state, *write, buffer, writer, planes);
    record.data = nullptr;
    buffer.release();

    if (state.result == noErr) writer.addZeros(state, static_cast<uint32_t>(blockFill(write->bytesWritten)));
    writer.flush(state);
    // What only the data could say goes into the header last.
    if (record.depth == 32) completeFloatHeader(state, *write);
}

}  // namespace nebulite
