#include "options/hdu_choice.h"

#include <string_view>

namespace nebulite::options {

namespace {

constexpr char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string_view withoutTrailingBlanks(std::string_view s) {
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return s;
}

bool sameName(std::string_view a, std::string_view b) {
    a = withoutTrailingBlanks(a);
    b = withoutTrailingBlanks(b);
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

bool holdsImage(const HduFacts& hdu) { return hdu.kind == HduKind::image || hdu.kind == HduKind::compressedImage; }

std::string_view kindName(HduKind kind) {
    switch (kind) {
        case HduKind::asciiTable: return "an ASCII table";
        case HduKind::binaryTable: return "a binary table";
        case HduKind::other: return "an extension of a kind that holds no image";
        case HduKind::image:
        case HduKind::compressedImage: break;
    }
    return "an image";
}

// The HDU must hold an image with data; NAXIS 1 and other shapes the
// editor cannot show are refused later by the read, with its own words.
ImageFound checkImage(uint32_t index, const HduFacts& hdu) {
    if (!holdsImage(hdu))
        return {index, ImageProblem::notAnImage, compose("HDU ", index, " is ", kindName(hdu.kind), ", not an image")};
    if (hdu.naxis == 0)
        return {index, ImageProblem::notAnImage, compose("HDU ", index, " holds no image (NAXIS = 0)")};
    return {index, ImageProblem::none, {}};
}

ImageFound byNumber(uint32_t index, std::span<const HduFacts> hdus) {
    if (index >= hdus.size()) {
        if (hdus.size() == 1)
            return {index, ImageProblem::noSuchHdu, compose("HDU ", index, " asked for, but the file holds the primary HDU alone")};
        return {index, ImageProblem::noSuchHdu,
                compose("HDU ", index, " asked for, but the file holds HDUs 0 to ", hdus.size() - 1)};
    }
    return checkImage(index, hdus[index]);
}

ImageFound byName(const ExtName& name, std::optional<int32_t> extver, std::span<const HduFacts> hdus) {
    for (std::size_t i = 0; i < hdus.size(); ++i)
        if (hduIsNamed(hdus[i], name, extver)) return checkImage(static_cast<uint32_t>(i), hdus[i]);
    if (extver)
        return {0, ImageProblem::noSuchHdu, compose("no HDU has EXTNAME '", name, "' and EXTVER ", *extver)};
    return {0, ImageProblem::noSuchHdu, compose("no HDU has EXTNAME '", name, "'")};
}

}  // namespace

bool hduIsNamed(const HduFacts& hdu, const ExtName& name, std::optional<int32_t> extver) {
    if (!hdu.hasExtname || !sameName(hdu.extname.view(), name.view())) return false;
    return !extver || *extver == hdu.extver;
}

std::optional<uint32_t> automaticImage(std::span<const HduFacts> hdus) {
    if (hdus.empty()) return std::nullopt;
    if (hdus[0].naxis != 0) return 0;
    for (std::size_t i = 1; i < hdus.size(); ++i)
        if (holdsImage(hdus[i]) && hdus[i].naxis >= 2) return static_cast<uint32_t>(i);
    return std::nullopt;
}

ImageFound findImage(const ImageChoice& choice, std::span<const HduFacts> hdus) {
    switch (choice.select) {
        case ImageSelect::index: return byNumber(choice.index, hdus);
        case ImageSelect::name: return byName(choice.extname, choice.extver, hdus);
        case ImageSelect::automatic: break;
    }
    // The HDU found is held to what a number would be: a primary described
    // as anything but an image opens neither way.
    if (std::optional<uint32_t> found = automaticImage(hdus)) return checkImage(*found, hdus[*found]);
    return {0, ImageProblem::noImage, compose("the file holds no image: its primary HDU is empty and no image extension follows")};
}

}  // namespace nebulite::options
