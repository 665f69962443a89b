#include "document/kept_header.h"

#include <cstring>

#include "document/history.h"
#include "document/whole_header.h"
#include "header/card_buffer.h"
#include "header/card_text.h"
#include "platform/win32.h"
#include "shell/host_services.h"
#include "header/fits_units.h"

namespace nebulite {

namespace {

constexpr const char* kHeaderNotKept =
    "The FITS header could not be kept with this image: the document has no room for it. "
    "Saving the image as FITS will write a new header.";

// The cards the whole header holds: up to and including END, or every card
// of the header text when none is END.
uint32_t cardsThroughEnd(const CardBuffer& header, uint32_t cards) {
    for (uint32_t i = 0; i < cards; ++i)
        if (keywordIs(splitCard(header.cardAt(i)).keyword, "END")) return i + 1;
    return cards;
}

// The whole-header record's cards in the header text, when the document has
// a record this version reads and its 'hist' records agree with it.
bool placeWholeHeader(PluginState& state, CardBuffer& header) {
    const FormatRecord& record = *state.formatRecord;
    if (resourceCount(record.resourceProcs, kWholeHeaderResourceType) < 1) return false;
    Handle handle = resourceGet(record.resourceProcs, kWholeHeaderResourceType, 1);
    if (handle == nullptr) return false;
    Ptr address = handleLock(record.handleProcs, handle);
    int32_t size = handleSize(record.handleProcs, handle);
    std::optional<WholeHeaderCards> whole;
    if (address != nullptr && size > 0)
        whole = readWholeHeader(reinterpret_cast<const uint8_t*>(address), static_cast<size_t>(size));
    bool placed = false;
    if (whole) {
        uint64_t length = blockedCardBytes(whole->count);
        if (length == header.size() || header.resize(0, static_cast<uint32_t>(length))) {
            header.blank();
            std::memcpy(header.text(), whole->text, size_t{whole->count} * kCardBytes);
            placed = true;
        }
    }
    handleUnlock(record.handleProcs, handle);
    if (!placed || !historyAgrees(state, header.text(), whole->count)) {
        header.blank();
        return false;
    }
    state.headerLength = header.size();
    header.headerBlocks = static_cast<int32_t>(blocksFor(header.size()));
    return true;
}

}  // namespace

void storeHeaderCards(PluginState& state, const CardBuffer& header) {
    const FormatRecord& record = *state.formatRecord;
    // A host without the resource suite keeps no header at all.
    if (!resourceSuiteUsable(record.resourceProcs) || !header.held()) return;
    const auto count = static_cast<uint32_t>(header.keptBytes() / kCardBytes);
    if (addWholeHeaderRecord(state, header.text(), cardsThroughEnd(header, count)) != noErr) {
        // The image is worth more than its header: it opens all the same.
        // (A read that failed already makes no document to tell about.)
        if (state.result == noErr) MessageBoxA(nullptr, kHeaderNotKept, "Nebulite", MB_OK);
        return;
    }
    // Past the editor's resource limit the 'hist' records do not all fit;
    // none of them stays then (a partial set comes back shifted in older
    // versions), and the whole-header record carries the header alone.
    addHistoryRecords(state, header.text(), count);
}

RebuiltHeader rebuildHeaderFromResources(PluginState& state, CardBuffer& header) {
    if (placeWholeHeader(state, header)) return RebuiltHeader::whole;
    return rebuildFromHistory(state, header) ? RebuiltHeader::fromHistory : RebuiltHeader::noRoom;
}

}  // namespace nebulite
