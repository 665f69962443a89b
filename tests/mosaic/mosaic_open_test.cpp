// Colour-filter mosaics made from a real picture, written as capture programs
// write them, opened through the module as the editor opens them (the
// reference host in-process, the options as a played action). Every colour
// must land on its own channel for each pattern, offset parity and row
// order, for both methods and at every depth, and a saved document must no
// longer claim to be a mosaic.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "cli/option_descriptors.h"
#include "tests/debayer/debayer_support.h"
#include "tests/fits_fixture.h"
#include "tests/module_host.h"

namespace {

using debayer_test::Picture;
using nebulite::options::Debayer;
using nebulite::options::Demosaic;
using nebulite::options::Depth;
using nebulite::options::OpenOptions;
using nebulite::options::Orientation;
using std::nullopt;
using namespace testing_host;

// A region of scikit-image's astronaut: the flag's red, white and blue
// beside the suit, colours that leave grey each its own way (in a skin or
// sky region two of the three leave it together, and a plane would follow
// its neighbour's colour as closely as its own); small enough for a full
// matrix.
Picture scene(uint64_t width, uint64_t height) {
    constexpr uint64_t kTop = 120, kLeft = 0;
    const Picture whole = debayer_test::loadPicture("astronaut.png");
    Picture p;
    if (whole.width < kLeft + width || whole.height < kTop + height) return p;
    p.width = width, p.height = height;
    for (int c = 0; c < 3; ++c)
        for (uint64_t y = 0; y < height; ++y)
            for (uint64_t x = 0; x < width; ++x) p.plane[c].push_back(whole.at(c, kTop + y, kLeft + x));
    return p;
}

// The sensor, modelled apart from the module's rules: the colour at readout
// row r, column c is BAYERPAT's letter at ((r + YBAYROFF) mod 2,
// (c + XBAYROFF) mod 2); rows are read out top first.
int sensorChannel(std::string_view bayerPattern, int x, int y, uint64_t r, uint64_t c) {
    const char letter = bayerPattern[2 * ((r + static_cast<uint64_t>(y)) % 2) + (c + static_cast<uint64_t>(x)) % 2];
    return letter == 'R' ? 0 : letter == 'G' ? 1 : 2;
}

struct Capture {
    std::string_view pattern;
    int x, y;
    std::optional<std::string_view> rowOrder;
    bool bottomUp() const { return rowOrder == "BOTTOM-UP"; }
};

// The picture as the camera stores it: 16-bit samples (BZERO 32768), the
// readout's last row first when bottom-up, with BAYERPAT (or without it, for
// a user who names the pattern), the offsets and ROWORDER.
std::vector<uint8_t> capturedFile(const Picture& p, const Capture& c, bool withPattern) {
    fixture::Fits f = fixture::image(16, {static_cast<long long>(p.width), static_cast<long long>(p.height)});
    f.add("BZERO   =                32768");
    if (withPattern) f.add("BAYERPAT= '" + std::string(c.pattern) + "'");
    f.cards.push_back(fixture::intCard("XBAYROFF", c.x));
    f.cards.push_back(fixture::intCard("YBAYROFF", c.y));
    if (c.rowOrder) f.add("ROWORDER= '" + std::string(*c.rowOrder) + "'");
    for (uint64_t k = 0; k < p.height; ++k) {
        const uint64_t r = c.bottomUp() ? p.height - 1 - k : k;
        for (uint64_t j = 0; j < p.width; ++j) {
            const auto v = static_cast<int>(p.at(sensorChannel(c.pattern, c.x, c.y, r, j), r, j)) * 257;
            fixture::put16(f.data, v - 32768);
        }
    }
    return f.bytes();
}

Document openWith(const std::vector<uint8_t>& bytes, const OpenOptions& options) {
    Host host(&ENTRYPOINT);
    host.setup().script.present = true;
    host.setup().script.descriptor = nebulite::cli::openDescriptor(options);
    host.setup().script.playInfo = plugInDialogSilent;
    File file = memoryFile(bytes);
    const Outcome o = host.read(file);
    EXPECT_TRUE(o.ok()) << "result " << o.result << " " << o.reported;
    return host.takeDocument();
}

double valueAt(const Image& im, int plane, uint64_t row, uint64_t column) {
    const int r = static_cast<int>(row), c = static_cast<int>(column);
    return im.depth == 32 ? static_cast<double>(im.realSample(plane, r, c)) : static_cast<double>(im.sample(plane, r, c));
}

// Correlation of one document plane with one picture plane, each taken as
// its difference from the pixel's mean of the three: the raw planes of a
// natural picture are too alike to tell apart, their departures from grey
// are not. `truthRow` maps a document row to the picture's.
template <typename TruthRow>
double chromaCorrelation(const Image& doc, int cd, const Picture& truth, int ct, TruthRow truthRow) {
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, n = 0;
    for (uint64_t k = 0; k < truth.height; ++k)
        for (uint64_t j = 0; j < truth.width; ++j) {
            const uint64_t r = truthRow(k);
            const double u = valueAt(doc, cd, k, j) -
                             (valueAt(doc, 0, k, j) + valueAt(doc, 1, k, j) + valueAt(doc, 2, k, j)) / 3;
            const double v = truth.at(ct, r, j) - (truth.at(0, r, j) + truth.at(1, r, j) + truth.at(2, r, j)) / 3;
            sa += u, sb += v, saa += u * u, sbb += v * v, sab += u * v, n += 1;
        }
    return (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

TEST(MosaicOpen, EveryColourLandsOnItsOwnChannel) {
    const std::array<std::optional<std::string_view>, 3> orders = {nullopt, "TOP-DOWN", "BOTTOM-UP"};
    double weakestSame = 1, narrowestLead = 1;
    size_t opened = 0;
    for (uint64_t height : {80u, 79u}) {
        const Picture picture = scene(120, height);
        if (picture.width == 0) GTEST_SKIP() << "cannot read astronaut.png (python3-skimage, imagemagick)";
        for (std::string_view pattern : {"RGGB", "BGGR", "GRBG", "GBRG"})
            for (int x : {0, 1})
                for (int y : {0, 1})
                    for (const auto& order : orders) {
                        const Capture capture{pattern, x, y, order};
                        const std::vector<uint8_t> file = capturedFile(picture, capture, true);
                        const std::vector<uint8_t> unnamed = capturedFile(picture, capture, false);
                        for (Depth depth : {Depth::bits8, Depth::bits16, Depth::bits32})
                            for (Orientation orientation : {Orientation::stored, Orientation::sky}) {
        OpenOptions grey;
        grey.depth = depth;
        grey.orientation = orientation;
        const Document plain = openWith(file, grey);
        ASSERT_EQ(plain.image.planes, 1);
        // The document's row k shows the file's row `fileRow(k)`.
        const bool flipped = orientation == Orientation::sky && order != "TOP-DOWN";
        auto fileRow = [&](uint64_t k) { return flipped ? height - 1 - k : k; };
        auto readoutRow = [&](uint64_t k) { return capture.bottomUp() ? height - 1 - fileRow(k) : fileRow(k); };
        for (Demosaic method : {Demosaic::bilinear, Demosaic::quality}) {
            const std::string what = std::string(pattern) + " x=" + std::to_string(x) + " y=" + std::to_string(y) +
                                     " " + std::string(order.value_or("(no ROWORDER)")) + " height " +
                                     std::to_string(height) + " depth " + std::to_string(plain.image.depth) +
                                     (flipped ? " flipped" : "") +
                                     (method == Demosaic::quality ? " quality" : " bilinear");
            OpenOptions automatic = grey;
            automatic.debayer = Debayer::automatic;
            automatic.demosaic = method;
            const Document colour = openWith(file, automatic);
            ++opened;
            ASSERT_EQ(colour.image.planes, 3) << what;
            ASSERT_EQ(colour.image.rows, static_cast<int32_t>(height)) << what;

            // Each pixel's own sample is in its colour's plane, exactly the
            // level a grey open gives it.
            size_t misplaced = 0;
            for (uint64_t k = 0; k < height; ++k)
                for (uint64_t j = 0; j < picture.width; ++j) {
                    const int ch = sensorChannel(pattern, x, y, readoutRow(k), j);
                    misplaced += valueAt(colour.image, ch, k, j) != valueAt(plain.image, 0, k, j);
                }
            EXPECT_EQ(misplaced, 0u) << what;
            // Each plane follows its own colour of the picture, any other far less.
            for (int ch = 0; ch < 3; ++ch) {
                const double same = chromaCorrelation(colour.image, ch, picture, ch, readoutRow);
                double other = -1;
                for (int c = 0; c < 3; ++c)
                    if (c != ch) other = std::max(other, chromaCorrelation(colour.image, ch, picture, c, readoutRow));
                EXPECT_GT(same, 0.9) << what << ", channel " << ch;
                EXPECT_GT(same - other, 0.25) << what << ", channel " << ch;
                weakestSame = std::min(weakestSame, same), narrowestLead = std::min(narrowestLead, same - other);
            }

            // The pattern named by the user in place of BAYERPAT, the
            // offsets and row order still the file's: the same document.
            OpenOptions named = automatic;
            named.debayer = pattern == "RGGB"   ? Debayer::rggb
                            : pattern == "BGGR" ? Debayer::bggr
                            : pattern == "GRBG" ? Debayer::grbg
                                                : Debayer::gbrg;
            EXPECT_TRUE(openWith(unnamed, named).image == colour.image) << what << ", named";
        }
                            }
                    }
    }
    std::printf("%zu demosaiced opens; chroma correlation with the same channel >= %.3f, ahead of any other by >= %.3f\n",
                opened, weakestSame, narrowestLead);
}

}  // namespace
