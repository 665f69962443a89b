// Open options measured against the file: every automatic choice made, every
// choice checked, and what the read needs to know worked out once.
#pragma once

#include <array>
#include <cstdint>

#include "options/cfa_pattern.h"
#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/hdu_choice.h"
#include "options/open_options.h"

namespace nebulite::options {

struct ResolvedOpen {
    // The options with nothing left automatic: what a descriptor records, and
    // what opens this file the same way again. Canonical (open_options.h).
    OpenOptions chosen;

    uint32_t hdu = 0;
    // The planes read from the file, counted from 1, in document order
    // (red, green, blue); planeCount is 1 or 3.
    uint8_t planeCount = 1;
    std::array<uint32_t, 3> planes{1, 0, 0};
    // 1 grey, 3 RGB (also for a demosaiced mosaic).
    uint8_t documentPlanes = 1;
    uint8_t depth = 16;  // 8, 16 or 32
    // The document's first row is the file's last.
    bool flipRows = false;
    // The mosaic's colour cell at the file's first stored row and column
    // (offsets and row order applied); none when not demosaicing.
    CfaPattern mosaic = CfaPattern::none;
};

enum class OpenProblem : uint8_t {
    none,
    invalidOptions,  // wrong whatever the file (validate.h)
    noImage,         // automatic, and the file has no image: the read words this itself today
    noSuchHdu,
    notAnImage,
    planes,          // a plane the image does not have
    mosaic,          // demosaicing asked of an image that is not one plane
};

struct OpenResolution {
    ResolvedOpen resolved;
    OpenProblem problem = OpenProblem::none;
    Message message;

    bool ok() const { return problem == OpenProblem::none; }
};

OpenResolution resolve(const OpenOptions& options, const FileFacts& file);

// Once the data has been measured, the black and white points (and mtf's
// midtone) actually used replace the interval that found them, so that the
// options a descriptor records open the file to the same document without
// measuring again. For stretch range there are no points, and nothing
// changes; nor when the points are empty (black not below white).
void recordMappingPoints(ResolvedOpen& resolved, double black, double white, double midtone);

}  // namespace nebulite::options
