// The one layer between the module and the host's routine suites: when a
// suite counts as usable, what each operation does with it, and what it does
// instead when the suite is not there.
#pragma once

#include <cstdint>

#include "platform/host_sdk.h"
#include "shell/pascal_string.h"
#include "shell/plugin_state.h"

namespace nebulite {

constexpr ResType makeResType(char a, char b, char c, char d) {
    return (static_cast<ResType>(static_cast<uint8_t>(a)) << 24) |
           (static_cast<ResType>(static_cast<uint8_t>(b)) << 16) |
           (static_cast<ResType>(static_cast<uint8_t>(c)) << 8) | static_cast<uint8_t>(d);
}
constexpr ResType kHistoryResourceType = makeResType('h', 'i', 's', 't');
static_assert(kHistoryResourceType == 0x68697374);

// ---- Suite checks (no alert) --------------------------------------------
bool bufferSuiteUsable(const BufferProcs* procs, bool* newer = nullptr);
bool resourceSuiteUsable(const ResourceProcs* procs);
bool handleSuiteUsable(const HandleProcs* procs, bool* newer = nullptr);
bool descriptorSuitesUsable(const PIDescriptorParameters* params);

// ---- Checks that alert ----------------------------------------------------
bool demandBufferSuite(const FormatRecord& record);
bool demandAdvanceState(const FormatRecord& record);
bool demandHandleSuite(const FormatRecord& record);
// The three checks in turn, stopping at the first that fails: at most one alert.
bool hostServicesPresent(const PluginState& state);

// ---- Buffer suite ----------------------------------------------------------
OSErr bufferAllocate(const BufferProcs* procs, int32_t size, BufferID* id);
Ptr bufferLock(const BufferProcs* procs, BufferID id);
void bufferFree(const BufferProcs* procs, BufferID id);

// ---- Resource suite -------------------------------------------------------
int16_t resourceCount(const ResourceProcs* procs, ResType type);
Handle resourceGet(const ResourceProcs* procs, ResType type, int16_t index);
OSErr resourceAdd(const ResourceProcs* procs, ResType type, Handle data);
void resourceDelete(const ResourceProcs* procs, ResType type, int16_t index);

// ---- Handle suite, with the module's own handles as the fallback ---------
Handle handleNew(const HandleProcs* procs, int32_t size);
void handleDispose(const HandleProcs* procs, Handle handle);
int32_t handleSize(const HandleProcs* procs, Handle handle);
Ptr handleLock(const HandleProcs* procs, Handle handle);
void handleUnlock(const HandleProcs* procs, Handle handle);

// A module handle: a locked global block holding the address of a second
// locked global block of the requested size, and a tag.
Handle moduleHandleNew(uint32_t size);
void moduleHandleDispose(Handle handle);
uint32_t moduleHandleSize(Handle handle);

void pstringFromHandle(const HandleProcs* procs, Handle handle, PascalString& out);
Handle handleFromPString(const HandleProcs* procs, const PascalString& text);


}  // namespace nebulite
