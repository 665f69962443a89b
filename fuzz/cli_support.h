// What the fuzz targets of the CLI's file readers share: the input as a
// file that the path-taking readers (libtiff, the FITS header reader) can
// open, kept in memory, and the checks every decoded image must pass.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "cli/image_files.h"

namespace fuzzing {

[[noreturn]] inline void cliFail(const char* rule, const std::string& detail) {
    std::fprintf(stderr, "\nnebulite fuzz check failed: %s\n  %s\n", rule, detail.c_str());
    std::fflush(stderr);
    std::abort();
}

#define CLI_CHECK(condition, detail)                              \
    do {                                                          \
        if (!(condition)) ::fuzzing::cliFail(#condition, detail); \
    } while (0)

// One memory-backed file for the whole process, rewritten for each input;
// its name goes through /proc so that fopen and libtiff see a plain file.
class MemoryFile {
public:
    const std::string& hold(const uint8_t* data, size_t size) {
        if (fd_ < 0) {
            fd_ = memfd_create("nebulite-fuzz", 0);
            if (fd_ < 0) cliFail("memfd_create", "no memory file");
            path_ = "/proc/self/fd/" + std::to_string(fd_);
        }
        if (ftruncate(fd_, 0) != 0) cliFail("ftruncate", path_);
        size_t done = 0;
        while (done < size) {
            ssize_t n = pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) cliFail("pwrite", path_);
            done += static_cast<size_t>(n);
        }
        return path_;
    }

private:
    int fd_ = -1;
    std::string path_;
};

// A decoded image is grey or RGB, 8 or 16 bits or 32-bit floats, within
// the host's sizes, its store exactly its geometry and every 16-bit sample
// in the host's range (floats may be anything: a 32-bit document holds
// values beyond 0..1, and the readers keep NaNs as they are).
inline void checkImage(const nebulite::cli::Image& image) {
    CLI_CHECK(image.rows >= 1 && image.columns >= 1 && image.rows <= 300000 && image.columns <= 300000,
              std::to_string(image.rows) + "x" + std::to_string(image.columns));
    CLI_CHECK(image.planes == 1 || image.planes == 3, std::to_string(image.planes));
    CLI_CHECK(image.depth == 8 || image.depth == 16 || image.depth == 32, std::to_string(image.depth));
    if (image.depth == 32) {
        CLI_CHECK(image.real.size() == image.sampleCount() && image.narrow.empty() && image.wide.empty(),
                  "32-bit store");
    } else if (image.depth == 16) {
        CLI_CHECK(image.wide.size() == image.sampleCount() && image.narrow.empty() && image.real.empty(),
                  "16-bit store");
        for (uint16_t v : image.wide) CLI_CHECK(v <= 32768, std::to_string(v));
    } else {
        CLI_CHECK(image.narrow.size() == image.sampleCount() && image.wide.empty() && image.real.empty(),
                  "8-bit store");
    }
}

// Two images alike to the bit: floats compared as their bits, so that a
// NaN equals itself and 0 differs from -0.
inline bool sameBits(const nebulite::cli::Image& a, const nebulite::cli::Image& b) {
    if (a.rows != b.rows || a.columns != b.columns || a.planes != b.planes || a.depth != b.depth ||
        a.mode != b.mode || a.narrow != b.narrow || a.wide != b.wide || a.real.size() != b.real.size())
        return false;
    return a.real.empty() || std::memcmp(a.real.data(), b.real.data(), a.real.size() * sizeof(float)) == 0;
}

// Runs `decode`; a refusal must be an ImageError with a one-line message.
template <typename Decode>
bool refusedCleanly(Decode&& decode) {
    try {
        decode();
        return false;
    } catch (const nebulite::cli::ImageError& e) {
        std::string what = e.what();
        CLI_CHECK(!what.empty() && what.find('\n') == std::string::npos, what);
        return true;
    } catch (const std::exception& e) {
        cliFail("only ImageError leaves a reader", e.what());
    }
}

}  // namespace fuzzing
