// The CLI's PFM readers on arbitrary bytes: the one on bytes and the one
// that reads a file a chunk of rows at a time must agree bit for bit, a
// refusal is an ImageError, and an image that opens writes and opens again
// with the very same bits (NaNs and their payloads included).
#include <cstddef>
#include <cstdint>

#include "cli/pfm.h"
#include "fuzz/cli_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite::cli;
    static fuzzing::MemoryFile file;
    Image fromBytes, fromFile;
    bool bytesRefused = fuzzing::refusedCleanly([&] { fromBytes = decodePfm({data, size}); });
    bool fileRefused = fuzzing::refusedCleanly([&] { fromFile = loadPfm(file.hold(data, size)).image; });
    CLI_CHECK(bytesRefused == fileRefused, bytesRefused ? "only the file reader opens it" : "only the byte reader opens it");
    if (bytesRefused) return 0;
    CLI_CHECK(fuzzing::sameBits(fromBytes, fromFile), "the two readers read different images");
    fuzzing::checkImage(fromBytes);
    CLI_CHECK(fromBytes.depth == 32, "a PFM opens as a 32-bit image");
    CLI_CHECK(fuzzing::sameBits(decodePfm(encodePfm(fromBytes)), fromBytes),
              "a PFM written from what was read reads back differently");
    return 0;
}
