#!/usr/bin/python3
"""Reference numbers for the mapping library, from astropy.visualization and
from the published midtones transfer function, for mapping_*_test.cpp.

    astropy_reference.py OUTDIR

writes into OUTDIR:
  stretches.txt    curve black white value midtone level16 level8: astropy's
                   ImageNormalize (LinearStretch, SqrtStretch, LogStretch(),
                   AsinhStretch(), clip=True) and, for mtf, the formula of
                   Siril's histogram transformation, taken to the document's
                   0..32768 and 0..255 with half-up rounding
  intervals.txt    one line per data set: name planes rows cols lattice_step
                   lattice_origin blanks, then minmax, zscale, 99.5 % and 90 %
                   intervals (astropy MinMaxInterval, ZScaleInterval(),
                   PercentileInterval), then the PixInsight auto-stretch
                   parameters over the minmax window: c0 c1 m, and the
                   channels' mean normalised median they came from
  NAME.f64         the data set, little-endian doubles, planes x rows x cols
  NAME.mtf.u16     its 16-bit levels under that auto-stretch, little-endian

Exit 77 (skipped) without numpy and astropy: run it with Debian's python
(/usr/bin/python3, python3-astropy, python3-numpy).

The auto-stretch, as PixInsight's ScreenTransferFunction and Siril's
autostretch describe it, linked over the channels: on data normalised to
[0, 1], per channel the median m_c and s_c = 1.4826 MAD_c; shadows
c0 = mean(m_c - 2.8 s_c) (a channel with s_c = 0 adding 0), clamped to
[0, 1]; midtone m = MTF(0.25, mean(m_c) - c0); every median above 0.5 makes
it an inverted image: c1 = mean(m_c + 2.8 s_c) (1 where s_c = 0), clamped,
and m = MTF(c1 - mean(m_c), 0.25). A value v goes to
MTF(m, (v - c0) / (c1 - c0)), MTF(m, x) = (m - 1) x / ((2m - 1) x - m).
"""

import os
import sys

SKIP = 77

try:
    import numpy as np
    from astropy.visualization import (AsinhStretch, ImageNormalize, LinearStretch, LogStretch, MinMaxInterval,
                                       PercentileInterval, SqrtStretch, ZScaleInterval)
except ImportError as e:  # pragma: no cover - depends on the machine
    print("astropy_reference: %s: skipped (needs python3-astropy and python3-numpy)" % e)
    sys.exit(SKIP)

STRETCHES = {"linear": LinearStretch(), "sqrt": SqrtStretch(), "log": LogStretch(), "asinh": AsinhStretch()}


def level(y, top):
    # Blanks (NaN) come out 0 here as in the module; the caller masks them anyway.
    return np.floor(np.nan_to_num(np.clip(y, 0.0, 1.0)) * top + 0.5).astype(np.int64)


def mtf(m, x):
    x = np.clip(np.asarray(x, dtype=np.float64), 0.0, 1.0)
    with np.errstate(divide="ignore", invalid="ignore"):
        y = (m - 1.0) * x / ((2.0 * m - 1.0) * x - m)
    return np.where(x <= 0.0, 0.0, np.where(x >= 1.0, 1.0, y))


def stretch_table(out):
    windows = [(0.0, 1.0), (-5.0, 1000.0), (100.0, 65535.0), (1e-3, 2e-3), (-3e7, -2e7)]
    with open(os.path.join(out, "stretches.txt"), "w") as f:
        for black, white in windows:
            span = white - black
            values = np.concatenate([np.linspace(black - 0.1 * span, white + 0.1 * span, 997),
                                     black + span * np.array([1e-6, 1e-4, 1e-3, 0.01, 0.999])])
            for name, stretch in STRETCHES.items():
                norm = ImageNormalize(vmin=black, vmax=white, stretch=stretch, clip=True)
                y = np.asarray(norm(values), dtype=np.float64)
                for v, a, b in zip(values, level(y, 32768), level(y, 255)):
                    f.write("%s %r %r %r 0.5 %d %d\n" % (name, black, white, v, a, b))
            for m in (0.5, 0.1, 0.02, 0.8):
                y = mtf(m, (values - black) / span)
                for v, a, b in zip(values, level(y, 32768), level(y, 255)):
                    f.write("mtf %r %r %r %r %d %d\n" % (black, white, v, m, a, b))


def auto_mtf(planes, black, white, clipping=-2.8, target=0.25):
    medians, sigmas = [], []
    for p in planes:
        x = np.clip((p[np.isfinite(p)] - black) / (white - black), 0.0, 1.0)
        if x.size == 0:
            continue
        med = np.median(x)
        medians.append(med)
        sigmas.append(1.4826 * np.median(np.abs(x - med)))
    n = len(medians)
    median = sum(medians) / n
    if not all(m > 0.5 for m in medians):
        c0 = sum(m + clipping * s if s != 0 else 0.0 for m, s in zip(medians, sigmas)) / n
        c0 = min(max(c0, 0.0), 1.0)
        return c0, 1.0, float(mtf(target, median - c0)), median
    c1 = sum(m - clipping * s if s != 0 else 1.0 for m, s in zip(medians, sigmas)) / n
    c1 = min(max(c1, 0.0), 1.0)
    return 0.0, c1, float(mtf(c1 - median, target)), median


