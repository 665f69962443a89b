// Tests drive the module linked into the test program through the
// reference host, exactly as a host drives the shipped library.
#pragma once

#include <cstdint>
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
