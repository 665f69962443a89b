#include "host/pipl.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace nebulite::host {

namespace {

constexpr uint32_t kVendor = makeCode("8BIM");

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
int16_t le16(const uint8_t* p) { return static_cast<int16_t>(p[0] | p[1] << 8); }

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Extensions come as four-character codes, blank-padded, each read as the
// editor reads every code of a PiPL: a little-endian 32-bit integer whose
// high byte is the first character.
std::vector<std::string> extensions(const std::vector<uint8_t>& data, std::vector<std::string>& problems,
                                    std::string_view key) {
    if (data.size() % 4 != 0) problems.push_back(std::string(key) + ": not groups of four characters");
    std::vector<std::string> out;
    for (size_t at = 0; at + 4 <= data.size(); at += 4) {
        std::string ext = fourCharCode(le32(data.data() + at));
        ext.erase(0, std::min(ext.find_first_not_of(' '), ext.size()));
        while (!ext.empty() && ext.back() == ' ') ext.pop_back();
        out.push_back(ext);
    }
    return out;
}

std::vector<std::string> setFlags(std::span<const uint8_t> bytes, std::span<const std::string_view> names) {
    std::vector<std::string> out;
    for (size_t i = 0; i < names.size() && i / 8 < bytes.size(); ++i)
        if (bytes[i / 8] & (0x80 >> (i % 8))) out.emplace_back(names[i]);
    return out;
}

// "FI*" matches every extension that starts with FI.
bool extensionMatches(std::string_view pattern, std::string_view extension) {
    std::string p = upper(pattern);
    std::string e = upper(extension);
    if (!p.empty() && p.back() == '*') return e.compare(0, p.size() - 1, p, 0, p.size() - 1) == 0;
    return p == e;
}

// Appends rather than operator+ chains, which GCC 12 misreads as
// overlapping copies (-Wrestrict) at -O3.
std::string cat(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) out += part;
    return out;
}

std::string join(const std::vector<std::string>& parts, std::string_view separator) {
    std::string out;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) out += separator;
        out += parts[i];
    }
    return out;
}

}  // namespace

std::string fourCharCode(uint32_t code) {
    std::string out(4, ' ');
    for (int i = 0; i < 4; ++i) out[static_cast<size_t>(i)] = static_cast<char>(code >> (24 - 8 * i));
    return out;
}

const PiplProperty* PropertyList::find(uint32_t key, uint32_t vendor) const {
    for (const PiplProperty& p : properties)
        if (p.key == key && p.vendor == vendor) return &p;
    return nullptr;
}

std::optional<PropertyList> parsePropertyList(std::span<const uint8_t> bytes, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<PropertyList> {
        if (error != nullptr) *error = std::move(why);
        return std::nullopt;
    };
    // A Windows PiPL resource: a reserved 16-bit word 1, the list version 0,
    // the property count, all little-endian.
    constexpr size_t kHeaderBytes = 10;
    if (bytes.size() < kHeaderBytes) return fail("shorter than the property list header");
    PropertyList list;
    list.reserved = le16(bytes.data());
    list.version = static_cast<int32_t>(le32(bytes.data() + 2));
    auto count = static_cast<int32_t>(le32(bytes.data() + 6));
    if (list.reserved != 1) return fail("reserved word " + std::to_string(list.reserved) + ", not 1");
    if (list.version != kPropertyListVersion)
        return fail("property list version " + std::to_string(list.version) + ", not 0");
    if (count < 0) return fail("negative property count");
    size_t at = kHeaderBytes;
    for (int32_t i = 0; i < count; ++i) {
        if (bytes.size() - at < 16) return fail("property " + std::to_string(i) + " runs past the end");
        PiplProperty p;
        p.vendor = le32(bytes.data() + at);
        p.key = le32(bytes.data() + at + 4);
        p.id = static_cast<int32_t>(le32(bytes.data() + at + 8));
        auto length = static_cast<int32_t>(le32(bytes.data() + at + 12));
        at += 16;
        if (length < 0) return fail(fourCharCode(p.key) + ": negative length");
        size_t padded = (static_cast<size_t>(length) + 3) & ~size_t{3};
        if (bytes.size() - at < padded) return fail(fourCharCode(p.key) + ": data runs past the end");
        p.data.assign(bytes.begin() + static_cast<ptrdiff_t>(at),
                      bytes.begin() + static_cast<ptrdiff_t>(at) + length);
        for (size_t k = at + static_cast<size_t>(length); k < at + padded; ++k)
            if (bytes[k] != 0) return fail(fourCharCode(p.key) + ": padding is not zero");
        at += padded;
        list.properties.push_back(std::move(p));
    }
    if (at != bytes.size())
        return fail(std::to_string(bytes.size() - at) + " bytes after the last property");
    return list;
}

