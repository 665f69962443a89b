#include "document/open_record.h"

#include "options/descriptor_apply.h"
#include "options/entry_bytes.h"

namespace nebulite {

namespace {

// Beside the options' own keys: how the record tells a 32-bit document's
// exponent and that its rows were turned over (the options say sky, the
// file's ROWORDER says whether that turned them).
constexpr options::FourCharCode kExponentKey = options::fourCharCode("nbSc");
constexpr options::FourCharCode kFlippedKey = options::fourCharCode("nbFl");

}  // namespace

void addOpenRecord(PluginState& state, const options::ResolvedOpen& resolved, int32_t floatExponent) {
    const FormatRecord& record = *state.formatRecord;
    // A plain open needs none: its document is what it always was.
    const bool stretched = resolved.chosen.mapping.stretch != options::Stretch::range;
    const bool demosaiced = resolved.mosaic != options::CfaPattern::none;
    if (!resolved.flipRows && resolved.depth != 32 && !stretched && !demosaiced) return;
    if (!resourceSuiteUsable(record.resourceProcs)) return;
    options::DescriptorEntries entries = options::openEntries(resolved);
    entries.add(kFlippedKey, options::DescriptorValue::ofBoolean(resolved.flipRows));
    if (resolved.depth == 32) entries.add(kExponentKey, options::DescriptorValue::ofInteger(floatExponent));
    uint8_t bytes[options::kEntryBytesMax];
    const auto size = options::encodeEntries(entries.view(), bytes);
    if (!size) return;
    Handle handle = handleNew(record.handleProcs, static_cast<int32_t>(*size));
    if (handle == nullptr) return;
    if (Ptr p = handleLock(record.handleProcs, handle); p != nullptr) {
        for (size_t i = 0; i < *size; ++i) p[i] = static_cast<char>(bytes[i]);
        resourceAdd(record.resourceProcs, kOpenRecordResourceType, handle);
        handleUnlock(record.handleProcs, handle);
    }
    handleDispose(record.handleProcs, handle);
}

std::optional<OpenRecord> readOpenRecord(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    if (!resourceSuiteUsable(record.resourceProcs)) return std::nullopt;
    if (resourceCount(record.resourceProcs, kOpenRecordResourceType) < 1) return std::nullopt;
    Handle handle = resourceGet(record.resourceProcs, kOpenRecordResourceType, 1);
    if (handle == nullptr) return std::nullopt;
    const int32_t size = handleSize(record.handleProcs, handle);
    Ptr bytes = handleLock(record.handleProcs, handle);
    std::optional<options::DescriptorEntries> entries;
    if (bytes != nullptr && size > 0)
        entries = options::decodeEntries({reinterpret_cast<const uint8_t*>(bytes), static_cast<size_t>(size)});
    if (bytes != nullptr) handleUnlock(record.handleProcs, handle);
    if (!entries) return std::nullopt;
    OpenRecord out;
    for (const options::DescriptorEntry& e : entries->view()) {
        if (e.key == kExponentKey && e.value.type == options::ValueType::integer) {
            out.floatExponent = e.value.integer;
            out.floats = true;
        } else if (e.key == kFlippedKey && e.value.type == options::ValueType::boolean) {
            out.flipped = e.value.boolean;
        } else {
            options::applyOpenKey(out.used, e.key, e.value);
        }
    }
    return out;
}

}  // namespace nebulite
