// Which HDU an image choice names, among the HDUs a file holds.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "options/open_options.h"

namespace nebulite::options {

// True when the HDU's EXTNAME is `name` (ASCII letters in either case,
// trailing blanks meaning nothing, as astropy and cfitsio compare them) and,
// when `extver` is given, its EXTVER is that.
bool hduIsNamed(const HduFacts& hdu, const ExtName& name, std::optional<int32_t> extver);

// The image every open took before there were options: the primary unless
// it holds no data (NAXIS = 0), else the first image extension (compressed
// or not) with two or more axes. Nothing when there is none.
std::optional<uint32_t> automaticImage(std::span<const HduFacts> hdus);

// Why an image choice fails, for a caller that words some failures itself.
enum class ImageProblem : uint8_t {
    none,
    noImage,     // automatic, and the file has no image to open
    noSuchHdu,   // a number or name no HDU has
    notAnImage,  // the HDU chosen is a table, or holds no data
};

struct ImageFound {
    uint32_t hdu = 0;
    ImageProblem problem = ImageProblem::none;
    Message message;
};

ImageFound findImage(const ImageChoice& choice, std::span<const HduFacts> hdus);

}  // namespace nebulite::options