PluginInfo decodePluginInfo(const PropertyList& list) {
    PluginInfo info;
    auto& problems = info.problems;
    auto need = [&](const PiplProperty& p, size_t size) {
        if (p.data.size() >= size) return true;
        problems.push_back(fourCharCode(p.key) + ": " + std::to_string(p.data.size()) +
                           " bytes, at least " + std::to_string(size) + " expected");
        return false;
    };
    auto cString = [](const std::vector<uint8_t>& data, size_t from) {
        size_t end = from;
        while (end < data.size() && data[end] != 0) ++end;
        return std::string(data.begin() + static_cast<ptrdiff_t>(from),
                           data.begin() + static_cast<ptrdiff_t>(end));
    };
    for (const PiplProperty& p : list.properties) {
        if (p.vendor != kVendor) continue;
        const std::vector<uint8_t>& d = p.data;
        switch (p.key) {
            case makeCode("kind"):
                if (need(p, 4)) info.kind = le32(d.data());
                break;
            case makeCode("name"):
                if (need(p, 1) && need(p, size_t{1} + d[0]))
                    info.name = std::string(d.begin() + 1, d.begin() + 1 + d[0]);
                break;
            case makeCode("vers"):
                if (need(p, 4)) info.version = le32(d.data());
                break;
            case makeCode("wx86"):
            case makeCode("8664"):
                info.codeProperties.emplace_back(p.key, cString(d, 0));
                if (p.key == kOwnCodeProperty) info.entryPoint = info.codeProperties.back().second;
                break;
            case makeCode("hstm"):
                if (need(p, 14)) {
                    Terminology t;
                    t.version = static_cast<int32_t>(le32(d.data()));
                    t.classId = le32(d.data() + 4);
                    t.eventId = le32(d.data() + 8);
                    t.resourceId = le16(d.data() + 12);
                    t.scope = cString(d, 14);
                    info.terminology = t;
                }
                break;
            case makeCode("mode"):
                info.modes = setFlags(d, kPiplModeNames);
                break;
            case makeCode("enbl"):
                info.enableCondition = cString(d, 0);
                break;
            case makeCode("fmTC"):
                if (need(p, 8)) info.fileTypeCreator = {le32(d.data()), le32(d.data() + 4)};
                break;
            case makeCode("fftT"): {
                std::vector<std::pair<uint32_t, uint32_t>> types;
                for (size_t at = 0; at + 8 <= d.size(); at += 8)
                    types.emplace_back(le32(d.data() + at), le32(d.data() + at + 4));
                info.fileTypes = types;
                break;
            }
            case makeCode("RdEx"):
                info.readExtensions = extensions(d, problems, "RdEx");
                break;
            case makeCode("WrEx"):
                info.writeExtensions = extensions(d, problems, "WrEx");
                break;
            case makeCode("fftE"):
                info.filteredExtensions = extensions(d, problems, "fftE");
                break;
            case makeCode("fmtf"):
                if (need(p, 1)) {
                    info.formatFlagBits = d[0];
                    info.formatFlags = setFlags(d, kFormatFlagNames);
                }
                break;
            case makeCode("mxsz"):
                if (need(p, 4)) info.maxSize = {le16(d.data()), le16(d.data() + 2)};
                break;
            case makeCode("ms32"):
                if (need(p, 8))
                    info.maxSize32 = {static_cast<int32_t>(le32(d.data())), static_cast<int32_t>(le32(d.data() + 4))};
                break;
            case makeCode("fslm"):
                if (need(p, 4)) info.fileSizeLimitGB = static_cast<int32_t>(le32(d.data()));
                break;
            case makeCode("mxch"): {
                std::vector<int16_t> channels;
                for (size_t at = 0; at + 2 <= d.size(); at += 2) channels.push_back(le16(d.data() + at));
                info.maxChannels = channels;
                break;
            }
            default:
                break;
        }
    }
    return info;
}

bool PluginInfo::claimsExtension(std::string_view extension) const {
    if (kind != makeCode("8BIF")) return false;
    auto matches = [&](const std::optional<std::vector<std::string>>& list) {
        return list && std::any_of(list->begin(), list->end(),
                                   [&](const std::string& e) { return extensionMatches(e, extension); });
    };
    return matches(readExtensions) || matches(filteredExtensions);
}

