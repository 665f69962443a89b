#include "options/option_text.h"

#include <charconv>
#include <cmath>
#include <system_error>

#include "options/validate.h"

namespace nebulite::options {

namespace {

constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool allDigits(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

template <typename Integer>
std::optional<Integer> wholeInteger(std::string_view text) {
    Integer value{};
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
    return value;
}

// A quoted EXTNAME from `text` (which starts with a quote): the name, and
// how many characters the quoted form took; nothing when unterminated.
std::optional<std::size_t> unquote(std::string_view text, ExtName& name) {
    for (std::size_t i = 1; i < text.size(); ++i) {
        if (text[i] != '\'') {
            name.append(text.substr(i, 1));
            continue;
        }
        if (i + 1 < text.size() && text[i + 1] == '\'') {
            name.append("'");
            ++i;
            continue;
        }
        return i + 1;
    }
    return std::nullopt;
}

bool needsQuotes(std::string_view name) {
    if (name.empty() || allDigits(name) || sameWord(name, "auto")) return true;
    if (name.front() == ' ' || name.back() == ' ' || name.front() == '\'') return true;
    return name.find(',') != std::string_view::npos;
}

Checked<ImageChoice> named(const ExtName& name, std::optional<std::string_view> extverText) {
    ImageChoice image;
    image.select = ImageSelect::name;
    image.extname = name;
    if (Message m = validateExtname(name); !m.empty()) return Checked<ImageChoice>::failure(m);
    if (extverText) {
        std::optional<int32_t> extver = wholeInteger<int32_t>(*extverText);
        if (!extver)
            return Checked<ImageChoice>::failure(
                compose("the EXTVER after the comma is a whole number, not '", *extverText, "'"));
        image.extver = extver;
    }
    return Checked<ImageChoice>::of(image);
}

Checked<ImageChoice> parseQuotedImage(std::string_view text) {
    ExtName name;
    std::optional<std::size_t> used = unquote(text, name);
    if (!used) return Checked<ImageChoice>::failure(compose("the quoted EXTNAME in '", text, "' has no closing quote"));
    std::string_view rest = text.substr(*used);
    if (rest.empty()) return named(name, std::nullopt);
    if (rest.front() != ',')
        return Checked<ImageChoice>::failure(compose("only ,EXTVER may follow a quoted EXTNAME, not '", rest, "'"));
    return named(name, rest.substr(1));
}

}  // namespace

bool sameWord(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (lower(text[i]) != lower(word[i])) return false;
    return true;
}

Checked<ImageChoice> parseImage(std::string_view text) {
    if (sameWord(text, "auto")) return Checked<ImageChoice>::of(ImageChoice{});
    if (!text.empty() && text.front() == '\'') return parseQuotedImage(text);
    if (allDigits(text)) {
        std::optional<uint32_t> index = wholeInteger<uint32_t>(text);
        if (!index || *index > kLargestNumber)
            return Checked<ImageChoice>::failure(compose("HDU ", text, " is beyond the largest HDU number, ", kLargestNumber));
        ImageChoice image;
        image.select = ImageSelect::index;
        image.index = *index;
        return Checked<ImageChoice>::of(image);
    }
    std::size_t comma = text.rfind(',');
    if (comma == std::string_view::npos) return named(ExtName(text), std::nullopt);
    return named(ExtName(text.substr(0, comma)), text.substr(comma + 1));
}

ArgText formatImage(const ImageChoice& image) {
    ArgText out;
    if (image.select == ImageSelect::automatic) return ArgText("auto");
    if (image.select == ImageSelect::index) {
        out.appendUnsigned(image.index);
        return out;
    }
    std::string_view name = image.extname.view();
    if (needsQuotes(name)) {
        out.append("'");
        for (char c : name) out.append(c == '\'' ? std::string_view("''") : std::string_view(&c, 1));
        out.append("'");
    } else {
        out.append(name);
    }
    if (image.extver) out.append(",").appendInteger(*image.extver);
    return out;
}

Checked<uint32_t> parsePlane(std::string_view text) {
    std::optional<uint32_t> plane = allDigits(text) ? wholeInteger<uint32_t>(text) : std::nullopt;
    if (!plane) return Checked<uint32_t>::failure(compose("a plane is a whole number counted from 1, not '", text, "'"));
    if (*plane == 0) return Checked<uint32_t>::failure(compose("planes are counted from 1: there is no plane 0"));
    if (*plane > kLargestNumber)
        return Checked<uint32_t>::failure(compose("plane ", *plane, " is beyond the largest plane number, ", kLargestNumber));
    return Checked<uint32_t>::of(*plane);
}

Checked<PlaneChoice> parsePlanes(std::string_view text) {
    if (sameWord(text, "auto")) return Checked<PlaneChoice>::of(PlaneChoice{});
    PlaneChoice planes;
    planes.select = PlaneSelect::three;
    std::string_view rest = text;
    for (std::size_t i = 0; i < 3; ++i) {
        std::size_t comma = rest.find(',');
        bool last = i == 2;
        if (last != (comma == std::string_view::npos))
            return Checked<PlaneChoice>::failure(compose("three planes are written R,G,B (e.g. 3,2,1), not '", text, "'"));
        Checked<uint32_t> plane = parsePlane(rest.substr(0, comma));
        if (!plane.ok()) return Checked<PlaneChoice>::failure(plane.error);
        planes.planes[i] = plane.value;
        if (!last) rest = rest.substr(comma + 1);
    }
    return Checked<PlaneChoice>::of(planes);
}

Checked<double> parseNumber(std::string_view text) {
    double value = 0.0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc{} || stop != end || !std::isfinite(value))
        return Checked<double>::failure(compose("'", text, "' is not a finite decimal number"));
    return Checked<double>::of(value);
}

ArgText formatNumber(double value) {
    ArgText out;
    out.appendNumber(value);
    return out;
}

Checked<IntervalChoice> parseInterval(std::string_view text) {
    IntervalChoice interval;
    for (IntervalKind kind : {IntervalKind::automatic, IntervalKind::minmax, IntervalKind::zscale}) {
        if (sameWord(text, wordOf(kIntervalWords, kind))) {
            interval.kind = kind;
            return Checked<IntervalChoice>::of(interval);
        }
    }
    std::string_view number = !text.empty() && text.back() == '%' ? text.substr(0, text.size() - 1) : text;
    Checked<double> percent = parseNumber(number);
    if (!percent.ok())
        return Checked<IntervalChoice>::failure(
            compose("an interval is auto, minmax, zscale or a central percentage, not '", text, "'"));
    interval.kind = IntervalKind::percent;
    interval.percent = percent.value;
    if (!(interval.percent > 0.0 && interval.percent <= 100.0))
        return Checked<IntervalChoice>::failure(
            compose("central percentage ", interval.percent, " is not above 0 and at most 100"));
    return Checked<IntervalChoice>::of(interval);
}

Checked<std::optional<TileSize>> parseTile(std::string_view text) {
    using Result = Checked<std::optional<TileSize>>;
    if (sameWord(text, "auto")) return Result::of(std::nullopt);
    std::size_t x = text.find_first_of("xX");
    std::optional<uint32_t> rows, columns;
    if (x != std::string_view::npos) {
        std::string_view r = text.substr(0, x), c = text.substr(x + 1);
        if (allDigits(r) && allDigits(c)) {
            rows = wholeInteger<uint32_t>(r);
            columns = wholeInteger<uint32_t>(c);
        }
    }
    if (!rows || !columns) return Result::failure(compose("a tile is ROWSxCOLS (e.g. 16x1024) or auto, not '", text, "'"));
    TileSize tile{*rows, *columns};
    if (tile.rows == 0 || tile.columns == 0 || tile.rows > kLargestNumber || tile.columns > kLargestNumber)
        return Result::failure(compose("tile ", text, " is not between 1x1 and ", kLargestNumber, "x", kLargestNumber));
    return Result::of(tile);
}

ArgText formatTile(const std::optional<TileSize>& tile) {
    if (!tile) return ArgText("auto");
    ArgText out;
    out.appendUnsigned(tile->rows).append("x").appendUnsigned(tile->columns);
    return out;
}

Checked<Orientation> parseOrientation(std::string_view text) { return parseWord(kOrientationWords, text, "an orientation"); }
Checked<Stretch> parseStretch(std::string_view text) { return parseWord(kStretchWords, text, "a stretch"); }
Checked<Depth> parseDepth(std::string_view text) { return parseWord(kDepthWords, text, "a depth"); }
Checked<Debayer> parseDebayer(std::string_view text) { return parseWord(kDebayerWords, text, "a debayer choice"); }
Checked<Demosaic> parseDemosaic(std::string_view text) { return parseWord(kDemosaicWords, text, "a demosaic method"); }
Checked<FloatBitpix> parseFloatBitpix(std::string_view text) {
    return parseWord(kFloatBitpixWords, text, "a floating-point BITPIX");
}
Checked<Compression> parseCompression(std::string_view text) { return parseWord(kCompressionWords, text, "a compression"); }

}  // namespace nebulite::options
