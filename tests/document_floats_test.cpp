// Float32 rows into a 32-bit document: the float road (a product in float)
// against the value rounded once from the exact product in double, for the
// bits where a float product can go wrong: subnormal inputs and results,
// the largest floats, signed zeros, infinities and NaNs of any payload.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "import/document_floats.h"

using namespace nebulite;

TEST(DocumentFloats, Float32RowsAreTheExactProductRoundedOnce) {
    const uint32_t samples[] = {
        0x00000000u, 0x80000000u,                            // +0, -0
        0x00000001u, 0x80000001u, 0x007FFFFFu, 0x00400001u,  // subnormals
        0x00800000u, 0x00800001u, 0x01000003u,               // the smallest normals
        0x3F800000u, 0xBF800001u, 0x4B7FFFFFu, 0x4F000000u,  // around 1, 2^24, 2^31
        0x7F7FFFFFu, 0xFF7FFFFFu, 0x7E800001u,               // the largest floats
        0x7F800000u, 0xFF800000u,                            // infinities
        0x7FC00000u, 0x7F800001u, 0xFFFFFFFFu, 0x7FA00000u,  // NaNs, quiet and signalling
    };
    constexpr size_t n = std::size(samples);
    std::vector<unsigned char> row(4 * n);
    for (size_t i = 0; i < n; ++i)
        for (int b = 0; b < 4; ++b) row[4 * i + b] = static_cast<unsigned char>(samples[i] >> (24 - 8 * b));
    SampleRules rules;
    rules.bitpix = -32;
    // Exponents on the float road (0 to 126) and past it (the double road).
    for (int32_t exponent : {0, 1, 17, 24, 100, 125, 126, 127, 128}) {
        SCOPED_TRACE("exponent " + std::to_string(exponent));
        std::vector<double> values(n);
        std::vector<unsigned char> out(4 * n);
        documentFloatRow(row.data(), n, rules, exponent, values.data(), out.data());
        for (size_t i = 0; i < n; ++i) {
            const auto x = static_cast<double>(std::bit_cast<float>(samples[i]));
            const float expected = std::isfinite(x) ? static_cast<float>(std::ldexp(x, -exponent)) : 0.0f;
            uint32_t got = 0;
            std::memcpy(&got, out.data() + 4 * i, 4);
            EXPECT_EQ(got, std::bit_cast<uint32_t>(expected)) << "sample 0x" << std::hex << samples[i];
        }
    }
}
