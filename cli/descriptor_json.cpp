#include "cli/descriptor_json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

namespace nebulite::cli {

using host::Descriptor;
using host::DescriptorItem;
using host::ValueKind;

namespace {

constexpr std::string_view kFormat = "nebulite descriptor";
constexpr int kVersion = 1;
// JSON nesting: enough for the 32 levels of objects a descriptor may hold
// (two JSON levels each, the item and its "items").
constexpr int kMaxDepth = 80;

// ---- Writing -------------------------------------------------------------------------

std::string quoted(std::u32string_view text) {
    std::string out = "\"";
    for (char32_t c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
            out += escape;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {  // U+0080 to U+00FF: two bytes of UTF-8
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out + "\"";
}

std::string bytesString(std::string_view bytes) {
    std::u32string points;
    for (char b : bytes) points += static_cast<char32_t>(static_cast<uint8_t>(b));
    return quoted(points);
}

std::string codeString(uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<char>(code >> shift & 0xFF);
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') {
            char hex[16];
            std::snprintf(hex, sizeof hex, "\"0x%08X\"", code);
            return hex;
        }
        text += c;
    }
    return "\"" + text + "\"";
}

std::string numberString(double v) {
    if (std::isnan(v)) return "\"NaN\"";
    if (std::isinf(v)) return v > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    char digits[40];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, v);
    std::string text(digits, error == std::errc{} ? end : digits);
    // A whole number still reads as a float: keep a point or an exponent.
    if (text.find_first_of(".eE") == std::string::npos) text += ".0";
    return text;
}

std::string itemJson(const DescriptorItem& item, int indent);

std::string itemsJson(const std::vector<DescriptorItem>& items, int indent) {
    if (items.empty()) return "[]";
    std::string pad(static_cast<size_t>(indent), ' ');
    std::string out = "[\n";
    for (size_t i = 0; i < items.size(); ++i) {
        out += pad + "  " + itemJson(items[i], indent + 2);
        out += i + 1 < items.size() ? ",\n" : "\n";
    }
    return out + pad + "]";
}

std::string itemJson(const DescriptorItem& item, int indent) {
    std::string out = "{\"key\": " + codeString(item.key) + ", \"type\": \"" + std::string(host::kindName(item.kind)) + "\"";
    switch (item.kind) {
        case ValueKind::integer:
        case ValueKind::count: out += ", \"value\": " + std::to_string(item.integer); break;
        case ValueKind::floating: out += ", \"value\": " + numberString(item.number); break;
        case ValueKind::unitFloat:
            out += ", \"unit\": " + codeString(item.unit) + ", \"value\": " + numberString(item.number);
            break;
        case ValueKind::boolean: out += item.boolean ? ", \"value\": true" : ", \"value\": false"; break;
        case ValueKind::enumerated:
            out += ", \"enumType\": " + codeString(item.type) + ", \"value\": " + codeString(item.value);
            break;
        case ValueKind::classType: out += ", \"value\": " + codeString(item.type); break;
        case ValueKind::text:
        case ValueKind::alias:
        case ValueKind::string: out += ", \"value\": " + bytesString(item.bytes); break;
        case ValueKind::object:
            out += ", \"class\": " + codeString(item.type) + ", \"items\": " + itemsJson(item.members, indent);
            break;
    }
    return out + "}";
}

// ---- Reading: JSON values ---------------------------------------------------------------

struct Json {
    enum class Kind { null, boolean, number, string, array, object } kind = Kind::null;
    bool boolean = false;
    std::string number;  // as written
    std::u32string string;
    std::vector<Json> array;           // an array's elements, an object's member values
    std::vector<std::u32string> names;  // an object's member names, beside their values
    size_t at = 0;  // where it starts in the text
};

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    bool document(Json& out) {
        if (!value(out, 0)) return false;
        space();
        if (pos_ != text_.size()) return fail("text after the JSON value");
        return true;
    }

    std::string error() const { return error_; }

