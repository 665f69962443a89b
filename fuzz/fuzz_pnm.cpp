// The CLI's PNM readers on arbitrary bytes: the one on bytes and the one
// that reads a file a chunk of rows at a time must agree, a refusal is an
// ImageError, and an image that opens writes and opens again the same.
#include <cstddef>
#include <cstdint>

#include "cli/pnm.h"
#include "fuzz/cli_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace nebulite::cli;
    static fuzzing::MemoryFile file;
    Image fromBytes, fromFile;
    bool bytesRefused = fuzzing::refusedCleanly([&] { fromBytes = decodePnm({data, size}); });
    bool fileRefused = fuzzing::refusedCleanly([&] { fromFile = loadPnm(file.hold(data, size)).image; });
    CLI_CHECK(bytesRefused == fileRefused, bytesRefused ? "only the file reader opens it" : "only the byte reader opens it");
    if (bytesRefused) return 0;
    CLI_CHECK(fromBytes == fromFile, "the two readers read different images");
    fuzzing::checkImage(fromBytes);
    CLI_CHECK(decodePnm(encodePnm(fromBytes)) == fromBytes, "a PNM written from what was read reads back differently");
    return 0;
}
