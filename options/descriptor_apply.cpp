#include "options/descriptor_apply.h"

#include <cmath>

#include "options/validate.h"

namespace nebulite::options {

namespace {

// "'nbIm'" for messages.
FixedText<6> codeText(FourCharCode code) {
    FixedText<6> out("'");
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<char>(code >> shift & 0xFF);
        out.append(c >= 0x20 && c < 0x7F ? std::string_view(&c, 1) : std::string_view("?"));
    }
    return out.append("'");
}

std::string_view typeName(ValueType t) {
    switch (t) {
        case ValueType::integer: return "an integer";
        case ValueType::floating: return "a float";
        case ValueType::boolean: return "a boolean";
        case ValueType::enumerated: return "an enumerated value";
        case ValueType::text: return "text";
    }
    return "?";
}

Message wrongType(const KeyEntry& k, const DescriptorValue& v) {
    return compose("key ", codeText(k.key), " (", k.name, ") holds ", typeName(v.type), ", not ", typeName(k.type));
}

template <typename Enum, std::size_t N>
Message takeEnum(Enum& field, const KeyEntry& k, const DescriptorValue& v, const std::array<OptionWord<Enum>, N>& words) {
    if (v.enumType != k.enumType)
        return compose("key ", codeText(k.key), " (", k.name, ") holds an enumeration of type ", codeText(v.enumType));
    for (const OptionWord<Enum>& w : words) {
        if (w.code == v.enumValue) {
            field = w.value;
            return {};
        }
    }
    return compose("key ", codeText(k.key), " (", k.name, ") has no value ", codeText(v.enumValue));
}

Message takeCount(uint32_t& field, const KeyEntry& k, int32_t v, int32_t least) {
    if (v < least) return compose("key ", codeText(k.key), " (", k.name, ") is at least ", least, ", not ", v);
    field = static_cast<uint32_t>(v);
    return {};
}

Message takeFinite(std::optional<double>& field, const KeyEntry& k, double v) {
    if (!std::isfinite(v)) return compose("key ", codeText(k.key), " (", k.name, ") is not a finite number");
    field = v;
    return {};
}

Message applyOpen(OpenOptions& o, const KeyEntry& k, const DescriptorValue& v) {
    using namespace keys;
    const FourCharCode key = k.key;
    if (key == image) {
        uint32_t index = 0;
        if (Message m = takeCount(index, k, v.integer, 0); !m.empty()) return m;
        // A name, however it arrives, says more than a number.
        if (o.image.select != ImageSelect::name) {
            o.image.select = ImageSelect::index;
            o.image.index = index;
        }
        return {};
    }
    if (key == extname) {
        if (Message m = validateExtname(v.text); !m.empty()) return m;
        o.image.select = ImageSelect::name;
        o.image.extname = v.text;
        return {};
    }
    if (key == extver) {
        o.image.extver = v.integer;
        return {};
    }
    if (key == planes) return takeEnum(o.planes.select, k, v, kPlaneSelectWords);
    if (key == plane1) return takeCount(o.planes.planes[0], k, v.integer, 1);
    if (key == plane2) return takeCount(o.planes.planes[1], k, v.integer, 1);
    if (key == plane3) return takeCount(o.planes.planes[2], k, v.integer, 1);
    if (key == orientation) return takeEnum(o.orientation, k, v, kOrientationWords);
    if (key == stretch) return takeEnum(o.mapping.stretch, k, v, kStretchWords);
    if (key == interval) return takeEnum(o.mapping.interval.kind, k, v, kIntervalWords);
    if (key == percent) {
        std::optional<double> p;
        if (Message m = takeFinite(p, k, v.number); !m.empty()) return m;
        o.mapping.interval.percent = *p;
        return {};
    }
    if (key == black) return takeFinite(o.mapping.interval.black, k, v.number);
    if (key == white) return takeFinite(o.mapping.interval.white, k, v.number);
    if (key == midtone) return takeFinite(o.mapping.midtone, k, v.number);
    if (key == depth) return takeEnum(o.depth, k, v, kDepthWords);
    if (key == debayer) return takeEnum(o.debayer, k, v, kDebayerWords);
    if (key == demosaic) return takeEnum(o.demosaic, k, v, kDemosaicWords);
    return {};
}

Message applySave(SaveOptions& o, const KeyEntry& k, const DescriptorValue& v) {
    using namespace keys;
    const FourCharCode key = k.key;
    if (key == orientation) return takeEnum(o.orientation, k, v, kOrientationWords);
    if (key == floatBitpix) return takeEnum(o.floatBitpix, k, v, kFloatBitpixWords);
    if (key == compression) return takeEnum(o.compression, k, v, kCompressionWords);
    if (key == tileRows || key == tileColumns) {
        TileSize tile = o.tile.value_or(TileSize{});
        if (Message m = takeCount(key == tileRows ? tile.rows : tile.columns, k, v.integer, 1); !m.empty()) return m;
        o.tile = tile;
        return {};
    }
    if (key == quantize) {
        if (!(std::isfinite(v.number) && v.number >= 0.0))
            return compose("key ", codeText(k.key), " (", k.name, ") is a finite number of at least 0");
        o.quantize = v.number;
        return {};
    }
    return {};
}

// The key's entry when it belongs to `face` and the value has its type;
// a message when the type is wrong; neither for keys read as nothing.
template <typename Options, typename Apply>
Message applyKey(Options& options, KeyFace face, FourCharCode key, const DescriptorValue& value, Apply apply) {
    const KeyEntry* k = keyEntry(key);
    if (k == nullptr || !(k->face == face || k->face == KeyFace::both)) return {};
    if (value.type != k->type) return wrongType(*k, value);
    Options changed = options;
    Message m = apply(changed, *k, value);
    if (m.empty()) options = changed;
    return m;
}

DescriptorValue enumerated(FourCharCode type, FourCharCode value) { return DescriptorValue::ofEnumerated(type, value); }

DescriptorValue count(uint32_t v) { return DescriptorValue::ofInteger(static_cast<int32_t>(v)); }

void addMapping(DescriptorEntries& out, const MappingChoice& mapping) {
    out.add(keys::stretch, enumerated(enumTypes::stretch, codeOf(kStretchWords, mapping.stretch)));
    if (mapping.stretch == Stretch::range) return;
    const IntervalChoice& interval = mapping.interval;
    out.add(keys::interval, enumerated(enumTypes::interval, codeOf(kIntervalWords, interval.kind)));
    if (interval.kind == IntervalKind::percent) out.add(keys::percent, DescriptorValue::ofNumber(interval.percent));
    if (interval.black) out.add(keys::black, DescriptorValue::ofNumber(*interval.black));
    if (interval.white) out.add(keys::white, DescriptorValue::ofNumber(*interval.white));
    if (mapping.midtone) out.add(keys::midtone, DescriptorValue::ofNumber(*mapping.midtone));
}

}  // namespace