    // "line L, column C" of a byte offset.
    std::string where(size_t at) const {
        size_t line = 1, column = 1;
        for (size_t i = 0; i < at && i < text_.size(); ++i) {
            if (text_[i] == '\n') {
                ++line;
                column = 1;
            } else {
                ++column;
            }
        }
        return "line " + std::to_string(line) + ", column " + std::to_string(column);
    }

private:
    bool fail(const std::string& what) {
        if (error_.empty()) error_ = where(pos_) + ": " + what;
        return false;
    }

    void space() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\n' || text_[pos_] == '\r'))
            ++pos_;
    }

    bool literal(std::string_view word) {
        if (text_.substr(pos_, word.size()) != word) return fail("not a JSON value");
        pos_ += word.size();
        return true;
    }

    bool value(Json& out, int depth) {
        if (depth > kMaxDepth) return fail("nested too deep");
        space();
        out.at = pos_;
        if (pos_ >= text_.size()) return fail("the text ends where a value should be");
        char c = text_[pos_];
        if (c == '{') return objectValue(out, depth);
        if (c == '[') return arrayValue(out, depth);
        if (c == '"') {
            out.kind = Json::Kind::string;
            return stringValue(out.string);
        }
        if (c == 't' || c == 'f') {
            out.kind = Json::Kind::boolean;
            out.boolean = c == 't';
            return literal(c == 't' ? "true" : "false");
        }
        if (c == 'n') return literal("null");
        if (c == '-' || (c >= '0' && c <= '9')) return numberValue(out);
        return fail("not a JSON value");
    }

    bool objectValue(Json& out, int depth) {
        out.kind = Json::Kind::object;
        ++pos_;
        space();
        if (pos_ < text_.size() && text_[pos_] == '}') {
            ++pos_;
            return true;
        }
        for (;;) {
            space();
            std::u32string name;
            if (pos_ >= text_.size() || text_[pos_] != '"') return fail("a member name should be here");
            if (!stringValue(name)) return false;
            space();
            if (pos_ >= text_.size() || text_[pos_] != ':') return fail("':' should follow a member name");
            ++pos_;
            Json member;
            if (!value(member, depth + 1)) return false;
            out.names.push_back(std::move(name));
            out.array.push_back(std::move(member));
            space();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == '}') {
                ++pos_;
                return true;
            }
            return fail("',' or '}' should be here");
        }
    }

    bool arrayValue(Json& out, int depth) {
        out.kind = Json::Kind::array;
        ++pos_;
        space();
        if (pos_ < text_.size() && text_[pos_] == ']') {
            ++pos_;
            return true;
        }
        for (;;) {
            Json element;
            if (!value(element, depth + 1)) return false;
            out.array.push_back(std::move(element));
            space();
            if (pos_ < text_.size() && text_[pos_] == ',') {
                ++pos_;
                continue;
            }
            if (pos_ < text_.size() && text_[pos_] == ']') {
                ++pos_;
                return true;
            }
            return fail("',' or ']' should be here");
        }
    }

    bool hex4(uint32_t& v) {
        v = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= text_.size()) return fail("a \\u escape is cut short");
            char c = text_[pos_++];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return fail("a \\u escape needs four hex digits");
            v = v << 4 | static_cast<uint32_t>(d);
        }
        return true;
    }

    bool stringValue(std::u32string& out) {
        ++pos_;  // the opening quote
        for (;;) {
            if (pos_ >= text_.size()) return fail("a string is not closed");
            auto c = static_cast<uint8_t>(text_[pos_]);
            if (c == '"') {
                ++pos_;
                return true;
            }
            if (c < 0x20) return fail("a control character in a string (escape it)");
            if (c == '\\') {
                ++pos_;
                if (pos_ >= text_.size()) return fail("a string is not closed");
                char e = text_[pos_++];
                switch (e) {
                    case '"': out += U'"'; break;
                    case '\\': out += U'\\'; break;
                    case '/': out += U'/'; break;
                    case 'b': out += U'\b'; break;
                    case 'f': out += U'\f'; break;
                    case 'n': out += U'\n'; break;
                    case 'r': out += U'\r'; break;
                    case 't': out += U'\t'; break;
                    case 'u': {
                        uint32_t v = 0;
                        if (!hex4(v)) return false;
                        if (v >= 0xD800 && v <= 0xDBFF) {
                            uint32_t low = 0;
                            if (text_.substr(pos_, 2) != "\\u") return fail("a lone surrogate in a \\u escape");
                            pos_ += 2;
                            if (!hex4(low) || low < 0xDC00 || low > 0xDFFF) return fail("a lone surrogate in a \\u escape");
                            v = 0x10000 + ((v - 0xD800) << 10) + (low - 0xDC00);
                        } else if (v >= 0xDC00 && v <= 0xDFFF) {
                            return fail("a lone surrogate in a \\u escape");
                        }
                        out += static_cast<char32_t>(v);
                        break;
                    }
                    default: return fail("an unknown escape in a string");
                }
                continue;
            }
            // UTF-8.
            int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
            if (extra < 0) return fail("a string that is not UTF-8");
            uint32_t v = extra == 0 ? c : extra == 1 ? (c & 0x1Fu) : extra == 2 ? (c & 0x0Fu) : (c & 0x07u);
            ++pos_;
            for (int i = 0; i < extra; ++i) {
                if (pos_ >= text_.size() || (static_cast<uint8_t>(text_[pos_]) & 0xC0) != 0x80)
                    return fail("a string that is not UTF-8");
                v = v << 6 | (static_cast<uint8_t>(text_[pos_++]) & 0x3Fu);
            }
            const uint32_t least[] = {0, 0x80, 0x800, 0x10000};
            if (v < least[extra] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return fail("a string that is not UTF-8");
            out += static_cast<char32_t>(v);
        }
    }

    bool numberValue(Json& out) {
        out.kind = Json::Kind::number;
        size_t start = pos_;
        if (text_[pos_] == '-') ++pos_;
        auto digits = [&] {
            size_t from = pos_;
            while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') ++pos_;
            return pos_ > from;
        };
        if (pos_ < text_.size() && text_[pos_] == '0')
            ++pos_;
        else if (!digits())
            return fail("not a JSON number");
        if (pos_ < text_.size() && text_[pos_] == '.') {
            ++pos_;
            if (!digits()) return fail("not a JSON number");
        }
        if (pos_ < text_.size() && (text_[pos_] == 'e' || text_[pos_] == 'E')) {
            ++pos_;
            if (pos_ < text_.size() && (text_[pos_] == '+' || text_[pos_] == '-')) ++pos_;
            if (!digits()) return fail("not a JSON number");
        }
        out.number = std::string(text_.substr(start, pos_ - start));
        return true;
    }

    std::string_view text_;
    size_t pos_ = 0;
    std::string error_;
};

