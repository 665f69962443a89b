#include "cli/file_header.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include <zlib.h>

#include "header/card_text.h"
#include "header/identification.h"
#include "header/merge_plan.h"
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

namespace {

// The cards as the module holds them once read (header/card_text.h).
std::string cleaned(const std::string& card) {
    std::string c = card;
    nebulite::cleanReadCard(c.data());
    return c;
}

std::string joined(const std::vector<std::string>& cards) {
    std::string text;
    text.reserve(cards.size() * kCardBytes);
    for (const std::string& c : cards) text += cleaned(c);
    return text;
}

// The primary's and the extension's cards, merged by the module's plan.
std::vector<std::string> mergedCards(const FileHeader& primary, const FileHeader& extension) {
    const std::string primaryText = joined(primary.cards), extensionText = joined(extension.cards);
    std::vector<uint64_t> keys(extension.cards.size() + 1);
    std::vector<std::string> cards;
    auto take = [](void* context, const char* card) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(card, kCardBytes);
        return true;
    };
    nebulite::walkMergedHeader({primaryText.data(), static_cast<uint32_t>(primary.cards.size())},
                               {extensionText.data(), static_cast<uint32_t>(extension.cards.size())}, keys.data(),
                               {&cards, take});
    return cards;
}

// END, and in front of it the identification card where the reader puts one.
void closeHeader(std::vector<std::string>& cards) {
    bool identified = std::any_of(cards.begin(), cards.end(),
                                  [](const std::string& c) { return nebulite::isIdentificationCard(c.data()); });
    if (nebulite::identificationGoesBeforeEnd(static_cast<int64_t>(cards.size()), identified)) {
        std::string id(kCardBytes, ' ');
        nebulite::makeIdentificationCard(id.data());
        cards.push_back(id);
    }
    cards.push_back(paddedCard("END"));
}

}  // namespace

std::optional<ImageHeader> imageHeader(const std::string& path) {
    SourceFile source(path);
    gzFile in = source.file;
    std::optional<FileHeader> primary = readFileHeader(in, 0);
    if (!primary || primary->cards.empty()) return std::nullopt;
    ImageHeader image;
    image.compression = gzdirect(in) ? "none" : "gzip";
    if (intValueOf(primary->cards, "NAXIS", 0) != 0) {
        for (const std::string& c : primary->cards) image.cards.push_back(cleaned(c));
        closeHeader(image.cards);
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
    image.cards = mergedCards(*primary, *ext);
    closeHeader(image.cards);
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
