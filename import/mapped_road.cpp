// The road of a stretch: the file's physical values through a curve over an
// interval into the document's 8- or 16-bit levels (mapping/). An interval
// measured from the data costs one pass over it before the host sees a row;
// given points cost none (but a file whose length does not show it whole is
// read through first all the same, so that the host sees no row of a file
// that turns out short).
#include <cmath>

#include "import/road.h"
#include "mapping/transfer.h"

namespace nebulite {

using options::IntervalKind;
using options::Stretch;

mapping::Curve curveOf(Stretch stretch) {
    switch (stretch) {
        case Stretch::sqrt: return mapping::Curve::sqrt;
        case Stretch::log: return mapping::Curve::log;
        case Stretch::asinh: return mapping::Curve::asinh;
        case Stretch::mtf: return mapping::Curve::mtf;
        case Stretch::linear:
        case Stretch::range: break;
    }
    return mapping::Curve::linear;
}

namespace {

// A measured window of one value over data of more (a flat sky and a few
// stars: both percentiles fall on the sky) would open every pixel black.
// It opens up to the brightest value instead, or, where it already is the
// brightest, down to the faintest: the few pixels that differ stay seen.
std::optional<mapping::Window> openedUp(std::optional<mapping::Window> window,
                                        const mapping::IntervalEstimator& seen) {
    if (!window || window->white > window->black) return window;
    const std::optional<mapping::Window> all = seen.minmax();
    if (!all) return window;
    if (all->white > window->white) {
        window->white = all->white;
    } else if (all->black < window->black) {
        window->black = all->black;
    }
    return window;
}

}  // namespace

// The black and white points (and mtf's midtone) from what the estimator
// saw; nothing when the data has no defined value.
std::optional<mapping::Transfer> transferFor(const options::MappingChoice& mapping,
                                              const mapping::IntervalEstimator* seen, uint16_t top) {
    mapping::Transfer t;
    t.curve = curveOf(mapping.stretch);
    t.top = top;
    std::optional<mapping::Window> window;
    switch (mapping.interval.kind) {
        case IntervalKind::points:
            window = mapping::Window{mapping.interval.black.value_or(0.0), mapping.interval.white.value_or(0.0)};
            break;
        case IntervalKind::zscale: window = openedUp(seen->zscale(), *seen); break;
        case IntervalKind::percent: window = openedUp(seen->centralPercent(mapping.interval.percent), *seen); break;
        case IntervalKind::minmax:
        case IntervalKind::automatic: window = seen->minmax(); break;
    }
    if (!window) return std::nullopt;
    t.black = window->black;
    t.white = window->white;
    t.midtone = mapping.midtone.value_or(options::kDefaultMidtone);
    // mtf over a measured interval finds its own shadows and midtone.
    if (mapping.stretch == Stretch::mtf && mapping.interval.kind != IntervalKind::points) {
        const std::optional<mapping::MtfSettings> mtf = seen->autoMtf(*window);
        if (!mtf) return std::nullopt;
        t.black = mtf->window.black;
        t.white = mtf->window.white;
        t.midtone = mtf->midtone;
    }
    return t;
}

namespace {


// Every defined value of the planes, for the interval: the first pass.
void measure(Road& road, const SampleRules& rules) {
    mapping::IntervalEstimator& seen = *road.work.estimator;
    mapping::EstimatorSetup setup;
    setup.expectedValues = static_cast<uint64_t>(road.columns()) * static_cast<uint64_t>(road.height()) *
                           static_cast<uint64_t>(road.plan.planes);
    setup.planes = static_cast<size_t>(road.plan.planes);
    setup.lattice = latticeOf(rules);
    seen.begin(setup);
    double* values = road.work.values.data();
    road.readEvery(road.work.fileRow.data(), road.fileRowBytes(), [&](int16_t plane, const unsigned char* row) {
        physicalRow(row, road.columns(), rules, values);
        seen.addRow(static_cast<size_t>(plane), {values, road.columns()});
    });
}

}  // namespace

void moveMapped(Road& road, options::ResolvedOpen& resolved) {
    const SampleRules rules = sampleRulesOf(road.keys);
    const options::MappingChoice& mapping = resolved.chosen.mapping;
    const bool measured = mapping.interval.kind != IntervalKind::points;
    // Points given and the file known whole: one pass, rows as read.
    const bool firstPass = measured || road.plan.extent != DataExtent::whole;
    if (firstPass) {
        measure(road, rules);
        road.rows.verify(road.state);
        if (road.state.result != noErr) return;
        road.rows.restart(road.state);
    }
    const uint16_t top = road.plan.depth == 8 ? mapping::kTop8 : mapping::kTop16;
    const std::optional<mapping::Transfer> found = transferFor(mapping, road.work.estimator.get(), top);
    // No defined value at all: every level is 0, as blank pixels open.
    mapping::Transfer transfer = found.value_or(mapping::Transfer{mapping::Curve::linear, 0.0, 0.0, 0.5, top});
    if (found) recordMappingPoints(resolved, transfer.black, transfer.white, transfer.midtone);
    double* values = road.work.values.data();
    unsigned char* fileRow = road.work.fileRow.data();
    const size_t n = road.columns();
    road.handOver([&] {
        road.rows.read(road.state, fileRow, road.fileRowBytes());
        if (road.state.result != noErr) return;
        physicalRow(fileRow, n, rules, values);
        if (road.plan.depth == 8) {
            mapping::mapRow(transfer, {values, n}, {road.hostRow(), n});
        } else {
            mapping::mapRow(transfer, {values, n}, {reinterpret_cast<uint16_t*>(road.hostRow()), n});
        }
    });
}

}  // namespace nebulite