// ---- Reading: JSON into a descriptor ---------------------------------------------------------

std::string ascii(std::u32string_view s) {
    std::string out;
    for (char32_t c : s) out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    return out;
}

class Builder {
public:
    explicit Builder(const Parser& parser) : parser_(parser) {}

    bool fail(const Json& at, const std::string& what) {
        if (error_.empty()) error_ = parser_.where(at.at) + ": " + what;
        return false;
    }
    const std::string& error() const { return error_; }

    const Json* member(const Json& object, std::u32string_view name) {
        for (size_t i = 0; i < object.names.size(); ++i)
            if (object.names[i] == name) return &object.array[i];
        return nullptr;
    }

    // Every member of `object` is one of `names`, none twice.
    bool onlyMembers(const Json& object, std::initializer_list<std::u32string_view> names) {
        for (size_t i = 0; i < object.names.size(); ++i) {
            const std::u32string& n = object.names[i];
            const Json& v = object.array[i];
            if (std::find(names.begin(), names.end(), n) == names.end())
                return fail(v, "unknown member \"" + ascii(n) + "\"");
            for (size_t j = 0; j < i; ++j)
                if (object.names[j] == n) return fail(v, "member \"" + ascii(n) + "\" given twice");
        }
        return true;
    }

    bool code(const Json* v, const Json& item, const char* name, uint32_t& out) {
        if (v == nullptr) return fail(item, std::string("missing \"") + name + "\"");
        if (v->kind != Json::Kind::string) return fail(*v, std::string("\"") + name + "\" is a code, a string");
        const std::u32string& s = v->string;
        if (s.size() == 4) {
            out = 0;
            for (char32_t c : s) {
                if (c < 0x20 || c > 0x7E) return fail(*v, std::string("\"") + name + "\": a code of four printable ASCII characters or 0xHHHHHHHH");
                out = out << 8 | static_cast<uint32_t>(c);
            }
            return true;
        }
        if (s.size() == 10 && s[0] == U'0' && (s[1] == U'x' || s[1] == U'X')) {
            std::string hex = ascii(s.substr(2));
            auto [end, error] = std::from_chars(hex.data(), hex.data() + hex.size(), out, 16);
            if (error == std::errc{} && end == hex.data() + hex.size()) return true;
        }
        return fail(*v, std::string("\"") + name + "\": a code of four printable ASCII characters or 0xHHHHHHHH");
    }

