// The midtones transfer function's automatic parameters, as PixInsight's
// ScreenTransferFunction auto-stretch and Siril's autostretch find them
// (PixInsight Reference Documentation, ScreenTransferFunction: "Auto
// Stretch"; Siril documentation: the autostretch command and the histogram
// transformation). On data normalised to [0, 1], per channel c the median
// m_c and the normalised MAD s_c = 1.4826 MAD_c; with C the shadows
// clipping (-2.8, in those sigma units) and B the target background (0.25),
// linked over the channels (one transform for all three):
//
//   not inverted (some channel's median at most 0.5):
//     shadows    c0 = mean over c of (m_c + C s_c), a channel with s_c = 0
//                     adding 0; clamped to [0, 1]
//     highlights c1 = 1
//     midtone    m  = MTF(B, mean(m_c) - c0)
//   inverted (every median above 0.5):
//     shadows 0, highlights c1 = mean over c of (m_c - C s_c) (1 where
//     s_c = 0), clamped, and m = MTF(c1 - mean(m_c), B)
//
// and a sample x goes to MTF(m, (x - c0) / (c1 - c0)) (curves.h). MTF(B, d)
// is the midtone that takes d to B, so the background, d above the
// shadows, shows at about B.
#pragma once

#include <span>

#include "mapping/robust_statistics.h"

namespace nebulite::mapping {

inline constexpr double kShadowsClipping = -2.8;
inline constexpr double kTargetBackground = 0.25;

struct MtfParameters {
    double shadows = 0.0;     // c0, normalised
    double highlights = 1.0;  // c1, normalised
    double midtone = 0.5;     // m
};

// From each channel's median and MADN, normalised to [0, 1].
MtfParameters autoMtf(std::span<const RobustStatistics> channels, double shadowsClipping = kShadowsClipping,
                      double targetBackground = kTargetBackground);

}  // namespace nebulite::mapping
