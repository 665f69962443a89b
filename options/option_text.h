// Option values as the command line spells them: each parsed from its text
// (a value, or a message naming what was wrong) and formatted back to the
// text that parses to it again.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "options/fixed_text.h"
#include "options/open_options.h"
#include "options/option_words.h"
#include "options/save_options.h"

namespace nebulite::options {

// One argument's text: an EXTNAME quoted with every quote doubled, and
// ",EXTVER", fits.
using ArgText = FixedText<160>;

// auto | N | EXTNAME[,EXTVER] | 'EXTNAME'[,EXTVER]. A name that would read
// as something else (digits, "auto", a comma, a leading quote, blanks at
// either end) is written in single quotes, a quote inside doubled, as FITS
// writes string values.
Checked<ImageChoice> parseImage(std::string_view text);
ArgText formatImage(const ImageChoice& image);

// A plane number, counted from 1.
Checked<uint32_t> parsePlane(std::string_view text);
// auto | R,G,B
Checked<PlaneChoice> parsePlanes(std::string_view text);

// A finite decimal number, as from_chars reads it.
Checked<double> parseNumber(std::string_view text);
ArgText formatNumber(double value);

// auto | minmax | zscale | P (a central percentage, "%" allowed after it).
Checked<IntervalChoice> parseInterval(std::string_view text);

// auto | ROWSxCOLS
Checked<std::optional<TileSize>> parseTile(std::string_view text);
ArgText formatTile(const std::optional<TileSize>& tile);

// The enumerated options by their words (option_words.h); letters in
// either case are accepted.
template <typename Enum, std::size_t N>
Checked<Enum> parseWord(const std::array<OptionWord<Enum>, N>& table, std::string_view text, std::string_view what);

Checked<Orientation> parseOrientation(std::string_view text);
Checked<Stretch> parseStretch(std::string_view text);
Checked<Depth> parseDepth(std::string_view text);
Checked<Debayer> parseDebayer(std::string_view text);
Checked<Demosaic> parseDemosaic(std::string_view text);
Checked<FloatBitpix> parseFloatBitpix(std::string_view text);
Checked<Compression> parseCompression(std::string_view text);

// ---- Template definitions ----------------------------------------------------------

bool sameWord(std::string_view text, std::string_view word);

template <typename Enum, std::size_t N>
Checked<Enum> parseWord(const std::array<OptionWord<Enum>, N>& table, std::string_view text, std::string_view what) {
    for (const OptionWord<Enum>& w : table)
        if (sameWord(text, w.word)) return Checked<Enum>::of(w.value);
    Message m = compose(what, " is one of ");
    for (std::size_t i = 0; i < N; ++i) m.append(i == 0 ? "" : "|").append(table[i].word);
    m.append(", not '").appendPrintable(text).append("'");
    return Checked<Enum>::failure(m);
}

}  // namespace nebulite::options
