// Saving a document that carries a whole-header record ('NbHd'): WritePrepare
// takes the header from that record when the document's 'hist' records agree
// with it, from the 'hist' records otherwise, and rewrites it for the image.
//
// Input: byte 0 rows, byte 1 columns, byte 2 depth (bit 0: 16 bits) and
// mode (bit 1: RGB), byte 3 how the document is made:
//   bits 0-1: 0 a record of the card text with agreeing 'hist' records,
//             1 that record alone, 2 that record with 'hist' records of
//             other cards (they disagree, and win), 3 the rest as the
//             record's raw bytes (what any program may have left there)
// The rest is header text, one card per line (or raw bytes, for 3).
//
// A save must succeed with a file of whole blocks ending its header with
// END. When the header came from the record, every card the rewrite has no
// rule for comes back byte for byte and in order.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

using namespace fuzzing;

constexpr ResType kWholeHeader = nebulite::host::kWholeHeaderResource;

std::vector<std::string> cardsFrom(const uint8_t* data, size_t size) {
    std::vector<std::string> cards;
    size_t i = 0;
    while (i < size && cards.size() < 2000) {
        size_t end = i;
        while (end < size && data[end] != '\n') ++end;
        std::string line(reinterpret_cast<const char*>(data + i), std::min<size_t>(end - i, 80));
        line.resize(80, ' ');
        cards.push_back(line);
        i = end + 1;
    }
    return cards;
}

ResourceRecord wholeRecord(const std::vector<std::string>& cards) {
    ResourceRecord r = {'N', 'b', 'H', 'd', 0, 1};
    auto n = static_cast<uint32_t>(cards.size());
    for (int s = 24; s >= 0; s -= 8) r.push_back(static_cast<uint8_t>(n >> s));
    for (const std::string& c : cards) r.insert(r.end(), c.begin(), c.end());
    return r;
}

bool startsWith(const std::string& card, const char* prefix) { return card.rfind(prefix, 0) == 0; }

// The cards the rewrite has a rule for, and the ones it writes itself.
bool rewritable(const std::string& card, size_t slot) {
    static const char* const kPrefixes[] = {"BITPIX", "NAXIS",  "BZERO",   "BSCALE",  "RANGE ",   "BACKGRND",
                                            "CWHITE", "CBLACK", "DATAMAX", "DATAMIN", "AVISUMAX", "AVISUMIN"};
    for (const char* prefix : kPrefixes)
        if (startsWith(card, prefix)) return true;
    std::string keyword = card.substr(0, 8);
    if (keyword == "CHECKSUM" || keyword == "DATASUM " || keyword == "BLANK   " || keyword == "END     ")
        return true;
    if (slot == 0 && keyword == "SIMPLE  ") return true;
    return card.find(" Removal by Nebulite.") != std::string::npos || card == std::string(80, ' ');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    Host& host = sharedHost();
    host.setup().maxImageBytes = kMaxImageBytes;
    const int how = data[3] & 3;
    Document document;
    Image& image = document.image;
    image.rows = 1 + data[0] % 20;
    image.columns = 1 + data[1] % 20;
    const bool rgb = (data[2] & 2) != 0;
    image.planes = rgb ? 3 : 1;
    image.depth = (data[2] & 1) != 0 ? 16 : 8;
    image.mode = rgb ? plugInModeRGBColor : plugInModeGrayScale;
    image.allocate();
    for (int p = 0; p < image.planes; ++p)
        for (int r = 0; r < image.rows; ++r)
            for (int c = 0; c < image.columns; ++c)
                image.setSample(p, r, c, static_cast<uint32_t>(p * 31 + r * 7 + c) % (image.maxSample() + 1));

    std::vector<std::string> cards;
    if (how == 3) {
        document.resources[kWholeHeader] = {ResourceRecord(data + 4, data + size)};
    } else {
        cards = cardsFrom(data + 4, size - 4);
        if (cards.empty()) return 0;
        document.resources[kWholeHeader] = {wholeRecord(cards)};
        if (how == 0 || how == 2) {
            auto& history = document.resources[kHistoryResource];
            for (const std::string& c : cards) history.push_back(recordFromCard(c));
            if (how == 2) history.front() = recordFromCard(std::string(80, 'Z'));
        }
    }
    const Document kept = document;

    File file = File::memory();
    Outcome save = host.save(document, file);
    checkClean(save, "save");
    FUZZ_CHECK(document == kept, "the save changed the document");
    FUZZ_CHECK(save.ok() && save.messages.empty(), describe(save));
    const std::vector<uint8_t>& bytes = file.contents();
    FUZZ_CHECK(bytes.size() % 2880 == 0, "file size " + std::to_string(bytes.size()));
    std::vector<std::string> written;
    for (size_t q = 0; q + 80 <= bytes.size(); q += 80) {
        written.emplace_back(reinterpret_cast<const char*>(bytes.data() + q), 80);
        if (startsWith(written.back(), "END     ")) break;
    }
    FUZZ_CHECK(startsWith(written.back(), "END     "), "no END card in the file");
    if (how != 0 && how != 1) return 0;
    if (cards[0][0] != 'S') return 0;  // no header to keep: the save makes one

    // Every card without a rule, in order, byte for byte (zero bytes,
    // which are no header text, as spaces); nothing after END.
    std::vector<std::string> expected, got;
    for (size_t i = 0; i < cards.size(); ++i) {
        std::string c = cards[i];
        for (char& ch : c)
            if (ch == '\0') ch = ' ';
        if (startsWith(c, "END     ")) break;
        if (!rewritable(c, i)) expected.push_back(c);
    }
    for (size_t i = 0; i < written.size(); ++i)
        if (!rewritable(written[i], i)) got.push_back(written[i]);
    FUZZ_CHECK(expected == got, "the kept cards did not come back: " + std::to_string(expected.size()) +
                                    " expected, " + std::to_string(got.size()) + " written");
    return 0;
}
