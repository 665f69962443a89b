#include "options/cli_flags.h"

#include "options/option_words.h"

namespace nebulite::options {

namespace {

template <typename Options>
using FlagEffect = Message (*)(Options&, std::string_view);

template <typename Options>
struct FlagRow {
    std::string_view name;
    FlagEffect<Options> effect;
};

// Sets `field` from the parse of `text`, or answers why not.
template <typename Field, typename Value>
Message take(Field& field, const Checked<Value>& parsed) {
    if (!parsed.ok()) return parsed.error;
    field = parsed.value;
    return {};
}

Message onImage(OpenOptions& o, std::string_view v) { return take(o.image, parseImage(v)); }
Message onPlane(OpenOptions& o, std::string_view v) {
    Checked<uint32_t> plane = parsePlane(v);
    if (!plane.ok()) return plane.error;
    o.planes = PlaneChoice{PlaneSelect::one, {plane.value, 0, 0}};
    return {};
}
Message onPlanes(OpenOptions& o, std::string_view v) { return take(o.planes, parsePlanes(v)); }
Message onOrientation(OpenOptions& o, std::string_view v) { return take(o.orientation, parseOrientation(v)); }
Message onStretch(OpenOptions& o, std::string_view v) { return take(o.mapping.stretch, parseStretch(v)); }
Message onInterval(OpenOptions& o, std::string_view v) {
    Checked<IntervalChoice> interval = parseInterval(v);
    if (!interval.ok()) return interval.error;
    // Points given earlier stay, for a later --black or --white to complete.
    o.mapping.interval.kind = interval.value.kind;
    o.mapping.interval.percent = interval.value.percent;
    return {};
}
Message onBlack(OpenOptions& o, std::string_view v) {
    Checked<double> n = parseNumber(v);
    if (!n.ok()) return n.error;
    o.mapping.interval.kind = IntervalKind::points;
    o.mapping.interval.black = n.value;
    return {};
}
Message onWhite(OpenOptions& o, std::string_view v) {
    Checked<double> n = parseNumber(v);
    if (!n.ok()) return n.error;
    o.mapping.interval.kind = IntervalKind::points;
    o.mapping.interval.white = n.value;
    return {};
}
Message onMidtone(OpenOptions& o, std::string_view v) { return take(o.mapping.midtone, parseNumber(v)); }
Message onDepth(OpenOptions& o, std::string_view v) { return take(o.depth, parseDepth(v)); }
Message onDebayer(OpenOptions& o, std::string_view v) { return take(o.debayer, parseDebayer(v)); }
Message onDemosaic(OpenOptions& o, std::string_view v) { return take(o.demosaic, parseDemosaic(v)); }

constexpr std::array<FlagRow<OpenOptions>, 12> kOpenFlags = {{
    {"--image", onImage},
    {"--plane", onPlane},
    {"--planes", onPlanes},
    {"--orientation", onOrientation},
    {"--stretch", onStretch},
    {"--interval", onInterval},
    {"--black", onBlack},
    {"--white", onWhite},
    {"--midtone", onMidtone},
    {"--depth", onDepth},
    {"--debayer", onDebayer},
    {"--demosaic", onDemosaic},
}};

Message onSaveOrientation(SaveOptions& o, std::string_view v) { return take(o.orientation, parseOrientation(v)); }
Message onBitpix(SaveOptions& o, std::string_view v) { return take(o.floatBitpix, parseFloatBitpix(v)); }
Message onCompress(SaveOptions& o, std::string_view v) { return take(o.compression, parseCompression(v)); }
Message onTile(SaveOptions& o, std::string_view v) { return take(o.tile, parseTile(v)); }
Message onQuantize(SaveOptions& o, std::string_view v) {
    Checked<double> q = parseNumber(v);
    if (!q.ok()) return q.error;
    if (q.value < 0.0) return compose("quantize level ", q.value, " is below 0");
    o.quantize = q.value;
    return {};
}

constexpr std::array<FlagRow<SaveOptions>, 5> kSaveFlags = {{
    {"--orientation", onSaveOrientation},
    {"--bitpix", onBitpix},
    {"--compress", onCompress},
    {"--tile", onTile},
    {"--quantize", onQuantize},
}};

template <typename Options, std::size_t N>
const FlagRow<Options>* rowNamed(const std::array<FlagRow<Options>, N>& table, std::string_view name) {
    for (const FlagRow<Options>& row : table)
        if (row.name == name) return &row;
    return nullptr;
}

template <typename Options, std::size_t N>
Message applyFlag(const std::array<FlagRow<Options>, N>& table, Options& options, std::string_view name,
                  std::string_view value) {
    const FlagRow<Options>* row = rowNamed(table, name);
    if (row == nullptr) return compose("unknown option ", name);
    Options changed = options;
    Message m = row->effect(changed, value);
    if (!m.empty()) return compose(name, ": ", m);
    options = changed;
    return {};
}

ArgText word(std::string_view w) { return ArgText(w); }

void addMapping(FlagList& flags, const MappingChoice& mapping) {
    if (mapping.stretch == Stretch::range) return;
    flags.add("--stretch", word(wordOf(kStretchWords, mapping.stretch)));
    const IntervalChoice& interval = mapping.interval;
    switch (interval.kind) {
        case IntervalKind::automatic: break;
        case IntervalKind::minmax:
        case IntervalKind::zscale: flags.add("--interval", word(wordOf(kIntervalWords, interval.kind))); break;
        case IntervalKind::percent: flags.add("--interval", formatNumber(interval.percent)); break;
        case IntervalKind::points:
            if (interval.black) flags.add("--black", formatNumber(*interval.black));
            if (interval.white) flags.add("--white", formatNumber(*interval.white));
            if (mapping.midtone) flags.add("--midtone", formatNumber(*mapping.midtone));
            break;
    }
}

}  // namespace

void FlagList::add(std::string_view name, const ArgText& value) {
    if (count < items.size()) items[count++] = Flag{name, value};
}

bool isOpenFlag(std::string_view name) { return rowNamed(kOpenFlags, name) != nullptr; }
bool isSaveFlag(std::string_view name) { return rowNamed(kSaveFlags, name) != nullptr; }

Message applyOpenFlag(OpenOptions& options, std::string_view name, std::string_view value) {
    return applyFlag(kOpenFlags, options, name, value);
}

Message applySaveFlag(SaveOptions& options, std::string_view name, std::string_view value) {
    return applyFlag(kSaveFlags, options, name, value);
}

FlagList openFlags(const OpenOptions& options) {
    const OpenOptions o = canonical(options);
    const OpenOptions defaults;
    FlagList flags;
    if (o.image != defaults.image) flags.add("--image", formatImage(o.image));
    if (o.planes.select == PlaneSelect::one) {
        ArgText plane;
        plane.appendUnsigned(o.planes.planes[0]);
        flags.add("--plane", plane);
    } else if (o.planes.select == PlaneSelect::three) {
        ArgText planes;
        planes.appendUnsigned(o.planes.planes[0]).append(",").appendUnsigned(o.planes.planes[1]).append(",");
        planes.appendUnsigned(o.planes.planes[2]);
        flags.add("--planes", planes);
    }
    if (o.orientation != defaults.orientation) flags.add("--orientation", word(wordOf(kOrientationWords, o.orientation)));
    addMapping(flags, o.mapping);
    if (o.depth != defaults.depth) flags.add("--depth", word(wordOf(kDepthWords, o.depth)));
    if (o.debayer != defaults.debayer) flags.add("--debayer", word(wordOf(kDebayerWords, o.debayer)));
    if (o.demosaic != defaults.demosaic) flags.add("--demosaic", word(wordOf(kDemosaicWords, o.demosaic)));
    return flags;
}

FlagList saveFlags(const SaveOptions& options) {
    const SaveOptions o = canonical(options);
    const SaveOptions defaults;
    FlagList flags;
    if (o.orientation != defaults.orientation) flags.add("--orientation", word(wordOf(kOrientationWords, o.orientation)));
    if (o.floatBitpix != defaults.floatBitpix) flags.add("--bitpix", word(wordOf(kFloatBitpixWords, o.floatBitpix)));
    if (o.compression != defaults.compression) flags.add("--compress", word(wordOf(kCompressionWords, o.compression)));
    if (o.tile) flags.add("--tile", formatTile(o.tile));
    if (o.quantize != defaults.quantize) flags.add("--quantize", formatNumber(o.quantize));
    return flags;
}

}  // namespace nebulite::options
