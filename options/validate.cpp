#include "options/validate.h"

#include <cmath>

namespace nebulite::options {

namespace {

Message validateImage(const ImageChoice& image) {
    if (image.select == ImageSelect::index && image.index > kLargestNumber)
        return compose("HDU ", image.index, " is beyond the largest HDU number, ", kLargestNumber);
    if (image.select == ImageSelect::name) return validateExtname(image.extname);
    return {};
}

Message validatePlaneNumber(uint32_t plane) {
    if (plane == 0) return compose("planes are counted from 1: there is no plane 0");
    if (plane > kLargestNumber) return compose("plane ", plane, " is beyond the largest plane number, ", kLargestNumber);
    return {};
}

Message validatePlanes(const PlaneChoice& planes) {
    std::size_t count = planes.select == PlaneSelect::one ? 1 : planes.select == PlaneSelect::three ? 3 : 0;
    for (std::size_t i = 0; i < count; ++i)
        if (Message m = validatePlaneNumber(planes.planes[i]); !m.empty()) return m;
    return {};
}

Message validateInterval(const IntervalChoice& interval) {
    if (interval.kind == IntervalKind::percent) {
        // The negated test also refuses NaN.
        if (!(interval.percent > 0.0 && interval.percent <= 100.0))
            return compose("central percentage ", interval.percent, " is not above 0 and at most 100");
    }
    if (interval.kind == IntervalKind::points) {
        if (!interval.black || !interval.white) return compose("explicit points need both a black and a white point");
        if (!std::isfinite(*interval.black)) return compose("black point ", *interval.black, " is not a finite number");
        if (!std::isfinite(*interval.white)) return compose("white point ", *interval.white, " is not a finite number");
        if (!(*interval.black < *interval.white))
            return compose("black point ", *interval.black, " is not below white point ", *interval.white);
    }
    return {};
}

Message validateMapping(const MappingChoice& mapping, Depth depth) {
    if (mapping.stretch == Stretch::range) return {};
    if (depth == Depth::bits32) return compose("a stretch maps samples into 8- and 16-bit documents, not 32-bit ones");
    if (Message m = validateInterval(mapping.interval); !m.empty()) return m;
    if (mapping.stretch == Stretch::mtf && mapping.interval.kind == IntervalKind::points && mapping.midtone) {
        double m = *mapping.midtone;
        if (!(m >= 0.0 && m <= 1.0)) return compose("midtones balance ", m, " is not between 0 and 1");
    }
    return {};
}

Message validateTile(const TileSize& tile, Compression compression) {
    if (tile.rows == 0 || tile.columns == 0)
        return compose("tile ", tile.rows, "x", tile.columns, " has no pixels");
    if (tile.rows > kLargestNumber || tile.columns > kLargestNumber)
        return compose("tile ", tile.rows, "x", tile.columns, " is beyond the largest size, ", kLargestNumber);
    // HCOMPRESS transforms square blocks and needs at least 4 pixels each way.
    if (compression == Compression::hcompress && (tile.rows < 4 || tile.columns < 4))
        return compose("HCOMPRESS needs tiles of at least 4x4 pixels, not ", tile.rows, "x", tile.columns);
    return {};
}

}  // namespace

Message validateExtname(const ExtName& name) {
    if (name.truncated()) return compose("an EXTNAME holds at most ", ExtName::capacity(), " characters");
    std::string_view text = name.view();
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    // Trailing blanks of a FITS string mean nothing, so a name of blanks names no HDU.
    if (text.empty()) return compose("an image chosen by name needs an EXTNAME");
    for (char c : text) {
        auto code = static_cast<unsigned char>(c);
        if (code < 0x20 || code > 0x7E)
            return compose("an EXTNAME holds printable ASCII only, not the character of code ", code);
    }
    return {};
}

Message validate(const OpenOptions& options) {
    if (Message m = validateImage(options.image); !m.empty()) return m;
    if (Message m = validatePlanes(options.planes); !m.empty()) return m;
    if (Message m = validateMapping(options.mapping, options.depth); !m.empty()) return m;
    if (options.debayer != Debayer::off && options.planes.select == PlaneSelect::three)
        return compose("demosaicing makes red, green and blue from one plane, but three planes were chosen");
    return {};
}

Message validate(const SaveOptions& options) {
    if (options.compression == Compression::none) return {};
    if (options.tile)
        if (Message m = validateTile(*options.tile, options.compression); !m.empty()) return m;
    if (!(options.quantize >= 0.0 && std::isfinite(options.quantize)))
        return compose("quantize level ", options.quantize, " is not a finite number of at least 0");
    return {};
}

}  // namespace nebulite::options