    bool whole(const Json* v, const Json& item, int64_t least, int64_t most, int64_t& out) {
        if (v == nullptr) return fail(item, "missing \"value\"");
        if (v->kind != Json::Kind::number) return fail(*v, "\"value\" is a whole number");
        auto [end, error] = std::from_chars(v->number.data(), v->number.data() + v->number.size(), out);
        if (error != std::errc{} || end != v->number.data() + v->number.size() || out < least || out > most)
            return fail(*v, "\"value\" is a whole number from " + std::to_string(least) + " to " + std::to_string(most));
        return true;
    }

    bool number(const Json* v, const Json& item, double& out) {
        if (v == nullptr) return fail(item, "missing \"value\"");
        if (v->kind == Json::Kind::string) {
            if (v->string == U"NaN") out = std::numeric_limits<double>::quiet_NaN();
            else if (v->string == U"Infinity") out = std::numeric_limits<double>::infinity();
            else if (v->string == U"-Infinity") out = -std::numeric_limits<double>::infinity();
            else return fail(*v, "\"value\" is a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
            return true;
        }
        if (v->kind != Json::Kind::number) return fail(*v, "\"value\" is a number");
        auto [end, error] = std::from_chars(v->number.data(), v->number.data() + v->number.size(), out);
        if (error != std::errc{} || end != v->number.data() + v->number.size())
            return fail(*v, "\"value\" is out of a double's range");
        return true;
    }

    bool bytes(const Json* v, const Json& item, size_t most, std::string& out) {
        if (v == nullptr) return fail(item, "missing \"value\"");
        if (v->kind != Json::Kind::string) return fail(*v, "\"value\" is a string");
        out.clear();
        for (char32_t c : v->string) {
            if (c > 0xFF) return fail(*v, "\"value\" holds a character above U+00FF (each character is one byte)");
            out += static_cast<char>(static_cast<uint8_t>(c));
        }
        if (out.size() > most) return fail(*v, "\"value\" is longer than " + std::to_string(most) + " bytes");
        return true;
    }

    bool items(const Json& array, std::vector<DescriptorItem>& out, int depth) {
        if (array.kind != Json::Kind::array) return fail(array, "\"items\" is an array");
        for (const Json& element : array.array) {
            DescriptorItem item;
            if (!itemOf(element, item, depth)) return false;
            out.push_back(std::move(item));
        }
        return true;
    }

    bool itemOf(const Json& j, DescriptorItem& item, int depth) {
        if (j.kind != Json::Kind::object) return fail(j, "an item is an object");
        if (!code(member(j, U"key"), j, "key", item.key)) return false;
        const Json* type = member(j, U"type");
        if (type == nullptr || type->kind != Json::Kind::string) return fail(j, "missing \"type\"");
        std::optional<ValueKind> kind = host::kindNamed(ascii(type->string));
        if (!kind) return fail(*type, "unknown type \"" + ascii(type->string) + "\"");
        item.kind = *kind;
        const Json* value = member(j, U"value");
        switch (*kind) {
            case ValueKind::integer:
                return onlyMembers(j, {U"key", U"type", U"value"}) &&
                       whole(value, j, INT32_MIN, INT32_MAX, item.integer);
            case ValueKind::count:
                return onlyMembers(j, {U"key", U"type", U"value"}) && whole(value, j, 0, UINT32_MAX, item.integer);
            case ValueKind::floating:
                return onlyMembers(j, {U"key", U"type", U"value"}) && number(value, j, item.number);
            case ValueKind::unitFloat:
                return onlyMembers(j, {U"key", U"type", U"unit", U"value"}) &&
                       code(member(j, U"unit"), j, "unit", item.unit) && number(value, j, item.number);
            case ValueKind::boolean:
                if (!onlyMembers(j, {U"key", U"type", U"value"})) return false;
                if (value == nullptr || value->kind != Json::Kind::boolean) return fail(j, "\"value\" is true or false");
                item.boolean = value->boolean;
                return true;
            case ValueKind::enumerated:
                return onlyMembers(j, {U"key", U"type", U"enumType", U"value"}) &&
                       code(member(j, U"enumType"), j, "enumType", item.type) && code(value, j, "value", item.value);
            case ValueKind::classType:
                return onlyMembers(j, {U"key", U"type", U"value"}) && code(value, j, "value", item.type);
            case ValueKind::text:
            case ValueKind::alias:
                return onlyMembers(j, {U"key", U"type", U"value"}) && bytes(value, j, SIZE_MAX, item.bytes);
            case ValueKind::string:
                return onlyMembers(j, {U"key", U"type", U"value"}) && bytes(value, j, 255, item.bytes);
            case ValueKind::object: {
                if (!onlyMembers(j, {U"key", U"type", U"class", U"items"})) return false;
                if (!code(member(j, U"class"), j, "class", item.type)) return false;
                const Json* members = member(j, U"items");
                if (members == nullptr) return fail(j, "missing \"items\"");
                if (depth >= 32) return fail(j, "objects nested too deep");
                return items(*members, item.members, depth + 1);
            }
        }
        return fail(j, "unknown type");
    }

private:
    const Parser& parser_;
    std::string error_;
};

}  // namespace

