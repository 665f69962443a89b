// What `nebulite info` says of a colour-filter mosaic: the pattern the
// header names, where it falls at the first stored pixel, and what an open
// with --debayer auto makes of the image. Read from the image's cards with
// the module's own header rules and the options library's mosaic rules, so
// that it says what the module will do.
#pragma once

#include <string>
#include <vector>

namespace nebulite::cli {

struct MosaicInfo {
    bool hasBayerpat = false;   // a BAYERPAT card, whatever its value
    std::string bayerpat;       // its value as written (quotes and trailing blanks gone)
    std::string pattern;        // the Bayer pattern it names, or empty
    long long xOffset = 0;      // XBAYROFF (0 when absent)
    long long yOffset = 0;      // YBAYROFF
    std::string rowOrder;       // "TOP-DOWN", "BOTTOM-UP", "other", or empty when absent
    std::string doubts;         // what the header leaves in doubt, as the open dialog says it
    bool autoDemosaics = false;  // --debayer auto opens it in colour
    std::string firstPixel;     // the pattern at the first stored pixel, when it does
    std::string autoSays;       // one line: what --debayer auto does, and why
};

// `cards`: the image's header, 80 columns a card, up to END.
MosaicInfo mosaicInfo(const std::vector<std::string>& cards);

}  // namespace nebulite::cli
