// Opening a file: FilterFile, then ReadPrepare, ReadStart, ReadContinue and
// ReadFinish over the input held in memory, through the reference host.
//
// Beyond "no crash": every result must be one the module is allowed to give
// for a bad file, nothing may leak or break the host's rules, and a file
// that opens must save and open again to the same image, since a user who
// opens a file expects to be able to save it.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

namespace {

using namespace fuzzing;

bool refusalText(const std::string& text) {
    return text.rfind("Fits Files ", 0) == 0;
}

void checkRead(const Outcome& filter, const Outcome& read, size_t size) {
    checkClean(read, "read");
    const std::string d = describe(read);
    switch (read.result) {
        case noErr:
            break;
        case userCanceledErr:
            // Refused with the module's own message, before any row moved.
            FUZZ_CHECK(read.failedSelector == formatSelectorReadStart, d);
            FUZZ_CHECK(read.messages.size() == 1, d);
            FUZZ_CHECK(refusalText(read.messages[0].text), d);
            FUZZ_CHECK(read.messages[0].caption && *read.messages[0].caption == "Nebulite", d);
            FUZZ_CHECK(read.rowsMoved == 0, d);
            break;
        case formatCannotRead:
            FUZZ_CHECK(read.failedSelector == formatSelectorReadStart, d);
            break;
        case eofErr:
            FUZZ_CHECK(read.failedSelector == formatSelectorReadStart ||
                           read.failedSelector == formatSelectorReadContinue,
                       d);
            break;
        case memFullErr:
            // Only the host's own limit on document size, never the module.
            FUZZ_CHECK(!read.hostFailure.empty(), d);
            break;
        default:
            FUZZ_CHECK(false && "unexpected result", d);
    }
    if (read.result != userCanceledErr) FUZZ_CHECK(read.messages.empty(), d);
    // FilterFile and ReadStart look at the same first card.
    if (filter.result == formatCannotRead) FUZZ_CHECK(read.result == formatCannotRead, d);
    if (filter.result == noErr) FUZZ_CHECK(read.result != formatCannotRead, d);
    if (size < 80) FUZZ_CHECK(read.result == eofErr, d);
}

void checkOpened(Host& host, const Outcome& read, size_t size) {
    const std::string d = describe(read);
    const Image& image = host.document().image;
    FUZZ_CHECK(image.rows == read.told.rows && image.columns == read.told.columns, d);
    FUZZ_CHECK(read.rowsMoved == int64_t{read.told.rows} * read.told.planes, d);
    uint32_t headerLength = host.peekHeaderLength().value_or(0);
    FUZZ_CHECK(headerLength > 0 && headerLength % 2880 == 0, d);
    FUZZ_CHECK(headerLength <= size, d + "\n  header length " + std::to_string(headerLength));
    const auto& records = host.document().resources[kHistoryResource];
    FUZZ_CHECK(records.size() == headerLength / 80,
               d + "\n  " + std::to_string(records.size()) + " records for " +
                   std::to_string(headerLength) + " header bytes");
}

// Save what was opened and open the saved file again: the same image.
void checkRoundTrip(Host& host) {
    Document opened = host.takeDocument();
    File saved = File::memory();
    Outcome save = host.save(opened, saved);
    checkClean(save, "save of an opened file");
    FUZZ_CHECK(save.ok(), "save of an opened file: " + describe(save));
    FUZZ_CHECK(saved.contents().size() % 2880 == 0,
               "saved size " + std::to_string(saved.contents().size()));
    File again = File::memory(saved.contents());
    Outcome reread = host.read(again);
    checkClean(reread, "reopening a saved file");
    FUZZ_CHECK(reread.ok(), "reopening a saved file: " + describe(reread));
    const Image& back = host.document().image;
    const Image& before = opened.image;
    FUZZ_CHECK(back.rows == before.rows && back.columns == before.columns &&
                   back.planes == before.planes && back.depth == before.depth &&
                   back.mode == before.mode,
               "geometry changed: " + std::to_string(before.columns) + "x" +
                   std::to_string(before.rows) + "x" + std::to_string(before.planes) + " depth " +
                   std::to_string(before.depth) + " mode " + std::to_string(before.mode) +
                   " came back as " + std::to_string(back.columns) + "x" +
                   std::to_string(back.rows) + "x" + std::to_string(back.planes) + " depth " +
                   std::to_string(back.depth) + " mode " + std::to_string(back.mode));
    FUZZ_CHECK(back.narrow == before.narrow && back.wide == before.wide, "samples changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Host& host = sharedHost();
    host.setup().maxImageBytes = kMaxImageBytes;
    std::vector<uint8_t> bytes(data, data + size);

    File probe = File::memory(bytes);
    Outcome filter = host.filterFile(probe);
    checkClean(filter, "FilterFile");
    FUZZ_CHECK(filter.result == noErr || filter.result == formatCannotRead || filter.result == eofErr,
               "FilterFile: " + describe(filter));

    File file = File::memory(std::move(bytes));
    Outcome read = host.read(file);
    checkRead(filter, read, size);
    if (read.ok()) {
        checkOpened(host, read, size);
        checkRoundTrip(host);
    }
    return 0;
}