DescriptorValue DescriptorValue::ofInteger(int32_t v) {
    DescriptorValue d;
    d.type = ValueType::integer;
    d.integer = v;
    return d;
}

DescriptorValue DescriptorValue::ofNumber(double v) {
    DescriptorValue d;
    d.type = ValueType::floating;
    d.number = v;
    return d;
}

DescriptorValue DescriptorValue::ofBoolean(bool v) {
    DescriptorValue d;
    d.type = ValueType::boolean;
    d.boolean = v;
    return d;
}

DescriptorValue DescriptorValue::ofEnumerated(FourCharCode type, FourCharCode value) {
    DescriptorValue d;
    d.type = ValueType::enumerated;
    d.enumType = type;
    d.enumValue = value;
    return d;
}

DescriptorValue DescriptorValue::ofText(std::string_view v) {
    DescriptorValue d;
    d.type = ValueType::text;
    d.text = ExtName(v);
    return d;
}

void DescriptorEntries::add(FourCharCode key, const DescriptorValue& value) {
    if (count < items.size()) items[count++] = DescriptorEntry{key, value};
}

Message applyOpenKey(OpenOptions& options, FourCharCode key, const DescriptorValue& value) {
    return applyKey(options, KeyFace::open, key, value, applyOpen);
}

Message applySaveKey(SaveOptions& options, FourCharCode key, const DescriptorValue& value) {
    return applyKey(options, KeyFace::save, key, value, applySave);
}

DescriptorEntries openEntries(const OpenOptions& options) {
    const OpenOptions o = canonical(options);
    DescriptorEntries out;
    if (o.image.select == ImageSelect::index) out.add(keys::image, count(o.image.index));
    if (o.image.select == ImageSelect::name) {
        out.add(keys::extname, DescriptorValue::ofText(o.image.extname.view()));
        if (o.image.extver) out.add(keys::extver, DescriptorValue::ofInteger(*o.image.extver));
    }
    out.add(keys::planes, enumerated(enumTypes::planes, codeOf(kPlaneSelectWords, o.planes.select)));
    if (o.planes.select != PlaneSelect::automatic) out.add(keys::plane1, count(o.planes.planes[0]));
    if (o.planes.select == PlaneSelect::three) {
        out.add(keys::plane2, count(o.planes.planes[1]));
        out.add(keys::plane3, count(o.planes.planes[2]));
    }
    out.add(keys::orientation, enumerated(enumTypes::orientation, codeOf(kOrientationWords, o.orientation)));
    addMapping(out, o.mapping);
    out.add(keys::depth, enumerated(enumTypes::depth, codeOf(kDepthWords, o.depth)));
    out.add(keys::debayer, enumerated(enumTypes::debayer, codeOf(kDebayerWords, o.debayer)));
    if (o.debayer != Debayer::off)
        out.add(keys::demosaic, enumerated(enumTypes::demosaic, codeOf(kDemosaicWords, o.demosaic)));
    return out;
}

DescriptorEntries openEntries(const ResolvedOpen& resolved) { return openEntries(resolved.chosen); }

DescriptorEntries saveEntries(const SaveOptions& options) {
    const SaveOptions o = canonical(options);
    DescriptorEntries out;
    out.add(keys::orientation, enumerated(enumTypes::orientation, codeOf(kOrientationWords, o.orientation)));
    out.add(keys::floatBitpix, enumerated(enumTypes::floatBitpix, codeOf(kFloatBitpixWords, o.floatBitpix)));
    out.add(keys::compression, enumerated(enumTypes::compression, codeOf(kCompressionWords, o.compression)));
    if (o.compression == Compression::none) return out;
    if (o.tile) {
        out.add(keys::tileRows, count(o.tile->rows));
        out.add(keys::tileColumns, count(o.tile->columns));
    }
    out.add(keys::quantize, DescriptorValue::ofNumber(o.quantize));
    return out;
}

DescriptorEntries saveEntries(const ResolvedSave& resolved) { return saveEntries(resolved.chosen); }

}  // namespace nebulite::options
