#include "cli/file_header.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include <zlib.h>

#include "header/card_text.h"
#include "header/fits_units.h"
#include "header/header_keywords.h"
#include "header/header_reader.h"
#include "header/identification.h"
#include "header/merge_plan.h"
#include "host/host.h"
#include "import/tiled/restore_header.h"
#include "import/tiled/tiled_header.h"

namespace nebulite::cli {

using nebulite::HeaderKeywords;

namespace {

std::string paddedCard(std::string text) {
    text.resize(kCardBytes, ' ');
    return text;
}

// The file through zlib, which reads a plain file as it is and inflates a
// gzip file on the fly (a seek forward inflates up to the place): the byte
// source the header reader reads, as the module's stream is its.
class SourceFile final : public ByteSource {
public:
    explicit SourceFile(const std::string& path) : file_(gzopen(path.c_str(), "rb")) {}
    ~SourceFile() {
        if (file_ != nullptr) gzclose(file_);
    }
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    int64_t read(void* out, int64_t count) override {
        if (file_ == nullptr || failed_) return 0;
        const int n = gzread(file_, out, static_cast<unsigned>(count));
        if (n < 0) {
            failed_ = true;
            return 0;
        }
        return n;
    }
    bool failed() const override { return failed_ || file_ == nullptr; }
    bool seek(uint64_t offset) {
        if (file_ == nullptr || offset > static_cast<uint64_t>(std::numeric_limits<z_off_t>::max())) return false;
        return gzseek(file_, static_cast<z_off_t>(offset), SEEK_SET) >= 0;
    }
    bool plain() const { return file_ != nullptr && gzdirect(file_) != 0; }

private:
    gzFile file_;
    bool failed_ = false;
};

// One header of the file as it stands there: its cards before END, what its
// keywords say, and where the next header starts (0 when its size cannot
// be told).
struct FileHeader {
    std::vector<std::string> cards;
    HeaderKeywords keys;
    uint64_t next = 0;
};

std::optional<FileHeader> readFileHeader(SourceFile& in, uint64_t offset, HeaderStart start) {
    if (!in.seek(offset)) return std::nullopt;
    FileHeader h;
    const HeaderRead read = readHeader(in, start, [&h](const char* card, const CardPlace& place) {
        if (place.afterEnd || place.isEnd) return true;
        h.cards.emplace_back(card, kCardBytes);
        noteKeyword(card, h.keys);
        return true;
    });
    if (read.end != HeaderEnd::complete) return std::nullopt;
    if (const auto bytes = dataUnitBytes(h.keys))
        if (const auto next = nextHeaderOffset(offset + cardBytes(read.cards), *bytes, INT64_MAX))
            h.next = *next;
    return h;
}

std::string stringValueOf(const std::vector<std::string>& cards, const std::string& keyword) {
    for (const std::string& c : cards)
        if (keywordIs(splitCard(c.data()).keyword, keyword)) return std::string(stringValue(c.data()));
    return "";
}

bool compressedImage(const FileHeader& h) { return h.keys.type == HduType::binaryTable && h.keys.zimage; }

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
        if (!keywordIs(splitCard(card.data()).keyword, "SIMPLE")) cards.push_back(card);
    }
    return true;
}

}  // namespace

