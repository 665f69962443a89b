// The image files the CLI reads and writes, one row per format: its
// extensions, its reader and writer, a line that describes it, and whether
// this build has it. formatForPath, the refusals that list the extensions,
// the help texts and the manual page (man_page.cpp) are all made from this
// table, so a format added here is offered, refused and documented alike.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "cli/fixed_text.h"
#include "cli/image_files.h"
#include "cli/pfm.h"
#include "cli/png.h"
#include "cli/pnm.h"
#include "cli/tiff.h"

#if !defined(NEBULITE_WITH_LIBPNG) || !defined(NEBULITE_WITH_LIBTIFF)
#error "cli/CMakeLists.txt defines NEBULITE_WITH_LIBPNG and NEBULITE_WITH_LIBTIFF for whatever includes this"
#endif

namespace nebulite::cli {

// Every reader takes a path and gives a document, with the FITS header the
// file carries (if any) in its records; every writer the reverse.
using ImageReader = Document (*)(const std::string& path);
using ImageWriter = void (*)(const Document& document, const std::string& path);

struct ImageCodec {
    ImageReader read = nullptr;
    ImageWriter write = nullptr;
    // Said, not found by comparing the pointers: a constant expression may
    // not compare a function's address with null where the sanitizers
    // instrument the build.
    bool present = false;
};

// A format whose library this build lacks (the Windows build has neither
// libpng nor libtiff) keeps its row without a codec: its files are then
// refused by name, not taken for files of no known kind.
#if NEBULITE_WITH_LIBPNG
inline constexpr ImageCodec kPngCodec{loadPng, savePng, true};
#else
inline constexpr ImageCodec kPngCodec{};
#endif
#if NEBULITE_WITH_LIBTIFF
inline constexpr ImageCodec kTiffCodec{loadTiff, saveTiff, true};
#else
inline constexpr ImageCodec kTiffCodec{};
#endif

struct ImageFileFormat {
    ImageFormat format;
    std::string_view name;
    // Lower case, without the dot; empty past the last (spelled out: GCC 12
    // will not take a table that leaves one to its default).
    std::array<std::string_view, 2> extensions;
    // One line for the help texts and the manual page.
    std::string_view description;
    ImageCodec codec;
    // Holds 32-bit floating-point images (the 32-bit documents) as they are.
    bool floats = false;

