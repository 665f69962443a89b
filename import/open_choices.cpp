#include "import/open_choices.h"

#include <array>
#include <span>

#include "options/descriptor_apply.h"
#include "options/entry_bytes.h"
#include "shell/host_services.h"
#include "shell/script_descriptor.h"

namespace nebulite {

namespace {

// Every key the open face reads, ended by 0, for openReadDescriptorProc.
constexpr std::array<options::FourCharCode, options::kDescriptorKeys.size() + 1> openKeys() {
    std::array<options::FourCharCode, options::kDescriptorKeys.size() + 1> out{};
    size_t n = 0;
    for (const options::KeyEntry& k : options::kDescriptorKeys)
        if (k.face == options::KeyFace::open || k.face == options::KeyFace::both) out[n++] = k.key;
    return out;
}
constexpr auto kOpenKeys = openKeys();

struct Applied {
    options::OpenOptions options;
    bool any = false;
};

options::Message applyKey(void* context, options::FourCharCode key, const options::DescriptorValue& value) {
    auto& applied = *static_cast<Applied*>(context);
    applied.any = true;
    return options::applyOpenKey(applied.options, key, value);
}

// The options a revert hands back, when the revertInfo holds ones this
// version wrote.
bool readRevertInfo(PluginState& state, ReadOperation& read) {
    const FormatRecord& record = *state.formatRecord;
    Handle handle = record.revertInfo;
    if (handle == nullptr || !handleSuiteUsable(record.handleProcs)) return false;
    const int32_t size = handleSize(record.handleProcs, handle);
    Ptr bytes = handleLock(record.handleProcs, handle);
    std::optional<options::DescriptorEntries> entries;
    if (bytes != nullptr && size > 0)
        entries = options::decodeEntries({reinterpret_cast<const uint8_t*>(bytes), static_cast<size_t>(size)});
    if (bytes != nullptr) handleUnlock(record.handleProcs, handle);
    if (!entries) return false;
    options::OpenOptions asked;
    for (const options::DescriptorEntry& e : entries->view()) options::applyOpenKey(asked, e.key, e.value);
    read.asked = asked;
    return true;
}

// Fills `handle` with `bytes`; false when it cannot be locked.
bool fillHandle(const HandleProcs* procs, Handle handle, std::span<const uint8_t> bytes) {
    Ptr p = handleLock(procs, handle);
    if (p == nullptr) return false;
    for (size_t i = 0; i < bytes.size(); ++i) p[i] = static_cast<char>(bytes[i]);
    handleUnlock(procs, handle);
    return true;
}

// The used options as bytes of the module's own in revertInfo. A handle the
// host already keeps there (a revert, or another module's) stays the host's:
// it is resized and rewritten in place. A new one is the module's gift to
// the host, which keeps it with the document.
void writeRevertInfo(PluginState& state, const options::DescriptorEntries& entries) {
    FormatRecord& record = *state.formatRecord;
    if (!handleSuiteUsable(record.handleProcs)) return;
    uint8_t bytes[options::kEntryBytesMax];
    const auto size = options::encodeEntries(entries.view(), bytes);
    if (!size) return;
    const std::span<const uint8_t> encoded(bytes, *size);
    if (Handle kept = record.revertInfo; kept != nullptr) {
        // Without room for them, no options at all: a revert then opens as
        // an open with nothing asked, never with another open's options.
        if (record.handleProcs->setSizeProc(kept, static_cast<int32_t>(*size)) != noErr ||
            !fillHandle(record.handleProcs, kept, encoded))
            (void)record.handleProcs->setSizeProc(kept, 0);
        return;
    }
    Handle handle = handleNew(record.handleProcs, static_cast<int32_t>(*size));
    if (handle == nullptr) return;
    if (!fillHandle(record.handleProcs, handle, encoded)) {
        handleDispose(record.handleProcs, handle);
        return;
    }
    record.revertInfo = handle;
}

}  // namespace

void readOpenChoices(PluginState& state, ReadOperation& read) {
    read.asked = options::OpenOptions{};
    read.refusedValue = options::Message{};
    // A revert reopens the way the document was opened, and asks nothing.
    read.reverting = readRevertInfo(state, read);
    Applied fromScript;
    readScriptDescriptor(state, kOpenKeys.data(), applyKey, &fromScript, read.refusedValue);
    if (!read.reverting) {
        read.asked = fromScript.options;
        read.optionsGiven = fromScript.any;
    }
}

void recordOpenChoices(PluginState& state, ReadOperation& read) {
    if (state.result != noErr || !read.resolvedReady) return;
    const options::DescriptorEntries entries = options::openEntries(read.resolved);
    // The image is read by now: a host that cannot take the record of how
    // costs the action its options, never the user the document.
    (void)writeScriptDescriptor(state, entries.view());
    writeRevertInfo(state, entries);
}

}  // namespace nebulite
