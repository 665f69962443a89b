#include "cli/script_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "cli/support.h"
#include "host/option_descriptors.h"
#include "options/cli_flags.h"
#include "options/descriptor_apply.h"
#include "options/option_words.h"
#include "options/resolve_save.h"

namespace nebulite::cli {

namespace {

bool listed(const std::vector<std::string_view>& names, std::string_view name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace

const std::vector<std::string_view>& openOptionFlags() {
    static const std::vector<std::string_view> flags = {
        "--image", "--plane", "--planes", "--orientation", "--interval", "--black",
        "--white", "--midtone", "--depth", "--debayer", "--demosaic",
    };
    return flags;
}

const std::vector<std::string_view>& stretchWords() {
    static const std::vector<std::string_view> words = [] {
        std::vector<std::string_view> w;
        for (const auto& word : options::kStretchWords) w.push_back(word.word);
        return w;
    }();
    return words;
}

const std::vector<std::string_view>& saveOptionFlags() {
    static const std::vector<std::string_view> flags = {"--orientation", "--bitpix", "--compress", "--tile",
                                                        "--quantize"};
    return flags;
}

options::OpenOptions openOptionsFrom(const std::vector<std::pair<std::string, std::string>>& flags,
                                     std::string_view command) {
    options::OpenOptions o;
    for (const auto& [name, value] : flags) {
        if (!listed(openOptionFlags(), name) && name != "--stretch") continue;
        options::Message m = options::applyOpenFlag(o, name, value);
        if (!m.empty()) usageError(std::string(m.view()), command);
    }
    return o;
}

options::SaveOptions saveOptionsFrom(const std::vector<std::pair<std::string, std::string>>& flags,
                                     std::string_view command) {
    options::SaveOptions o;
    for (const auto& [name, value] : flags) {
        if (!listed(saveOptionFlags(), name)) continue;
        options::Message m = options::applySaveFlag(o, name, value);
        if (!m.empty()) usageError(std::string(m.view()), command);
    }
    return o;
}

namespace {

// BITPIX in the document's whole-header record ('NbHd': "NbHd", version 1,
// the card count, then the cards), the header a save of a 32-bit document
// keeps its BITPIX from.
std::optional<int16_t> keptBitpix(const host::Document& document) {
    const auto it = document.resources.find(host::kWholeHeaderResource);
    if (it == document.resources.end() || it->second.empty()) return std::nullopt;
    const host::ResourceRecord& r = it->second.front();
    constexpr size_t kPreamble = 10, kCard = 80;
    if (r.size() < kPreamble || std::memcmp(r.data(), "NbHd\0\1", 6) != 0) return std::nullopt;
    for (size_t at = kPreamble; at + kCard <= r.size(); at += kCard) {
        const auto* card = reinterpret_cast<const char*>(r.data() + at);
        if (std::memcmp(card, "END     ", 8) == 0) break;
        if (std::memcmp(card, "BITPIX  = ", 10) != 0) continue;
        const char* p = card + 10;
        const char* end = card + kCard;
        while (p < end && *p == ' ') ++p;
        int16_t bitpix = 0;
        if (std::from_chars(p, end, bitpix).ec != std::errc()) return std::nullopt;
        return bitpix;
    }
    return std::nullopt;
}

}  // namespace

bool savesFloatingPoint(const host::Document& document, const options::SaveOptions& asked) {
    const host::Image& image = document.image;
    options::SaveFacts facts;
    facts.columns = static_cast<uint32_t>(std::max(image.columns, 0));
    facts.rows = static_cast<uint32_t>(std::max(image.rows, 0));
    facts.depth = static_cast<uint8_t>(image.depth);
    facts.planes = static_cast<uint8_t>(image.planes >= 3 ? 3 : 1);
    facts.keptBitpix = keptBitpix(document);
    facts.keptHeader = facts.keptBitpix.has_value();
    options::SaveOptions plain = asked;
    plain.compression = options::Compression::none;
    const options::SaveResolution r = options::resolve(plain, facts);
    return r.ok() && r.resolved.bitpix < 0;
}

std::optional<options::Compression> compressionForName(const std::string& path, bool floatingPoint) {
    if (path.size() < 3) return std::nullopt;
    std::string tail = path.substr(path.size() - 3);
    std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
    if (tail != ".fz") return std::nullopt;
    return floatingPoint ? options::Compression::gzip2 : options::Compression::rice;
}

}  // namespace nebulite::cli
