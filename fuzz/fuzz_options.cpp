// The option model's faces. The first byte picks one: the open or save
// command-line flags (the rest is 0-separated tokens, flag then value, a
// token not starting with '-' naming the flag by its first byte), or the
// open or save descriptor (records of key selector, value type and payload,
// a text's bytes after its length). Beside memory safety: every message is
// one line; a refused value changes nothing; canonical forms are fixed
// points; every value a parser accepts formats to text that parses to it
// again; every valid option set written as flags or as descriptor keys
// (in either order) reads back to itself; and options resolved against file
// facts made from the input resolve the same way again, their recorded
// points still valid. A first byte of 0xFF instead hands the rest to the
// module's own entry bytes (what it reads back from revertInfo): bytes it
// takes write back to themselves, and their entries apply as a
// descriptor's would.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "options/cli_flags.h"
#include "options/descriptor_apply.h"
#include "options/entry_bytes.h"
#include "options/resolve_open.h"
#include "options/resolve_save.h"
#include "options/validate.h"

using namespace nebulite::options;

namespace {

[[noreturn]] void fail(const char* rule) {
    std::fprintf(stderr, "\nnebulite options fuzz check failed: %s\n", rule);
    std::fflush(stderr);
    std::abort();
}

#define OPTIONS_CHECK(condition)            \
    do {                                    \
        if (!(condition)) fail(#condition); \
    } while (0)

constexpr std::string_view kOpenFlagNames[] = {"--image", "--plane",  "--planes", "--orientation",
                                               "--stretch", "--interval", "--black", "--white",
                                               "--midtone", "--depth", "--debayer", "--demosaic"};
constexpr std::string_view kSaveFlagNames[] = {"--orientation", "--bitpix", "--compress", "--tile", "--quantize"};

void checkMessage(const Message& m) {
    OPTIONS_CHECK(m.view().find('\n') == std::string_view::npos);
    OPTIONS_CHECK(m.size() <= Message::capacity());
}

// What a parser accepts formats back to itself.
void checkValueRoundTrips(std::string_view value) {
    if (Checked<ImageChoice> image = parseImage(value); image.ok()) {
        Checked<ImageChoice> back = parseImage(formatImage(image.value).view());
        OPTIONS_CHECK(back.ok() && back.value == image.value);
    }
    if (Checked<double> number = parseNumber(value); number.ok()) {
        Checked<double> back = parseNumber(formatNumber(number.value).view());
        OPTIONS_CHECK(back.ok() && std::bit_cast<uint64_t>(back.value) == std::bit_cast<uint64_t>(number.value));
    }
    if (Checked<std::optional<TileSize>> tile = parseTile(value); tile.ok()) {
        Checked<std::optional<TileSize>> back = parseTile(formatTile(tile.value).view());
        OPTIONS_CHECK(back.ok() && back.value == tile.value);
    }
}

void checkOpen(const OpenOptions& o) {
    const OpenOptions c = canonical(o);
    OPTIONS_CHECK(canonical(c) == c);
    Message invalid = validate(o);
    checkMessage(invalid);
    if (!invalid.empty()) return;
    OpenOptions fromFlags;
    const FlagList flags = openFlags(o);
    for (const Flag& f : flags.view()) OPTIONS_CHECK(applyOpenFlag(fromFlags, f.name, f.value.view()).empty());
    OPTIONS_CHECK(canonical(fromFlags) == c);
    DescriptorEntries entries = openEntries(o);
    OpenOptions forward, backward;
    for (const DescriptorEntry& e : entries.view()) OPTIONS_CHECK(applyOpenKey(forward, e.key, e.value).empty());
    for (std::size_t i = entries.count; i-- > 0;)
        OPTIONS_CHECK(applyOpenKey(backward, entries.items[i].key, entries.items[i].value).empty());
    OPTIONS_CHECK(canonical(forward) == c && canonical(backward) == c);
}

void checkSave(const SaveOptions& o) {
    const SaveOptions c = canonical(o);
    OPTIONS_CHECK(canonical(c) == c);
    Message invalid = validate(o);
    checkMessage(invalid);
    if (!invalid.empty()) return;
    SaveOptions fromFlags, fromKeys;
    const FlagList flags = saveFlags(o);
    const DescriptorEntries entries = saveEntries(o);
    for (const Flag& f : flags.view()) OPTIONS_CHECK(applySaveFlag(fromFlags, f.name, f.value.view()).empty());
    for (const DescriptorEntry& e : entries.view()) OPTIONS_CHECK(applySaveKey(fromKeys, e.key, e.value).empty());
    OPTIONS_CHECK(canonical(fromFlags) == c && canonical(fromKeys) == c);
}

// A small deterministic generator over the input's bytes, for the facts.
struct Bytes {
    const uint8_t* data;
    std::size_t size;
    std::size_t at = 0;
    uint8_t next() { return size == 0 ? 0 : data[at++ % size]; }
};

std::vector<HduFacts> factsFrom(Bytes& b) {
    std::vector<HduFacts> hdus(1 + b.next() % 4);
    for (HduFacts& h : hdus) {
        h.kind = static_cast<HduKind>(b.next() % 5);
        constexpr int16_t kBitpix[] = {8, 16, 32, 64, -32, -64};
        h.bitpix = kBitpix[b.next() % 6];
        h.naxis = static_cast<uint16_t>(b.next() % 4);
        h.naxis1 = uint64_t{1} + b.next();
        h.naxis2 = uint64_t{1} + b.next();
        h.naxis3 = h.naxis >= 3 ? uint64_t{b.next()} % 6 : 1;
        h.rowOrder = static_cast<RowOrder>(b.next() % 3);
        h.bayer = static_cast<CfaPattern>(b.next() % 5);
        h.xBayerOffset = static_cast<int8_t>(b.next());
        h.yBayerOffset = static_cast<int8_t>(b.next());
        h.hasExtname = (b.next() & 1) != 0;
        h.extname = ExtName((b.next() & 1) != 0 ? "SCI" : "err ");
        h.extver = static_cast<int8_t>(b.next());
    }
    return hdus;
}

void checkResolution(const OpenOptions& o, Bytes& b) {
    std::vector<HduFacts> hdus = factsFrom(b);
    OpenResolution r = resolve(o, FileFacts{hdus});
    checkMessage(r.message);
    OPTIONS_CHECK(r.ok() == r.message.empty());
    if (!r.ok()) return;
    const ResolvedOpen& first = r.resolved;
    OPTIONS_CHECK(first.hdu < hdus.size());
    for (std::size_t i = 0; i < first.planeCount; ++i)
        OPTIONS_CHECK(first.planes[i] >= 1 && first.planes[i] <= hdus[first.hdu].naxis3);
    OpenResolution again = resolve(first.chosen, FileFacts{hdus});
    OPTIONS_CHECK(again.ok() && again.resolved.chosen == first.chosen && again.resolved.hdu == first.hdu &&
                  again.resolved.planes == first.planes && again.resolved.mosaic == first.mosaic &&
                  again.resolved.flipRows == first.flipRows && again.resolved.depth == first.depth);
    // Points measured from any data keep the options valid, and replay.
    ResolvedOpen measured = first;
    double black = static_cast<int8_t>(b.next()) * 0.5, white = black + (b.next() % 8) * 0.25;
    recordMappingPoints(measured, black, white, (b.next() % 11) / 10.0);
    OPTIONS_CHECK(validate(measured.chosen).empty());
    checkOpen(measured.chosen);

    SaveFacts document;
    document.rows = b.next() % 64;
    document.columns = b.next() % 64;
    document.depth = (b.next() & 1) != 0 ? 32 : 16;
    SaveOptions save;
    save.compression = static_cast<Compression>(b.next() % 5);
    if ((b.next() & 1) != 0) save.tile = TileSize{1u + b.next() % 40, 1u + b.next() % 40};
    save.quantize = b.next() % 3;
    SaveResolution s = resolve(save, document);
    checkMessage(s.message);
    if (s.ok() && s.resolved.compression == Compression::hcompress)
        OPTIONS_CHECK(s.resolved.tileRows >= 4 && s.resolved.tileColumns >= 4);
    if (s.ok()) {
        SaveResolution replay = resolve(s.resolved.chosen, document);
        OPTIONS_CHECK(replay.ok() && replay.resolved.tileRows == s.resolved.tileRows &&
                      replay.resolved.tileColumns == s.resolved.tileColumns);
    }
}

template <typename Options, typename Apply, typename Check>
void runFlags(std::string_view text, std::span<const std::string_view> names, Apply apply, Check check,
              Options& options) {
    std::vector<std::string_view> tokens;
    std::size_t start = 0;
    while (start <= text.size() && tokens.size() < 64) {
        std::size_t end = text.find('\0', start);
        if (end == std::string_view::npos) end = text.size();
        tokens.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    for (std::size_t i = 0; i + 1 < tokens.size(); i += 2) {
        std::string_view name = tokens[i];
        if (name.empty() || name[0] != '-') name = names[name.empty() ? 0 : static_cast<uint8_t>(name[0]) % names.size()];
        checkValueRoundTrips(tokens[i + 1]);
        Options before = options;
        Message m = apply(options, name, tokens[i + 1]);
        checkMessage(m);
        if (!m.empty()) OPTIONS_CHECK(options == before);
        check(options);
    }
}

DescriptorValue valueFrom(Bytes& b, const KeyEntry* k, std::vector<char>& text) {
    auto type = static_cast<ValueType>(b.next() % 5);
    uint8_t raw[8];
    for (uint8_t& r : raw) r = b.next();
    switch (type) {
        case ValueType::integer: {
            int32_t v;
            std::memcpy(&v, raw, 4);
            return DescriptorValue::ofInteger((raw[4] & 1) != 0 ? v : v % 8);
        }
        case ValueType::floating: {
            double v;
            std::memcpy(&v, raw, 8);
            return DescriptorValue::ofNumber((raw[7] & 0x40) != 0 ? v : (raw[0] - 128) * 0.75);
        }
        case ValueType::boolean: return DescriptorValue::ofBoolean((raw[0] & 1) != 0);
        case ValueType::text: {
            text.clear();
            for (std::size_t i = 0, n = raw[0] % 80; i < n; ++i) text.push_back(static_cast<char>(b.next()));
            return DescriptorValue::ofText(std::string_view(text.data(), text.size()));
        }
        case ValueType::enumerated: break;
    }
    FourCharCode word = 0;
    std::memcpy(&word, raw, 4);
    FourCharCode enumType = k != nullptr && (raw[0] & 0x80) == 0 ? k->enumType : word;
    FourCharCode value = word ^ raw[5];
    for (const EnumerationEntry& e : kEnumerations)
        if (e.type == enumType && (raw[6] & 0x80) == 0) value = e.values[raw[6] % e.values.size()].code;
    return DescriptorValue::ofEnumerated(enumType, value);
}

template <typename Options, typename Apply, typename Check>
void runKeys(Bytes& b, Apply apply, Check check, Options& options) {
    std::vector<char> text;
    for (int record = 0; record < 48 && b.at < b.size; ++record) {
        uint8_t selector = b.next();
        FourCharCode key = kDescriptorKeys[selector % kDescriptorKeys.size()].key;
        if (selector >= 0xF0) key = static_cast<FourCharCode>(b.next()) << 24 | static_cast<FourCharCode>(b.next()) << 16 |
                                    static_cast<FourCharCode>(b.next()) << 8 | b.next();
        DescriptorValue value = valueFrom(b, keyEntry(key), text);
        Options before = options;
        Message m = apply(options, key, value);
        checkMessage(m);
        if (!m.empty()) OPTIONS_CHECK(options == before);
        check(options);
    }
}

void runEntryBytes(std::span<const uint8_t> bytes, OpenOptions& open) {
    const std::optional<DescriptorEntries> entries = decodeEntries(bytes);
    if (!entries) return;
    uint8_t again[kEntryBytesMax];
    const std::optional<std::size_t> size = encodeEntries(entries->view(), again);
    OPTIONS_CHECK(size.has_value());
    OPTIONS_CHECK(*size == bytes.size() && std::equal(bytes.begin(), bytes.end(), again));
    for (const DescriptorEntry& e : entries->view()) {
        OpenOptions before = open;
        Message m = applyOpenKey(open, e.key, e.value);
        checkMessage(m);
        if (!m.empty()) OPTIONS_CHECK(open == before);
        checkOpen(open);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    const uint8_t mode = data[0] % 4;
    Bytes rest{data + 1, size - 1};
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    OpenOptions open;
    SaveOptions save;
    if (data[0] == 0xFF) {
        runEntryBytes({data + 1, size - 1}, open);
        Bytes facts{data, size};
        checkResolution(open, facts);
        return 0;
    }
    switch (mode) {
        case 0: runFlags(text, kOpenFlagNames, applyOpenFlag, checkOpen, open); break;
        case 1: runFlags(text, kSaveFlagNames, applySaveFlag, checkSave, save); break;
        case 2: runKeys(rest, applyOpenKey, checkOpen, open); break;
        default: runKeys(rest, applySaveKey, checkSave, save); break;
    }
    Bytes facts{data, size};
    checkResolution(open, facts);
    return 0;
}