std::string describePluginInfo(const PluginInfo& info) {
    std::string out;
    auto line = [&out](std::string_view label, const std::string& value) {
        out += "  ";
        out += label;
        out += ':';
        out.append(label.size() < 14 ? 14 - label.size() : 1, ' ');
        out += value;
        out += '\n';
    };
    if (info.kind)
        line("kind", cat({fourCharCode(*info.kind),
                          *info.kind == makeCode("8BIF") ? " (format module)" : ""}));
    if (info.name) line("name", *info.name);
    if (info.version)
        line("version", cat({std::to_string(*info.version >> 16), ".",
                             std::to_string(*info.version & 0xFFFF)}));
    for (const auto& [key, name] : info.codeProperties)
        line("entry point", cat({name, " ('", fourCharCode(key), "', ",
                                 key == makeCode("8664") ? "64-bit" : "32-bit", " Windows code)"}));
    if (info.terminology) {
        const Terminology& t = *info.terminology;
        line("terminology", cat({"class '", fourCharCode(t.classId), "', event '",
                                 fourCharCode(t.eventId), "', resource ",
                                 std::to_string(t.resourceId), ", scope \"", t.scope, "\""}));
    }
    if (info.modes) line("modes", join(*info.modes, ", "));
    if (info.enableCondition) line("enabled when", *info.enableCondition);
    if (info.fileTypeCreator)
        line("file type", cat({"'", fourCharCode(info.fileTypeCreator->first), "', creator '",
                               fourCharCode(info.fileTypeCreator->second), "'"}));
    if (info.fileTypes) {
        std::vector<std::string> types;
        for (auto [type, creator] : *info.fileTypes)
            types.push_back(cat({"'", fourCharCode(type), "' (creator '", fourCharCode(creator), "')"}));
        line("file types", join(types, ", "));
    }
    if (info.readExtensions) line("reads", join(*info.readExtensions, " "));
    if (info.writeExtensions) line("writes", join(*info.writeExtensions, " "));
    if (info.filteredExtensions) line("filters", join(*info.filteredExtensions, " "));
    if (info.formatFlagBits) {
        char bits[8];
        std::snprintf(bits, sizeof bits, "0x%02X", *info.formatFlagBits);
        std::string flags = info.formatFlags->empty() ? "none" : join(*info.formatFlags, ", ");
        line("format flags", cat({bits, " (", flags, ")"}));
    }
    if (info.maxSize)
        line("largest image", cat({std::to_string(info.maxSize->first), " rows x ",
                                   std::to_string(info.maxSize->second), " columns"}));
    if (info.maxSize32)
        line("with 32-bit", cat({std::to_string(info.maxSize32->first), " rows x ",
                                 std::to_string(info.maxSize32->second), " columns ('ms32')"}));
    if (info.fileSizeLimitGB) line("largest file", cat({std::to_string(*info.fileSizeLimitGB), " GB ('fslm')"}));
    if (info.maxChannels) {
        std::vector<std::string> limits;
        for (size_t i = 0; i < info.maxChannels->size(); ++i) {
            std::string mode = i < std::size(kPiplModeNames) ? std::string(kPiplModeNames[i])
                                                              : cat({"mode ", std::to_string(i)});
            limits.push_back(cat({mode, " ", std::to_string((*info.maxChannels)[i])}));
        }
        line("channels", join(limits, ", "));
    }
    for (const std::string& problem : info.problems) line("problem", problem);
    return out;
}

// ---- ELF ------------------------------------------------------------------------

