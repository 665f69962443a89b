#include "options/open_options.h"
#include "options/save_options.h"

namespace nebulite::options {

namespace {

ImageChoice canonicalImage(const ImageChoice& image) {
    ImageChoice out;
    out.select = image.select;
    if (image.select == ImageSelect::index) out.index = image.index;
    if (image.select == ImageSelect::name) {
        out.extname = image.extname;
        out.extver = image.extver;
    }
    return out;
}

PlaneChoice canonicalPlanes(const PlaneChoice& planes) {
    PlaneChoice out;
    out.select = planes.select;
    if (planes.select == PlaneSelect::one) out.planes[0] = planes.planes[0];
    if (planes.select == PlaneSelect::three) out.planes = planes.planes;
    return out;
}

MappingChoice canonicalMapping(const MappingChoice& mapping) {
    MappingChoice out;
    out.stretch = mapping.stretch;
    // The rules of the range stretch take no interval.
    if (mapping.stretch == Stretch::range) return out;
    out.interval.kind = mapping.interval.kind;
    if (mapping.interval.kind == IntervalKind::percent) out.interval.percent = mapping.interval.percent;
    if (mapping.interval.kind == IntervalKind::points) {
        out.interval.black = mapping.interval.black;
        out.interval.white = mapping.interval.white;
        if (mapping.stretch == Stretch::mtf) out.midtone = mapping.midtone;
    }
    return out;
}

}  // namespace

OpenOptions canonical(const OpenOptions& options) {
    OpenOptions out;
    out.image = canonicalImage(options.image);
    out.planes = canonicalPlanes(options.planes);
    out.orientation = options.orientation;
    out.mapping = canonicalMapping(options.mapping);
    out.depth = options.depth;
    out.debayer = options.debayer;
    if (options.debayer != Debayer::off) out.demosaic = options.demosaic;
    return out;
}

SaveOptions canonical(const SaveOptions& options) {
    SaveOptions out;
    out.orientation = options.orientation;
    out.floatBitpix = options.floatBitpix;
    out.compression = options.compression;
    if (options.compression != Compression::none) {
        out.tile = options.tile;
        out.quantize = options.quantize;
    }
    return out;
}

}  // namespace nebulite::options
