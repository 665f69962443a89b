#include "ui/open_notes.h"

#include <optional>

#include "options/resolve_open.h"
#include "ui/image_list.h"

namespace nebulite::ui {

namespace {

// The chosen options on the selected image, with one choice made automatic.
template <typename Change>
options::OpenResolution automaticOf(const options::OpenOptions& chosen, const options::FileFacts& file, uint32_t hdu,
                                    Change change) {
    options::OpenOptions o = chosen;
    o.image = options::ImageChoice{options::ImageSelect::index, hdu, {}, std::nullopt};
    change(o);
    return options::resolve(o, file);
}

NoteText planesNote(const options::HduFacts& facts, const options::OpenResolution& automatic) {
    NoteText note;
    if (facts.naxis3 <= 1) return note.append("one plane");
    if (!automatic.ok()) return note.append("of ").appendUnsigned(facts.naxis3).append(" planes");
    const options::ResolvedOpen& r = automatic.resolved;
    note.append("auto: ");
    for (uint8_t i = 0; i < r.planeCount; ++i) note.append(i == 0 ? "" : ",").appendUnsigned(r.planes[i]);
    return note.append(" of ").appendUnsigned(facts.naxis3);
}

NoteText depthNote(const options::HduFacts& facts, const options::OpenResolution& automatic) {
    NoteText note;
    if (!automatic.ok()) return note;
    return note.append("automatic: ")
        .appendUnsigned(automatic.resolved.depth)
        .append(" bits for BITPIX ")
        .appendInteger(facts.bitpix);
}

NoteText debayerNote(const options::HduFacts& facts, const options::OpenResolution& automatic) {
    NoteText note;
    const options::Message doubts = options::mosaicDoubtText(facts.mosaicDoubts, facts.xBayerOffset, facts.yBayerOffset);
    if (facts.bayer == options::CfaPattern::none) {
        if (facts.mosaicDoubts & options::kPatternNotBayer) return note.append(doubts.view()).append(": choose one.");
        return note.append("The header names no colour-filter pattern (BAYERPAT).");
    }
    note.append("BAYERPAT is ").append(options::cfaPatternName(facts.bayer));
    // What the header leaves in doubt is said where the user decides, and
    // only there: an action played without dialogs goes on by the same rule.
    if (!doubts.empty()) note.append(", ").append(doubts.view());
    if (automatic.ok() && automatic.resolved.mosaic != options::CfaPattern::none)
        return note.append(": automatic demosaics it.");
    return note.append(": automatic demosaics one plane, not these.");
}

}  // namespace

OpenNotes openNotes(const OpenFormValues& values, const options::FileFacts& file, const options::OpenOptions& chosen) {
    OpenNotes notes;
    std::optional<uint32_t> hdu = hduOfRow(file, values.imageRow);
    if (!hdu) return notes;
    const options::HduFacts& facts = file.hdus[*hdu];
    notes.planes = planesNote(facts, automaticOf(chosen, file, *hdu, [](options::OpenOptions& o) {
                                  o.planes = {};
                                  o.debayer = options::Debayer::off;
                              }));
    notes.depth = depthNote(facts, automaticOf(chosen, file, *hdu, [](options::OpenOptions& o) {
                                o.depth = options::Depth::automatic;
                                o.mapping = {};
                            }));
    notes.debayer = debayerNote(facts, automaticOf(chosen, file, *hdu, [](options::OpenOptions& o) {
                                    o.debayer = options::Debayer::automatic;
                                }));
    return notes;
}

}  // namespace nebulite::ui
