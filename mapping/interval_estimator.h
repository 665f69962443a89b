// Everything the stretches need to know about the data, gathered in one
// pass over its rows before the document gets its first row: the exact
// minimum and maximum, zscale's samples, and a histogram for percentiles and
// for mtf's median and MAD. Blanks (NaN) and infinities are left out of all
// of them; the caller opens them as 0.
//
// Memory: about 1.5 MiB (the histogram's 3 x 65536 counts, zscale's 5096
// kept values),
// whatever the size of the image; allocate the object where the module
// keeps its working memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "mapping/auto_mtf.h"
#include "mapping/value_histogram.h"
#include "mapping/zscale.h"

namespace nebulite::mapping {

// Black and white points in physical values; white may equal black (an
// image of one value: everything maps to 0).
struct Window {
    double black = 0.0;
    double white = 0.0;
};

struct EstimatorSetup {
    // Every value that will be fed, blanks included, in all planes: zscale's
    // stride comes from it.
    uint64_t expectedValues = 0;
    std::size_t planes = 1;  // 1 or 3: the document's planes
    // For integer samples: the values they can take, which makes the
    // histogram exact for 8- and 16-bit data.
    std::optional<Lattice> lattice;
};

// What mtf runs with, in physical values: the window after the shadows (and
// highlights) clipping, and the midtones balance.
struct MtfSettings {
    Window window;
    double midtone = 0.5;
};

class IntervalEstimator {
public:
    void begin(const EstimatorSetup& setup);
    // One row of one plane, in the file's order (plane by plane for a cube,
    // as it is stored): zscale's samples follow that order.
    void addRow(std::size_t plane, std::span<const double> values);

    uint64_t definedCount() const { return histogram_.count(std::nullopt); }

    // Nothing without a defined value.
    std::optional<Window> minmax() const;
    // astropy PercentileInterval(percent) over all planes.
    std::optional<Window> centralPercent(double percent) const;
    std::optional<Window> zscale() const;
    // A plane's median and MADN, physical.
    RobustStatistics statistics(std::size_t plane) const;
    // mtf's automatic shadows, highlights and midtone (auto_mtf.h) over the
    // data normalised by `window`, linked over the planes.
    std::optional<MtfSettings> autoMtf(const Window& window) const;

    // The largest error of a percentile or median (the MAD's is twice it):
    // 0 when exact.
    double orderStatisticError() const { return histogram_.binWidth(); }

private:
    ValueHistogram histogram_;
    ZscaleSampler sampler_;
    std::size_t planes_ = 1;
    // Finite values of the row being added, gathered in slices of this many.
    static constexpr std::size_t kSlice = 4096;
};

}  // namespace nebulite::mapping
