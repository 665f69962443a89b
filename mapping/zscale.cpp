#include "mapping/zscale.h"

#include <algorithm>
#include <cmath>

namespace nebulite::mapping {

void ZscaleSampler::reset(uint64_t expected) {
    positionalTaken_ = 0;
    expected_ = expected;
    stride_ = std::max<uint64_t>(1, expected / kZscaleSamples);
    seen_ = 0;
    next_ = 0;
    visited_ = 0;
    finiteKept_ = 0;
    finiteStride_ = 1;
    finiteSeen_ = 0;
}

void ZscaleSampler::add(std::span<const double> values) {
    const uint64_t end = seen_ + values.size();
    while (visited_ < kZscaleSamples && next_ < end) {
        double v = values[static_cast<std::size_t>(next_ - seen_)];
        if (std::isfinite(v)) positional_[positionalTaken_++] = v;
        ++visited_;
        next_ += stride_;
    }
    seen_ = end;
    for (double v : values) {
        if (!std::isfinite(v)) continue;
        if (finiteSeen_ % finiteStride_ == 0) {
            if (finiteKept_ == kFiniteKept) {
                // Keep every other one: the kept values stay at multiples of the stride.
                for (std::size_t i = 0; i < kFiniteKept / 2; ++i) finite_[i] = finite_[2 * i];
                finiteKept_ = kFiniteKept / 2;
                finiteStride_ *= 2;
            }
            if (finiteSeen_ % finiteStride_ == 0) finite_[finiteKept_++] = v;
        }
        ++finiteSeen_;
    }
}

std::size_t ZscaleSampler::samples(std::span<double, kZscaleSamples> out) const {
    // Nothing blank, and as many values as announced: the positions were astropy's.
    if (finiteSeen_ == seen_ && seen_ == expected_) {
        std::copy_n(positional_.begin(), positionalTaken_, out.begin());
        return positionalTaken_;
    }
    const uint64_t stride = std::max<uint64_t>(1, finiteSeen_ / kZscaleSamples);
    std::size_t n = 0;
    for (uint64_t position = 0; n < kZscaleSamples && position < finiteSeen_; position += stride) {
        uint64_t kept = (position + finiteStride_ / 2) / finiteStride_;
        out[n++] = finite_[static_cast<std::size_t>(std::min<uint64_t>(kept, finiteKept_ - 1))];
    }
    return n;
}

namespace {

struct Line {
    double slope = 0.0;
    double intercept = 0.0;
};

// Least squares over the points not rejected; x is the index.
Line fitLine(std::span<const double> y, std::span<const bool> rejected) {
    double n = 0.0, sx = 0.0, sy = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (rejected[i]) continue;
        n += 1.0;
        sx += static_cast<double>(i);
        sy += y[i];
    }
    double mx = sx / n, my = sy / n;
    double sxx = 0.0, sxy = 0.0;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (rejected[i]) continue;
        double dx = static_cast<double>(i) - mx;
        sxx += dx * dx;
        sxy += dx * (y[i] - my);
    }
    Line line;
    line.slope = sxx > 0.0 ? sxy / sxx : 0.0;
    line.intercept = my - line.slope * mx;
    return line;
}

// The population standard deviation of the residuals of the points kept.
double residualSpread(std::span<const double> residual, std::span<const bool> rejected) {
    double n = 0.0, sum = 0.0;
    for (std::size_t i = 0; i < residual.size(); ++i) {
        if (rejected[i]) continue;
        n += 1.0;
        sum += residual[i];
    }
    double mean = sum / n, squares = 0.0;
    for (std::size_t i = 0; i < residual.size(); ++i)
        if (!rejected[i]) squares += (residual[i] - mean) * (residual[i] - mean);
    return std::sqrt(squares / n);
}

// Every rejected point rejects the window around it, as numpy's
// convolve(mask, ones(grow), 'same') does: point i is rejected when any of
// points i - grow/2 .. i + (grow-1)/2 was.
void growRejections(std::span<bool> rejected, std::size_t grow) {
    std::array<bool, kZscaleSamples> before{};
    std::copy(rejected.begin(), rejected.end(), before.begin());
    const std::size_t n = rejected.size();
    const std::size_t back = grow / 2, ahead = (grow - 1) / 2;
    for (std::size_t i = 0; i < n; ++i) {
        std::size_t from = i >= back ? i - back : 0;
        std::size_t to = std::min(n - 1, i + ahead);
        bool any = false;
        for (std::size_t j = from; j <= to; ++j) any = any || before[j];
        rejected[i] = any;
    }
}

double median(std::span<const double> sorted) {
    std::size_t n = sorted.size();
    return n % 2 == 1 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2.0;
}

}  // namespace

ZscaleLimits zscaleLimits(std::span<const double> samplesIn) {
    std::array<double, kZscaleSamples> buffer{};
    const std::size_t n = std::min(samplesIn.size(), kZscaleSamples);
    if (n == 0) return {};
    std::copy_n(samplesIn.begin(), n, buffer.begin());
    std::span<double> samples(buffer.data(), n);
    std::sort(samples.begin(), samples.end());

    ZscaleLimits limits{samples.front(), samples.back(), true};
    const std::size_t minPixels =
        std::max(kZscaleMinPixels, static_cast<std::size_t>(static_cast<double>(n) * kZscaleMaxReject));
    const std::size_t grow = std::max<std::size_t>(1, static_cast<std::size_t>(static_cast<double>(n) * 0.01));

    std::array<bool, kZscaleSamples> rejectedBuffer{};
    std::span<bool> rejected(rejectedBuffer.data(), n);
    std::array<double, kZscaleSamples> residualBuffer{};
    std::span<double> residual(residualBuffer.data(), n);
    std::size_t good = n, lastGood = n + 1;
    Line line;
    for (int iteration = 0; iteration < kZscaleIterations; ++iteration) {
        if (good >= lastGood || good < minPixels) break;
        line = fitLine(samples, rejected);
        for (std::size_t i = 0; i < n; ++i)
            residual[i] = samples[i] - (line.slope * static_cast<double>(i) + line.intercept);
        double threshold = kZscaleRejection * residualSpread(residual, rejected);
        for (std::size_t i = 0; i < n; ++i)
            if (residual[i] < -threshold || residual[i] > threshold) rejected[i] = true;
        growRejections(rejected, grow);
        lastGood = good;
        good = static_cast<std::size_t>(std::count(rejected.begin(), rejected.end(), false));
    }
    if (good >= minPixels) {
        double slope = line.slope / kZscaleContrast;
        auto center = static_cast<double>((n - 1) / 2);
        double mid = median(samples);
        limits.low = std::max(limits.low, mid - (center - 1.0) * slope);
        limits.high = std::min(limits.high, mid + (static_cast<double>(n) - center) * slope);
    }
    return limits;
}

}  // namespace nebulite::mapping
