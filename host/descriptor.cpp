#include "host/descriptor.h"

#include <array>
#include <cstdio>
#include <cstring>

namespace nebulite::host {

namespace {

constexpr std::array<std::string_view, 11> kKindNames = {
    "integer", "float", "unitFloat", "boolean", "enumerated", "text", "alias", "class", "object", "count", "string",
};
static_assert(kKindNames.size() == static_cast<size_t>(ValueKind::string) + 1);

constexpr uint8_t kMagic[4] = {'N', 'b', 'D', 's'};
constexpr uint16_t kFormatVersion = 1;
constexpr int kMaxDepth = 32;

uint64_t bitsOf(double v) {
    uint64_t bits = 0;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

double doubleOf(uint64_t bits) {
    double v = 0.0;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

class Writer {
public:
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) {
        u8(static_cast<uint8_t>(v >> 8));
        u8(static_cast<uint8_t>(v));
    }
    void u32(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(v >> shift));
    }
    void u64(uint64_t v) {
        for (int shift = 56; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(v >> shift));
    }
    void bytes(std::string_view b) {
        u32(static_cast<uint32_t>(b.size()));
        out.insert(out.end(), b.begin(), b.end());
    }
    std::vector<uint8_t> out;
};

void writeItems(Writer& w, const std::vector<DescriptorItem>& items);

void writeItem(Writer& w, const DescriptorItem& item) {
    w.u32(item.key);
    w.u8(static_cast<uint8_t>(item.kind));
    switch (item.kind) {
        case ValueKind::integer:
        case ValueKind::count: w.u32(static_cast<uint32_t>(item.integer)); break;
        case ValueKind::floating: w.u64(bitsOf(item.number)); break;
        case ValueKind::unitFloat:
            w.u32(item.unit);
            w.u64(bitsOf(item.number));
            break;
        case ValueKind::boolean: w.u8(item.boolean ? 1 : 0); break;
        case ValueKind::enumerated:
            w.u32(item.type);
            w.u32(item.value);
            break;
        case ValueKind::classType: w.u32(item.type); break;
        case ValueKind::text:
        case ValueKind::alias:
        case ValueKind::string: w.bytes(item.bytes); break;
        case ValueKind::object: {
            w.u32(item.type);
            Writer inner;
            writeItems(inner, item.members);
            w.u32(static_cast<uint32_t>(inner.out.size()));
            w.out.insert(w.out.end(), inner.out.begin(), inner.out.end());
            break;
        }
    }
}

void writeItems(Writer& w, const std::vector<DescriptorItem>& items) {
    for (uint8_t m : kMagic) w.u8(m);
    w.u16(kFormatVersion);
    w.u32(static_cast<uint32_t>(items.size()));
    for (const DescriptorItem& item : items) writeItem(w, item);
}

class Reader {
public:
    explicit Reader(std::span<const uint8_t> b) : in(b) {}
    bool u8(uint8_t& v) {
        if (at >= in.size()) return false;
        v = in[at++];
        return true;
    }
    bool u16(uint16_t& v) {
        uint8_t a = 0, b = 0;
        if (!u8(a) || !u8(b)) return false;
        v = static_cast<uint16_t>(a << 8 | b);
        return true;
    }
    bool u32(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!u8(b)) return false;
            v = v << 8 | b;
        }
        return true;
    }
    bool u64(uint64_t& v) {
        v = 0;
        for (int i = 0; i < 8; ++i) {
            uint8_t b = 0;
            if (!u8(b)) return false;
            v = v << 8 | b;
        }
        return true;
    }
    bool bytes(std::string& out) {
        uint32_t n = 0;
        if (!u32(n) || n > in.size() - at) return false;
        out.assign(reinterpret_cast<const char*>(in.data() + at), n);
        at += n;
        return true;
    }
    bool span(std::span<const uint8_t>& out) {
        uint32_t n = 0;
        if (!u32(n) || n > in.size() - at) return false;
        out = in.subspan(at, n);
        at += n;
        return true;
    }
    bool atEnd() const { return at == in.size(); }

private:
    std::span<const uint8_t> in;
    size_t at = 0;
};

bool readItems(std::span<const uint8_t> bytes, std::vector<DescriptorItem>& items, int depth);

bool readItem(Reader& r, DescriptorItem& item, int depth) {
    uint8_t kind = 0;
    if (!r.u32(item.key) || !r.u8(kind) || kind > static_cast<uint8_t>(ValueKind::string)) return false;
    item.kind = static_cast<ValueKind>(kind);
    uint32_t u = 0;
    uint64_t bits = 0;
    switch (item.kind) {
        case ValueKind::integer:
            if (!r.u32(u)) return false;
            item.integer = static_cast<int32_t>(u);
            return true;
        case ValueKind::count:
            if (!r.u32(u)) return false;
            item.integer = u;
            return true;
        case ValueKind::floating:
            if (!r.u64(bits)) return false;
            item.number = doubleOf(bits);
            return true;
        case ValueKind::unitFloat:
            if (!r.u32(item.unit) || !r.u64(bits)) return false;
            item.number = doubleOf(bits);
            return true;
        case ValueKind::boolean: {
            uint8_t b = 0;
            if (!r.u8(b) || b > 1) return false;
            item.boolean = b == 1;
            return true;
        }
        case ValueKind::enumerated: return r.u32(item.type) && r.u32(item.value);
        case ValueKind::classType: return r.u32(item.type);
        case ValueKind::text:
        case ValueKind::alias: return r.bytes(item.bytes);
        case ValueKind::string: return r.bytes(item.bytes) && item.bytes.size() <= 255;
        case ValueKind::object: {
            std::span<const uint8_t> inner;
            if (!r.u32(item.type) || !r.span(inner)) return false;
            return depth < kMaxDepth && readItems(inner, item.members, depth + 1);
        }
    }
    return false;
}

