// How a FITS file opens: which image, which planes, which way up, how the
// samples become the document's levels, at what depth, and whether a
// colour-filter mosaic is demosaiced. The defaults are the way every file
// opened before there were options, so an open without options is exactly
// that open.
//
// Three faces fill this one model: the scripting descriptor
// (descriptor_apply.h), the command line (cli_flags.h) and the dialog. It
// knows nothing of any of them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "options/cfa_pattern.h"
#include "options/fixed_text.h"

namespace nebulite::options {

// An EXTNAME: a FITS string value holds at most 68 characters.
using ExtName = FixedText<68>;

// ---- Which image -------------------------------------------------------------
enum class ImageSelect : uint8_t {
    automatic,  // the primary, or the first image extension after an empty primary
    index,      // HDU `index`, 0 being the primary
    name,       // the first HDU whose EXTNAME is `extname` (and EXTVER `extver`, when given)
};

struct ImageChoice {
    ImageSelect select = ImageSelect::automatic;
    uint32_t index = 0;
    ExtName extname;
    std::optional<int32_t> extver;

    friend bool operator==(const ImageChoice&, const ImageChoice&) = default;
};

// ---- Which planes -------------------------------------------------------------
enum class PlaneSelect : uint8_t {
    automatic,  // planes 1-3 as RGB when NAXIS3 >= 3, else plane 1 as grey
    one,        // plane planes[0] as grey
    three,      // planes planes[0], [1], [2] as red, green, blue
};

struct PlaneChoice {
    PlaneSelect select = PlaneSelect::automatic;
    // Counted from 1, as NAXIS3 counts them.
    std::array<uint32_t, 3> planes{};

    friend bool operator==(const PlaneChoice&, const PlaneChoice&) = default;
};

// ---- Which way up --------------------------------------------------------------
enum class Orientation : uint8_t {
    stored,  // the file's first row at the top
    sky,     // the first row at the bottom, as FITS images are drawn, unless ROWORDER says TOP-DOWN
};

// ---- Samples into levels (8- and 16-bit documents) ----------------------------
enum class Stretch : uint8_t {
    range,   // the rules every open followed before: BSCALE/BZERO into the host's range, wide samples over their range
    linear,  // x
    sqrt,    // sqrt(x)
    log,     // log(1 + 1000 x) / log(1001)
    asinh,   // asinh(x / 0.1) / asinh(10)
    mtf,     // the midtones transfer function, shadows and midtone found as PixInsight's STF auto-stretch does
};

enum class IntervalKind : uint8_t {
    automatic,  // central 99.5 % for the curves, minmax for mtf
    minmax,     // the smallest and largest defined value
    zscale,     // IRAF's zscale, as astropy's ZScaleInterval with its defaults
    percent,    // the central `percent` of the values
    points,     // explicit black and white points, in the file's physical values
};

struct IntervalChoice {
    IntervalKind kind = IntervalKind::automatic;
    double percent = 99.5;
    std::optional<double> black;
    std::optional<double> white;

    friend bool operator==(const IntervalChoice&, const IntervalChoice&) = default;
};

struct MappingChoice {
    Stretch stretch = Stretch::range;
    IntervalChoice interval;
    // The midtones balance of mtf over explicit points (0.5 when absent). Over
    // any other interval mtf finds its own shadows and midtone in the data.
    std::optional<double> midtone;

    friend bool operator==(const MappingChoice&, const MappingChoice&) = default;
};

inline constexpr double kDefaultPercent = 99.5;
inline constexpr double kDefaultMidtone = 0.5;

// ---- Depth and mosaics -----------------------------------------------------------
enum class Depth : uint8_t {
    automatic,  // 8 bits for BITPIX 8, else 16
    bits8,
    bits16,
    bits32,     // floating-point documents
};

enum class Debayer : uint8_t {
    off,
    automatic,  // when the header names a pattern (BAYERPAT) and the image is one plane
    rggb,       // this pattern instead of the header's, offsets and row order still applying
    bggr,
    grbg,
    gbrg,
};

enum class Demosaic : uint8_t { bilinear, quality };

struct OpenOptions {
    ImageChoice image;
    PlaneChoice planes;
    Orientation orientation = Orientation::stored;
    MappingChoice mapping;
    Depth depth = Depth::automatic;
    Debayer debayer = Debayer::off;
    Demosaic demosaic = Demosaic::bilinear;

    friend bool operator==(const OpenOptions&, const OpenOptions&) = default;
};

// The pattern a named Debayer choice stands for; none for off and automatic.
constexpr CfaPattern patternOf(Debayer d) {
    switch (d) {
        case Debayer::rggb: return CfaPattern::rggb;
        case Debayer::bggr: return CfaPattern::bggr;
        case Debayer::grbg: return CfaPattern::grbg;
        case Debayer::gbrg: return CfaPattern::gbrg;
        case Debayer::off:
        case Debayer::automatic: break;
    }
    return CfaPattern::none;
}

constexpr Debayer debayerFor(CfaPattern p) {
    switch (p) {
        case CfaPattern::rggb: return Debayer::rggb;
        case CfaPattern::bggr: return Debayer::bggr;
        case CfaPattern::grbg: return Debayer::grbg;
        case CfaPattern::gbrg: return Debayer::gbrg;
        case CfaPattern::none: break;
    }
    return Debayer::off;
}

// The same options with every field that the others make irrelevant set to
// its default (the EXTNAME of an image chosen by number, black and white
// points of a zscale interval, ...): two option sets that open every file
// the same way have the same canonical form, and the faces write only what
// it holds.
OpenOptions canonical(const OpenOptions& options);

}  // namespace nebulite::options
