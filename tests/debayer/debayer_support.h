// What the demosaicing tests share: real colour pictures (scikit-image's
// sample photographs and ImageMagick's built-in rose, read through
// ImageMagick), mosaics cut from them, the band demosaicer run over a whole
// mosaic, and colour PSNR.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "import/debayer/demosaic.h"

namespace debayer_test {

using namespace nebulite::debayer;

struct Picture {
    std::string name;
    uint64_t width = 0, height = 0;
    std::vector<float> plane[3];  // red, green, blue, row by row
    float at(int c, uint64_t y, uint64_t x) const { return plane[c][y * width + x]; }
};

constexpr const char* kSampleDir = "/usr/lib/python3/dist-packages/skimage/data/";
// Photographs of many kinds (portrait, fur, food, machinery, microscopy, a
// launch) and one astronomical image, the Hubble Deep Field.
inline const std::vector<std::string> kPictures = {
    "astronaut.png", "chelsea.png", "coffee.png", "hubble_deep_field.jpg",
    "ihc.png",       "motorcycle_left.png", "rocket.jpg", "rose:"};

// The picture as 8-bit RGB through ImageMagick; empty when it cannot be read
// (python3-skimage or imagemagick missing).
inline Picture loadPicture(const std::string& name) {
    Picture p;
    p.name = name;
    const std::string source = name.back() == ':' ? name : kSampleDir + name;
    const std::string command = "/usr/bin/convert '" + source + "' -strip -depth 8 ppm:- 2>/dev/null";
    FILE* in = popen(command.c_str(), "r");
    if (!in) return p;
    unsigned w = 0, h = 0, maxval = 0;
    if (std::fscanf(in, "P6 %u %u %u", &w, &h, &maxval) == 3 && maxval == 255 && std::fgetc(in) != EOF) {
        std::vector<unsigned char> bytes(size_t{w} * h * 3);
        if (std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size()) {
            p.width = w, p.height = h;
            for (int c = 0; c < 3; ++c) {
                p.plane[c].resize(size_t{w} * h);
                for (size_t i = 0; i < p.plane[c].size(); ++i) p.plane[c][i] = bytes[i * 3 + c];
            }
        }
    }
    pclose(in);
    return p;
}

// Runs the band demosaicer over `rows` (height rows of width samples),
// taking every finished row as soon as it is ready, as the module will;
// the working memory is exactly what the demosaicer asked for.
inline Picture demosaic(const std::vector<float>& rows, const MosaicGeometry& g) {
    Picture out;
    out.width = g.width, out.height = g.height;
    for (auto& plane : out.plane) plane.assign(g.width * g.height, NAN);
    std::vector<float> work(demosaicWorkFloats(g).value());
    Demosaicer d;
    if (d.start(g, work) != DemosaicResult::ok) return {};
    for (uint64_t y = 0; y < g.height; ++y) {
        if (d.pushRow({rows.data() + y * g.width, g.width}) != DemosaicResult::ok) return {};
        for (uint64_t k = d.rowsOut(); k < g.height; k = d.rowsOut()) {
            float* r = out.plane[0].data() + k * g.width;
            float* gr = out.plane[1].data() + k * g.width;
            float* b = out.plane[2].data() + k * g.width;
            if (d.nextRow({r, g.width}, {gr, g.width}, {b, g.width}) != DemosaicResult::ok) break;
        }
    }
    return d.done() ? out : Picture{};
}

// The picture sampled through a colour-filter array starting `pattern`.
inline std::vector<float> mosaicOf(const Picture& p, CfaPattern pattern) {
    std::vector<float> rows(p.width * p.height);
    for (uint64_t y = 0; y < p.height; ++y)
        for (uint64_t x = 0; x < p.width; ++x)
            rows[y * p.width + x] = p.at(static_cast<int>(colourAt(pattern, y, x)), y, x);
    return rows;
}

// Colour PSNR over all three planes, estimates clamped to 0..255 as a
// caller storing 8 bits would.
inline double colourPsnr(const Picture& truth, const Picture& estimate) {
    double sum = 0;
    for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < truth.plane[c].size(); ++i) {
            const double e = std::fmin(255.0, std::fmax(0.0, estimate.plane[c][i])) - truth.plane[c][i];
            sum += e * e;
        }
    return 10 * std::log10(255.0 * 255.0 / (sum / (3.0 * static_cast<double>(truth.plane[0].size()))));
}

}  // namespace debayer_test
