#include "cli/file_header.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <zlib.h>
#include <limits>
#include <set>

#include "host/host.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tiled_header.h"

namespace nebulite::cli {

namespace {

constexpr size_t kCardBytes = 80;

std::string paddedCard(std::string text) {
    text.resize(kCardBytes, ' ');
    return text;
}

// As the module reads keywords: a card starting with NUL is blank, other
// NULs in the keyword are spaces.
std::string keywordOf(const std::string& card) {
    if (card[0] == '\0') return "";
    std::string k = card.substr(0, 8);
    std::replace(k.begin(), k.end(), '\0', ' ');
    k.erase(k.find_last_not_of(' ') + 1);
    return k;
}

long long intValueOf(const std::vector<std::string>& cards, const std::string& keyword, long long fallback) {
    for (const std::string& c : cards)
        if (keywordOf(c) == keyword) return std::strtoll(c.substr(10, 20).c_str(), nullptr, 10);
    return fallback;
}

std::string stringValueOf(const std::vector<std::string>& cards, const std::string& keyword) {
    for (const std::string& c : cards) {
        if (keywordOf(c) != keyword) continue;
        size_t open = c.find('\'', 10), close = open == std::string::npos ? open : c.find('\'', open + 1);
        if (close == std::string::npos) return "";
        std::string v = c.substr(open + 1, close - open - 1);
        return v.erase(v.find_last_not_of(' ') + 1);
    }
    return "";
}

// One header of the file as it stands there: its cards before END, and
// where the next header starts (0 when its size cannot be told).
struct FileHeader {
    std::vector<std::string> cards;
    uint64_t next = 0;
};

// The file through zlib, which reads a plain file as it is and inflates a
// gzip file on the fly (a seek forward inflates up to the place).
struct SourceFile {
    gzFile file = nullptr;
    explicit SourceFile(const std::string& path) : file(gzopen(path.c_str(), "rb")) {}
    ~SourceFile() {
        if (file != nullptr) gzclose(file);
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;
};

std::optional<FileHeader> readFileHeader(gzFile in, uint64_t offset) {
    if (in == nullptr || offset > static_cast<uint64_t>(std::numeric_limits<z_off_t>::max()) ||
        gzseek(in, static_cast<z_off_t>(offset), SEEK_SET) < 0)
        return std::nullopt;
    FileHeader h;
    char card[kCardBytes];
    uint64_t read = 0;
    for (bool end = false; !(end && read % 36 == 0); ++read) {
        if (gzread(in, card, kCardBytes) != static_cast<int>(kCardBytes)) return std::nullopt;
        if (end) continue;
        h.cards.emplace_back(card, kCardBytes);
        if (keywordOf(h.cards.back()) == "END") end = true;
    }
    h.cards.pop_back();  // END
    // Sizes beyond 2^40 bytes are taken as unknown: no file here is that large.
    constexpr uint64_t kLimit = uint64_t{1} << 40;
    long long naxis = intValueOf(h.cards, "NAXIS", -1);
    bool known = naxis >= 0 && naxis < 1000;
    uint64_t n = naxis > 0 ? 1 : 0;
    auto times = [&](long long factor) {
        auto f = static_cast<uint64_t>(std::max(0LL, factor));
        if (f != 0 && n > kLimit / f) known = false;
        else n *= f;
    };
    for (long long i = 1; known && i <= naxis; ++i) times(intValueOf(h.cards, "NAXIS" + std::to_string(i), 0));
    n += static_cast<uint64_t>(std::clamp(intValueOf(h.cards, "PCOUNT", 0), 0LL, static_cast<long long>(kLimit)));
    times(intValueOf(h.cards, "GCOUNT", 1));
    times(std::llabs(intValueOf(h.cards, "BITPIX", 0)) / 8);
    if (known) h.next = offset + read * kCardBytes + (n + 2879) / 2880 * 2880;
    return h;
}

bool compressedImage(const std::vector<std::string>& cards) {
    if (stringValueOf(cards, "XTENSION") != "BINTABLE") return false;
    for (const std::string& c : cards)
        if (keywordOf(c) == "ZIMAGE") return c.find_first_not_of(' ', 10) != c.npos && c[c.find_first_not_of(' ', 10)] == 'T';
    return false;
}

const char* quantizationName(tiled::Quantization q) {
    switch (q) {
        case tiled::Quantization::lossless: return "none";
        case tiled::Quantization::noDither: return "NO_DITHER";
        case tiled::Quantization::subtractive1: return "SUBTRACTIVE_DITHER_1";
        case tiled::Quantization::subtractive2: return "SUBTRACTIVE_DITHER_2";
    }
    return "none";
}

// A compressed image's table header replaced by the image's own, as the
// module restores it; the compression described in `image`.
bool restoreCompressed(std::vector<std::string>& cards, ImageHeader& image) {
    std::string text;
    for (const std::string& c : cards) text += c;
    const auto count = static_cast<uint32_t>(cards.size());
    tiled::TiledImage tiledImage;
    if (tiled::parseTiledHeader(text.data(), count, tiledImage) != tiled::TiledHeaderError::none) return false;
    image.compression = stringValueOf(cards, "ZCMPTYPE");
    for (uint32_t a = 0; a < tiledImage.naxis; ++a) {
        if (a > 0) image.tiling += 'x';
        image.tiling += std::to_string(tiledImage.tile[a]);
    }
    image.quantization = quantizationName(tiledImage.quantization);
    std::string restored((size_t{count} + 4) * kCardBytes, ' ');
    const int64_t n = tiled::restoreImageHeader(text.data(), count, restored.data(), count + 4);
    if (n < 0) return false;
    cards.clear();
    // The document's header starts with its own SIMPLE, as for an extension.
    for (int64_t i = 0; i < n; ++i) {
        std::string card = restored.substr(static_cast<size_t>(i) * kCardBytes, kCardBytes);
        if (keywordOf(card) != "SIMPLE") cards.push_back(card);
    }
    return true;
}

}  // namespace

std::optional<ImageHeader> imageHeader(const std::string& path) {
    SourceFile source(path);
    gzFile in = source.file;
    std::optional<FileHeader> primary = readFileHeader(in, 0);
    if (!primary) return std::nullopt;
    ImageHeader image;
    image.compression = gzdirect(in) ? "none" : "gzip";
    if (intValueOf(primary->cards, "NAXIS", 0) != 0) {
        image.cards = primary->cards;
        image.cards.push_back(paddedCard("END"));
        return image;
    }
    std::optional<FileHeader> ext;
    for (uint64_t at = primary->next; at != 0; at = ext->next) {
        ++image.hdu;
        ext = readFileHeader(in, at);
        if (!ext || ext->cards.empty() || keywordOf(ext->cards[0]) != "XTENSION") return std::nullopt;
        if (stringValueOf(ext->cards, "XTENSION") == "IMAGE" && intValueOf(ext->cards, "NAXIS", 0) >= 2) break;
        if (compressedImage(ext->cards)) {
            if (!restoreCompressed(ext->cards, image)) return std::nullopt;
            break;
        }
    }
    if (!ext) return std::nullopt;
    image.extname = stringValueOf(ext->cards, "EXTNAME");
    auto structural = [](const std::string& k) {
        return k == "SIMPLE" || k == "BITPIX" || k == "NAXIS" || k == "EXTEND" || k == "GROUPS" || k == "PCOUNT" ||
               k == "GCOUNT" || k == "BZERO" || k == "BSCALE" || k == "BLANK" || k == "XTENSION" ||
               (k.size() > 5 && k.compare(0, 5, "NAXIS") == 0 && k.find_first_not_of("0123456789", 5) == k.npos);
    };
    auto mandatory = [](const std::string& k) {
        return k == "XTENSION" || k == "BITPIX" || k == "NAXIS" || k == "PCOUNT" || k == "GCOUNT" ||
               (k.size() > 5 && k.compare(0, 5, "NAXIS") == 0 && k.find_first_not_of("0123456789", 5) == k.npos);
    };
    auto wcsAxesKeyword = [](const std::string& k) {
        return k.compare(0, 7, "WCSAXES") == 0 && (k.size() == 7 || (k[7] >= 'A' && k[7] <= 'Z'));
    };
    auto repeatable = [](const std::string& k) {
        return k.empty() || k == "COMMENT" || k == "HISTORY" || k == "HIERARCH";
    };
    std::set<std::string> own;
    for (const std::string& c : ext->cards) own.insert(keywordOf(c));
    std::vector<std::string> fromPrimary, wcsAxes;
    bool droppedLast = false;
    for (size_t i = 1; i < primary->cards.size(); ++i) {
        const std::string& c = primary->cards[i];
        std::string k = keywordOf(c);
        bool kept = k == "CONTINUE" ? !droppedLast : !structural(k) && (repeatable(k) || !own.count(k));
        if (k != "CONTINUE") droppedLast = !kept;
        if (kept) (wcsAxesKeyword(k) ? wcsAxes : fromPrimary).push_back(c);
    }
    std::string simple = primary->cards[0];
    if (simple.compare(0, 30, "SIMPLE  =                    T") != 0) {
        size_t slash = simple.find('/', 10);
        std::string comment = slash == simple.npos ? "" : simple.substr(slash + 1);
        comment.erase(0, comment.find_first_not_of(' '));
        comment.erase(comment.find_last_not_of(' ') + 1);
        simple = paddedCard("SIMPLE  =                    T" + (comment.empty() ? "" : " / " + comment));
    }
    image.cards.push_back(simple);
    size_t next = 0;
    for (; next < ext->cards.size() && mandatory(keywordOf(ext->cards[next])); ++next)
        if (keywordOf(ext->cards[next]) != "XTENSION" && keywordOf(ext->cards[next]) != "PCOUNT" &&
            keywordOf(ext->cards[next]) != "GCOUNT")
            image.cards.push_back(ext->cards[next]);
    image.cards.insert(image.cards.end(), wcsAxes.begin(), wcsAxes.end());
    for (; next < ext->cards.size(); ++next) {
        std::string k = keywordOf(ext->cards[next]);
        if (k != "XTENSION" && k != "PCOUNT" && k != "GCOUNT") image.cards.push_back(ext->cards[next]);
    }
    image.cards.insert(image.cards.end(), fromPrimary.begin(), fromPrimary.end());
    image.cards.push_back(paddedCard("END"));
    return image;
}

// Header cards are ASCII; anything else is shown the way the module would
// show it (Windows-1252), with control characters made visible.
std::string printableCard(const std::string& card) {
    std::string clean = card;
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return host::ansiToUtf8(clean);
}

}  // namespace nebulite::cli
