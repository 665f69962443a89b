// Sample conversions on both sides: file values to host values and back.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "export/write_layout.h"
#include "export/write_pixels.h"
#include "import/sample_conversion.h"

using namespace nebulite;

namespace {

uint16_t raw16(int value) { return static_cast<uint16_t>(static_cast<int16_t>(value)); }

}  // namespace

TEST(Import16, ScalingIntoTheHostRange) {
    struct Case {
        double bscale, bzero;
        uint16_t raw;
        uint16_t host;
    } cases[] = {
        {1, 32768, 0x8000, 0},      {1, 32768, 0x0000, 16384},  {1, 32768, 0x7FFF, 32768},
        {1, 0, 0xFFFF, 32768},      {1, 0, 0x8000, 16384},      {1, 0, 0x0001, 1},
        {2, 0, raw16(20000), 20000}, {2, 0, 40000, 32768},       // 80000 clamps to 65535
        {0.5, 0, 3, 1},             // 1.5 truncates to 1, then (1 + 1) / 2
        {1, -100, 50, 0},           // negative physical values clamp to 0
        {1, 10, raw16(-1), 5},      // non-zero BZERO reads signed: -1 + 10 = 9
    };
    std::array<uint16_t, 65536> table{};
    for (const Case& c : cases) {
        build16BitTable(c.bscale, c.bzero, table);
        EXPECT_EQ(table[c.raw], c.host) << c.bscale << " " << c.bzero << " raw " << c.raw;
    }
}

TEST(Import16, EveryHostValueIsInRange) {
    std::array<uint16_t, 65536> table{};
    build16BitTable(1e9, -5, table);
    for (uint16_t v : table) EXPECT_LE(v, 32768);
    build16BitTable(std::numeric_limits<double>::quiet_NaN(), 0, table);
    for (uint16_t v : table) EXPECT_EQ(v, 0);
}

// Demosaiced levels into host samples: floor(v + 0.5) clamped to 0..32768,
// as the mosaic road rounded them one sample at a time in doubles, for every
// quarter level across the range and beyond (a bilinear mean is a whole
// level, a half or a quarter), the floats either side of each half, large
// values of both signs, and NaN; at every offset into a row and every length
// up to a few blocks of eight, so that both the eight-at-a-time part and the
// one-at-a-time tail are checked.
TEST(Import16, DemosaicedLevelsRoundHalvesUpIntoRange) {
    auto expected = [](float f) -> uint16_t {
        if (std::isnan(f)) return 0;
        const double rounded = std::floor(static_cast<double>(f) + 0.5);
        return rounded <= 0.0 ? uint16_t{0} : rounded >= 32768.0 ? uint16_t{32768} : static_cast<uint16_t>(rounded);
    };
    std::vector<float> values;
    for (int quarter = -40; quarter <= 4 * 32780; ++quarter) values.push_back(static_cast<float>(quarter) / 4.0f);
    for (float half : {-0.5f, 0.5f, 1.5f, 2.5f, 255.5f, 16383.5f, 16384.5f, 32766.5f, 32767.5f, 32768.5f}) {
        values.push_back(std::nextafter(half, -1e9f));
        values.push_back(std::nextafter(half, 1e9f));
    }
    for (float big : {1e9f, -1e9f, 3e38f, -3e38f, std::numeric_limits<float>::infinity(),
                      -std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN(),
                      std::numeric_limits<float>::min(), -0.0f})
        values.push_back(big);

    std::vector<unsigned char> host(2 * values.size());
    roundLevels16(values.data(), values.size(), host.data());
    for (size_t i = 0; i < values.size(); ++i) {
        uint16_t got;
        std::memcpy(&got, host.data() + 2 * i, 2);
        ASSERT_EQ(got, expected(values[i])) << "value " << values[i];
    }
    for (size_t offset = 0; offset < 8; ++offset)
        for (size_t length = 0; length <= 27; ++length) {
            std::vector<unsigned char> row(2 * length + 2, 0xAB);
            roundLevels16(values.data() + 3 * length + offset + 1000 * 4 + 2, length, row.data());
            for (size_t i = 0; i < length; ++i) {
                uint16_t got;
                std::memcpy(&got, row.data() + 2 * i, 2);
                ASSERT_EQ(got, expected(values[3 * length + offset + 4002 + i])) << offset << " " << length << " " << i;
            }
            EXPECT_EQ(row[2 * length], 0xAB);  // nothing past the row
            EXPECT_EQ(row[2 * length + 1], 0xAB);
        }
}

