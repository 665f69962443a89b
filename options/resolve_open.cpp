#include "options/resolve_open.h"

#include <cmath>

#include "options/validate.h"

namespace nebulite::options {

namespace {

OpenResolution failure(OpenProblem problem, const Message& message) {
    OpenResolution r;
    r.problem = problem;
    r.message = message;
    return r;
}

ImageChoice concreteImage(const ImageChoice& asked, uint32_t hdu) {
    // A name stays a name: it is what the user meant, and it finds the same HDU.
    if (asked.select == ImageSelect::name) return asked;
    ImageChoice out;
    out.select = ImageSelect::index;
    out.index = hdu;
    return out;
}

Message planeBeyond(uint32_t plane, uint64_t naxis3) {
    if (naxis3 == 1) return compose("plane ", plane, " of an image of one plane");
    return compose("plane ", plane, " of a ", naxis3, "-plane cube");
}

// Fills the resolved planes; an empty message when they exist.
Message resolvePlanes(const PlaneChoice& asked, const HduFacts& hdu, ResolvedOpen& out) {
    PlaneChoice planes = asked;
    if (planes.select == PlaneSelect::automatic) {
        planes = hdu.naxis3 >= 3 ? PlaneChoice{PlaneSelect::three, {1, 2, 3}} : PlaneChoice{PlaneSelect::one, {1, 0, 0}};
    }
    out.planeCount = planes.select == PlaneSelect::three ? 3 : 1;
    for (std::size_t i = 0; i < out.planeCount; ++i)
        if (planes.planes[i] > hdu.naxis3) return planeBeyond(planes.planes[i], hdu.naxis3);
    out.planes = planes.planes;
    out.chosen.planes = planes;
    return {};
}

MappingChoice concreteMapping(const MappingChoice& asked) {
    MappingChoice out = asked;
    if (out.stretch != Stretch::range && out.interval.kind == IntervalKind::automatic) {
        // mtf clips its own shadows from the data; the curves want the
        // bright outliers and blank borders left out.
        if (out.stretch == Stretch::mtf) {
            out.interval.kind = IntervalKind::minmax;
        } else {
            out.interval.kind = IntervalKind::percent;
            out.interval.percent = kDefaultPercent;
        }
    }
    return out;
}

uint8_t depthBits(Depth depth, int16_t bitpix) {
    switch (depth) {
        case Depth::bits8: return 8;
        case Depth::bits16: return 16;
        case Depth::bits32: return 32;
        case Depth::automatic: break;
    }
    return bitpix == 8 ? 8 : 16;
}

Depth depthOf(uint8_t bits) { return bits == 8 ? Depth::bits8 : bits == 16 ? Depth::bits16 : Depth::bits32; }

// The pattern to demosaic with, or a message; none when not demosaicing.
Message resolveMosaic(Debayer asked, const HduFacts& hdu, uint32_t hduIndex, ResolvedOpen& out) {
    CfaPattern named = asked == Debayer::automatic ? hdu.bayer : patternOf(asked);
    out.chosen.debayer = Debayer::off;
    if (named == CfaPattern::none) return {};
    if (out.planeCount != 1) {
        // Asked for by the header alone: a cube that still carries BAYERPAT
        // has been demosaiced already.
        if (asked == Debayer::automatic) return {};
        return compose("demosaicing makes colour from one plane, but HDU ", hduIndex, " opens as ", out.planeCount,
                       " planes: choose one");
    }
    out.chosen.debayer = debayerFor(named);
    out.mosaic = patternAtFirstStoredPixel(named, hdu.xBayerOffset, hdu.yBayerOffset,
                                           hdu.rowOrder == RowOrder::bottomUp, hdu.naxis2);
    out.documentPlanes = 3;
    return {};
}

}  // namespace

OpenResolution resolve(const OpenOptions& options, const FileFacts& file) {
    OpenOptions asked = canonical(options);
    if (Message m = validate(asked); !m.empty()) return failure(OpenProblem::invalidOptions, m);

    ImageFound found = findImage(asked.image, file.hdus);
    switch (found.problem) {
        case ImageProblem::none: break;
        case ImageProblem::noImage: return failure(OpenProblem::noImage, found.message);
        case ImageProblem::noSuchHdu: return failure(OpenProblem::noSuchHdu, found.message);
        case ImageProblem::notAnImage: return failure(OpenProblem::notAnImage, found.message);
    }
    const HduFacts& hdu = file.hdus[found.hdu];

    OpenResolution r;
    ResolvedOpen& out = r.resolved;
    out.chosen = asked;
    out.hdu = found.hdu;
    out.chosen.image = concreteImage(asked.image, found.hdu);

    if (Message m = resolvePlanes(asked.planes, hdu, out); !m.empty()) return failure(OpenProblem::planes, m);
    out.documentPlanes = out.planeCount;

    out.flipRows = asked.orientation == Orientation::sky && hdu.rowOrder != RowOrder::topDown;
    out.depth = depthBits(asked.depth, hdu.bitpix);
    out.chosen.depth = depthOf(out.depth);
    out.chosen.mapping = concreteMapping(asked.mapping);

    if (Message m = resolveMosaic(asked.debayer, hdu, found.hdu, out); !m.empty())
        return failure(OpenProblem::mosaic, m);
    out.chosen = canonical(out.chosen);
    return r;
}

void recordMappingPoints(ResolvedOpen& resolved, double black, double white, double midtone) {
    MappingChoice& mapping = resolved.chosen.mapping;
    if (mapping.stretch == Stretch::range) return;
    // No defined sample, or all of one value: every sample maps to 0. The
    // interval stays as it was, and finds the same nothing again.
    if (!(black < white) || !std::isfinite(black) || !std::isfinite(white)) return;
    mapping.interval.kind = IntervalKind::points;
    mapping.interval.percent = kDefaultPercent;
    mapping.interval.black = black;
    mapping.interval.white = white;
    if (mapping.stretch == Stretch::mtf) mapping.midtone = midtone >= 0.0 && midtone <= 1.0 ? midtone : kDefaultMidtone;
}

}  // namespace nebulite::options
