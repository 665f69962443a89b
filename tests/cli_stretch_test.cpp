// `nebulite open --stretch`: the 8-bit preview, now the module's stretch on
// the file's values. Where its black and white points fall (read back from
// --record), curves that run from black to white without turning back, and
// the preview's levels between the points.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli/descriptor_json.h"
#include "cli/image_files.h"
#include "host/descriptor.h"
#include "mapping/curves.h"

namespace {

namespace fs = std::filesystem;
using nebulite::host::fourCharCode;
using nebulite::host::Image;

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string card(const char* key, long long value) {
    char text[81];
    std::snprintf(text, sizeof text, "%-8s= %20lld", key, value);
    std::string c = text;
    c.resize(80, ' ');
    return c;
}

// A 16-bit file of unsigned samples (BZERO 32768), `planes` planes of one
// row; `blank` samples are written as the BLANK value.
std::string sixteenBitFile(const std::vector<uint16_t>& samples, int planes, std::optional<uint16_t> blank = {}) {
    const auto columns = static_cast<long long>(samples.size()) / planes;
    std::string header = "SIMPLE  =                    T";
    header.resize(80, ' ');
    header += card("BITPIX", 16) + card("NAXIS", planes > 1 ? 3 : 2) + card("NAXIS1", columns) + card("NAXIS2", 1);
    if (planes > 1) header += card("NAXIS3", planes);
    header += card("BZERO", 32768);
    if (blank) header += card("BLANK", static_cast<long long>(*blank) - 32768);
    header += std::string("END").append(77, ' ');
    header.resize((header.size() + 2879) / 2880 * 2880, ' ');
    std::string data;
    for (uint16_t v : samples) {
        const auto stored = static_cast<uint16_t>(v ^ 0x8000u);  // v - 32768 as two's complement
        data += static_cast<char>(stored >> 8);
        data += static_cast<char>(stored & 0xFF);
    }
    data.resize((data.size() + 2879) / 2880 * 2880, '\0');
    return header + data;
}

std::vector<uint16_t> ramp(uint16_t from, uint16_t to) {
    std::vector<uint16_t> v;
    for (uint32_t x = from; x <= to; ++x) v.push_back(static_cast<uint16_t>(x));
    return v;
}

std::vector<uint16_t> join(std::vector<uint16_t> a, const std::vector<uint16_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// numpy's percentile (linear between the two nearest ranks) of `values`.
double percentile(std::vector<uint16_t> values, double p) {
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * static_cast<double>(values.size() - 1);
    const auto below = static_cast<size_t>(rank);
    const size_t above = std::min(below + 1, values.size() - 1);
    return values[below] + (rank - static_cast<double>(below)) * (values[above] - values[below]);
}

class CliStretch : public ::testing::Test {
protected:
    void SetUp() override {
        exe_ = fs::path(NEBULITE_BINARY_DIR) / "nebulite";
        if (!fs::exists(exe_) || !fs::exists(fs::path(NEBULITE_BINARY_DIR) / "Nebulite.so"))
            GTEST_SKIP() << "build the nebulite CLI and the module first";
        dir_ = fs::temp_directory_path() / ("nebulite-cli-stretch-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    int run(const std::string& args) {
        int raw = std::system((exe_.string() + " " + args + " >/dev/null 2>" + at("err")).c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    void write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }

    // The points the module used, as it recorded them.
    std::pair<double, double> recordedPoints(const std::string& json) {
        std::string error;
        auto d = nebulite::cli::descriptorFromJson(slurp(at(json)), &error);
        EXPECT_TRUE(d.has_value()) << error;
        if (!d) return {};
        const auto* black = d->find(fourCharCode("nbBk"));
        const auto* white = d->find(fourCharCode("nbWh"));
        EXPECT_TRUE(black != nullptr && white != nullptr) << slurp(at(json));
        if (black == nullptr || white == nullptr) return {};
        return {black->number, white->number};
    }

    fs::path exe_;
    fs::path dir_;
};

struct RangeCase {
    const char* name;
    std::vector<uint16_t> samples;  // all planes, one after the other
    int planes;
    std::optional<uint16_t> blank;
    // The points; numpy's percentiles 0.25 and 99.75 of the defined values when unset.
    std::optional<std::pair<double, double>> points;
};

class StretchPoints : public CliStretch, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(StretchPoints, LeaveAQuarterPercentEachSide) {
    const RangeCase& c = GetParam();
    write("in.fits", sixteenBitFile(c.samples, c.planes, c.blank));
    ASSERT_EQ(run("open " + at("in.fits") + " " + at("out.pnm") + " --stretch linear --record " + at("r.json")), 0)
        << slurp(at("err"));
    std::vector<uint16_t> defined;
    for (uint16_t v : c.samples)
        if (!c.blank || v != *c.blank) defined.push_back(v);
    const auto want = c.points.value_or(std::pair{percentile(defined, 0.25), percentile(defined, 99.75)});
    const auto [black, white] = recordedPoints("r.json");
    EXPECT_NEAR(black, want.first, 1e-6);
    EXPECT_NEAR(white, want.second, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(
    Images, StretchPoints,
    ::testing::Values(
        RangeCase{"Ramp", ramp(1, 10000), 1, {}, {}},
        // Blank pixels (BLANK) are not the sky.
        RangeCase{"BlankBorder", join(std::vector<uint16_t>(3000, 7), ramp(1001, 2000)), 1, 7, {}},
        // Percentiles that meet: the white point is the brightest sample,
        // so the star is not lost in a black preview.
        RangeCase{"FlatSkyAndOneStar", join(std::vector<uint16_t>(1000, 500), {600}), 1, {},
                  std::pair{500.0, 600.0}},
        // ... and where they meet at the top, the black point the faintest.
        RangeCase{"BrightFieldAndOneHole", join(std::vector<uint16_t>(1000, 500), {20}), 1, {},
                  std::pair{20.0, 500.0}},
        // One range for all three planes, so colours keep their balance.
        RangeCase{"RgbShared", join(join(ramp(1, 400), ramp(401, 800)), ramp(801, 1200)), 3, {}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(StretchCurve, EveryCurveRunsFromBlackToWhiteAndOnlyUp) {
    using nebulite::mapping::Curve;
    for (Curve curve : {Curve::linear, Curve::sqrt, Curve::log, Curve::asinh, Curve::mtf}) {
        for (double midtone : {0.5, 0.1, 0.9}) {
            SCOPED_TRACE(static_cast<int>(curve));
            auto y = [&](double x) { return nebulite::mapping::applyCurve(curve, x, midtone); };
            EXPECT_DOUBLE_EQ(y(0.0), 0.0);
            EXPECT_NEAR(y(1.0), 1.0, 1e-12);
            EXPECT_EQ(y(-1.0), 0.0);
            EXPECT_NEAR(y(2.0), 1.0, 1e-12);
            for (int i = 1; i <= 1000; ++i) ASSERT_LT(y((i - 1) / 1000.0), y(i / 1000.0)) << i;
            // All but linear (and mtf above the middle) lift the faint end,
            // which is what they are for.
            if (curve != Curve::linear && !(curve == Curve::mtf && midtone >= 0.5)) {
                EXPECT_GT(y(0.1), 0.2);
            }
        }
    }
}

TEST_F(CliStretch, MapsTheRangeOntoAllOfEightBits) {
    const std::vector<uint16_t> samples = join(std::vector<uint16_t>(10, 3), join(ramp(100, 1099), {60000}));
    write("in.fits", sixteenBitFile(samples, 1));
    // --stretch alone: asinh, an 8-bit preview; the curve named alike.
    ASSERT_EQ(run("open " + at("in.fits") + " " + at("alone.pgm") + " --stretch --record " + at("r.json")), 0)
        << slurp(at("err"));
    ASSERT_EQ(run("open " + at("in.fits") + " " + at("named.pgm") + " --stretch=asinh"), 0) << slurp(at("err"));
    EXPECT_EQ(slurp(at("alone.pgm")), slurp(at("named.pgm")));
    ASSERT_EQ(run("open " + at("in.fits") + " " + at("linear.pgm") + " --stretch linear"), 0) << slurp(at("err"));
    const Image preview = nebulite::cli::loadImage(at("linear.pgm")).image;
    ASSERT_EQ(preview.depth, 8);
    ASSERT_EQ(preview.narrow.size(), samples.size());
    const auto [black, white] = recordedPoints("r.json");
    for (size_t i = 0; i < samples.size(); ++i) {
        const double v = samples[i];
        if (v <= black) {
            ASSERT_EQ(preview.narrow[i], 0) << v;
        }
        if (v >= white) {
            ASSERT_EQ(preview.narrow[i], 255) << v;
        }
        if (i > 0 && samples[i - 1] <= samples[i]) {
            ASSERT_LE(preview.narrow[i - 1], preview.narrow[i]) << v;
        }
    }
    // --depth keeps its say: a 16-bit preview.
    ASSERT_EQ(run("open " + at("in.fits") + " " + at("deep.pgm") + " --stretch sqrt --depth 16"), 0);
    EXPECT_EQ(nebulite::cli::loadImage(at("deep.pgm")).image.depth, 16);
    // A flat image has no range to spread: black, not a division by zero.
    write("flat.fits", sixteenBitFile(std::vector<uint16_t>(16, 7), 1));
    ASSERT_EQ(run("open " + at("flat.fits") + " " + at("flat.pgm") + " --stretch asinh"), 0) << slurp(at("err"));
    EXPECT_EQ(nebulite::cli::loadImage(at("flat.pgm")).image.narrow, std::vector<uint8_t>(16, 0));
}

}  // namespace