std::optional<std::vector<uint8_t>> readElfSection(const std::string& path, std::string_view name,
                                                   std::string* error) {
    auto fail = [&](std::string why) -> std::optional<std::vector<uint8_t>> {
        if (error != nullptr) *error = path + ": " + std::move(why);
        return std::nullopt;
    };
    std::ifstream in(path, std::ios::binary);
    if (!in) return fail("cannot open");
    in.seekg(0, std::ios::end);
    auto fileSize = static_cast<uint64_t>(in.tellg());
    // Reads `size` bytes at `offset`, inside the file or not at all.
    auto readAt = [&](uint64_t offset, uint64_t size, std::vector<uint8_t>& out) {
        if (offset > fileSize || size > fileSize - offset) return false;
        out.resize(static_cast<size_t>(size));
        in.clear();
        in.seekg(static_cast<std::streamoff>(offset));
        in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(size));
        return static_cast<uint64_t>(in.gcount()) == size;
    };
    std::vector<uint8_t> header;
    if (!readAt(0, 64, header) || std::memcmp(header.data(), "\x7F" "ELF", 4) != 0)
        return fail("not an ELF file");
    bool is64 = header[4] == 2;
    bool little = header[5] == 1;
    if ((header[4] != 1 && !is64) || (header[5] != 2 && !little)) return fail("unknown ELF class or byte order");
    auto get = [little](const uint8_t* p, int bytes) {
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) {
            uint64_t b = p[little ? i : bytes - 1 - i];
            v |= b << (8 * i);
        }
        return v;
    };
    int word = is64 ? 8 : 4;
    uint64_t shoff = get(header.data() + (is64 ? 0x28 : 0x20), word);
    uint64_t shentsize = get(header.data() + (is64 ? 0x3A : 0x2E), 2);
    uint64_t shnum = get(header.data() + (is64 ? 0x3C : 0x30), 2);
    uint64_t shstrndx = get(header.data() + (is64 ? 0x3E : 0x32), 2);
    if (shnum == 0) return fail("no section headers");
    if (shentsize < static_cast<uint64_t>(is64 ? 64 : 40) || shstrndx >= shnum)
        return fail("malformed section headers");
    std::vector<uint8_t> table;
    if (!readAt(shoff, shentsize * shnum, table)) return fail("section headers run past the end");
    struct Section {
        uint64_t name, type, offset, size;
    };
    auto section = [&](uint64_t i) {
        const uint8_t* s = table.data() + i * shentsize;
        return Section{get(s, 4), get(s + 4, 4), get(s + (is64 ? 0x18 : 0x10), word),
                       get(s + (is64 ? 0x20 : 0x14), word)};
    };
    Section strings = section(shstrndx);
    std::vector<uint8_t> names;
    if (!readAt(strings.offset, strings.size, names)) return fail("section names run past the end");
    for (uint64_t i = 0; i < shnum; ++i) {
        Section s = section(i);
        if (s.name >= names.size()) continue;
        const char* text = reinterpret_cast<const char*>(names.data() + s.name);
        size_t room = names.size() - static_cast<size_t>(s.name);
        if (std::string_view(text, strnlen(text, room)) != name) continue;
        constexpr uint64_t kProgbits = 1;
        if (s.type != kProgbits) return fail(std::string(name) + " holds no file bytes");
        std::vector<uint8_t> out;
        if (!readAt(s.offset, s.size, out)) return fail(std::string(name) + " runs past the end");
        return out;
    }
    if (error != nullptr) error->clear();
    return std::nullopt;
}

// ---- Module files -------------------------------------------------------------------

std::optional<std::vector<uint8_t>> readModulePipl(const std::string& path, std::string* error) {
#if defined(_WIN32)
    // Mapped as data only: DllMain does not run and no import is resolved.
    HMODULE library = LoadLibraryExA(path.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    if (library == nullptr) {
        if (error != nullptr) *error = path + ": cannot map (error " + std::to_string(GetLastError()) + ")";
        return std::nullopt;
    }
    std::optional<std::vector<uint8_t>> out;
    HRSRC found = FindResourceExA(library, "PIPL", MAKEINTRESOURCEA(16000),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_AUS));
    if (found == nullptr) found = FindResourceA(library, MAKEINTRESOURCEA(16000), "PIPL");
    if (found != nullptr) {
        HGLOBAL loaded = LoadResource(library, found);
        const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
        DWORD size = SizeofResource(library, found);
        if (data != nullptr) {
            const auto* bytes = static_cast<const uint8_t*>(data);
            out.emplace(bytes, bytes + size);
        }
    }
    FreeLibrary(library);
    if (!out && error != nullptr) error->clear();
    return out;
#else
    return readElfSection(path, ".pipl", error);
#endif
}

std::vector<ModuleListing> findModules(const std::string& dir) {
#if defined(_WIN32)
    constexpr std::string_view kModuleExtension = ".8BI";
#else
    constexpr std::string_view kModuleExtension = ".SO";
#endif
    std::vector<std::string> candidates;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::filesystem::path p = it->path();
        if (upper(p.extension().string()) == kModuleExtension) candidates.push_back(p.string());
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<ModuleListing> out;
    for (const std::string& path : candidates) {
        std::string error;
        auto bytes = readModulePipl(path, &error);
        if (!bytes) continue;
        ModuleListing listing{path, {}};
        if (auto list = parsePropertyList(*bytes, &error)) {
            listing.info = decodePluginInfo(*list);
        } else {
            listing.info.problems.push_back("property list: " + error);
        }
        out.push_back(std::move(listing));
    }
    return out;
}

std::optional<ModuleListing> findFitsModule(const std::string& dir) {
    for (ModuleListing& listing : findModules(dir))
        if (listing.info.claimsExtension("FITS") && listing.info.entryPoint) return std::move(listing);
    return std::nullopt;
}

}  // namespace nebulite::host
