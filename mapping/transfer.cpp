#include "mapping/transfer.h"

#include <cmath>

namespace nebulite::mapping {

uint16_t toLevel(double y, uint16_t top) {
    if (!(y > 0.0)) return 0;
    if (y >= 1.0) return top;
    // 0 < y * top + 0.5 < top + 0.5: the conversion truncates a positive
    // value, which is its floor.
    return static_cast<uint16_t>(y * top + 0.5);
}

uint16_t mapSample(const Transfer& transfer, double value) {
    if (!(transfer.white > transfer.black) || std::isnan(value)) return 0;
    double x = (value - transfer.black) / (transfer.white - transfer.black);
    return toLevel(applyCurve(transfer.curve, x, transfer.midtone), transfer.top);
}

void mapRow(const Transfer& transfer, std::span<const double> in, std::span<uint16_t> out) {
    std::size_t n = in.size() < out.size() ? in.size() : out.size();
    for (std::size_t i = 0; i < n; ++i) out[i] = mapSample(transfer, in[i]);
}

void mapRow(const Transfer& transfer, std::span<const double> in, std::span<uint8_t> out) {
    Transfer eightBit = transfer;
    eightBit.top = kTop8;
    std::size_t n = in.size() < out.size() ? in.size() : out.size();
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(mapSample(eightBit, in[i]));
}

}  // namespace nebulite::mapping