TEST(ImportWide, PhysicalValuesAndUndefinedSamples) {
    auto rules = [](int bytes, bool isFloat, double bscale, double bzero, bool blankSeen, int64_t blank) {
        return WideRules{isFloat, bytes, bscale, bzero, blankSeen, blank};
    };
    EXPECT_EQ(physicalValue(static_cast<uint32_t>(-5), rules(4, false, 2, 1, false, 0)), -9.0);
    EXPECT_TRUE(std::isnan(physicalValue(static_cast<uint32_t>(-1), rules(4, false, 1, 0, true, -1))));
    EXPECT_EQ(physicalValue(static_cast<uint32_t>(-1), rules(4, false, 1, 0, false, -1)), -1.0);
    EXPECT_EQ(physicalValue(std::bit_cast<uint32_t>(1.5f), rules(4, true, 2, 0, false, 0)), 3.0);
    EXPECT_TRUE(std::isnan(physicalValue(std::bit_cast<uint32_t>(NAN), rules(4, true, 1, 0, false, 0))));
    EXPECT_TRUE(std::isnan(physicalValue(std::bit_cast<uint32_t>(INFINITY), rules(4, true, 1, 0, false, 0))));
    // 64-bit: the whole word is the sample, and BLANK compares all 64 bits.
    EXPECT_EQ(physicalValue(static_cast<uint64_t>(-5), rules(8, false, 2, 1, false, 0)), -9.0);
    EXPECT_EQ(physicalValue(uint64_t{1} << 40, rules(8, false, 1, 0, false, 0)), 1099511627776.0);
    EXPECT_TRUE(std::isnan(physicalValue(uint64_t{1} << 40, rules(8, false, 1, 0, true, int64_t{1} << 40))));
    EXPECT_EQ(physicalValue(uint64_t{1} << 40, rules(8, false, 1, 0, true, 0)), 1099511627776.0);
    EXPECT_EQ(physicalValue(std::bit_cast<uint64_t>(1e300), rules(8, true, 1, 0, false, 0)), 1e300);
    EXPECT_TRUE(std::isnan(physicalValue(std::bit_cast<uint64_t>(1e300), rules(8, true, 1e10, 0, false, 0))));
    EXPECT_TRUE(std::isnan(physicalValue(std::bit_cast<uint64_t>(-std::numeric_limits<double>::infinity()), rules(8, true, 1, 0, false, 0))));
}

TEST(Import32, ScaleToHost) {
    EXPECT_EQ(scaleToHost(0, 0, 100), 0);
    EXPECT_EQ(scaleToHost(100, 0, 100), 32768);
    EXPECT_EQ(scaleToHost(50, 0, 100), 16384);
    EXPECT_EQ(scaleToHost(-10, 0, 100), 0);
    EXPECT_EQ(scaleToHost(1e300, 0, 100), 32768);
    EXPECT_EQ(scaleToHost(5, 5, 5), 0);  // an empty range maps everything to 0
    EXPECT_EQ(scaleToHost(NAN, 0, 1), 0);
    // round((1 / 3) x 32768) = round(10922.67) = 10923
    EXPECT_EQ(scaleToHost(1, 0, 3), 10923);
}

TEST(Export16, StoredValues) {
    // With BZERO 32768: host 0, 16384 and 32768 become -32768, 0 and 32767.
    EXPECT_EQ(storedSample16(0, 32768.0), 0x8000);
    EXPECT_EQ(storedSample16(16384, 32768.0), 0x0000);
    EXPECT_EQ(storedSample16(32768, 32768.0), 0x7FFF);
    EXPECT_EQ(storedSample16(65535, 32768.0), 0x7FFF);  // out-of-range host samples clamp
    EXPECT_EQ(storedSample16(100, 0.0), 200);
    EXPECT_EQ(storedSample16(32768, 0.0), 0xFFFF);
    // Every host value against the arithmetic: 2h - BZERO, limited to what
    // the stored type holds (signed with BZERO 32768, unsigned without).
    for (uint32_t h = 0; h < 65536; ++h) {
        const int64_t signedValue = std::min<int64_t>(2 * int64_t{h} - 32768, 32767);
        const int64_t unsignedValue = std::min<int64_t>(2 * int64_t{h}, 65535);
        ASSERT_EQ(storedSample16(static_cast<uint16_t>(h), 32768.0), static_cast<uint16_t>(signedValue)) << h;
        ASSERT_EQ(storedSample16(static_cast<uint16_t>(h), 0.0), static_cast<uint16_t>(unsignedValue)) << h;
    }
}

TEST(Export16, ReadBackIsWithinOneOfWhatWasRead) {
    // Open then save: the stored value t read from a file becomes host
    // (t + 1) / 2, which is written back as 2h - 32768 with BZERO 32768.
    std::array<uint16_t, 65536> table{};
    build16BitTable(1, 32768, table);
    for (uint32_t raw = 0; raw < 65536; ++raw) {
        int t = static_cast<int16_t>(raw) + 32768;
        uint16_t stored = storedSample16(table[raw], 32768.0);
        int back = static_cast<int16_t>(stored) + 32768;
        ASSERT_LE(std::abs(back - t), 1) << raw;
    }
}

TEST(ExportLayout, PlanesWrittenPerMode) {
    struct Case {
        int16_t mode, planes, expected;
    } cases[] = {
        {plugInModeGrayScale, 1, 1}, {plugInModeGrayScale, 2, 1},   // grey + alpha
        {plugInModeGray16, 1, 1},    {plugInModeRGBColor, 3, 3},
        {plugInModeRGBColor, 4, 3},  {plugInModeCMYKColor, 5, 4},
        {plugInModeLabColor, 3, 3},  {plugInModeMultichannel, 7, 7},
        {plugInModeMultichannel, 1, 1}, {plugInModeIndexedColor, 1, 1},
        {plugInModeDuotone, 1, 1},   {plugInModeRGBColor, 1, 1},
    };
    for (const Case& c : cases) EXPECT_EQ(planesToWrite(c.mode, c.planes), c.expected) << c.mode;
}
