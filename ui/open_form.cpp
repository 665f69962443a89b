#include "ui/open_form.h"

#include <optional>

#include "options/hdu_choice.h"
#include "options/option_text.h"
#include "options/option_words.h"
#include "options/resolve_open.h"
#include "ui/image_list.h"
#include "ui/option_labels.h"

namespace nebulite::ui {

namespace {

using options::Message;

FieldText numberText(double value) { return FieldText(options::formatNumber(value).view()); }

FieldText optionalNumberText(const std::optional<double>& value) {
    return value ? numberText(*value) : FieldText();
}

// The image the options choose, else the one the automatic choice finds,
// else the first listed.
int32_t imageRowFor(const options::FileFacts& file, const options::ImageChoice& image) {
    options::ImageFound found = options::findImage(image, file.hdus);
    if (found.problem == options::ImageProblem::none) {
        int32_t row = rowOfHdu(file, found.hdu);
        if (row >= 0) return row;
    }
    if (std::optional<uint32_t> automatic = options::automaticImage(file.hdus)) {
        int32_t row = rowOfHdu(file, *automatic);
        if (row >= 0) return row;
    }
    return listedImageCount(file) > 0 ? 0 : -1;
}

template <typename Enum, std::size_t N>
void takeSelection(Enum& field, const std::array<options::OptionWord<Enum>, N>& table, int32_t index) {
    if (const Enum* value = valueAt(table, index)) field = *value;
}

// A number field: its value, or the message naming the field.
options::Checked<double> numberField(std::string_view field, const FieldText& text) {
    options::Checked<double> n = options::parseNumber(trimmed(text.view()));
    if (!n.ok()) return options::Checked<double>::failure(options::compose(field, ": ", n.error));
    return n;
}

Message readPlanes(const OpenFormValues& values, options::PlaneChoice& planes) {
    const options::PlaneSelect* select = valueAt(options::kPlaneSelectWords, values.planes);
    if (select == nullptr) return {};
    planes = options::PlaneChoice{*select, {}};
    std::size_t count = *select == options::PlaneSelect::one ? 1 : *select == options::PlaneSelect::three ? 3 : 0;
    constexpr std::array<std::string_view, 3> kNames = {"first plane", "second plane", "third plane"};
    for (std::size_t i = 0; i < count; ++i) {
        options::Checked<uint32_t> plane = options::parsePlane(trimmed(values.plane[i].view()));
        if (!plane.ok()) return options::compose(count == 1 ? std::string_view("plane") : kNames[i], ": ", plane.error);
        planes.planes[i] = plane.value;
    }
    return {};
}

Message readMapping(const OpenFormValues& values, options::MappingChoice& mapping) {
    takeSelection(mapping.stretch, options::kStretchWords, values.stretch);
    takeSelection(mapping.interval.kind, options::kIntervalWords, values.interval);
    if (mapping.stretch == options::Stretch::range) return {};
    if (mapping.interval.kind == options::IntervalKind::percent) {
        options::Checked<double> percent = numberField("central percent", values.percent);
        if (!percent.ok()) return percent.error;
        mapping.interval.percent = percent.value;
    }
    if (mapping.interval.kind != options::IntervalKind::points) return {};
    options::Checked<double> black = numberField("black point", values.black);
    if (!black.ok()) return black.error;
    options::Checked<double> white = numberField("white point", values.white);
    if (!white.ok()) return white.error;
    mapping.interval.black = black.value;
    mapping.interval.white = white.value;
    mapping.midtone.reset();
    if (mapping.stretch == options::Stretch::mtf && !trimmed(values.midtone.view()).empty()) {
        options::Checked<double> midtone = numberField("midtones", values.midtone);
        if (!midtone.ok()) return midtone.error;
        mapping.midtone = midtone.value;
    }
    return {};
}

}  // namespace

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::array<FieldText, 3> automaticPlaneTexts(const options::FileFacts& file, int32_t row) {
    std::optional<uint32_t> hdu = hduOfRow(file, row);
    if (hdu && file.hdus[*hdu].naxis3 >= 3) return {FieldText("1"), FieldText("2"), FieldText("3")};
    return {FieldText("1"), FieldText(), FieldText()};
}

OpenFormValues openFormFrom(const options::FileFacts& file, const options::OpenOptions& options) {
    OpenFormValues v;
    v.imageRow = imageRowFor(file, options.image);
    v.planes = indexOf(options::kPlaneSelectWords, options.planes.select);
    switch (options.planes.select) {
        case options::PlaneSelect::automatic: v.plane = automaticPlaneTexts(file, v.imageRow); break;
        case options::PlaneSelect::one: v.plane[0] = numberText(options.planes.planes[0]); break;
        case options::PlaneSelect::three:
            for (std::size_t i = 0; i < 3; ++i) v.plane[i] = numberText(options.planes.planes[i]);
            break;
    }
    const options::MappingChoice& mapping = options.mapping;
    v.orientation = indexOf(options::kOrientationWords, options.orientation);
    v.stretch = indexOf(options::kStretchWords, mapping.stretch);
    v.interval = indexOf(options::kIntervalWords, mapping.interval.kind);
    v.percent = numberText(mapping.interval.percent);
    v.black = optionalNumberText(mapping.interval.black);
    v.white = optionalNumberText(mapping.interval.white);
    v.midtone = optionalNumberText(mapping.midtone);
    v.depth = indexOf(options::kDepthWords, options.depth);
    v.debayer = indexOf(options::kDebayerWords, options.debayer);
    v.demosaic = indexOf(options::kDemosaicWords, options.demosaic);
    return v;
}

OpenFormReading readOpenForm(const OpenFormValues& values, const options::FileFacts& file,
                             const options::OpenOptions& base) {
    OpenFormReading out;
    options::OpenOptions o = base;
    if (std::optional<uint32_t> hdu = hduOfRow(file, values.imageRow)) {
        // The row the base's choice finds keeps that choice (a name, or
        // automatic); another row is chosen by its number.
        options::ImageFound found = options::findImage(base.image, file.hdus);
        if (found.problem != options::ImageProblem::none || found.hdu != *hdu)
            o.image = options::ImageChoice{options::ImageSelect::index, *hdu, {}, std::nullopt};
    }
    if (Message m = readPlanes(values, o.planes); !m.empty()) {
        out.options = base;
        out.message = m;
        return out;
    }
    takeSelection(o.orientation, options::kOrientationWords, values.orientation);
    if (Message m = readMapping(values, o.mapping); !m.empty()) {
        out.options = base;
        out.message = m;
        return out;
    }
    takeSelection(o.depth, options::kDepthWords, values.depth);
    takeSelection(o.debayer, options::kDebayerWords, values.debayer);
    takeSelection(o.demosaic, options::kDemosaicWords, values.demosaic);
    out.options = options::canonical(o);
    if (options::OpenResolution r = options::resolve(out.options, file); !r.ok()) out.message = r.message;
    return out;
}

OpenFormEnables openFormEnables(const OpenFormValues& values, const options::FileFacts& file) {
    OpenFormEnables e;
    const options::PlaneSelect* planes = valueAt(options::kPlaneSelectWords, values.planes);
    bool one = planes != nullptr && *planes == options::PlaneSelect::one;
    bool three = planes != nullptr && *planes == options::PlaneSelect::three;
    e.plane = {one || three, three, three};

    const options::Stretch* stretch = valueAt(options::kStretchWords, values.stretch);
    const options::IntervalKind* interval = valueAt(options::kIntervalWords, values.interval);
    bool stretched = stretch != nullptr && *stretch != options::Stretch::range;
    e.interval = stretched;
    e.percent = stretched && interval != nullptr && *interval == options::IntervalKind::percent;
    e.points = stretched && interval != nullptr && *interval == options::IntervalKind::points;
    e.midtone = e.points && *stretch == options::Stretch::mtf;

    // Demosaicing is offered for an image whose header names a pattern, and
    // stays open while it is asked for, so that it can be turned off again.
    std::optional<uint32_t> hdu = hduOfRow(file, values.imageRow);
    bool mosaic = hdu && file.hdus[*hdu].bayer != options::CfaPattern::none;
    const options::Debayer* debayer = valueAt(options::kDebayerWords, values.debayer);
    bool demosaicing = debayer != nullptr && *debayer != options::Debayer::off;
    e.debayer = mosaic || demosaicing;
    e.demosaic = e.debayer && demosaicing;
    return e;
}

}  // namespace nebulite::ui
