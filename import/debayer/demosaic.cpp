#include "import/debayer/demosaic.h"

#include <algorithm>
#include <cstring>

#include "import/debayer/bilinear.h"
#include "import/debayer/hamilton_adams.h"
#include "import/debayer/mirror.h"

namespace nebulite::debayer {

namespace {

bool geometryAccepted(const MosaicGeometry& g) {
    return g.width >= 2 && g.width <= kMaxMosaicSide && g.height >= 2 && g.height <= kMaxMosaicSide &&
           contextOf(g.method).mosaicRows != 0;
}

// Which planes a row's pixels fill, from the layout at its first pixel.
RowSites sitesOf(CfaPattern rowPattern, RgbPlanes out) {
    switch (rowPattern) {
        case CfaPattern::rggb: return {{out.red, out.blue, out.green}, 0};
        case CfaPattern::grbg: return {{out.red, out.blue, out.green}, 1};
        case CfaPattern::bggr: return {{out.blue, out.red, out.green}, 0};
        case CfaPattern::gbrg: return {{out.blue, out.red, out.green}, 1};
    }
    return {{out.red, out.blue, out.green}, 0};
}

uint64_t firstNonGreenOf(CfaPattern rowPattern) {
    return rowPattern == CfaPattern::grbg || rowPattern == CfaPattern::gbrg ? 1 : 0;
}

}  // namespace

std::optional<uint64_t> demosaicWorkFloats(const MosaicGeometry& geometry) {
    if (!geometryAccepted(geometry)) return std::nullopt;
    return workFloatsFor(geometry.method, geometry.width);
}

DemosaicResult Demosaicer::start(const MosaicGeometry& geometry, std::span<float> work) {
    started_ = false;
    const std::optional<uint64_t> floats = demosaicWorkFloats(geometry);
    if (!floats) return DemosaicResult::badGeometry;
    if (work.size() < *floats) return DemosaicResult::workTooSmall;
    geometry_ = geometry;
    context_ = contextOf(geometry.method);
    stride_ = paddedRowFloats(geometry.method, geometry.width);
    mosaicRing_ = work.data();
    greenRing_ = work.data() + stride_ * context_.mosaicRows;
    rowsIn_ = 0;
    rowsOut_ = 0;
    greenRowsMade_ = 0;
    started_ = true;
    return DemosaicResult::ok;
}

// Row `row` of the mosaic or of green, at its column 0; the ring slot it has
// is free again once every output row that reads it has come out.
float* Demosaicer::mosaicRow(uint64_t row) const {
    return mosaicRing_ + (row % context_.mosaicRows) * stride_ + context_.pad;
}
float* Demosaicer::greenRow(uint64_t row) const {
    return greenRing_ + (row % context_.greenRows) * stride_ + context_.pad;
}

void Demosaicer::mirrorPadding(float* row) const {
    const uint64_t w = geometry_.width;
    const auto last = static_cast<int64_t>(w - 1);
    for (int64_t k = 1; k <= static_cast<int64_t>(context_.pad); ++k) {
        *(row - k) = row[mirrorIndex(-k, w)];
        row[w - 1 + static_cast<uint64_t>(k)] = row[mirrorIndex(last + k, w)];
    }
}

// An output row may be made once the mosaic rows below it that its method
// reads are in (at the bottom edge, the last row stands for them).
bool Demosaicer::rowReady() const {
    const uint64_t h = geometry_.height;
    if (rowsOut_ >= h) return false;
    const uint64_t lastRead = std::min(rowsOut_ + context_.rowsBelow, h - 1);
    return rowsIn_ > lastRead;
}

DemosaicResult Demosaicer::pushRow(std::span<const float> row) {
    if (!started_) return DemosaicResult::notStarted;
    if (row.size() != geometry_.width) return DemosaicResult::wrongWidth;
    if (rowsIn_ >= geometry_.height) return DemosaicResult::tooManyRows;
    // The ring holds exactly the rows the next output row reads, and the new
    // row would take the slot of the oldest of them.
    if (rowReady()) return DemosaicResult::rowsWaiting;
    float* slot = mosaicRow(rowsIn_);
    std::memcpy(slot, row.data(), row.size_bytes());
    mirrorPadding(slot);
    ++rowsIn_;
    return DemosaicResult::ok;
}

// Green for every row up to `upTo`, each from the five mosaic rows around
// it; a row is made once, when the first output row that reads it is due.
void Demosaicer::makeGreenRows(uint64_t upTo) {
    const uint64_t h = geometry_.height;
    for (; greenRowsMade_ <= upTo; ++greenRowsMade_) {
        const auto j = static_cast<int64_t>(greenRowsMade_);
        const float* rows[5];
        for (int64_t k = 0; k < 5; ++k) rows[k] = mosaicRow(mirrorIndex(j + k - 2, h));
        const CfaPattern rowPattern = patternFrom(geometry_.pattern, greenRowsMade_, 0);
        float* green = greenRow(greenRowsMade_);
        hamiltonAdamsGreenRow(rows, geometry_.width, firstNonGreenOf(rowPattern), green);
        mirrorPadding(green);
    }
}

DemosaicResult Demosaicer::nextRow(std::span<float> red, std::span<float> green, std::span<float> blue) {
    if (!started_) return DemosaicResult::notStarted;
    const uint64_t w = geometry_.width;
    if (red.size() != w || green.size() != w || blue.size() != w) return DemosaicResult::wrongWidth;
    if (!rowReady()) return DemosaicResult::noRowReady;

    const uint64_t h = geometry_.height;
    const auto y = static_cast<int64_t>(rowsOut_);
    const uint64_t above = mirrorIndex(y - 1, h);
    const uint64_t below = mirrorIndex(y + 1, h);
    const RowSites sites =
        sitesOf(patternFrom(geometry_.pattern, rowsOut_, 0), RgbPlanes{red.data(), green.data(), blue.data()});

    switch (geometry_.method) {
        case DemosaicMethod::bilinear:
            bilinearRow(mosaicRow(above), mosaicRow(rowsOut_), mosaicRow(below), w, sites);
            break;
        case DemosaicMethod::quality: {
            makeGreenRows(std::min(rowsOut_ + 1, h - 1));
            const float* mosaic[3] = {mosaicRow(above), mosaicRow(rowsOut_), mosaicRow(below)};
            const float* greens[3] = {greenRow(above), greenRow(rowsOut_), greenRow(below)};
            hamiltonAdamsColourRow(mosaic, greens, w, sites);
            break;
        }
    }
    ++rowsOut_;
    return DemosaicResult::ok;
}

}  // namespace nebulite::debayer
