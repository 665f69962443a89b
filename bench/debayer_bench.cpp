// Demosaicing speed: an 8192 x 8192 frame (or the size given) pushed through
// the band demosaicer row by row on one core, for each method, timing the
// push and the output rows only. The mosaic is a synthetic star field over a
// noisy sky (the direction tests of the quality method branch on the data,
// so flat rows would flatter it): 512 distinct rows, repeated.
//
//   debayer_bench [width height [runs]]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <ctime>
#include <optional>
#include <random>
#include <vector>

#include "import/debayer/demosaic.h"

using namespace nebulite::debayer;

namespace {

constexpr size_t kDistinctRows = 512;

std::vector<float> starField(size_t width) {
    std::vector<float> rows(width * kDistinctRows);
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 30.0f);
    for (float& v : rows) v = 1000.0f + noise(random);
    std::uniform_real_distribution<double> where(0.0, 1.0);
    const size_t stars = width * kDistinctRows / 2000;
    for (size_t s = 0; s < stars; ++s) {
        const double cx = where(random) * static_cast<double>(width);
        const double cy = where(random) * kDistinctRows;
        const double peak = std::pow(10.0, 2.0 + 2.5 * where(random));
        for (int dy = -6; dy <= 6; ++dy)
            for (int dx = -6; dx <= 6; ++dx) {
                const auto x = static_cast<ptrdiff_t>(cx) + dx, y = static_cast<ptrdiff_t>(cy) + dy;
                if (x < 0 || y < 0 || x >= static_cast<ptrdiff_t>(width) || y >= static_cast<ptrdiff_t>(kDistinctRows))
                    continue;
                const double d2 = (static_cast<double>(x) - cx) * (static_cast<double>(x) - cx) +
                                  (static_cast<double>(y) - cy) * (static_cast<double>(y) - cy);
                float& v = rows[static_cast<size_t>(y) * width + static_cast<size_t>(x)];
                v = static_cast<float>(std::fmin(65535.0, v + peak * std::exp(-d2 / 2.0)));
            }
    }
    return rows;
}

struct Timing {
    double wall = -1;  // seconds
    double cpu = -1;   // seconds of this process's processor time: on a shared
                       // machine, wall time also counts the others' turns
};

Timing timeOf(DemosaicMethod method, size_t width, size_t height, const std::vector<float>& rows) {
    const MosaicGeometry geometry{width, height, CfaPattern::rggb, method};
    const std::optional<uint64_t> floats = demosaicWorkFloats(geometry);
    if (!floats || *floats > SIZE_MAX) return {};
    std::vector<float> work(static_cast<size_t>(*floats));
    std::vector<float> r(width), g(width), b(width);
    Demosaicer d;
    if (d.start(geometry, work) != DemosaicResult::ok) return {};
    double checksum = 0;
    const std::clock_t cpuBegin = std::clock();
    const auto begin = std::chrono::steady_clock::now();
    for (size_t y = 0; y < height; ++y) {
        d.pushRow({rows.data() + (y % kDistinctRows) * width, width});
        while (d.nextRow(r, g, b) == DemosaicResult::ok) checksum += r[width / 2] + g[7] + b[width - 1];
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - begin;
    const std::clock_t cpuEnd = std::clock();
    if (!d.done() || !std::isfinite(checksum)) return {};
    return {took.count(), static_cast<double>(cpuEnd - cpuBegin) / CLOCKS_PER_SEC};
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long long wanted[2] = {argc > 2 ? std::strtoull(argv[1], nullptr, 10) : 8192,
                                          argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 8192};
    const int runs = argc > 3 ? std::atoi(argv[3]) : 3;
    // Up to 65536 on a side: the synthetic rows alone are width x 512 floats.
    if (wanted[0] < 2 || wanted[1] < 2 || wanted[0] > 65536 || wanted[1] > 65536 || runs < 1) {
        std::fprintf(stderr, "usage: %s [width height [runs]]\n", argv[0]);
        return 2;
    }
    const auto width = static_cast<size_t>(wanted[0]), height = static_cast<size_t>(wanted[1]);
    const std::vector<float> rows = starField(width);
    const double pixels = static_cast<double>(width) * static_cast<double>(height);
    for (DemosaicMethod method : {DemosaicMethod::bilinear, DemosaicMethod::quality}) {
        Timing best{1e300, 1e300};
        for (int i = 0; i < runs; ++i) {
            const Timing t = timeOf(method, width, height, rows);
            if (t.wall < 0) return 1;
            best = {std::fmin(best.wall, t.wall), std::fmin(best.cpu, t.cpu)};
        }
        std::printf("%-8s %llu x %llu: %.3f s wall, %.3f s cpu (best of %d), %.2f ns/pixel cpu, work %llu bytes\n",
                    method == DemosaicMethod::bilinear ? "bilinear" : "quality", wanted[0], wanted[1], best.wall,
                    best.cpu, runs, best.cpu * 1e9 / pixels,
                    static_cast<unsigned long long>(
                        *demosaicWorkFloats({width, height, CfaPattern::rggb, method}) * sizeof(float)));
    }
    return 0;
}