namespace {

std::string joined(const std::vector<std::string>& cards) {
    std::string text;
    text.reserve(cards.size() * kCardBytes);
    for (const std::string& c : cards) text += c;
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
    SourceFile in(path);
    std::optional<FileHeader> primary = readFileHeader(in, 0, HeaderStart::primary);
    if (!primary) return std::nullopt;
    ImageHeader image;
    image.compression = in.plain() ? "none" : "gzip";
    if (primary->keys.naxis != 0) {
        image.cards = primary->cards;
        closeHeader(image.cards);
        return image;
    }
    std::optional<FileHeader> ext;
    for (uint64_t at = primary->next; at != 0; at = ext->next) {
        ++image.hdu;
        ext = readFileHeader(in, at, HeaderStart::extension);
        if (!ext) return std::nullopt;
        if (ext->keys.type == HduType::image && ext->keys.naxis >= 2) break;
        if (compressedImage(*ext)) {
            if (!restoreCompressed(ext->cards, image)) return std::nullopt;
            break;
        }
    }
    if (!ext) return std::nullopt;
    image.extname = ext->keys.extensionName();
    image.cards = mergedCards(*primary, *ext);
    closeHeader(image.cards);
    return image;
}

namespace {

std::string trimmed(std::string_view text) {
    size_t end = text.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string() : std::string(text.substr(0, end + 1));
}

std::string whyHeaderEnded(HeaderEnd end, int index) {
    const std::string hdu = "HDU " + std::to_string(index);
    switch (end) {
        case HeaderEnd::notHeader: return "the bytes after HDU " + std::to_string(index - 1) + " start no extension header";
        case HeaderEnd::tooLong: return hdu + "'s header has no END";
        case HeaderEnd::cutShort: return "the file ends inside " + hdu + "'s header";
        case HeaderEnd::failed: return "reading " + hdu + "'s header failed";
        case HeaderEnd::complete:
        case HeaderEnd::noBytes: break;
    }
    return {};
}

HduListing listing(int index, const std::vector<std::string>& cards, const HeaderKeywords& keys) {
    HduListing h;
    h.index = index;
    h.extname = std::string(keys.extensionName());
    h.extver = keys.extver;
    h.bitpix = keys.bitpix;
    for (int32_t a = 1; a <= keys.naxis && a <= kMaxAxes; ++a) h.axes.push_back(keys.axis(a));
    // The kind the header's first card gives (the reader checked it starts
    // the header asked for): later SIMPLE or XTENSION cards change nothing.
    h.type = index == 0 ? std::string("primary") : trimmed(stringValue(cards.front().data()));
    if (h.type == "BINTABLE" && keys.zimage) {
        std::string text;
        for (const std::string& c : cards) text += c;
        tiled::TiledImage image;
        if (tiled::parseTiledHeader(text.data(), static_cast<uint32_t>(cards.size()), image) ==
            tiled::TiledHeaderError::none) {
            h.type = "compressed image";
            h.compression = trimmed(stringValueOf(cards, "ZCMPTYPE"));
            h.bitpix = image.bitpix;
            h.axes.assign(image.axes, image.axes + image.naxis);
            // EXTNAME and EXTVER of the image as the module restores its
            // header (the table's default name 'COMPRESSED_IMAGE' is none).
            const auto count = static_cast<uint32_t>(cards.size());
            std::string restored((size_t{count} + 4) * kCardBytes, ' ');
            const int64_t n = tiled::restoreImageHeader(text.data(), count, restored.data(), count + 4);
            if (n >= 0) {
                HeaderKeywords own;
                for (int64_t i = 0; i < n; ++i) noteKeyword(restored.data() + i * int64_t{kCardBytes}, own);
                h.extname = std::string(own.extensionName());
                h.extver = own.extver;
            }
        }
    }
    return h;
}

}  // namespace

HduList listHdus(const std::string& path) {
    HduList list;
    SourceFile in(path);
    uint64_t offset = 0;
    for (int index = 0;; ++index) {
        if (!in.seek(offset)) {
            list.incomplete = "cannot reach HDU " + std::to_string(index);
            return list;
        }
        std::vector<std::string> cards;
        HeaderKeywords keys;
        const HeaderRead read = readHeader(in, index == 0 ? HeaderStart::primary : HeaderStart::extension,
                                           [&](const char* card, const CardPlace& place) {
                                               if (place.afterEnd || place.isEnd) return true;
                                               cards.emplace_back(card, kCardBytes);
                                               noteKeyword(card, keys);
                                               return true;
                                           });
        if (read.end == HeaderEnd::noBytes && index > 0) return list;
        if (read.end != HeaderEnd::complete) {
            list.incomplete = index == 0 ? "the file does not start with a FITS primary header"
                                         : whyHeaderEnded(read.end, index);
            return list;
        }
        list.hdus.push_back(listing(index, cards, keys));
        const std::optional<uint64_t> bytes = dataUnitBytes(keys);
        const std::optional<uint64_t> next =
            bytes ? nextHeaderOffset(offset + cardBytes(read.cards), *bytes, INT64_MAX) : std::nullopt;
        if (!next) {
            list.incomplete = "the size of HDU " + std::to_string(index) + "'s data cannot be told";
            return list;
        }
        offset = *next;
    }
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
