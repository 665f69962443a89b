// Tests drive the module linked into the test program through the
// reference host, exactly as a host drives the shipped library.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/host_sdk.h"

extern "C" void ENTRYPOINT(int16_t selector, void* params, intptr_t* data, int16_t* result);

namespace testing_host {

using namespace nebulite::host;

inline const std::string kRequires25 =
    "This plug-in requires Adobe Photoshop\xAE 2.5 or later functionality.";
inline const std::string kRequires30 =
    "This plug-in requires Adobe Photoshop\xAE 3.0 or later functionality.";
inline const std::string kIncompatible =
    "This plug-in is incompatible with this version of the host program.";

inline File memoryFile(const std::vector<uint8_t>& bytes) { return File::memory(bytes); }

// A card as it comes back from its 'hist' record: column 1 is the record's
// length, the content follows, zeros read as spaces.
inline std::string cardFromRecord(const ResourceRecord& record) {
    size_t n = record.size() > 254 ? 254 : record.size();
    std::string c(80, ' ');
    c[0] = n == 0 ? ' ' : static_cast<char>(n);
    for (size_t i = 0; i < n && i + 1 < 80; ++i) c[i + 1] = record[i] == 0 ? ' ' : static_cast<char>(record[i]);
    return c;
}


// A disk copy of a file's bytes for the record's fileSpec to name, so that
// the module finds the file's length while the host serves the reads from
// memory (where they can fail or stop). Removed when it goes.
class DiskCopy {
public:
    explicit DiskCopy(const std::vector<uint8_t>& bytes) {
        static int count = 0;
        path_ = (std::filesystem::temp_directory_path() /
                 ("nebulite-copy-" + std::to_string(::getpid()) + "-" + std::to_string(++count) + ".fits"))
                    .string();
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    ~DiskCopy() { std::filesystem::remove(path_); }
    DiskCopy(const DiskCopy&) = delete;
    DiskCopy& operator=(const DiskCopy&) = delete;

    const std::string& path() const { return path_; }
    // A memory file of `bytes` whose fileSpec names this copy.
    File memory(const std::vector<uint8_t>& bytes) const { return File::memory(bytes, path_); }

private:
    std::string path_;
};

// A document of the given geometry whose samples follow a simple pattern.
inline Document patternDocument(int rows, int columns, int planes, int depth, int16_t mode) {
    Document d;
    d.image.rows = rows;
    d.image.columns = columns;
    d.image.planes = static_cast<int16_t>(planes);
    d.image.depth = static_cast<int16_t>(depth);
    d.image.mode = mode;
    d.image.allocate();
    for (int p = 0; p < planes; ++p)
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < columns; ++c)
                d.image.setSample(p, r, c,
                                  static_cast<uint32_t>((p * 7919 + r * 131 + c * 17) %
                                                        (d.image.maxSample() + 1)));
    return d;
}

}  // namespace testing_host
