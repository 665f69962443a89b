// The open dialog's preview: the module renders the chosen image under the
// chosen mapping, small, and measures its histogram; the dialog only draws
// what it is given. The dialog asks again, a moment after the user last
// changed the image, the planes or the mapping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "options/fixed_text.h"
#include "options/open_options.h"

namespace nebulite::ui {

// The largest preview the dialog draws, in pixels each way: a provider
// renders the image scaled to fit (every k-th pixel or a k x k mean, as it
// likes) and keeps its aspect ratio. The dialog scales it again to its box.
inline constexpr uint32_t kPreviewSide = 256;
// Histograms of more bins are merged in runs to at most this many.
inline constexpr std::size_t kHistogramBins = 256;

struct PreviewImage {
    uint32_t width = 0;   // 1..kPreviewSide, 0 for no image
    uint32_t height = 0;  // 1..kPreviewSide
    uint8_t channels = 1; // 1 grey, 3 red, green, blue interleaved
    std::size_t rowBytes = 0;
    // Rows from the top of the document as it will open (orientation applied).
    const uint8_t* pixels = nullptr;
};

// The samples' histogram under the chosen image and planes, with the points
// the mapping runs between, all in the file's physical values (BSCALE and
// BZERO applied). For the header's range (stretch range) the points are the
// ends of that range.
struct PreviewHistogram {
    std::span<const uint32_t> counts;  // equal bins from `low` to `high`
    double low = 0.0;
    double high = 0.0;
    double black = 0.0;
    double white = 0.0;
    double midtone = 0.5;  // mtf's midtones balance as found, else 0.5
};

struct Preview {
    PreviewImage image;
    PreviewHistogram histogram;
    // Empty when rendered; else one line saying why not (shown in the dialog).
    options::Message message;
};

// Implemented by the module. The pixels and counts a render points to stay
// valid until the next render or the provider's end; the dialog copies them.
// Render is called on the dialog's thread, only with options that resolve
// against the file (options::resolve answered ok). The dialog does not answer
// the user while a render runs: it should take a fraction of a second (read
// every k-th row and column of a large image, not all of it).
class PreviewProvider {
public:
    virtual Preview render(const options::OpenOptions& options) = 0;

protected:
    ~PreviewProvider() = default;
};

}  // namespace nebulite::ui
