#include "cli/tiff_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/tiff.h"
#include "host/host.h"

namespace nebulite::cli {

namespace tiff_support {

namespace {

TIFFExtendProc previousExtender = nullptr;

// libtiff calls this for every file it opens; the tag must be known before
// a directory is read or written for its count and bytes to pass through
// TIFFGetField and TIFFSetField.
void addHistoryTag(TIFF* tiff) {
    static const TIFFFieldInfo kFields[] = {
        {kHistoryTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("NebuliteFitsHeader")},
        {kWholeHeaderTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("NebuliteFitsWholeHeader")},
        {kOpenRecordTag, TIFF_VARIABLE2, TIFF_VARIABLE2, TIFF_UNDEFINED, FIELD_CUSTOM, 1, 1,
         const_cast<char*>("NebuliteOpenRecord")},
    };
    TIFFMergeFieldInfo(tiff, kFields, 3);
    if (previousExtender != nullptr) previousExtender(tiff);
}

void registerTags() {
    // Once per process, before the first open.
    static const bool registered = [] {
        previousExtender = TIFFSetTagExtender(addHistoryTag);
        return true;
    }();
    (void)registered;
}

int collectError(TIFF*, void* user, const char* module, const char* format, va_list args) {
    auto* messages = static_cast<Messages*>(user);
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    messages->lastError = text;
    (void)module;  // the file name or routine, which the CLI's line already says
    return 1;
}

int dropWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

}  // namespace

TiffPtr openTiff(const std::string& path, const char* mode, Messages& messages) {
    registerTags();
    bool writing = mode[0] == 'w';
    int fd = writing ? host::openToWrite(path) : ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        throw ImageError(writing ? writErr : readErr,
                         std::string("cannot ") + (writing ? "create " : "open ") + path + ": " + std::strerror(errno));
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        ::close(fd);
        return nullptr;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, collectError, &messages);
    TIFFOpenOptionsSetWarningHandlerExtR(options, dropWarning, nullptr);
    // From here on TIFFClose closes the descriptor.
    TiffPtr tiff(TIFFFdOpenExt(fd, path.c_str(), mode, options));
    TIFFOpenOptionsFree(options);
    if (!tiff) ::close(fd);
    return tiff;
}

std::string withLibtiffMessage(const std::string& what, const Messages& messages) {
    if (messages.lastError.empty()) return what;
    return what + ": " + messages.lastError;
}

}  // namespace tiff_support

// ---- The header tag ------------------------------------------------------------------

namespace {

constexpr uint8_t kHistoryMagic[4] = {'h', 'i', 's', 't'};

}  // namespace

std::vector<uint8_t> packHistory(std::span<const host::ResourceRecord> records) {
    std::vector<uint8_t> bytes(std::begin(kHistoryMagic), std::end(kHistoryMagic));
    for (const host::ResourceRecord& record : records) {
        auto size = static_cast<uint32_t>(record.size());
        for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<uint8_t>(size >> shift));
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

std::optional<std::vector<host::ResourceRecord>> unpackHistory(std::span<const uint8_t> bytes) {
    if (bytes.size() < 4 || !std::equal(bytes.begin(), bytes.begin() + 4, kHistoryMagic)) return std::nullopt;
    std::vector<host::ResourceRecord> records;
    size_t at = 4;
    while (at < bytes.size()) {
        if (bytes.size() - at < 4)
            throw ImageError(formatCannotRead, "TIFF: the FITS header tag is damaged (a record length is cut)");
        uint32_t size = uint32_t{bytes[at]} << 24 | uint32_t{bytes[at + 1]} << 16 |
                        uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
        at += 4;
        if (bytes.size() - at < size)
            throw ImageError(formatCannotRead, "TIFF: the FITS header tag is damaged (record " +
                                                   std::to_string(records.size() + 1) + " runs past its end)");
        records.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                             bytes.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
    }
    return records;
}

}  // namespace nebulite::cli
