#include "export/write_pixels.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "document/kept_header.h"
#include "export/block_writer.h"
#include "export/rewrite.h"
#include "export/synthesize.h"
#include "export/write_layout.h"
#include "header/card_buffer.h"
#include "import/row_buffer.h"
#include "platform/win32.h"
#include "shell/file_access.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_services.h"
#include "shell/session.h"
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

// Bytes of samples the file will hold, or nothing beyond what the host takes.
std::optional<uint64_t> sampleBytes(const FormatRecord& record) {
    const ImageSize size = imageSizeOf(record);
    if (size.rows < 0 || size.columns < 0) return std::nullopt;
    const uint64_t limit = maxFileBytes(record);
    uint64_t perSample = static_cast<uint64_t>(record.depth / 8);
    auto plane = checkedMul(static_cast<uint64_t>(size.rows) * static_cast<uint64_t>(size.columns), perSample, limit);
    if (!plane) return std::nullopt;
    return checkedMul(*plane, static_cast<uint64_t>(planesToWrite(record.imageMode, record.planes)), limit);
}

}  // namespace

bool imageCanBeSaved(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    if (record.depth != 8 && record.depth != 16) {
        // Made in a fixed buffer: nothing here may allocate or throw.
        char message[64];
        std::snprintf(message, sizeof message, "%d-bit Fits Files are not supported", int{record.depth});
        tellUser(message);
        return recordCancel(state, true);
    }
    auto bytes = sampleBytes(record);
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

void doEstimateStart(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (state.headerLength == 0) state.headerLength = kBlockBytes;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    if (!imageCanBeSaved(state)) return;
    uint64_t size = *sampleBytes(record) + state.headerLength;
    // The estimate's fields are 32-bit: a larger file is estimated at their
    // largest value, never at what a wrapped count would say.
    const auto estimate = static_cast<int32_t>(size > kMaxByteCount ? kMaxByteCount : size);
    record.minDataBytes = estimate;
    record.maxDataBytes = estimate;
    record.data = nullptr;
}

void doWritePrepare(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    session.bytesWritten = 0;
    record.maxData = 0;
    if (!allocateCardBuffer()) {
        recordError(state, memFullErr);
        return;
    }
    RebuiltHeader rebuilt = rebuildHeaderFromResources(state);
    if (rebuilt == RebuiltHeader::noRoom || !rewriteHeader(state, rebuilt == RebuiltHeader::fromHistory)) {
        // A header that lost cards for want of memory is not written at all.
        releaseCardBuffer();
        recordError(state, memFullErr);
    }
}

void doWriteStart(PluginState& state) {
    FormatRecord& record = *state.formatRecord;
    if (state.result != noErr) return;
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    if (session.cardBuffer == nullptr) {
        // WritePrepare could not make the header; nothing is written.
        recordError(state, memFullErr);
        return;
    }
    if (!imageCanBeSaved(state)) return;
    fileSeek(record.dataFork, FILE_BEGIN, 0);
    const ImageSize size = imageSizeOf(record);
    session.hostDepth = record.depth;
    session.hostSampleBytes = static_cast<int16_t>(record.depth / 8);
    if (session.cardBuffer[0] != 'S') {
        synthesizeHeader(state);
        state.headerLength = kBlockBytes;
        session.headerBlocks = 1;
    }
    const int16_t planes = session.planesWritten;
    // The samples go to the file through the block writer, whose buffer is
    // had before anything is written.
    BlockWriter writer;
    if (!writer.open(state)) return;
    // Never more than the header text holds.
    uint32_t headerBytes = state.headerLength;
    if (headerBytes > session.cardBufferSize) headerBytes = session.cardBufferSize;
    writeExact(state, static_cast<int32_t>(headerBytes), session.cardBuffer);
    session.bytesWritten = headerBytes;
    if (state.result != noErr) return;

    int32_t done = 0;
    const int32_t total = size.rows * planes;
    acquireRowBuffer(state, session.hostSampleBytes);
    record.colBytes = session.hostSampleBytes;
    record.rowBytes = state.bufferRowBytes;
    record.planeBytes = 0;
    record.data = state.bufferPtr;
    for (int16_t p = 0; state.result == noErr && p < planes; ++p) {
        record.loPlane = record.hiPlane = p;
        for (int32_t r = 0; state.result == noErr && r < size.rows; ++r) {
            setRowRect(record, r, size.columns);
            // Straight into the block writer's buffer where the row fits.
            const auto rowBytes = static_cast<uint32_t>(state.bufferRowBytes);
            uint8_t* slot = writer.slotFor(rowBytes);
            record.data = slot != nullptr ? static_cast<void*>(slot) : static_cast<void*>(state.bufferPtr);
            state.result = record.advanceState();
            if (slot != nullptr)
                writer.take(state, rowBytes, session.hostSampleBytes, session.bzero);
            else
                writer.addSamples(state, reinterpret_cast<const uint8_t*>(state.bufferPtr), rowBytes,
                                  session.hostSampleBytes, session.bzero);
            session.bytesWritten += static_cast<uint64_t>(state.bufferRowBytes);
            ++done;
            if (record.progressProc != nullptr) record.progressProc(done, total);
        }
    }
    record.data = nullptr;
    releaseRowBuffers(state);

    if (state.result == noErr)
        writer.addZeros(state, static_cast<uint32_t>((kBlockBytes - session.bytesWritten % kBlockBytes) % kBlockBytes));
    writer.flush(state);
}

}  // namespace nebulite
