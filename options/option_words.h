// Every enumerated option's values, once: the word the command line takes,
// the code the scripting descriptor stores and the line the terminology
// shows. The command line (option_text.h) and the descriptor
// (descriptor_keys.h) both read these tables.
#pragma once

#include <array>
#include <span>
#include <string_view>

#include "options/four_char_code.h"
#include "options/open_options.h"
#include "options/save_options.h"

namespace nebulite::options {

template <typename Enum>
struct OptionWord {
    Enum value;
    std::string_view word;
    FourCharCode code;
    std::string_view description;
};

inline constexpr std::array<OptionWord<PlaneSelect>, 3> kPlaneSelectWords = {{
    {PlaneSelect::automatic, "auto", fourCharCode("nbAu"), "planes 1-3 as RGB for a cube of three or more, else plane 1"},
    {PlaneSelect::one, "one", fourCharCode("nbOn"), "one plane as grey"},
    {PlaneSelect::three, "three", fourCharCode("nbTh"), "three planes as red, green and blue"},
}};

inline constexpr std::array<OptionWord<Orientation>, 2> kOrientationWords = {{
    {Orientation::stored, "stored", fourCharCode("nbSd"), "the file's first row at the top"},
    {Orientation::sky, "sky", fourCharCode("nbSk"), "the first row at the bottom, unless ROWORDER is TOP-DOWN"},
}};

inline constexpr std::array<OptionWord<Stretch>, 6> kStretchWords = {{
    {Stretch::range, "range", fourCharCode("nbRn"), "scaling and display range from the header, as always"},
    {Stretch::linear, "linear", fourCharCode("nbLi"), "linear between black and white"},
    {Stretch::sqrt, "sqrt", fourCharCode("nbSq"), "square root"},
    {Stretch::log, "log", fourCharCode("nbLg"), "log(1 + 1000 x) / log(1001)"},
    {Stretch::asinh, "asinh", fourCharCode("nbAs"), "asinh(x / 0.1) / asinh(10)"},
    {Stretch::mtf, "mtf", fourCharCode("nbMt"), "midtones transfer function, automatic as PixInsight's STF"},
}};

inline constexpr std::array<OptionWord<IntervalKind>, 5> kIntervalWords = {{
    {IntervalKind::automatic, "auto", fourCharCode("nbAu"), "central 99.5 percent, or minmax for mtf"},
    {IntervalKind::minmax, "minmax", fourCharCode("nbMM"), "the smallest and largest value"},
    {IntervalKind::zscale, "zscale", fourCharCode("nbZs"), "IRAF's zscale"},
    {IntervalKind::percent, "percent", fourCharCode("nbPc"), "a central percentage of the values"},
    {IntervalKind::points, "points", fourCharCode("nbPt"), "explicit black and white points"},
}};

inline constexpr std::array<OptionWord<Depth>, 4> kDepthWords = {{
    {Depth::automatic, "auto", fourCharCode("nbAu"), "8 bits for BITPIX 8, else 16"},
    {Depth::bits8, "8", fourCharCode("nb08"), "8 bits per channel"},
    {Depth::bits16, "16", fourCharCode("nb16"), "16 bits per channel"},
    {Depth::bits32, "32", fourCharCode("nb32"), "32-bit floating point"},
}};

inline constexpr std::array<OptionWord<Debayer>, 6> kDebayerWords = {{
    {Debayer::off, "off", fourCharCode("nbOf"), "no demosaicing"},
    {Debayer::automatic, "auto", fourCharCode("nbAu"), "the pattern BAYERPAT names, if any"},
    {Debayer::rggb, "RGGB", fourCharCode("nbRG"), "red, green / green, blue"},
    {Debayer::bggr, "BGGR", fourCharCode("nbBG"), "blue, green / green, red"},
    {Debayer::grbg, "GRBG", fourCharCode("nbGR"), "green, red / blue, green"},
    {Debayer::gbrg, "GBRG", fourCharCode("nbGB"), "green, blue / red, green"},
}};

inline constexpr std::array<OptionWord<Demosaic>, 2> kDemosaicWords = {{
    {Demosaic::bilinear, "bilinear", fourCharCode("nbBl"), "bilinear interpolation"},
    {Demosaic::quality, "quality", fourCharCode("nbQl"), "gradient-corrected interpolation"},
}};

inline constexpr std::array<OptionWord<FloatBitpix>, 2> kFloatBitpixWords = {{
    {FloatBitpix::original, "original", fourCharCode("nbOg"), "the BITPIX the file had"},
    {FloatBitpix::minus32, "-32", fourCharCode("nbF3"), "32-bit IEEE floating point"},
}};

inline constexpr std::array<OptionWord<Compression>, 5> kCompressionWords = {{
    {Compression::none, "none", fourCharCode("nbNo"), "no compression"},
    {Compression::rice, "rice", fourCharCode("nbRi"), "RICE_1 tile compression"},
    {Compression::gzip1, "gzip1", fourCharCode("nbG1"), "GZIP_1 tile compression"},
    {Compression::gzip2, "gzip2", fourCharCode("nbG2"), "GZIP_2 tile compression (bytes shuffled)"},
    {Compression::hcompress, "hcompress", fourCharCode("nbHC"), "HCOMPRESS_1 tile compression"},
}};

template <typename Enum, std::size_t N>
constexpr const OptionWord<Enum>* wordEntry(const std::array<OptionWord<Enum>, N>& table, Enum value) {
    for (const OptionWord<Enum>& w : table)
        if (w.value == value) return &w;
    return nullptr;
}

template <typename Enum, std::size_t N>
constexpr std::string_view wordOf(const std::array<OptionWord<Enum>, N>& table, Enum value) {
    const OptionWord<Enum>* w = wordEntry(table, value);
    return w != nullptr ? w->word : std::string_view("?");
}

template <typename Enum, std::size_t N>
constexpr FourCharCode codeOf(const std::array<OptionWord<Enum>, N>& table, Enum value) {
    const OptionWord<Enum>* w = wordEntry(table, value);
    return w != nullptr ? w->code : 0;
}

// Every value of every table appears once, with a code of its own.
template <typename Enum, std::size_t N>
constexpr bool wordsAreDistinct(const std::array<OptionWord<Enum>, N>& table) {
    for (std::size_t i = 0; i < N; ++i)
        for (std::size_t j = i + 1; j < N; ++j)
            if (table[i].value == table[j].value || table[i].code == table[j].code || table[i].word == table[j].word)
                return false;
    return true;
}

static_assert(wordsAreDistinct(kPlaneSelectWords) && wordsAreDistinct(kOrientationWords) &&
              wordsAreDistinct(kStretchWords) && wordsAreDistinct(kIntervalWords) && wordsAreDistinct(kDepthWords) &&
              wordsAreDistinct(kDebayerWords) && wordsAreDistinct(kDemosaicWords) &&
              wordsAreDistinct(kFloatBitpixWords) && wordsAreDistinct(kCompressionWords));

}  // namespace nebulite::options
