// The FITS header reader behind `nebulite info`, on arbitrary bytes through
// a memory file: it finds an image header or says there is none, every card
// it returns is 80 columns, the last one END, and each prints; and the list
// of HDUs `info` shows, read by the same reader.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "cli/file_header.h"
#include "fuzz/cli_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite::cli;
    static fuzzing::MemoryFile file;
    std::optional<ImageHeader> header;
    HduList list;
    try {
        const std::string& path = file.hold(data, size);
        header = imageHeader(path);
        list = listHdus(path);
    } catch (const std::exception& e) {
        fuzzing::cliFail("the header reader answers, never throws", e.what());
    }
    // The HDU list: in order from the primary, each typed, a compressed
    // image only with its algorithm, at most 999 axes; a list that stops
    // early says why in one line.
    for (size_t i = 0; i < list.hdus.size(); ++i) {
        const HduListing& h = list.hdus[i];
        CLI_CHECK(h.index == static_cast<int>(i), std::to_string(h.index));
        CLI_CHECK(!h.type.empty() || i > 0, "an untyped primary");
        if (i == 0) CLI_CHECK(h.type == "primary", h.type);
        CLI_CHECK(h.axes.size() <= 999, std::to_string(h.axes.size()));
        CLI_CHECK(h.compression.empty() || h.type == "compressed image", h.type);
    }
    CLI_CHECK(list.incomplete.find('\n') == std::string::npos, list.incomplete);
    if (header) CLI_CHECK(!list.hdus.empty(), "an image header in a file without HDUs");
    if (!header) return 0;
    CLI_CHECK(!header->cards.empty(), "no cards");
    CLI_CHECK(header->cards.back().compare(0, 8, "END     ") == 0, header->cards.back());
    CLI_CHECK(header->hdu >= 0, std::to_string(header->hdu));
    for (const std::string& card : header->cards) {
        CLI_CHECK(card.size() == 80, std::to_string(card.size()));
        printableCard(card);
    }
    return 0;
}