std::string descriptorToJson(const Descriptor& descriptor) {
    return "{\n  \"format\": \"" + std::string(kFormat) + "\",\n  \"version\": " + std::to_string(kVersion) +
           ",\n  \"items\": " + itemsJson(descriptor.items, 2) + "\n}\n";
}

std::optional<Descriptor> descriptorFromJson(std::string_view text, std::string* error) {
    Parser parser(text);
    Json root;
    auto failed = [&](const std::string& why) {
        if (error != nullptr) *error = why;
        return std::nullopt;
    };
    if (!parser.document(root)) return failed(parser.error());
    Builder b(parser);
    if (root.kind != Json::Kind::object) {
        b.fail(root, "a descriptor is a JSON object");
        return failed(b.error());
    }
    const Json* format = b.member(root, U"format");
    const Json* version = b.member(root, U"version");
    const Json* items = b.member(root, U"items");
    std::u32string expectedFormat(kFormat.begin(), kFormat.end());
    if (!b.onlyMembers(root, {U"format", U"version", U"items"})) return failed(b.error());
    if (format == nullptr || format->kind != Json::Kind::string || format->string != expectedFormat) {
        b.fail(format != nullptr ? *format : root, "\"format\" is \"nebulite descriptor\"");
        return failed(b.error());
    }
    if (version == nullptr || version->kind != Json::Kind::number || version->number != std::to_string(kVersion)) {
        b.fail(version != nullptr ? *version : root, "\"version\" is 1 (this nebulite reads version 1)");
        return failed(b.error());
    }
    if (items == nullptr) {
        b.fail(root, "missing \"items\"");
        return failed(b.error());
    }
    Descriptor d;
    if (!b.items(*items, d.items, 0)) return failed(b.error());
    return d;
}

}  // namespace nebulite::cli
