// From the capture to the document: a real picture is "captured" through a
// simulated sensor for every BAYERPAT, offset parity, row order, height and
// width parity, stored as a file would be, read back in file order or
// reversed, and demosaiced with the pattern the rules give. Every colour
// must land on its own channel.
#include <gtest/gtest.h>

#include <array>

#include "import/debayer/pattern.h"
#include "tests/debayer/debayer_support.h"

namespace {

using namespace debayer_test;
using std::nullopt;

// The sensor, modelled apart from the rules under test: the colour at
// readout row r, column c is BAYERPAT's letter at ((r + YBAYROFF) mod 2,
// (c + XBAYROFF) mod 2): the offsets say where in the 2x2 matrix reading
// starts. Rows are read out top first.
int sensorChannel(std::string_view bayerPattern, int x, int y, uint64_t r, uint64_t c) {
    const char letter = bayerPattern[2 * ((r + static_cast<uint64_t>(y)) % 2) + (c + static_cast<uint64_t>(x)) % 2];
    return letter == 'R' ? 0 : letter == 'G' ? 1 : 2;
}

// Correlation of one output plane with one picture plane, each taken as its
// difference from the pixel's mean of the three: raw planes of a natural
// picture are too alike to tell apart (the rose's green and blue correlate
// at 0.91), their departures from grey are not.
double chromaCorrelation(const Picture& a, int ca, const Picture& b, int cb) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    const size_t n = a.plane[0].size();
    for (size_t i = 0; i < n; ++i) {
        const double u = a.plane[ca][i] - (a.plane[0][i] + a.plane[1][i] + a.plane[2][i]) / 3;
        const double v = b.plane[cb][i] - (b.plane[0][i] + b.plane[1][i] + b.plane[2][i]) / 3;
        sa += u, sb += v, saa += u * u, sbb += v * v, sab += u * v;
    }
    const double dn = static_cast<double>(n);
    return (sab - sa * sb / dn) / std::sqrt((saa - sa * sa / dn) * (sbb - sb * sb / dn));
}

struct Delivery {
    const char* name;
    bool reverseRows, reverseColumns;
};

TEST(DebayerChain, EveryColourLandsOnItsOwnChannel) {
    const Picture rose = loadPicture("rose:");
    if (rose.width == 0) GTEST_SKIP() << "ImageMagick's convert could not give rose:";
    const std::array<std::optional<std::string_view>, 3> orders = {nullopt, "TOP-DOWN", "BOTTOM-UP"};
    const Delivery deliveries[] = {{"file order", false, false}, {"rows reversed", true, false},
                                   {"columns reversed", false, true}};
    double weakestSame = 1, narrowestLead = 1;
    for (uint64_t height : {rose.height, rose.height - 1})
        for (uint64_t width : {rose.width, rose.width - 1})
            for (std::string_view name : {"RGGB", "BGGR", "GRBG", "GBRG"})
                for (int x : {0, 1})
                    for (int y : {0, 1})
                        for (const auto& order : orders)
                            for (const Delivery& delivery : deliveries)
                                for (DemosaicMethod method : {DemosaicMethod::bilinear, DemosaicMethod::quality}) {
        const bool bottomUp = order == "BOTTOM-UP";
        // Delivered pixel (k, j) came from readout pixel (readoutRow(k), readoutColumn(j)).
        auto readoutRow = [&](uint64_t k) {
            const uint64_t fileRow = delivery.reverseRows ? height - 1 - k : k;
            return bottomUp ? height - 1 - fileRow : fileRow;
        };
        auto readoutColumn = [&](uint64_t j) { return delivery.reverseColumns ? width - 1 - j : j; };

        Picture truth;  // the scene in delivery order, to compare the output with
        truth.width = width, truth.height = height;
        std::vector<float> mosaic(width * height);
        for (auto& plane : truth.plane) plane.resize(width * height);
        for (uint64_t k = 0; k < height; ++k)
            for (uint64_t j = 0; j < width; ++j) {
                const uint64_t r = readoutRow(k), c = readoutColumn(j);
                for (int ch = 0; ch < 3; ++ch) truth.plane[ch][k * width + j] = rose.at(ch, r, c);
                mosaic[k * width + j] = rose.at(sensorChannel(name, x, y, r, c), r, c);
            }

        const MosaicPhase phase = mosaicPhase({name, x, y, order, height});
        ASSERT_TRUE(phase.pattern.has_value());
        CfaPattern first = *phase.pattern;
        if (delivery.reverseRows) first = patternWithRowsReversed(first, height);
        if (delivery.reverseColumns) first = patternWithColumnsReversed(first, width);
        const Picture out = demosaic(mosaic, {width, height, first, method});
        ASSERT_EQ(out.width, width);

        const std::string what = std::string(name) + " x=" + std::to_string(x) + " y=" + std::to_string(y) + " " +
                                 std::string(order.value_or("(no ROWORDER)")) + " " + std::to_string(width) + "x" +
                                 std::to_string(height) + ", " + delivery.name;
        size_t misplaced = 0;
        for (uint64_t k = 0; k < height; ++k)
            for (uint64_t j = 0; j < width; ++j) {
                const int ch = sensorChannel(name, x, y, readoutRow(k), readoutColumn(j));
                misplaced += out.plane[ch][k * width + j] != mosaic[k * width + j];
            }
        EXPECT_EQ(misplaced, 0u) << what;
        // Each output channel follows its own channel of the picture closely,
        // and any other far less (the rose's green and blue leave grey
        // together, so they correlate at 0.64 even when demosaiced exactly).
        for (int ch = 0; ch < 3; ++ch) {
            const double same = chromaCorrelation(out, ch, truth, ch);
            double other = -1;
            for (int c = 0; c < 3; ++c)
                if (c != ch) other = std::max(other, chromaCorrelation(out, ch, truth, c));
            EXPECT_GT(same, 0.9) << what << ", channel " << ch;
            EXPECT_GT(same - other, 0.25) << what << ", channel " << ch;
            weakestSame = std::min(weakestSame, same), narrowestLead = std::min(narrowestLead, same - other);
        }
    }
    std::printf("chroma correlation with the same channel >= %.3f, ahead of any other by >= %.3f\n", weakestSame,
                narrowestLead);
}

}  // namespace
