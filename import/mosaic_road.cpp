// The road of a colour-filter mosaic opened in colour: the one plane of the
// file read row by row, each row's values pushed through the demosaicer
// (import/debayer/), and each RGB row it gives handed to the host as three
// plane rows at once. The demosaicer holds a few rows; nothing holds the
// mosaic or the result whole. The values demosaiced are linear (the host's
// levels of the range rules, or physical values), and each output then
// takes the document's form: levels rounded into range, a stretch, or a
// 32-bit document's floats.
#include <cmath>
#include <cstring>

#include "import/debayer/demosaic.h"
#include "import/float_scale.h"
#include "import/road.h"
#include "mapping/transfer.h"

namespace nebulite {

namespace {

debayer::CfaPattern patternOf(options::CfaPattern p) {
    switch (p) {
        case options::CfaPattern::bggr: return debayer::CfaPattern::bggr;
        case options::CfaPattern::grbg: return debayer::CfaPattern::grbg;
        case options::CfaPattern::gbrg: return debayer::CfaPattern::gbrg;
        case options::CfaPattern::rggb:
        case options::CfaPattern::none: break;
    }
    return debayer::CfaPattern::rggb;
}

// How a file row becomes the values demosaiced, and how a demosaiced value
// becomes the document's sample.
enum class Input : uint8_t { bytes, table16, physical };
enum class Output : uint8_t { level, scaled, stretched, floats };

struct Conversion {
    Input input = Input::physical;
    Output output = Output::level;
    // level: the largest level of the levels rows are demosaiced in: the
    // host's 16-bit ones, unless file and document are both 8-bit. Each
    // sample goes in as a grey open's level of it and each result comes out
    // as a grey open converts levels to the document's depth, so that a
    // pixel's own sample is what the grey open gives it at every depth, and
    // the means of 8-bit samples keep their fractions in a 16-bit document.
    uint16_t levelTop = mapping::kTop16;
    uint16_t top = mapping::kTop16;  // stretched: the document's largest level
    double lo = 0.0, hi = 0.0;       // scaled: the range the rules give wide samples
    mapping::Transfer transfer;      // stretched
    int32_t exponent = 0;            // floats
};

// `file` is the row as read; the 16-bit table's levels are made in place.
void inputRow(const Road& road, const Conversion& c, const SampleRules& rules, unsigned char* file, float* out) {
    const size_t n = road.columns();
    switch (c.input) {
        case Input::bytes:
            if (c.levelTop == mapping::kTop8) {
                for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(file[i]);
            } else {
                for (size_t i = 0; i < n; ++i) out[i] = static_cast<float>(level8To16(file[i]));
            }
            break;
        case Input::table16: {
            // The grey open's levels, in place over the file's bytes, then
            // as floats: two plain loops rather than a lookup and a
            // conversion a sample.
            convert16BitRow(file, n, road.table16());
            for (size_t i = 0; i < n; ++i) {
                uint16_t level;
                std::memcpy(&level, file + 2 * i, 2);
                out[i] = static_cast<float>(level);
            }
            break;
        }
        case Input::physical: {
            double* values = road.work.values.data();
            physicalRow(file, n, rules, values);
            // Blanks demosaic as 0, as they open.
            for (size_t i = 0; i < n; ++i) out[i] = std::isnan(values[i]) ? 0.0f : static_cast<float>(values[i]);
            break;
        }
    }
}

// A level whose range runs to `levelTop` into the host row at the
// document's depth.
void putLevel(unsigned char* host, size_t i, uint16_t level, uint16_t levelTop, int16_t depth) {
    if (depth == 8) {
        host[i] = levelTop == mapping::kTop8 ? static_cast<unsigned char>(level) : level16To8(level);
    } else {
        const uint16_t wide = levelTop == mapping::kTop16 ? level : level8To16(static_cast<uint8_t>(level));
        std::memcpy(host + 2 * i, &wide, 2);
    }
}

// A demosaiced level rounded to the nearest (halves up) and clamped to
// 0..top, which is floor(v + 0.5) clamped, exactly: once v is clamped, its
// whole part t and the fraction v - t are both exact, and the level is t, or
// t + 1 when the fraction is a half or more. Input levels are finite (bytes
// or the 16-bit table), so the estimates made from them are too.
inline uint16_t roundedLevel(float v, uint16_t top) {
    const auto top_ = static_cast<float>(top);
    const float clamped = v < 0.0f ? 0.0f : (v > top_ ? top_ : v);
    const auto whole = static_cast<int32_t>(clamped);
    const float fraction = clamped - static_cast<float>(whole);
    return static_cast<uint16_t>(whole + (fraction >= 0.5f ? 1 : 0));
}

// Each of the document's forms in a loop of its own, the choice made once a
// row rather than once a sample; the common case (16-bit levels into a
// 16-bit document) eight samples at a time.
void outputRow(const Road& road, const Conversion& c, const float* in, unsigned char* host) {
    const size_t n = road.columns();
    const int16_t depth = road.plan.depth;
    switch (c.output) {
        case Output::level:
            if (depth != 8 && c.levelTop == mapping::kTop16) {
                roundLevels16(in, n, host);
            } else if (depth == 8 && c.levelTop == mapping::kTop8) {
                for (size_t i = 0; i < n; ++i) host[i] = static_cast<unsigned char>(roundedLevel(in[i], mapping::kTop8));
            } else {
                for (size_t i = 0; i < n; ++i) putLevel(host, i, roundedLevel(in[i], c.levelTop), c.levelTop, depth);
            }
            break;
        case Output::stretched:
            for (size_t i = 0; i < n; ++i) putLevel(host, i, mapping::mapSample(c.transfer, in[i]), c.top, depth);
            break;
        case Output::scaled:
            for (size_t i = 0; i < n; ++i) putLevel(host, i, scaleToHost(in[i], c.lo, c.hi), mapping::kTop16, depth);
            break;
        case Output::floats:
            for (size_t i = 0; i < n; ++i) {
                const auto f = static_cast<float>(std::ldexp(static_cast<double>(in[i]), -c.exponent));
                std::memcpy(host + 4 * i, &f, 4);
            }
            break;
    }
}

// The conversion for the document asked for, with what it needs from the
// data found in a first pass when it needs one (which also shows a file of
// unknown length whole before the host sees a row).
bool prepare(Road& road, RoadFindings& findings, const SampleRules& rules, Conversion& c) {
    const options::MappingChoice& mapping = findings.resolved.chosen.mapping;
    const bool stretched = mapping.stretch != options::Stretch::range;
    const bool wide = road.keys.fileSampleBytes() > 2;
    double rangeLo = 0.0;
    double rangeHi = 0.0;
    const bool headerRangeUsable = headerRange(road.keys, rangeLo, rangeHi);
    const std::optional<int32_t> fixed = fixedFloatExponent(rules);
    c.top = road.plan.depth == 8 ? mapping::kTop8 : mapping::kTop16;
    if (road.plan.depth == 32) {
        c.input = Input::physical;
        c.output = Output::floats;
    } else if (stretched) {
        c.input = Input::physical;
        c.output = Output::stretched;
    } else if (road.keys.fileSampleBytes() == 1) {
        c.input = Input::bytes;
        if (road.plan.depth == 8) c.levelTop = mapping::kTop8;
    } else if (!wide) {
        c.input = Input::table16;
        build16BitTable(road.keys.bscale, road.keys.bzero, road.table16());
    } else {
        c.input = Input::physical;
        c.output = Output::scaled;
    }
    const bool measure = (road.plan.depth == 32 && !fixed) || (stretched && mapping.interval.kind != options::IntervalKind::points) ||
                         (c.output == Output::scaled && !headerRangeUsable);
    if (measure || road.plan.extent != DataExtent::whole) {
        double largest = 0.0;
        WideRange range;
        mapping::IntervalEstimator* seen = stretched ? road.work.estimator.get() : nullptr;
        if (seen != nullptr) {
            mapping::EstimatorSetup setup;
            setup.expectedValues = static_cast<uint64_t>(road.columns()) * static_cast<uint64_t>(road.height());
            setup.lattice = latticeOf(rules);
            seen->begin(setup);
        }
        double* values = road.work.values.data();
        road.readEvery(road.work.fileRow.data(), road.fileRowBytes(), [&](int16_t, const unsigned char* row) {
            if (!measure) return;
            physicalRow(row, road.columns(), rules, values);
            largest = largestMagnitude(values, road.columns(), largest);
            for (size_t i = 0; i < road.columns(); ++i) {
                if (std::isnan(values[i])) continue;
                if (values[i] < range.lo) range.lo = values[i];
                if (values[i] > range.hi) range.hi = values[i];
            }
            if (seen != nullptr) seen->addRow(0, {values, road.columns()});
        }, 1);
        road.rows.verify(road.state);
        if (road.state.result != noErr) return false;
        road.rows.restart(road.state);
        if (road.plan.depth == 32 && !fixed) c.exponent = exponentForLargest(largest);
        if (c.output == Output::scaled && !headerRangeUsable) {
            rangeLo = range.lo;
            rangeHi = range.hi;
        }
    }
    if (fixed && road.plan.depth == 32) c.exponent = *fixed;
    c.lo = rangeLo;
    c.hi = rangeHi;
    findings.floatExponent = c.exponent;
    if (c.output == Output::stretched) {
        std::optional<mapping::Transfer> found = transferFor(mapping, road.work.estimator.get(), c.top);
        c.transfer = found.value_or(mapping::Transfer{mapping::Curve::linear, 0.0, 0.0, 0.5, c.top});
        if (found) recordMappingPoints(findings.resolved, c.transfer.black, c.transfer.white, c.transfer.midtone);
    }
    return true;
}

}  // namespace

void moveMosaic(Road& road, RoadFindings& findings) {
    FormatRecord& record = *road.state.formatRecord;
    const SampleRules rules = sampleRulesOf(road.keys);
    Conversion c;
    if (!prepare(road, findings, rules, c)) return;

    debayer::MosaicGeometry geometry;
    geometry.width = road.columns();
    geometry.height = static_cast<uint64_t>(road.height());
    // The pattern at the file's first stored pixel: the rows are taken in
    // the file's order whichever way the document shows them.
    geometry.pattern = patternOf(findings.resolved.mosaic);
    geometry.method = findings.resolved.chosen.demosaic == options::Demosaic::quality ? debayer::DemosaicMethod::quality
                                                                                      : debayer::DemosaicMethod::bilinear;
    debayer::Demosaicer demosaicer;
    const std::span<float> work(road.work.demosaic.data(), static_cast<size_t>(road.work.demosaic.size()));
    if (demosaicer.start(geometry, work) != debayer::DemosaicResult::ok) {
        recordError(road.state, memFullErr);
        return;
    }
    const size_t n = road.columns();
    float* in = road.work.mosaicRow.data();
    float* rgb[3] = {road.work.colourRows.data(), road.work.colourRows.data() + n, road.work.colourRows.data() + 2 * n};
    const int32_t rows = road.height();
    int32_t done = 0;
    auto emitReady = [&] {
        while (road.state.result == noErr &&
               demosaicer.nextRow({rgb[0], n}, {rgb[1], n}, {rgb[2], n}) == debayer::DemosaicResult::ok) {
            const auto fileRow = static_cast<int32_t>(demosaicer.rowsOut() - 1);
            const int32_t row = road.plan.flip ? rows - 1 - fileRow : fileRow;
            for (int16_t p = 0; p < 3 && road.state.result == noErr; ++p) {
                record.loPlane = record.hiPlane = p;
                setRowRect(record, row, static_cast<int32_t>(n));
                outputRow(road, c, rgb[p], road.hostRow());
                road.state.result = record.advanceState();
                ++done;
                if (record.progressProc != nullptr) record.progressProc(done, road.total);
            }
        }
    };
    road.rows.seekPlane(road.state, road.plan.filePlanes[0]);
    for (int32_t r = 0; road.state.result == noErr && r < rows; ++r) {
        road.rows.read(road.state, road.work.fileRow.data(), road.fileRowBytes());
        if (road.state.result != noErr) break;
        inputRow(road, c, rules, road.work.fileRow.data(), in);
        demosaicer.pushRow({in, n});
        emitReady();
    }
}

}  // namespace nebulite
