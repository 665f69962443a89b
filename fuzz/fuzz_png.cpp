// The CLI's PNG reader on arbitrary bytes: a refusal is an ImageError, and
// an image that opens writes as PNG and opens again the same, 'hist'
// records included.
#include <cstddef>
#include <cstdint>

#include "cli/png.h"
#include "fuzz/cli_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite::cli;
    Document document;
    if (fuzzing::refusedCleanly([&] { document = decodePng({data, size}); })) return 0;
    fuzzing::checkImage(document.image);
    std::vector<uint8_t> again = encodePng(document);
    Document reopened = decodePng(again);
    CLI_CHECK(reopened == document, "a PNG written from what was read reads back differently");
    return 0;
}
