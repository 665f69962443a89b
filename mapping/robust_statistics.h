// Order statistics read from a ValueHistogram, as numpy computes them on
// the data itself:
//
//   percentile q   the value at rank h = (n - 1) q / 100, interpolated
//                  linearly between the values at floor(h) and floor(h) + 1
//                  (numpy.percentile's default); astropy's
//                  PercentileInterval(P) takes q = (100 - P) / 2 and 100 - q
//   median         numpy.median: the middle value, or the mean of the two
//   MAD            the median of |v - median|
//   MADN           1.4826 MAD, the standard deviation of normal noise
//
// Each is within the histogram's bin width w of numpy's on the same data
// (the MAD within 2w), and exact for integer data of at most 65536 levels.
#pragma once

#include <cstdint>

#include "mapping/value_histogram.h"

namespace nebulite::mapping {

inline constexpr double kMadToSigma = 1.4826;

// q in [0, 100]; NaN without values.
double percentile(const ValueHistogram& histogram, PlaneSet planes, double q);

struct RobustStatistics {
    double median = 0.0;
    double madn = 0.0;
};

// NaN for both without values.
RobustStatistics robustStatistics(const ValueHistogram& histogram, PlaneSet planes);

}  // namespace nebulite::mapping
