// The CLI's TIFF reader on arbitrary bytes, through a memory file: a refusal
// is an ImageError, and an image that opens (8, 16 or 32-bit float) saves
// as TIFF and opens again the same to the bit, 'hist' records and the
// records of private tags included.
#include <cstddef>
#include <cstdint>

#include "cli/tiff.h"
#include "fuzz/cli_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite::cli;
    static fuzzing::MemoryFile file;
    static fuzzing::MemoryFile copy;
    const std::string& path = file.hold(data, size);
    Document document;
    if (fuzzing::refusedCleanly([&] { document = loadTiff(path); })) return 0;
    fuzzing::checkImage(document.image);
    const std::string& again = copy.hold(nullptr, 0);
    saveTiff(document, again);
    const Document back = loadTiff(again);
    CLI_CHECK(fuzzing::sameBits(back.image, document.image) && back.resources == document.resources,
              "a TIFF written from what was read reads back differently");
    return 0;
}