def sky(rng, rows, cols, level_, noise, stars, peak):
    data = rng.normal(level_, noise, (rows, cols))
    yy, xx = np.mgrid[0:rows, 0:cols]
    for _ in range(stars):
        y, x = rng.uniform(0, rows), rng.uniform(0, cols)
        sigma = rng.uniform(0.8, 3.0)
        data += rng.uniform(0.02, 1.0) ** 3 * peak * np.exp(-((yy - y) ** 2 + (xx - x) ** 2) / (2 * sigma ** 2))
    return data


def data_sets():
    rng = np.random.default_rng(20260427)
    sets = []

    def add(name, data, lattice=(0.0, 0.0)):
        data = np.asarray(data, dtype=np.float64)
        if data.ndim == 2:
            data = data[np.newaxis]
        sets.append((name, data, lattice))

    add("sky_stars", sky(rng, 256, 256, 1000.0, 10.0, 200, 50000.0))
    yy, xx = np.mgrid[0:200, 0:300]
    add("gradient", 3.0 * xx + 0.5 * yy + rng.normal(0.0, 2.0, (200, 300)))
    add("constant", np.full((64, 64), 7.0))
    add("few_pixels", [[1.0, 5.0, 2.0]])
    blanks = sky(rng, 200, 240, 500.0, 8.0, 120, 20000.0)
    blanks[:, :40] = np.nan
    blanks[150:, :] = np.nan
    blanks[10, 100] = np.inf
    blanks[20, 120] = -np.inf
    add("blank_border", blanks)
    add("int16_sky", np.clip(np.round(sky(rng, 180, 220, 2000.0, 30.0, 150, 60000.0)), 0, 65535), (1.0, 0.0))
    stored = np.clip(np.round(sky(rng, 150, 150, 100.0, 6.0, 60, 30000.0)), -32768, 32767)
    add("scaled_int16", 10.0 + 0.5 * stored, (0.5, 10.0))
    add("uint8", np.clip(np.round(sky(rng, 100, 128, 30.0, 4.0, 40, 400.0)), 0, 255), (1.0, 0.0))
    add("rgb_int16", np.stack([np.clip(np.round(sky(rng, 120, 160, lv, 25.0, 80, 40000.0)), 0, 65535)
                               for lv in (1500.0, 2500.0, 1800.0)]), (1.0, 0.0))
    add("int32_wide", np.round(rng.normal(0.0, 3e5, (160, 200))), (1.0, 0.0))
    add("heavy_tail", rng.lognormal(0.0, 3.0, (180, 180)))
    add("negative", rng.normal(-500.0, 50.0, (128, 128)))
    add("bimodal", np.where(rng.uniform(size=(100, 100)) < 0.5, 0.0, 1000.0) + rng.normal(0.0, 1.0, (100, 100)))
    mostly = rng.normal(10.0, 1.0, (100, 100))
    mostly[rng.uniform(size=mostly.shape) < 0.99] = np.nan
    add("mostly_blank", mostly)
    add("all_blank", np.full((10, 10), np.nan))
    add("odd_stride", sky(rng, 707, 713, 300.0, 5.0, 300, 10000.0))
    add("inverted", 60000.0 - np.clip(np.round(sky(rng, 100, 100, 2000.0, 30.0, 50, 50000.0)), 0, 60000),
        (1.0, 0.0))
    # Most pixels on one value (a pedestal): MAD 0, so PixInsight's rule
    # leaves that channel out of the shadows clipping.
    pedestal = np.clip(np.round(sky(rng, 90, 110, 1200.0, 20.0, 40, 30000.0)), 0, 65535)
    pedestal[rng.uniform(size=pedestal.shape) < 0.6] = 1300.0
    add("pedestal", pedestal, (1.0, 0.0))
    add("pedestal_rgb", np.stack([pedestal] + [np.clip(np.round(sky(rng, 90, 110, lv, 20.0, 40, 30000.0)), 0, 65535)
                                               for lv in (1500.0, 1300.0)]), (1.0, 0.0))
    return sets


def interval_table(out):
    with open(os.path.join(out, "intervals.txt"), "w") as f:
        for name, data, (step, origin) in data_sets():
            data.astype("<f8").tofile(os.path.join(out, name + ".f64"))
            finite = data[np.isfinite(data)]
            planes, rows, cols = data.shape
            f.write("%s %d %d %d %r %r %d" % (name, planes, rows, cols, step, origin, data.size - finite.size))
            if finite.size == 0:
                f.write(" none\n")
                continue
            for interval in (MinMaxInterval(), ZScaleInterval(), PercentileInterval(99.5), PercentileInterval(90.0)):
                lo, hi = interval.get_limits(data)
                f.write(" %r %r" % (float(lo), float(hi)))
            black, white = float(finite.min()), float(finite.max())
            if white > black:
                c0, c1, m, median = auto_mtf(data, black, white)
                f.write(" %r %r %r %r" % (c0, c1, m, median))
                x = (data - black) / (white - black)
                levels = np.where(np.isfinite(data), level(mtf(m, (x - c0) / (c1 - c0)), 32768), 0)
                levels.astype("<u2").tofile(os.path.join(out, name + ".mtf.u16"))
            f.write("\n")


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    stretch_table(out)
    interval_table(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
