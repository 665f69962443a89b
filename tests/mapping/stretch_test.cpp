// Every stretch against astropy.visualization (and mtf against the formula
// of Siril's histogram transformation) over several windows: the document
// level within one of astropy's, at 16 and at 8 bits.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <sstream>
#include <string>

#include "mapping/transfer.h"
#include "reference_data.h"

using namespace nebulite::mapping;

TEST(Stretches, LevelsWithinOneOfAstropy) {
    REQUIRE_REFERENCE("stretches.txt");
    const std::map<std::string, Curve> curves = {{"linear", Curve::linear}, {"sqrt", Curve::sqrt}, {"log", Curve::log},
                                                 {"asinh", Curve::asinh}, {"mtf", Curve::mtf}};
    std::ifstream in(mapping_reference::directory() / "stretches.txt");
    std::string line;
    std::map<std::string, int> compared, exact;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name;
        double black, white, value, midtone;
        int level16, level8;
        fields >> name >> black >> white >> value >> midtone >> level16 >> level8;
        ASSERT_TRUE(fields) << line;
        Transfer t{curves.at(name), black, white, midtone, kTop16};
        int ours = mapSample(t, value);
        EXPECT_LE(std::abs(ours - level16), 1) << line;
        t.top = kTop8;
        EXPECT_LE(std::abs(mapSample(t, value) - level8), 1) << line;
        ++compared[name];
        exact[name] += ours == level16;
    }
    for (const auto& [name, n] : compared) {
        EXPECT_GT(n, 1000) << name;
        // Off by one only where astropy's float and ours round a hair apart.
        EXPECT_GT(exact[name], n * 99 / 100) << name;
    }
}

TEST(Stretches, LevelsRoundHalfUpAndBlanksAreZero) {
    Transfer t{Curve::linear, 0.0, 32768.0, 0.5, kTop16};
    struct Case {
        double value;
        uint16_t level;
    } cases[] = {{0.49, 0}, {0.5, 1}, {1.5, 2}, {32767.5, 32768}, {-10.0, 0}, {4e4, 32768},
                 {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const Case& c : cases) EXPECT_EQ(mapSample(t, c.value), c.level) << c.value;
    // A window of one value (an image of one value) maps everything to 0.
    Transfer flat{Curve::asinh, 7.0, 7.0, 0.5, kTop16};
    EXPECT_EQ(mapSample(flat, 7.0), 0);
    EXPECT_EQ(mapSample(flat, 9.0), 0);
    // MTF(m, m) = 1/2 for every midtone: the midtone is where half-grey lands.
    for (double m : {0.01, 0.25, 0.5, 0.9}) EXPECT_NEAR(midtonesTransfer(m, m), 0.5, 1e-15) << m;
}