    constexpr bool built() const { return codec.present; }
};

// In the order the help texts list them. Every PNM row reads P5 and P6
// alike; they differ in what they write.
inline constexpr ImageFileFormat kImageFormats[] = {
    {ImageFormat::png, "PNG", {"png", ""}, "8- or 16-bit grey or RGB, FITS header in a private chunk", kPngCodec},
    {ImageFormat::pgm, "PGM", {"pgm", ""}, "grey, the host's samples exactly (binary, P5)", {loadPnm, savePgm, true}},
    {ImageFormat::ppm, "PPM", {"ppm", ""}, "RGB, the host's samples exactly (binary, P6)", {loadPnm, savePpm, true}},
    {ImageFormat::pnm, "PNM", {"pnm", ""}, "PGM or PPM, as the image is grey or RGB", {loadPnm, savePnm, true}},
    {ImageFormat::pfm, "PFM", {"pfm", ""}, "32-bit float grey or RGB, the floats exactly", {loadPfm, savePfm, true},
     true},
    {ImageFormat::tiff, "TIFF", {"tif", "tiff"}, "8-, 16- or 32-bit float grey or RGB, FITS header in tags",
     kTiffCodec, true},
};

// FITS files go through the module, never through this table.
inline constexpr std::string_view kFitsExtensions[] = {"fits", "fit", "fts"};

// The row of `format`, or null (unknown, FITS).
constexpr const ImageFileFormat* imageFileFormat(ImageFormat format) {
    for (const ImageFileFormat& f : kImageFormats)
        if (f.format == format) return &f;
    return nullptr;
}

namespace formats_detail {

constexpr bool lowerCaseWord(std::string_view text) {
    if (text.empty()) return false;
    for (char c : text)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

// formatForPath takes the first row an extension matches: no extension may
// stand in two rows, or in a row and among FITS's, and each row's format
// appears once.
constexpr bool tableIsConsistent() {
    std::array<std::string_view, std::size(kFitsExtensions) + std::size(kImageFormats) * 2> seen{};
    size_t count = 0;
    for (std::string_view fits : kFitsExtensions) seen[count++] = fits;
    for (size_t i = 0; i < std::size(kImageFormats); ++i) {
        const ImageFileFormat& f = kImageFormats[i];
        if (f.format == ImageFormat::unknown || f.format == ImageFormat::fits || f.name.empty() ||
            f.description.empty() || f.extensions[0].empty())
            return false;
        for (size_t j = 0; j < i; ++j)
            if (kImageFormats[j].format == f.format) return false;
        bool ended = false;
        for (std::string_view e : f.extensions) {
            if (e.empty()) {
                ended = true;
                continue;
            }
            if (ended || !lowerCaseWord(e)) return false;
            for (size_t k = 0; k < count; ++k)
                if (seen[k] == e) return false;
            seen[count++] = e;
        }
    }
    return true;
}
static_assert(tableIsConsistent(), "every extension names one format, in lower case");

// The separator before item `index` of `total`, as a sentence lists them:
// "a", "a or b", "a, b or c".
constexpr std::string_view listSeparator(size_t index, size_t total) {
    return index == 0 ? "" : index + 1 == total ? " or " : ", ";
}

// The formats a list names: every built one, or those of them that hold floats.
constexpr bool listed(const ImageFileFormat& f, bool floatsOnly) { return f.built() && (f.floats || !floatsOnly); }

constexpr size_t builtExtensionCount(bool floatsOnly) {
    size_t n = 0;
    for (const ImageFileFormat& f : kImageFormats)
        for (std::string_view e : f.extensions)
            if (listed(f, floatsOnly) && !e.empty()) ++n;
    return n;
}

constexpr size_t builtFormatCount(bool floatsOnly) {
    size_t n = 0;
    for (const ImageFileFormat& f : kImageFormats)
        if (listed(f, floatsOnly)) ++n;
    return n;
}

}  // namespace formats_detail

// The lists below name the formats this build has: a file of any other
// kind is one it cannot take.

// Calls visit(separator, extension) for every extension in the table's
// order, the separators those of a sentence: the man page sets the same
// list in roff.
template <typename Visit>
constexpr void forEachExtension(Visit visit, bool floatsOnly = false) {
    const size_t total = formats_detail::builtExtensionCount(floatsOnly);
    size_t index = 0;
    for (const ImageFileFormat& f : kImageFormats)
        for (std::string_view e : f.extensions)
            if (formats_detail::listed(f, floatsOnly) && !e.empty())
                visit(formats_detail::listSeparator(index++, total), e);
}

// ".png, .pgm, .ppm, .pnm, .pfm, .tif or .tiff"; `floatsOnly`: ".pfm, .tif or .tiff"
template <typename Out>
constexpr void appendExtensionList(Out& out, bool floatsOnly = false) {
    forEachExtension(
        [&out](std::string_view separator, std::string_view extension) {
            out += separator;
            out += '.';
            out += extension;
        },
        floatsOnly);
}

// "PNG, PGM, PPM, PNM, PFM or TIFF"; `floatsOnly`: "PFM or TIFF"
template <typename Out>
constexpr void appendNameList(Out& out, bool floatsOnly = false) {
    const size_t total = formats_detail::builtFormatCount(floatsOnly);
    size_t index = 0;
    for (const ImageFileFormat& f : kImageFormats) {
        if (!formats_detail::listed(f, floatsOnly)) continue;
        out += formats_detail::listSeparator(index++, total);
        out += f.name;
    }
}

// One line a format, for the help texts:
//   "  .tif .tiff  TIFF  grey or RGB, ...\n"
template <typename Out>
constexpr void appendFormatLines(Out& out) {
    constexpr size_t kExtensionColumn = 12, kNameColumn = 6;
    for (const ImageFileFormat& f : kImageFormats) {
        if (!f.built()) continue;
        size_t width = 0;
        out += "  ";
        for (std::string_view e : f.extensions) {
            if (e.empty()) continue;
            if (width > 0) {
                out += ' ';
                ++width;
            }
            out += '.';
            out += e;
            width += 1 + e.size();
        }
        for (; width < kExtensionColumn; ++width) out += ' ';
        out += f.name;
        for (size_t w = f.name.size(); w < kNameColumn; ++w) out += ' ';
        out += f.description;
        out += '\n';
    }
}

namespace formats_detail {

// The help texts are read on terminals of 80 columns.
constexpr bool formatLinesFit() {
    TextBuilder text;
    appendFormatLines(text);
    size_t column = 0;
    for (char c : text.view()) {
        column = c == '\n' ? 0 : column + 1;
        if (column >= 80) return false;
    }
    return true;
}
static_assert(formatLinesFit(), "a format's help line is wider than a terminal");

constexpr TextBuilder extensionListText() {
    TextBuilder text;
    appendExtensionList(text);
    return text;
}

constexpr TextBuilder nameListText() {
    TextBuilder text;
    appendNameList(text);
    return text;
}

constexpr TextBuilder floatExtensionListText() {
    TextBuilder text;
    appendExtensionList(text, true);
    return text;
}

constexpr TextBuilder floatNameListText() {
    TextBuilder text;
    appendNameList(text, true);
    return text;
}

}  // namespace formats_detail

inline constexpr std::string_view kImageExtensionList = kFrozenText<formats_detail::extensionListText>;
inline constexpr std::string_view kImageNameList = kFrozenText<formats_detail::nameListText>;
// The formats that hold 32-bit floating-point images.
inline constexpr std::string_view kFloatExtensionList = kFrozenText<formats_detail::floatExtensionListText>;
inline constexpr std::string_view kFloatNameList = kFrozenText<formats_detail::floatNameListText>;

}  // namespace nebulite::cli
