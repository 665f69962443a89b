// Opening a file: FilterFile, then ReadPrepare, ReadStart, ReadContinue and
// ReadFinish over the input held in memory, through the reference host.
//
// The input's last byte picks the road, as libspng's fuzzers take options
// from the input's tail: bit 0, the module can find the file's length (the
// record names a disk copy); bit 1, the rest is gzip-compressed here first,
// so that every FITS road is also reached through the inflater; bit 2, the
// host is an older one, of 16-bit geometry only. Input that
// starts with the gzip magic reaches the inflater with bytes of its own.
//
// Before the road byte the input may carry the open's options, as an action
// replays them: a descriptor in the reference host's handle bytes (they
// start "NbDs"), then its length (32 bits, big-endian). Bytes that do not
// end so are all file, as every input was before there were options; a
// descriptor that does not parse is offered empty.
//
// Beyond "no crash": every result must be one the module is allowed to give
// for a bad file, nothing may leak or break the host's rules, and a file
// that opens must save and open again to the same image, since a user who
// opens a file expects to be able to save it.
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <optional>
#include <span>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/module_state.h"
#include "fuzz/fuzz_support.h"

namespace {

using namespace fuzzing;

bool refusalText(const std::string& text) {
    return text.rfind("Fits Files ", 0) == 0;
}

// How the input reached the module.
struct Road {
    bool lengthKnown = false;
    bool gzip = false;    // the FITS bytes arrive through the inflater
    size_t fitsSize = 0;  // the FITS bytes' length, when known here
    bool tiled = false;   // the bytes name ZIMAGE: a tile-compressed image may be read
    bool options = false; // the input carried a descriptor of options
};

std::vector<uint8_t> gzipOf(const std::vector<uint8_t>& bytes) {
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    std::vector<uint8_t> out(deflateBound(&z, static_cast<uLong>(bytes.size())) + 64);
    z.next_in = const_cast<Bytef*>(bytes.data());
    z.avail_in = static_cast<uInt>(bytes.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int status = deflate(&z, Z_FINISH);
    out.resize(status == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

// The disk copy the record names when the length is to be known.
const std::string& diskCopyPath() {
    static const std::string path = "/tmp/nebulite-fuzz-read-" + std::to_string(::getpid()) + ".fits";
    return path;
}

bool writeDiskCopy(const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(diskCopyPath().c_str(), "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// The descriptor before the road byte, when the input ends in one; `size`
// then shrinks to the file's bytes.
std::optional<Descriptor> optionsTail(const uint8_t* data, size_t& size) {
    constexpr size_t kLength = 4;
    constexpr size_t kSmallest = 10;  // "NbDs", version, item count
    if (size < kLength + kSmallest) return std::nullopt;
    const uint8_t* tail = data + size - kLength;
    const uint32_t length = (uint32_t{tail[0]} << 24) | (uint32_t{tail[1]} << 16) | (uint32_t{tail[2]} << 8) | tail[3];
    if (length < kSmallest || length > size - kLength) return std::nullopt;
    const uint8_t* start = tail - length;
    if (std::memcmp(start, "NbDs", 4) != 0) return std::nullopt;
    size = static_cast<size_t>(start - data);
    return parseDescriptor(std::span(start, length)).value_or(Descriptor{});
}

void checkRead(const Outcome& filter, const Outcome& read, const Road& road) {
    const size_t size = road.fitsSize;
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
        case errReportString:
            // Options the file cannot honour, or a value they cannot take:
            // one line for the host's error string, before any row moved.
            FUZZ_CHECK(road.options, d);
            FUZZ_CHECK(read.failedSelector == formatSelectorReadStart, d);
            FUZZ_CHECK(read.reported.rfind("this Fits File cannot be opened as asked: ", 0) == 0, d);
            FUZZ_CHECK(read.reported.size() <= 255 && read.reported.find('\n') == std::string::npos,
                       d + "\n  reported: " + read.reported);
            FUZZ_CHECK(read.rowsMoved == 0, d);
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
        case readErr:
            // Memory never fails to read; damaged gzip data does, and so
            // does a damaged tile, once the rows are being read.
            FUZZ_CHECK(road.gzip || (road.tiled && read.failedSelector == formatSelectorReadContinue), d);
            break;
        default:
            FUZZ_CHECK(false && "unexpected result", d);
    }
    if (read.result != userCanceledErr) FUZZ_CHECK(read.messages.empty(), d);
    // FilterFile and ReadStart look at the same first card.
    if (filter.result == formatCannotRead) FUZZ_CHECK(read.result == formatCannotRead, d);
    if (filter.result == noErr) FUZZ_CHECK(read.result != formatCannotRead, d);
    if (!road.gzip && size < 80) FUZZ_CHECK(read.result == eofErr, d);
}

void checkOpened(Host& host, const Outcome& read, const Road& road) {
    const std::string d = describe(read);
    const Image& image = host.document().image;
    FUZZ_CHECK(image.rows == read.told.rows && image.columns == read.told.columns, d);
    FUZZ_CHECK(read.rowsMoved == int64_t{read.told.rows} * read.told.planes, d);
    uint32_t headerLength = module_state::peekHeaderLength(host).value_or(0);
    FUZZ_CHECK(headerLength > 0 && headerLength % 2880 == 0, d);
    if (road.fitsSize > 0)
        FUZZ_CHECK(headerLength <= road.fitsSize, d + "\n  header length " + std::to_string(headerLength));
    const auto& records = host.document().resources[kHistoryResource];
    FUZZ_CHECK(records.size() == headerLength / 80,
               d + "\n  " + std::to_string(records.size()) + " records for " +
                   std::to_string(headerLength) + " header bytes");
}

// 32-bit documents: the same bits, any NaN for any NaN.
bool sameFloats(const std::vector<float>& a, const std::vector<float>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::isnan(a[i]) && std::isnan(b[i])) continue;
        if (std::memcmp(&a[i], &b[i], sizeof(float)) != 0) return false;
    }
    return true;
}

// How the saved file opens to the same document: without options when the
// read had none; else the way up the open resolved (the save writes the
// rows back in the file's order) and the document's own depth, for a
// depth other than the file's (a 32-bit or 8-bit document of 16-bit data)
// opens only when asked. Planes, image and mapping are the saved file's.
Descriptor reopeningOptions(const Outcome& read, const Image& image) {
    Descriptor d;
    if (!read.recorded) return d;
    if (const DescriptorItem* orientation = read.recorded->find(fourCharCode("nbOr"))) d.put(*orientation);
    const char* depth = image.depth == 8 ? "nb08" : image.depth == 16 ? "nb16" : "nb32";
    d.put(DescriptorItem::ofEnumerated(fourCharCode("nbDp"), fourCharCode("nbTD"), fourCharCode(depth)));
    return d;
}

// Save what was opened and open the saved file again: the same image.
void checkRoundTrip(Host& host, const Outcome& read, bool options) {
    Document opened = host.takeDocument();
    File saved = File::memory();
    Outcome save = host.save(opened, saved);
    checkClean(save, "save of an opened file");
    FUZZ_CHECK(save.ok(), "save of an opened file: " + describe(save));
    FUZZ_CHECK(saved.contents().size() % 2880 == 0,
               "saved size " + std::to_string(saved.contents().size()));
    File again = File::memory(saved.contents());
    host.setup().script.descriptor = options ? reopeningOptions(read, opened.image) : Descriptor{};
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
    FUZZ_CHECK(back.narrow == before.narrow && back.wide == before.wide && sameFloats(back.real, before.real),
               "samples changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Host& host = sharedHost();
    host.setup().maxImageBytes = kMaxImageBytes;
    if (size == 0) return 0;
    const uint8_t pick = data[size - 1];
    host.setup().coordinates32 = (pick & 4) == 0;
    size_t fileSize = size - 1;
    const std::optional<Descriptor> options = optionsTail(data, fileSize);
    host.setup().script.descriptor = options.value_or(Descriptor{});
    std::vector<uint8_t> bytes(data, data + fileSize);
    Road road;
    road.options = options.has_value();
    road.lengthKnown = (pick & 1) != 0;
    road.fitsSize = bytes.size();
    // The keyword alone: the card's value indicator may be damaged in ways
    // the module still reads past.
    static const std::string zimage = "ZIMAGE";
    road.tiled = std::search(bytes.begin(), bytes.end(), zimage.begin(), zimage.end()) != bytes.end();
    if ((pick & 2) != 0) {
        bytes = gzipOf(bytes);
        if (bytes.empty()) return 0;
        road.gzip = true;
    } else if (bytes.size() >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) {
        road.gzip = true;
        road.fitsSize = 0;  // whatever it inflates to
    }
    std::string path;
    if (road.lengthKnown && writeDiskCopy(bytes)) path = diskCopyPath();

    File probe = File::memory(bytes, path);
    Outcome filter = host.filterFile(probe);
    checkClean(filter, "FilterFile");
    FUZZ_CHECK(filter.result == noErr || filter.result == formatCannotRead || filter.result == eofErr ||
                   (road.gzip && filter.result == readErr),
               "FilterFile: " + describe(filter));

    File file = File::memory(std::move(bytes), path);
    Outcome read = host.read(file);
    checkRead(filter, read, road);
    if (read.ok()) {
        checkOpened(host, read, road);
        checkRoundTrip(host, read, road.options);
    }
    return 0;
}
