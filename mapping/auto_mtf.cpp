#include "mapping/auto_mtf.h"

#include <algorithm>

#include "mapping/curves.h"

namespace nebulite::mapping {

MtfParameters autoMtf(std::span<const RobustStatistics> channels, double shadowsClipping, double targetBackground) {
    MtfParameters out;
    if (channels.empty()) return out;
    const auto n = static_cast<double>(channels.size());
    bool inverted = true;
    double medians = 0.0;
    for (const RobustStatistics& c : channels) {
        medians += c.median;
        inverted = inverted && c.median > 0.5;
    }
    const double median = medians / n;
    if (!inverted) {
        double shadows = 0.0;
        for (const RobustStatistics& c : channels)
            if (c.madn != 0.0) shadows += c.median + shadowsClipping * c.madn;
        out.shadows = std::clamp(shadows / n, 0.0, 1.0);
        out.midtone = midtonesTransfer(targetBackground, median - out.shadows);
        return out;
    }
    double highlights = 0.0;
    for (const RobustStatistics& c : channels) highlights += c.madn != 0.0 ? c.median - shadowsClipping * c.madn : 1.0;
    out.highlights = std::clamp(highlights / n, 0.0, 1.0);
    out.midtone = midtonesTransfer(out.highlights - median, targetBackground);
    return out;
}

}  // namespace nebulite::mapping
