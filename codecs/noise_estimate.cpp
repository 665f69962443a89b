#include "codecs/noise_estimate.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace nebulite::codecs {

namespace {

// The shortest row the estimate works on.
constexpr size_t kMinRow = 9;

// The shape the estimate works on: rows of at least kMinRow, or one row.
struct Shape {
    size_t nx;
    size_t ny;
};
Shape shapeOf(size_t columns, size_t rows) {
    return columns < kMinRow ? Shape{columns * rows, 1} : Shape{columns, rows};
}

// Wirth's selection as Numerical Recipes (8.5) gives it and cfitsio runs it:
// the element of rank (n - 1) / 2, the array partly reordered. The exact
// sequence of swaps matters (see the header); every loop stops at an
// element its own comparison has already failed on, so it never leaves the
// array, NaN or not.
template <typename T>
T quickSelect(T* a, size_t n) {
    size_t low = 0, high = n - 1;
    const size_t median = (low + high) / 2;
    for (;;) {
        if (high <= low) return a[median];
        if (high == low + 1) {
            if (a[low] > a[high]) std::swap(a[low], a[high]);
            return a[median];
        }
        // The median of the first, middle and last to the first place, the
        // smallest of them after it, the largest last.
        const size_t middle = (low + high) / 2;
        if (a[middle] > a[high]) std::swap(a[middle], a[high]);
        if (a[low] > a[high]) std::swap(a[low], a[high]);
        if (a[middle] > a[low]) std::swap(a[middle], a[low]);
        std::swap(a[middle], a[low + 1]);
        // Partition around a[low], swapping from both ends.
        size_t ll = low + 1, hh = high;
        for (;;) {
            do ++ll;
            while (a[low] > a[ll]);
            do --hh;
            while (a[hh] > a[low]);
            if (hh < ll) break;
            std::swap(a[ll], a[hh]);
        }
        std::swap(a[low], a[hh]);
        if (hh <= median) low = ll;
        if (hh >= median) high = hh - 1;
    }
}

// The median of the per-row values, as the mean of the two middle ones.
bool medianOf(double* v, size_t n, double& out) {
    if (n <= 1) {
        out = n == 0 ? 0.0 : v[0];
        return !std::isnan(out);
    }
    for (size_t i = 0; i < n; ++i)
        if (std::isnan(v[i])) return false;
    std::sort(v, v + n);
    out = (v[(n - 1) / 2] + v[n / 2]) / 2.0;
    return true;
}

template <typename T>
NoiseEstimate estimate(std::span<const T> tile, size_t columns, size_t rows, std::span<uint8_t> scratch) {
    NoiseEstimate e;
    const Shape s = shapeOf(columns, rows);
    if (s.nx < kMinRow || tile.size() < s.nx * s.ny) return e;
    if (scratch.size() < noiseScratchBytes(columns, rows, sizeof(T))) return NoiseEstimate{0, 0, 0, false};
    void* start = scratch.data();
    size_t room = scratch.size();
    if (std::align(alignof(double), 3 * s.ny * sizeof(double), start, room) == nullptr)
        return NoiseEstimate{0, 0, 0, false};
    double* rows2 = static_cast<double*>(start);
    double* rows3 = rows2 + s.ny;
    double* rows5 = rows3 + s.ny;
    T* d2 = reinterpret_cast<T*>(rows5 + s.ny);
    T* d3 = d2 + s.nx;
    T* d5 = d3 + s.nx;
    // cfitsio's list of 2nd-order differences starts zeroed and is never
    // cleared between rows.
    std::fill(d2, d2 + s.nx, T(0));

    size_t nrows = 0, nrows2 = 0;
    for (size_t r = 0; r < s.ny; ++r) {
        const T* row = tile.data() + r * s.nx;
        // v[0..7] are the last eight non-null pixels before the current one.
        T v[8] = {};
        size_t seen = 0, nvals = 0, nvals2 = 0;
        for (size_t i = 0; i < s.nx; ++i) {
            const T x = row[i];
            if (std::isnan(x)) continue;
            if (seen < 8) {
                v[seen++] = x;
                continue;
            }
            // With x as the ninth: v1..v8 are v[0..7], the centre is v5 = v[4].
            const T v1 = v[0], v3 = v[2], v4 = v[3], v5 = v[4], v6 = v[5], v7 = v[6];
            if (!(v5 == v6 && v6 == v7)) d2[nvals2++] = std::fabs(v5 - v7);
            if (!(v3 == v4 && v4 == v5 && v5 == v6 && v6 == v7)) {
                d3[nvals] = std::fabs(T(2) * v5 - v3 - v7);
                d5[nvals] = std::fabs(T(6) * v5 - T(4) * v3 - T(4) * v7 + v1 + x);
                ++nvals;
            }
            std::copy(v + 1, v + 8, v);
            v[7] = x;
        }
        if (nvals == 0) continue;
        if (nvals == 1) {
            if (nvals2 == 1) rows2[nrows2++] = static_cast<double>(d2[0]);
            rows3[nrows] = static_cast<double>(d3[0]);
            rows5[nrows] = static_cast<double>(d5[0]);
        } else {
            // cfitsio's count for the 2nd-order median is the 3rd-order one.
            if (nvals2 > 1) rows2[nrows2++] = static_cast<double>(quickSelect(d2, nvals));
            rows3[nrows] = static_cast<double>(quickSelect(d3, nvals));
            rows5[nrows] = static_cast<double>(quickSelect(d5, nvals));
        }
        ++nrows;
    }
    double m2 = 0, m3 = 0, m5 = 0;
    if (!medianOf(rows2, nrows2, m2) || !medianOf(rows3, nrows, m3) || !medianOf(rows5, nrows, m5)) {
        e.usable = false;
        return e;
    }
    // The factors that make each median a Gaussian sigma.
    e.noise2 = 1.0483579 * m2;
    e.noise3 = 0.6052697 * m3;
    e.noise5 = 0.1772048 * m5;
    return e;
}

}  // namespace

size_t noiseScratchBytes(size_t columns, size_t rows, size_t valueBytes) {
    const Shape s = shapeOf(columns, rows);
    if (s.nx < kMinRow) return 0;
    return 3 * s.ny * sizeof(double) + 3 * s.nx * valueBytes + alignof(double);
}

NoiseEstimate estimateNoise(std::span<const float> tile, size_t columns, size_t rows, std::span<uint8_t> scratch) {
    return estimate(tile, columns, rows, scratch);
}
NoiseEstimate estimateNoise(std::span<const double> tile, size_t columns, size_t rows, std::span<uint8_t> scratch) {
    return estimate(tile, columns, rows, scratch);
}

}  // namespace nebulite::codecs
