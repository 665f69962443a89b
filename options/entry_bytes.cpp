#include "options/entry_bytes.h"

#include <bit>
#include <cstring>

namespace nebulite::options {

namespace {

constexpr uint8_t kTag[4] = {'N', 'b', 'O', 'p'};
constexpr uint8_t kVersion = 1;

class Writer {
public:
    explicit Writer(std::span<uint8_t> out) : out_(out) {}
    void byte(uint8_t b) {
        if (at_ < out_.size()) out_[at_] = b;
        ++at_;
    }
    void word(uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) byte(static_cast<uint8_t>(v >> shift));
    }
    void wide(uint64_t v) {
        word(static_cast<uint32_t>(v >> 32));
        word(static_cast<uint32_t>(v));
    }
    bool fits() const { return at_ <= out_.size(); }
    std::size_t size() const { return at_; }

private:
    std::span<uint8_t> out_;
    std::size_t at_ = 0;
};

class Reader {
public:
    explicit Reader(std::span<const uint8_t> in) : in_(in) {}
    bool byte(uint8_t& b) {
        if (at_ >= in_.size()) return false;
        b = in_[at_++];
        return true;
    }
    bool word(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            uint8_t b = 0;
            if (!byte(b)) return false;
            v = v << 8 | b;
        }
        return true;
    }
    bool wide(uint64_t& v) {
        uint32_t high = 0;
        uint32_t low = 0;
        if (!word(high) || !word(low)) return false;
        v = uint64_t{high} << 32 | low;
        return true;
    }
    bool atEnd() const { return at_ == in_.size(); }

private:
    std::span<const uint8_t> in_;
    std::size_t at_ = 0;
};

void writeValue(Writer& w, const DescriptorValue& v) {
    w.byte(static_cast<uint8_t>(v.type));
    switch (v.type) {
        case ValueType::integer: w.word(static_cast<uint32_t>(v.integer)); break;
        case ValueType::floating: w.wide(std::bit_cast<uint64_t>(v.number)); break;
        case ValueType::boolean: w.byte(v.boolean ? 1 : 0); break;
        case ValueType::enumerated:
            w.word(v.enumType);
            w.word(v.enumValue);
            break;
        case ValueType::text: {
            const auto text = v.text.view();
            w.byte(static_cast<uint8_t>(text.size()));
            for (char c : text) w.byte(static_cast<uint8_t>(c));
            break;
        }
    }
}

bool readValue(Reader& r, DescriptorValue& v) {
    uint8_t type = 0;
    if (!r.byte(type)) return false;
    switch (static_cast<ValueType>(type)) {
        case ValueType::integer: {
            uint32_t bits = 0;
            if (!r.word(bits)) return false;
            v = DescriptorValue::ofInteger(static_cast<int32_t>(bits));
            return true;
        }
        case ValueType::floating: {
            uint64_t bits = 0;
            if (!r.wide(bits)) return false;
            v = DescriptorValue::ofNumber(std::bit_cast<double>(bits));
            return true;
        }
        case ValueType::boolean: {
            uint8_t b = 0;
            if (!r.byte(b) || b > 1) return false;
            v = DescriptorValue::ofBoolean(b == 1);
            return true;
        }
        case ValueType::enumerated: {
            uint32_t kind = 0;
            uint32_t value = 0;
            if (!r.word(kind) || !r.word(value)) return false;
            v = DescriptorValue::ofEnumerated(kind, value);
            return true;
        }
        case ValueType::text: {
            uint8_t length = 0;
            if (!r.byte(length) || length > ExtName::capacity()) return false;
            char text[ExtName::capacity()];
            for (uint8_t i = 0; i < length; ++i) {
                uint8_t c = 0;
                if (!r.byte(c)) return false;
                text[i] = static_cast<char>(c);
            }
            v = DescriptorValue::ofText(std::string_view(text, length));
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::size_t> encodeEntries(std::span<const DescriptorEntry> entries, std::span<uint8_t> out) {
    DescriptorEntries limit;
    if (entries.size() > limit.items.size()) return std::nullopt;
    Writer w(out);
    for (uint8_t b : kTag) w.byte(b);
    w.byte(kVersion);
    w.byte(static_cast<uint8_t>(entries.size()));
    for (const DescriptorEntry& e : entries) {
        w.word(e.key);
        writeValue(w, e.value);
    }
    if (!w.fits()) return std::nullopt;
    return w.size();
}

std::optional<DescriptorEntries> decodeEntries(std::span<const uint8_t> bytes) {
    Reader r(bytes);
    for (uint8_t expected : kTag) {
        uint8_t b = 0;
        if (!r.byte(b) || b != expected) return std::nullopt;
    }
    uint8_t version = 0;
    uint8_t count = 0;
    if (!r.byte(version) || version != kVersion || !r.byte(count)) return std::nullopt;
    DescriptorEntries entries;
    if (count > entries.items.size()) return std::nullopt;
    for (uint8_t i = 0; i < count; ++i) {
        DescriptorEntry e;
        if (!r.word(e.key) || !readValue(r, e.value)) return std::nullopt;
        entries.add(e.key, e.value);
    }
    if (!r.atEnd()) return std::nullopt;
    return entries;
}

}  // namespace nebulite::options
