// The FITS header reader behind `nebulite info`, on arbitrary bytes through
// a memory file: it finds an image header or says there is none, every card
// it returns is 80 columns, the last one END, and each prints.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "cli/file_header.h"
#include "fuzz/cli_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite::cli;
    static fuzzing::MemoryFile file;
    std::optional<ImageHeader> header;
    try {
        header = imageHeader(file.hold(data, size));
    } catch (const std::exception& e) {
        fuzzing::cliFail("the header reader answers, never throws", e.what());
    }
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
