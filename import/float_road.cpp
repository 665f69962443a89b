// The road of a 32-bit document: the file's physical values times a power
// of two (import/float_scale.h), handed to the host as 4-byte floats. When
// the data must give the power (floats, unusual scaling), or the file's
// length does not show it whole, one pass reads it through first.
#include <cmath>
#include <cstring>

#include "import/float_scale.h"
#include "import/road.h"

namespace nebulite {

void moveFloats(Road& road, int32_t& exponent) {
    const SampleRules rules = sampleRulesOf(road.keys);
    const std::optional<int32_t> fixed = fixedFloatExponent(rules);
    double* values = road.work.values.data();
    unsigned char* fileRow = road.work.fileRow.data();
    const size_t n = road.columns();
    if (!fixed || road.plan.extent != DataExtent::whole) {
        double largest = 0.0;
        road.readEvery(fileRow, road.fileRowBytes(), [&](int16_t, const unsigned char* row) {
            if (fixed) return;
            physicalRow(row, n, rules, values);
            largest = largestMagnitude(values, n, largest);
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
        if (road.state.result != noErr) return;
        physicalRow(fileRow, n, rules, values);
        unsigned char* out = road.hostRow();
        for (size_t i = 0; i < n; ++i) {
            // Blanks open as 0; every other value moves by a power of two
            // alone, then takes the float a 32-bit document holds.
            const float v = std::isnan(values[i]) ? 0.0f : static_cast<float>(std::ldexp(values[i], -exponent));
            std::memcpy(out + 4 * i, &v, 4);
        }
    });
}

}  // namespace nebulite
