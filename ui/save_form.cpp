#include "ui/save_form.h"

#include "options/option_text.h"
#include "options/option_words.h"
#include "options/resolve_save.h"
#include "ui/option_labels.h"

namespace nebulite::ui {

namespace {

template <typename Enum, std::size_t N>
void takeSelection(Enum& field, const std::array<options::OptionWord<Enum>, N>& table, int32_t index) {
    if (const Enum* value = valueAt(table, index)) field = *value;
}

bool compressed(const SaveFormValues& values) {
    const options::Compression* c = valueAt(options::kCompressionWords, values.compression);
    return c != nullptr && *c != options::Compression::none;
}

// The tile the two fields give: none when both are empty.
options::Checked<std::optional<options::TileSize>> readTile(const SaveFormValues& values) {
    using Result = options::Checked<std::optional<options::TileSize>>;
    std::string_view rows = trimmed(values.tileRows.view());
    std::string_view columns = trimmed(values.tileColumns.view());
    if (rows.empty() && columns.empty()) return Result::of(std::nullopt);
    if (rows.empty() || columns.empty())
        return Result::failure(options::compose("a tile needs both rows and columns (or neither, for the automatic one)"));
    options::ArgText text;
    text.append(rows).append("x").append(columns);
    return options::parseTile(text.view());
}

}  // namespace

SaveFormValues saveFormFrom(const options::SaveOptions& options) {
    SaveFormValues v;
    v.compression = indexOf(options::kCompressionWords, options.compression);
    if (options.tile) {
        v.tileRows.appendUnsigned(options.tile->rows);
        v.tileColumns.appendUnsigned(options.tile->columns);
    }
    v.quantize = FieldText(options::formatNumber(options.quantize).view());
    v.bitpix = indexOf(options::kFloatBitpixWords, options.floatBitpix);
    v.orientation = indexOf(options::kOrientationWords, options.orientation);
    return v;
}

SaveFormReading readSaveForm(const SaveFormValues& values, const options::SaveFacts& document,
                             const options::SaveOptions& base) {
    SaveFormReading out;
    out.options = base;
    options::SaveOptions o = base;
    takeSelection(o.compression, options::kCompressionWords, values.compression);
    takeSelection(o.floatBitpix, options::kFloatBitpixWords, values.bitpix);
    takeSelection(o.orientation, options::kOrientationWords, values.orientation);
    // A field is read when it applies, as it is editable then, and not
    // otherwise: what a greyed-out field holds never matters.
    SaveFormEnables e = saveFormEnables(values, document);
    if (e.tile) {
        options::Checked<std::optional<options::TileSize>> tile = readTile(values);
        if (!tile.ok()) {
            out.message = options::compose("tile: ", tile.error);
            return out;
        }
        o.tile = tile.value;
    }
    if (e.quantize) {
        options::Checked<double> quantize = options::parseNumber(trimmed(values.quantize.view()));
        if (!quantize.ok()) {
            out.message = options::compose("quantize: ", quantize.error);
            return out;
        }
        o.quantize = quantize.value;
    }
    out.options = options::canonical(o);
    if (options::SaveResolution r = options::resolve(out.options, document); !r.ok()) out.message = r.message;
    return out;
}

SaveFormEnables saveFormEnables(const SaveFormValues& values, const options::SaveFacts& document) {
    SaveFormEnables e;
    e.tile = compressed(values);
    e.bitpix = document.depth == 32;
    e.orientation = !document.keptHeader;
    // Quantizing applies to floating-point samples: a 32-bit document whose
    // BITPIX, as chosen, is negative.
    if (e.tile && document.depth == 32) {
        options::SaveOptions o;
        takeSelection(o.floatBitpix, options::kFloatBitpixWords, values.bitpix);
        options::SaveResolution r = options::resolve(o, document);
        e.quantize = r.ok() && r.resolved.bitpix < 0;
    }
    return e;
}

SaveNotes saveNotes(const SaveFormValues& values, const options::SaveFacts& document,
                    const options::SaveOptions& chosen) {
    SaveNotes notes;
    SaveFormEnables e = saveFormEnables(values, document);
    // Neither the tile nor the BITPIX depends on the quantize level: resolved
    // with one that holds, they show while the level is still to be chosen.
    options::SaveOptions settled = chosen;
    if (settled.quantize == 0.0) settled.quantize = 1.0;
    options::SaveResolution r = options::resolve(settled, document);
    if (e.tile && r.ok() && !chosen.tile)
        notes.tile.append("automatic: ")
            .appendUnsigned(r.resolved.tileRows)
            .append(" x ")
            .appendUnsigned(r.resolved.tileColumns);
    if (e.quantize)
        notes.quantize.append("0 keeps the samples exactly (GZIP only)");
    else if (e.tile)
        notes.quantize.append("integer samples are not quantized");
    if (!e.bitpix)
        notes.bitpix.append("32-bit documents only");
    else if (r.ok())
        notes.bitpix.append("writes BITPIX ").appendInteger(r.resolved.bitpix);
    notes.orientation.append(e.orientation ? "new document" : "goes back as it opened");
    return notes;
}

}  // namespace nebulite::ui
