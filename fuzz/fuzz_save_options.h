// fuzz_save's saves with options: the document saved again as the options
// ask and as they ask without compression, and the two held against each
// other (see fuzz_save.cpp). Included by fuzz_save.cpp alone.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "host/option_descriptors.h"

namespace fuzzing::save {

inline std::string pad80(std::string text) {
    text.resize(80, ' ');
    return text;
}

inline std::string cardAt(const std::vector<uint8_t>& file, size_t index) {
    return std::string(file.begin() + static_cast<std::ptrdiff_t>(80 * index),
                       file.begin() + static_cast<std::ptrdiff_t>(80 * index + 80));
}

inline int64_t intOf(const std::string& card) {
    std::string v = card.substr(10, 20);
    return std::strtoll(v.c_str(), nullptr, 10);
}

// For looking at a failure: NEBULITE_FUZZ_DUMP=path keeps the file written
// there, and the saves with options at path.plain and path.packed.
inline void dumpFile(const File& file, const char* suffix) {
    const char* dump = std::getenv("NEBULITE_FUZZ_DUMP");
    if (dump == nullptr) return;
    if (std::FILE* out = std::fopen((std::string(dump) + suffix).c_str(), "wb")) {
        std::fwrite(file.contents().data(), 1, file.contents().size(), out);
        std::fclose(out);
    }
}

// ---- Saves with options ------------------------------------------------------------------------

using nebulite::options::Compression;
using nebulite::options::SaveOptions;
using Resources = decltype(Document::resources);

inline SaveOptions saveOptionsFrom(const uint8_t* b) {
    SaveOptions o;
    o.compression = static_cast<Compression>(b[0] % 5);
    if (b[0] & 0x08) o.orientation = nebulite::options::Orientation::sky;
    if (b[0] & 0x10) o.floatBitpix = nebulite::options::FloatBitpix::minus32;
    if (b[0] & 0x20) o.tile = nebulite::options::TileSize{1u + b[1] % 48u, 1u + b[2] % 48u};
    o.quantize = (b[0] & 0x40) ? 0.0 : b[3] / 8.0;
    return o;
}

inline std::string keywordOf(const std::string& card) { return card.substr(0, 8); }

// The primary header starts with "SIMPLE  =", then BITPIX, NAXIS and
// NAXISn, once each and in that order (no XTENSION, PCOUNT or GCOUNT after them), and
// they say what the image is.
inline bool sizeCardsDescribe(const std::vector<uint8_t>& file, const Image& image, int planes) {
    int64_t bitpix = 0, naxis = -1, axes[3] = {0, 0, 0};
    if (file.size() < 80 || cardAt(file, 0).rfind("SIMPLE  =", 0) != 0) return false;
    for (size_t i = 0; 80 * i + 80 <= file.size(); ++i) {
        const std::string card = cardAt(file, i);
        const std::string key = keywordOf(card);
        if (key == "END     ") break;
        int64_t place = -1;
        if (key == "SIMPLE  ") place = 0;
        if (key == "BITPIX  ") place = 1;
        if (key == "NAXIS   ") place = 2;
        if (key.rfind("NAXIS", 0) == 0 && key[5] >= '1' && key[5] <= '9') {
            const size_t digits = key.find_last_not_of(' ') + 1;
            const std::string n = key.substr(5, digits - 5);
            if (n.size() <= 3 && n.find_first_not_of("0123456789") == std::string::npos) place = 2 + std::stoi(n);
        }
        if (key == "XTENSION" || key == "PCOUNT  " || key == "GCOUNT  ") place = INT64_MAX;
        if (place >= 0 && static_cast<size_t>(place) != i) return false;
        if (card.substr(8, 2) != "= ") continue;
        if (key == "BITPIX  ") bitpix = intOf(card);
        if (key == "NAXIS   ") naxis = intOf(card);
        for (int a = 0; a < 3; ++a)
            if (key == "NAXIS" + std::to_string(a + 1) + "  ") axes[a] = intOf(card);
    }
    return bitpix != 0 && axes[0] == image.columns && axes[1] == image.rows &&
           (planes == 1 ? naxis == 2 || (naxis == 3 && axes[2] == 1) : naxis == 3 && axes[2] == planes);
}

// Keywords of a binary table and of the tiled-image convention: in a
// table header they would describe the table or its compression, so no
// compressed file carries them for the image, and readers drop them on
// the way back (an EXTNAME of COMPRESSED_IMAGE too, the name a compressor
// gives a table whose image had none).
inline bool tableKeyword(const std::string& card) {
    static const char* const kNames[] = {"TFIELDS", "THEAP", "ZIMAGE", "ZCMPTYPE", "ZBITPIX", "ZNAXIS", "ZQUANTIZ",
                                         "ZDITHER0", "ZBLANK", "ZSCALE", "ZZERO", "ZMASKCMP", "ZSIMPLE", "ZTENSION",
                                         "ZEXTEND", "ZBLOCKED", "ZPCOUNT", "ZGCOUNT", "ZHECKSUM", "ZDATASUM", "ZTABLE"};
    static const char* const kStems[] = {"TTYPE", "TFORM", "TUNIT", "TSCAL", "TZERO", "TNULL", "TDISP", "TDIM",
                                         "TDMIN", "TDMAX", "TLMIN", "TLMAX", "ZTILE", "ZNAME", "ZVAL", "ZNAXIS"};
    const std::string key = card.substr(0, 8);
    for (const char* name : kNames)
        if (key == (std::string(name) + "        ").substr(0, 8)) return true;
    for (const char* stem : kStems) {
        const size_t n = std::strlen(stem);
        if (key.compare(0, n, stem) != 0 || key[n] < '1' || key[n] > '9') continue;
        const size_t end = key.find_first_not_of("0123456789", n);
        if (end == std::string::npos || key.find_first_not_of(' ', end) == std::string::npos) return true;
    }
    return key == "EXTNAME " && card.find("'COMPRESSED_IMAGE'") != std::string::npos;
}

// The header a document keeps (its whole-header record and its 'hist'
// records) without the table's keywords, and without the blank cards that
// fill the 'hist' records' last block.
inline Resources withoutTableKeywords(Resources resources) {
    if (auto it = resources.find(kWholeHeaderResource); it != resources.end())
        for (ResourceRecord& r : it->second) {
            if (r.size() < 10) continue;
            ResourceRecord kept(r.begin(), r.begin() + 10);
            uint32_t count = 0;
            for (size_t at = 10; at + 80 <= r.size(); at += 80)
                if (!tableKeyword(std::string(r.begin() + at, r.begin() + at + 80))) {
                    kept.insert(kept.end(), r.begin() + at, r.begin() + at + 80);
                    ++count;
                }
            for (int b = 0; b < 4; ++b) kept[6 + b] = static_cast<uint8_t>(count >> (24 - 8 * b));
            r = kept;
        }
    if (auto it = resources.find(kHistoryResource); it != resources.end()) {
        std::vector<ResourceRecord>& records = it->second;
        records.erase(std::remove_if(records.begin(), records.end(),
                                     [](const ResourceRecord& r) {
                                         // A record holds its card's first column as its length.
                                         std::string card(1, static_cast<char>(r.size()));
                                         card.append(r.begin(), r.end());
                                         return tableKeyword(pad80(card));
                                     }),
                      records.end());
        while (!records.empty() && records.back() == ResourceRecord(32, ' ')) records.pop_back();
    }
    return resources;
}

inline bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

inline void checkOptionSaves(Host& host, const Document& kept, const SaveOptions& asked, int planesWritten) {
    SaveOptions plainOptions = asked;
    plainOptions.compression = Compression::none;
    host.setup().saveScript.present = true;
    host.setup().saveScript.descriptor = nebulite::host::saveDescriptorOf(plainOptions);
    Document forPlain = kept;
    File plain = File::memory();
    const Outcome a = host.save(forPlain, plain);
    host.setup().saveScript.descriptor = nebulite::host::saveDescriptorOf(asked);
    Document forPacked = kept;
    File packed = File::memory();
    const Outcome b = host.save(forPacked, packed);
    host.setup().saveScript = HostSetup{}.saveScript;
    dumpFile(plain, ".plain");
    dumpFile(packed, ".packed");
    checkClean(a, "save with options, uncompressed");
    checkClean(b, "save with options, compressed");
    FUZZ_CHECK(forPacked == kept, "the compressed save changed the document");
    FUZZ_CHECK(a.ok(), "save with options, uncompressed: " + describe(a));
    if (asked.compression == Compression::none) return;
    if (!b.ok()) {
        FUZZ_CHECK(b.result == errReportString, "compressed save: " + describe(b));
        const std::string& why = b.reported;
        const bool fromOptions = contains(why, "HCOMPRESS needs") || contains(why, "compressed exactly by GZIP") ||
                                 contains(why, "HCOMPRESS tiles of") || contains(why, "leave a last tile");
        const bool fromHeader = contains(why, "do not describe the image");
        FUZZ_CHECK(fromOptions || fromHeader, "compressed save refused: " + why);
        if (fromHeader && !known("keyword-prefix"))
            FUZZ_CHECK(!sizeCardsDescribe(plain.contents(), kept.image, planesWritten),
                       "compressed save refused a header that describes the image: " + why);
        FUZZ_CHECK(packed.contents().empty(), "a refused save wrote something");
        return;
    }
    const std::vector<uint8_t>& bytes = packed.contents();
    FUZZ_CHECK(bytes.size() % 2880 == 0 && bytes.size() >= 3 * 2880, "compressed file of " + std::to_string(bytes.size()));
    FUZZ_CHECK(cardAt(bytes, 0).rfind("SIMPLE  =", 0) == 0, "the compressed file does not start as FITS");
    FUZZ_CHECK(cardAt(bytes, 36).rfind("XTENSION= 'BINTABLE'", 0) == 0, "no table after the primary");

    File plainAgain = File::memory(plain.contents());
    const Outcome ra = host.read(plainAgain);
    checkClean(ra, "reopening the uncompressed save");
    const Document fromPlain = ra.ok() ? host.takeDocument() : Document{};
    File packedAgain = File::memory(bytes);
    const Outcome rb = host.read(packedAgain);
    checkClean(rb, "reopening the compressed save");
    FUZZ_CHECK(ra.result == rb.result, "reopened: uncompressed " + describe(ra) + ", compressed " + describe(rb));
    if (!rb.ok()) return;
    const Document fromPacked = host.takeDocument();
    const Image& x = fromPlain.image;
    const Image& y = fromPacked.image;
    FUZZ_CHECK(x.rows == y.rows && x.columns == y.columns && x.planes == y.planes && x.depth == y.depth &&
                   x.mode == y.mode,
               "the compressed save reopens to another geometry");
    FUZZ_CHECK(withoutTableKeywords(fromPlain.resources) == withoutTableKeywords(fromPacked.resources),
               "the compressed save reopens with another header");
    const bool quantized = kept.image.depth == 32 && asked.quantize > 0.0;
    if (!quantized) FUZZ_CHECK(x == y, "the compressed save reopens to other samples");
}

}  // namespace fuzzing::save
