// The host's document: an image and the resources that travel with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "platform/host_sdk.h"

namespace nebulite::host {

// The host's 16-bit samples run from 0 to 32768, not to 65535.
constexpr uint32_t kHostMax16 = 32768;
constexpr uint32_t kHostMax8 = 255;

constexpr ResType kHistoryResource = 0x68697374;  // 'hist': the FITS header cards, one per card
constexpr ResType kWholeHeaderResource = 0x4E624864;  // 'NbHd': the whole FITS header in one record
constexpr ResType kOpenRecordResource = 0x4E624F70;   // 'NbOp': how the module opened the document

// The editor keeps at most this many plug-in resources in a document, all
// types together; its addProc answers memFullErr past it.
constexpr size_t kMaxDocumentResources = 1000;

// Planar storage: plane, then row, then column. 8-bit images use `narrow`,
// 16-bit images `wide`, 32-bit images `real` (4-byte floats, linear, 1.0 the
// white of an 8-bit document, values beyond 0..1 allowed), all in native
// byte order, as the module hands them over.
struct Image {
    int32_t rows = 0;
    int32_t columns = 0;
    int16_t planes = 0;
    int16_t depth = 8;
    int16_t mode = plugInModeGrayScale;
    std::vector<uint8_t> narrow;
    std::vector<uint16_t> wide;
    std::vector<float> real;

    // Sizes the sample store for the geometry above, every sample 0.
    void allocate();
    bool empty() const { return rows <= 0 || columns <= 0 || planes <= 0; }
    size_t sampleCount() const {
        return static_cast<size_t>(rows) * static_cast<size_t>(columns) *
               static_cast<size_t>(planes);
    }
    size_t index(int plane, int row, int column) const {
        return (static_cast<size_t>(plane) * static_cast<size_t>(rows) +
                static_cast<size_t>(row)) * static_cast<size_t>(columns) +
               static_cast<size_t>(column);
    }
    // An 8- or 16-bit image's sample.
    uint32_t sample(int plane, int row, int column) const {
        size_t i = index(plane, row, column);
        return depth == 16 ? wide[i] : narrow[i];
    }
    void setSample(int plane, int row, int column, uint32_t value) {
        size_t i = index(plane, row, column);
        if (depth == 16)
            wide[i] = static_cast<uint16_t>(value);
        else
            narrow[i] = static_cast<uint8_t>(value);
    }
    uint32_t maxSample() const { return depth == 16 ? kHostMax16 : kHostMax8; }
    // A 32-bit image's sample.
    float realSample(int plane, int row, int column) const { return real[index(plane, row, column)]; }
    void setRealSample(int plane, int row, int column, float value) { real[index(plane, row, column)] = value; }
    bool operator==(const Image&) const = default;
};

// Asks the system to back [data, data + bytes) with huge pages where it can
// (only whole, aligned huge pages inside the range; small ranges are left
// alone). For a fresh allocation about to be filled: touching a large new
// block page by page costs more than filling it. A no-op where the system
// has no such advice.
void adviseHugePages(const void* data, size_t bytes);

using ResourceRecord = std::vector<uint8_t>;

struct Document {
    Image image;
    // By type; within a type in insertion order (the resource suite's
    // indices are 1-based positions in these lists).
    std::map<ResType, std::vector<ResourceRecord>> resources;

    size_t resourceCount() const {
        size_t n = 0;
        for (const auto& [type, records] : resources) n += records.size();
        return n;
    }

    bool operator==(const Document&) const = default;
};

}  // namespace nebulite::host