bool readItems(std::span<const uint8_t> bytes, std::vector<DescriptorItem>& items, int depth) {
    Reader r(bytes);
    uint8_t magic[4] = {};
    for (uint8_t& m : magic)
        if (!r.u8(m)) return false;
    uint16_t version = 0;
    uint32_t count = 0;
    if (std::memcmp(magic, kMagic, 4) != 0 || !r.u16(version) || version != kFormatVersion || !r.u32(count))
        return false;
    // Each item takes at least five bytes: a count the bytes cannot hold is
    // refused before anything is sized from it.
    if (count > bytes.size() / 5) return false;
    items.clear();
    items.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        DescriptorItem item;
        if (!readItem(r, item, depth)) return false;
        items.push_back(std::move(item));
    }
    return r.atEnd();
}

}  // namespace

std::string_view kindName(ValueKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

std::optional<ValueKind> kindNamed(std::string_view name) {
    for (size_t i = 0; i < kKindNames.size(); ++i)
        if (kKindNames[i] == name) return static_cast<ValueKind>(i);
    return std::nullopt;
}

DescriptorItem DescriptorItem::ofInteger(DescriptorKeyID key, int32_t v) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::integer;
    i.integer = v;
    return i;
}

DescriptorItem DescriptorItem::ofFloat(DescriptorKeyID key, double v) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::floating;
    i.number = v;
    return i;
}

DescriptorItem DescriptorItem::ofUnitFloat(DescriptorKeyID key, DescriptorUnitID unit, double v) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::unitFloat;
    i.unit = unit;
    i.number = v;
    return i;
}

DescriptorItem DescriptorItem::ofBoolean(DescriptorKeyID key, bool v) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::boolean;
    i.boolean = v;
    return i;
}

DescriptorItem DescriptorItem::ofEnumerated(DescriptorKeyID key, DescriptorTypeID type, DescriptorEnumID v) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::enumerated;
    i.type = type;
    i.value = v;
    return i;
}

DescriptorItem DescriptorItem::ofText(DescriptorKeyID key, std::string_view bytes) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::text;
    i.bytes = bytes;
    return i;
}

DescriptorItem DescriptorItem::ofAlias(DescriptorKeyID key, std::string_view bytes) {
    DescriptorItem i = ofText(key, bytes);
    i.kind = ValueKind::alias;
    return i;
}

DescriptorItem DescriptorItem::ofClass(DescriptorKeyID key, DescriptorTypeID type) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::classType;
    i.type = type;
    return i;
}

DescriptorItem DescriptorItem::ofObject(DescriptorKeyID key, DescriptorTypeID type,
                                        std::vector<DescriptorItem> members) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::object;
    i.type = type;
    i.members = std::move(members);
    return i;
}

DescriptorItem DescriptorItem::ofCount(DescriptorKeyID key, uint32_t v) {
    DescriptorItem i;
    i.key = key;
    i.kind = ValueKind::count;
    i.integer = v;
    return i;
}

DescriptorItem DescriptorItem::ofString(DescriptorKeyID key, std::string_view bytes) {
    DescriptorItem i = ofText(key, bytes.substr(0, 255));
    i.kind = ValueKind::string;
    return i;
}

DescriptorTypeID DescriptorItem::typeCode() const {
    switch (kind) {
        case ValueKind::integer:
        case ValueKind::count: return descriptorTypes::integer;
        case ValueKind::floating: return descriptorTypes::floating;
        case ValueKind::unitFloat: return descriptorTypes::unitFloat;
        case ValueKind::boolean: return descriptorTypes::boolean;
        case ValueKind::enumerated: return type;
        case ValueKind::text:
        case ValueKind::string: return descriptorTypes::text;
        case ValueKind::alias: return descriptorTypes::alias;
        case ValueKind::classType: return descriptorTypes::classType;
        case ValueKind::object: return descriptorTypes::object;
    }
    return 0;
}

int32_t DescriptorItem::flags() const {
    if (kind == ValueKind::enumerated) return actionEnumeratedParameter;
    if (kind == ValueKind::object) return actionObjectParameter;
    return actionSimpleParameter;
}

bool DescriptorItem::operator==(const DescriptorItem& o) const {
    return key == o.key && kind == o.kind && integer == o.integer && bitsOf(number) == bitsOf(o.number) &&
           unit == o.unit && boolean == o.boolean && type == o.type && value == o.value && bytes == o.bytes &&
           members == o.members;
}

const DescriptorItem* Descriptor::find(DescriptorKeyID key) const {
    for (const DescriptorItem& item : items)
        if (item.key == key) return &item;
    return nullptr;
}

void Descriptor::put(DescriptorItem item) {
    for (DescriptorItem& existing : items) {
        if (existing.key == item.key) {
            existing = std::move(item);
            return;
        }
    }
    items.push_back(std::move(item));
}

std::vector<uint8_t> serialize(const Descriptor& descriptor) {
    Writer w;
    writeItems(w, descriptor.items);
    return std::move(w.out);
}

std::optional<Descriptor> parseDescriptor(std::span<const uint8_t> bytes) {
    Descriptor d;
    if (!readItems(bytes, d.items, 0)) return std::nullopt;
    return d;
}

std::string codeText(uint32_t code) {
    std::string text = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<char>(code >> shift & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", code);
            return hex;
        }
        text += c;
    }
    return text + "'";
}

}  // namespace nebulite::host
