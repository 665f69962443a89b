#include "export/save_choices.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "document/open_record.h"
#include "export/compressed_save.h"
#include "document/whole_header.h"
#include "export/write_layout.h"
#include "header/fits_units.h"
#include "header/header_keywords.h"
#include "options/descriptor_apply.h"
#include "shell/geometry.h"
#include "shell/handlers.h"
#include "shell/host_report.h"
#include "shell/host_services.h"
#include "shell/script_descriptor.h"

namespace nebulite {

namespace {

// Every key the save face reads, ended by 0, for openReadDescriptorProc.
constexpr std::array<options::FourCharCode, options::kDescriptorKeys.size() + 1> saveKeys() {
    std::array<options::FourCharCode, options::kDescriptorKeys.size() + 1> out{};
    size_t n = 0;
    for (const options::KeyEntry& k : options::kDescriptorKeys)
        if (k.face == options::KeyFace::save || k.face == options::KeyFace::both) out[n++] = k.key;
    return out;
}
constexpr auto kSaveKeys = saveKeys();

options::Message applyKey(void* context, options::FourCharCode key, const options::DescriptorValue& value) {
    return options::applySaveKey(*static_cast<options::SaveOptions*>(context), key, value);
}

// The BITPIX of the whole-header record the document kept, if any.
std::optional<int16_t> keptBitpix(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    if (!resourceSuiteUsable(record.resourceProcs) ||
        resourceCount(record.resourceProcs, kWholeHeaderResourceType) < 1)
        return std::nullopt;
    Handle handle = resourceGet(record.resourceProcs, kWholeHeaderResourceType, 1);
    if (handle == nullptr) return std::nullopt;
    const int32_t size = handleSize(record.handleProcs, handle);
    Ptr bytes = handleLock(record.handleProcs, handle);
    std::optional<int16_t> bitpix;
    if (bytes != nullptr && size > 0) {
        if (auto whole = readWholeHeader(reinterpret_cast<const uint8_t*>(bytes), static_cast<size_t>(size))) {
            HeaderKeywords keys;
            for (uint32_t i = 0; i < whole->count && !keys.endSeen; ++i)
                noteKeyword(whole->text + size_t{i} * kCardBytes, keys);
            if (keys.bitpixSeen && keys.bitpix >= INT16_MIN && keys.bitpix <= INT16_MAX)
                bitpix = static_cast<int16_t>(keys.bitpix);
        }
    }
    if (bytes != nullptr) handleUnlock(record.handleProcs, handle);
    return bitpix;
}

}  // namespace

void refuseSaveAsAsked(PluginState& state, std::string_view why) {
    char text[256];
    const int length = std::snprintf(text, sizeof text, "this image cannot be saved as asked: %.*s",
                                     static_cast<int>(why.size()), why.data());
    refuseThroughHost(state, std::string_view(text, length < 0 ? 0 : std::min(static_cast<size_t>(length), sizeof text - 1)));
}

options::SaveFacts saveFactsOf(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    const ImageSize size = imageSizeOf(record);
    options::SaveFacts facts;
    facts.columns = static_cast<uint32_t>(size.columns < 0 ? 0 : size.columns);
    facts.rows = static_cast<uint32_t>(size.rows < 0 ? 0 : size.rows);
    facts.depth = static_cast<uint8_t>(record.depth == 16 ? 16 : record.depth == 32 ? 32 : 8);
    facts.planes = static_cast<uint8_t>(planesToWrite(record.imageMode, record.planes) > 1 ? 3 : 1);
    facts.keptBitpix = keptBitpix(state);
    facts.keptHeader = facts.keptBitpix.has_value();
    const std::optional<OpenRecord> opened = readOpenRecord(state);
    facts.openedFlipped = opened && opened->flipped;
    return facts;
}

bool readSaveChoices(PluginState& state) {
    const FormatRecord& record = *state.formatRecord;
    if (record.descriptorParameters == nullptr || record.descriptorParameters->descriptor == nullptr) return false;
    options::SaveOptions asked;
    options::Message refused;
    readScriptDescriptor(state, kSaveKeys.data(), applyKey, &asked, refused);
    if (state.result != noErr) return false;
    if (!refused.empty()) {
        refuseSaveAsAsked(state, refused.view());
        return false;
    }
    const options::SaveResolution r = options::resolve(asked, saveFactsOf(state));
    if (!r.ok()) {
        refuseSaveAsAsked(state, r.message.view());
        return false;
    }
    if (r.resolved.compression != options::Compression::none) {
        // What the compressed file's writer, its memory or the module's
        // own reader would refuse is told now, before anything is written.
        if (const options::Message why = compressedSaveRefusal(state, r.resolved); !why.empty()) {
            refuseSaveAsAsked(state, why.view());
            return false;
        }
    }
    state.saveOptions = asked;
    return true;
}

void recordSaveChoices(PluginState& state) {
    if (state.result != noErr) return;
    const options::SaveResolution r = options::resolve(state.saveOptions, saveFactsOf(state));
    if (!r.ok()) return;
    const options::DescriptorEntries entries = options::saveEntries(r.resolved);
    recordError(state, writeScriptDescriptor(state, entries.view()));
}

void doOptionsStart(PluginState& state) {
    if (!recordCancel(state, !hostServicesPresent(state))) return;
    state.formatRecord->data = nullptr;
    state.saveOptions = options::SaveOptions{};
    readSaveChoices(state);
    recordSaveChoices(state);
}

}  // namespace nebulite
