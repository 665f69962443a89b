#include "import/open_preview.h"

#include <cmath>
#include <cstring>

#include "import/road.h"
#include "import/tiled/tiled_rows.h"
#include "mapping/interval_estimator.h"
#include "mapping/transfer.h"
#include "options/resolve_open.h"
#include "shell/input_stream.h"

namespace nebulite {

namespace {

using options::CfaPattern;

// Where a preview pixel's samples come from: every `step`-th row and column
// (of 2 x 2 cells for a mosaic, so that each takes a whole colour cell).
struct Grid {
    uint64_t columns = 0, rows = 0;  // the file's
    uint32_t width = 0, height = 0;  // the preview's
    uint64_t step = 1;
};

Grid gridFor(uint64_t columns, uint64_t rows, bool mosaic) {
    Grid g;
    g.columns = columns;
    g.rows = rows;
    const uint64_t longest = columns > rows ? columns : rows;
    g.step = (longest + ui::kPreviewSide - 1) / ui::kPreviewSide;
    if (g.step == 0) g.step = 1;
    if (mosaic && g.step % 2 != 0) ++g.step;
    g.width = static_cast<uint32_t>((columns + g.step - 1) / g.step);
    g.height = static_cast<uint32_t>((rows + g.step - 1) / g.step);
    if (mosaic) {
        // A cell at row y x step needs row y x step + 1 too (and so for columns).
        g.width = columns < 2 ? 0 : static_cast<uint32_t>((columns - 2) / g.step + 1);
        g.height = rows < 2 ? 0 : static_cast<uint32_t>((rows - 2) / g.step + 1);
    }
    return g;
}

// Reads file rows of one HDU in increasing order, through the preview's own
// stream: the data unit as it lies, or the tiles decoded band by band.
class RowReader {
public:
    RowReader(PluginState& state, const SurveyedData& data, uint64_t rowBytes, uint64_t rows)
        : state_(state), data_(data), rowBytes_(rowBytes), rows_(rows) {
        input_.open(state_);
        if (data.tiled) {
            tiles_.make(nebuliteAllocOther, input_, data.tiledImage, data.dataStart, INT64_MAX);
            if (tiles_) tiles_->begin(state_, false);
        }
    }
    // File row `row` of plane `plane` into `out`; rows are asked for in
    // increasing order within a plane.
    void read(uint32_t plane, uint64_t row, unsigned char* out, ModuleArray<unsigned char>& scratch) {
        if (state_.result != noErr) return;
        if (!data_.tiled) {
            input_.seek(state_, data_.dataStart + static_cast<int64_t>((plane * rows_ + row) * rowBytes_));
            input_.readExact(state_, out, static_cast<int64_t>(rowBytes_));
            return;
        }
        if (!tiles_) {
            recordError(state_, memFullErr);
            return;
        }
        if (plane != plane_ || row < next_) {
            tiles_->seekPlane(state_, plane);
            plane_ = plane;
            next_ = 0;
        }
        while (next_ < row && state_.result == noErr) {
            tiles_->read(state_, scratch.data(), static_cast<int64_t>(rowBytes_));
            ++next_;
        }
        tiles_->read(state_, out, static_cast<int64_t>(rowBytes_));
        ++next_;
    }

private:
    PluginState& state_;
    const SurveyedData& data_;
    uint64_t rowBytes_;
    uint64_t rows_;
    InputStream input_;
    ModulePtr<TiledRows> tiles_;
    uint32_t plane_ = 0;
    uint64_t next_ = 0;
};

// Which plane of the file and which cell position give channel `c` of a
// mosaic's cell whose first pixel has `pattern`: 0 red, 1 green, 2 blue.
void cellOffset(CfaPattern pattern, uint32_t c, uint64_t& dy, uint64_t& dx) {
    // The pattern names the colours of the cell's four pixels, row by row.
    const char* colours = pattern == CfaPattern::rggb   ? "RGGB"
                          : pattern == CfaPattern::bggr ? "BGGR"
                          : pattern == CfaPattern::grbg ? "GRBG"
                                                        : "GBRG";
    const char want = c == 0 ? 'R' : c == 1 ? 'G' : 'B';
    for (uint64_t i = 0; i < 4; ++i)
        if (colours[i] == want) {
            dy = i / 2;
            dx = i % 2;
            return;
        }
}

}  // namespace

ui::Preview OpenPreview::render(const options::OpenOptions& asked) {
    ui::Preview out;
    state_.result = noErr;
    const options::OpenResolution r = options::resolve(asked, options::FileFacts{survey_.hdus()});
    if (!r.ok() || r.resolved.hdu >= survey_.count) {
        out.message = r.message;
        return out;
    }
    const options::ResolvedOpen& chosen = r.resolved;
    const options::HduFacts& facts = survey_.facts[chosen.hdu];
    const SurveyedData& data = survey_.data[chosen.hdu];
    const bool mosaic = chosen.mosaic != CfaPattern::none;
    const Grid grid = gridFor(facts.naxis1, facts.naxis2, mosaic);
    const uint32_t channels = chosen.documentPlanes == 3 ? 3u : 1u;
    const uint64_t samples = uint64_t{grid.width} * grid.height;
    const uint64_t sampleBytes = static_cast<uint64_t>(data.rules.bitpix < 0 ? -data.rules.bitpix : data.rules.bitpix) / 8;
    const uint64_t rowBytes = facts.naxis1 * sampleBytes;
    if (samples == 0 || !values_.allocate(nebuliteAllocOther, samples * 3) ||
        !row_.allocate(nebuliteAllocRowBlock, 2 * rowBytes) || !physical_.allocate(nebuliteAllocRowBlock, facts.naxis1) ||
        !pixels_.allocate(nebuliteAllocOther, samples * 3) || !counts_.allocate(nebuliteAllocOther, ui::kHistogramBins)) {
        out.message = options::Message("no memory for the preview");
        return out;
    }
    ModuleArray<unsigned char> scratch;
    if (data.tiled && !scratch.allocate(nebuliteAllocRowBlock, rowBytes)) {
        out.message = options::Message("no memory for the preview");
        return out;
    }

    // The samples, channel by channel, in the file's row order.
    RowReader reader(state_, data, rowBytes, facts.naxis2);
    for (uint32_t c = 0; c < channels && state_.result == noErr; ++c) {
        uint64_t dy = 0, dx = 0;
        uint32_t plane = chosen.planes[0] - 1;
        if (mosaic)
            cellOffset(chosen.mosaic, c, dy, dx);
        else
            plane = chosen.planes[c] - 1;
        for (uint32_t y = 0; y < grid.height && state_.result == noErr; ++y) {
            reader.read(plane, y * grid.step + dy, row_.data(), scratch);
            physicalRow(row_.data(), static_cast<size_t>(facts.naxis1), data.rules, physical_.data());
            for (uint32_t x = 0; x < grid.width; ++x)
                values_[c * samples + uint64_t{y} * grid.width + x] = physical_[x * grid.step + dx];
        }
    }
    if (state_.result != noErr) {
        out.message = options::Message("the image could not be read for the preview");
        return out;
    }

    // The interval and its curve, from the samples.
    ModulePtr<mapping::IntervalEstimator> seen;
    if (!seen.make(nebuliteAllocOther)) {
        out.message = options::Message("no memory for the preview");
        return out;
    }
    mapping::EstimatorSetup setup;
    setup.expectedValues = samples * static_cast<uint64_t>(channels);
    setup.planes = channels;
    setup.lattice = latticeOf(data.rules);
    seen->begin(setup);
    for (uint32_t c = 0; c < channels; ++c) seen->addRow(static_cast<size_t>(c), {values_.data() + c * static_cast<size_t>(samples), static_cast<size_t>(samples)});
    options::MappingChoice mapping = chosen.chosen.mapping;
    if (mapping.stretch == options::Stretch::range) {
        // The rules of a plain open: 8- and 16-bit data over their type's
        // range, wider data over the header's range or its own.
        mapping.stretch = options::Stretch::linear;
        mapping.interval.kind = options::IntervalKind::points;
        const std::optional<mapping::Window> own = seen->minmax();
        double black = own ? own->black : 0.0, white = own ? own->white : 0.0;
        if (data.rules.bitpix == 8) black = 0.0, white = 255.0;
        if (data.rules.bitpix == 16) black = 0.0, white = 65535.0;
        if (data.rules.bitpix != 8 && data.rules.bitpix != 16 && data.headerRange)
            black = data.rangeLow, white = data.rangeHigh;
        mapping.interval.black = black;
        mapping.interval.white = white;
    }
    const std::optional<mapping::Transfer> found = transferFor(mapping, seen.get(), mapping::kTop8);
    const mapping::Transfer transfer = found.value_or(mapping::Transfer{mapping::Curve::linear, 0.0, 0.0, 0.5, mapping::kTop8});

    // The pixels, turned over as the document will be.
    for (uint32_t y = 0; y < grid.height; ++y) {
        const uint32_t shown = chosen.flipRows ? grid.height - 1 - y : y;
        for (uint32_t x = 0; x < grid.width; ++x)
            for (uint32_t c = 0; c < channels; ++c)
                pixels_[(uint64_t{shown} * grid.width + x) * channels + c] =
                    static_cast<uint8_t>(mapping::mapSample(transfer, values_[c * samples + uint64_t{y} * grid.width + x]));
    }
    out.image = {grid.width, grid.height, static_cast<uint8_t>(channels), size_t{grid.width} * channels, pixels_.data()};

    // The histogram of every sample read, over their range.
    const std::optional<mapping::Window> range = seen->minmax();
    for (size_t b = 0; b < ui::kHistogramBins; ++b) counts_[b] = 0;
    if (range && range->white > range->black) {
        const double width = range->white - range->black;
        for (uint64_t i = 0; i < samples * static_cast<uint64_t>(channels); ++i) {
            const double v = values_[i];
            if (std::isnan(v)) continue;
            auto bin = static_cast<size_t>((v - range->black) / width * ui::kHistogramBins);
            counts_[bin >= ui::kHistogramBins ? ui::kHistogramBins - 1 : bin] += 1;
        }
    }
    out.histogram.counts = {counts_.data(), ui::kHistogramBins};
    out.histogram.low = range ? range->black : 0.0;
    out.histogram.high = range ? range->white : 0.0;
    out.histogram.black = transfer.black;
    out.histogram.white = transfer.white;
    out.histogram.midtone = transfer.midtone;
    return out;
}

}  // namespace nebulite
