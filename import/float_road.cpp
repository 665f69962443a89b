// The road of a 32-bit document: the file's physical values times a power
// of two (import/float_scale.h), handed to the host as 4-byte floats
// (import/document_floats.h). When the data must give the power (floats,
// unusual scaling), or the file's length does not show it whole, one pass
// reads it through first; a tiled image's tiles give that power for less.
#include "import/document_floats.h"
#include "import/float_scale.h"
#include "import/road.h"

namespace nebulite {

namespace {

// The same rules as a row source's range takes them. Only samples of 4 or 8
// bytes have such a range; narrower ones leave the source reading rows.
WideRules wideRulesOf(const SampleRules& rules) {
    WideRules wide;
    wide.isFloat = rules.bitpix < 0;
    wide.sampleBytes = static_cast<int>(rules.bitpix < 0 ? -rules.bitpix : rules.bitpix) / 8;
    wide.bscale = rules.bscale;
    wide.bzero = rules.bzero;
    wide.blankSeen = rules.blankSeen;
    wide.blankValue = rules.blank;
    return wide;
}

}  // namespace

void moveFloats(Road& road, int32_t& exponent) {
    const SampleRules rules = sampleRulesOf(road.keys);
    const std::optional<int32_t> fixed = fixedFloatExponent(rules);
    double* values = road.work.values.data();
    unsigned char* fileRow = road.work.fileRow.data();
    const size_t n = road.columns();
    if (!fixed || road.plan.extent != DataExtent::whole) {
        double largest = 0.0;
        // A tiled image's largest |value| is that of its range, which its
        // tiles give for less than a decode (quantized ones without
        // unquantizing every pixel).
        WideRange range;
        if (!fixed && road.rows.physicalRange(road.state, wideRulesOf(rules), road.filePlanes(), range))
            largest = rangeMagnitude(range);
        else
            road.readEvery(fileRow, road.fileRowBytes(), [&](int16_t, const unsigned char* row) {
                if (!fixed) largest = largestPhysicalMagnitude(row, n, rules, values, largest);
            });
        road.rows.verify(road.state);
        if (road.state.result != noErr) return;
        road.rows.restart(road.state);
        exponent = fixed ? *fixed : exponentForLargest(largest);
    } else {
        exponent = *fixed;
    }
    road.handOver([&] {
        road.rows.read(road.state, fileRow, road.fileRowBytes());
        if (road.state.result == noErr) documentFloatRow(fileRow, n, rules, exponent, values, road.hostRow());
    });
}

}  // namespace nebulite
