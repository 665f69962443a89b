// The parameter blocks as the editor fills them before a sequence: the whole
// FormatRecord zeroed, then what the editor sets besides the suites, and the
// suites shaped as the test's setup asks (absent, another version, fewer
// routines, one routine null).
#include <cstddef>
#include <cstring>
#include <type_traits>

#include "host/host_impl.h"

namespace nebulite::host {

namespace {

constexpr OSType kHostSignature = 0x3842494D;  // '8BIM'
constexpr Fixed kScreenResolution = Fixed{72} << 16;  // 72 dpi, 16.16
// The modes this host can make documents in, as bits by mode number:
// Bitmap up to Gray16.
constexpr int16_t kHostModes = (1 << (plugInModeGray16 + 1)) - 1;

// Leaves routine `index` (in suite order) of a suite null. The routines
// follow the two counts one pointer after another in every suite record.
template <typename Suite>
void nullRoutine(Suite& suite, size_t firstOffset, int index) {
    size_t routines = (sizeof(Suite) - firstOffset) / sizeof(void*);
    if (index < 0 || static_cast<size_t>(index) >= routines) return;
    auto* bytes = reinterpret_cast<unsigned char*>(&suite);
    std::memset(bytes + firstOffset + static_cast<size_t>(index) * sizeof(void*), 0, sizeof(void*));
}

// A descriptor routine the module has no business calling: one function per
// slot, with that slot's own signature, reporting the slot when called.
template <typename Proc, bool Reading, int Index>
struct Unexpected;

template <typename R, typename... Args, bool Reading, int Index>
struct Unexpected<R(SPAPI*)(Args...), Reading, Index> {
    static R SPAPI call(Args...) {
        if (Host::Impl* self = Host::Impl::current())
            self->unexpectedDescriptorRoutine(Reading, Index);
        if constexpr (!std::is_void_v<R>) return R{};
    }
};

template <bool Reading, int Index, typename Proc>
void unexpected(Proc& slot) {
    slot = &Unexpected<Proc, Reading, Index>::call;
}

void fillReadProcs(ReadDescriptorProcs& p) {
    p.openReadDescriptorProc = &Host::Impl::openReadDescriptor;
    p.closeReadDescriptorProc = &Host::Impl::closeReadDescriptor;
    p.getKeyProc = &Host::Impl::getKey;
    unexpected<true, 3>(p.getIntegerProc);
    unexpected<true, 4>(p.getFloatProc);
    unexpected<true, 5>(p.getUnitFloatProc);
    unexpected<true, 6>(p.getBooleanProc);
    unexpected<true, 7>(p.getTextProc);
    unexpected<true, 8>(p.getAliasProc);
    unexpected<true, 9>(p.getEnumeratedProc);
    unexpected<true, 10>(p.getClassProc);
    unexpected<true, 11>(p.getSimpleReferenceProc);
    unexpected<true, 12>(p.getObjectProc);
    unexpected<true, 13>(p.getCountProc);
    unexpected<true, 14>(p.getStringProc);
    unexpected<true, 15>(p.getPinnedIntegerProc);
    unexpected<true, 16>(p.getPinnedFloatProc);
    unexpected<true, 17>(p.getPinnedUnitFloatProc);
}

void fillWriteProcs(WriteDescriptorProcs& p) {
    unexpected<false, 0>(p.openWriteDescriptorProc);
    unexpected<false, 1>(p.closeWriteDescriptorProc);
    unexpected<false, 2>(p.putIntegerProc);
    unexpected<false, 3>(p.putFloatProc);
    unexpected<false, 4>(p.putUnitFloatProc);
    unexpected<false, 5>(p.putBooleanProc);
    unexpected<false, 6>(p.putTextProc);
    unexpected<false, 7>(p.putAliasProc);
    unexpected<false, 8>(p.putEnumeratedProc);
    unexpected<false, 9>(p.putClassProc);
    unexpected<false, 10>(p.putSimpleReferenceProc);
    unexpected<false, 11>(p.putObjectProc);
    unexpected<false, 12>(p.putCountProc);
    unexpected<false, 13>(p.putStringProc);
    unexpected<false, 14>(p.putScopedClassProc);
    unexpected<false, 15>(p.putScopedObjectProc);
}

}  // namespace

void Host::Impl::applySetup() {
    const Setup& s = host.setup_;
    bufferProcs = {s.buffer.version, s.buffer.count, &allocateBuffer, &lockBuffer,
                   &unlockBuffer,    &freeBufferProc, &bufferSpace,  &reserveSpace,
                   &allocateBuffer64, &bufferSpace64};
    nullRoutine(bufferProcs, offsetof(BufferProcs, allocateProc), s.buffer.nullRoutine);

    resourceProcs = {s.resource.version, s.resource.count, &countResources,
                     &getResource,       &deleteResource,  &addResource};
    nullRoutine(resourceProcs, offsetof(ResourceProcs, countProc), s.resource.nullRoutine);

    handleProcs = {s.handle.version, s.handle.count, &newHandle,    &disposeHandle,
                   &handleSize,      &setHandleSize, &lockHandle,   &unlockHandle,
                   &recoverSpace,    &disposeRegularHandle};
    nullRoutine(handleProcs, offsetof(HandleProcs, newProc), s.handle.nullRoutine);

    readProcs = {};
    readProcs.readDescriptorProcsVersion = s.readDescriptor.version;
    readProcs.numReadDescriptorProcs = s.readDescriptor.count;
    fillReadProcs(readProcs);
    nullRoutine(readProcs, offsetof(ReadDescriptorProcs, openReadDescriptorProc),
                s.readDescriptor.nullRoutine);

    writeProcs = {};
    writeProcs.writeDescriptorProcsVersion = s.writeDescriptor.version;
    writeProcs.numWriteDescriptorProcs = s.writeDescriptor.count;
    fillWriteProcs(writeProcs);
    nullRoutine(writeProcs, offsetof(WriteDescriptorProcs, openWriteDescriptorProc),
                s.writeDescriptor.nullRoutine);

    descriptorParams = {};
    descriptorParams.descriptorParametersVersion = s.descriptorParameters.version;
    descriptorParams.playInfo = s.script.playInfo;
    descriptorParams.readDescriptorProcs = s.readDescriptor.present ? &readProcs : nullptr;
    descriptorParams.writeDescriptorProcs = s.writeDescriptor.present ? &writeProcs : nullptr;

    platform.hwnd = s.hwnd;

    // The whole record, every member the module may not know of zero.
    FormatRecord& r = host.record_;
    std::memset(&r, 0, sizeof r);
    r.abortProc = &testAbort;
    r.progressProc = s.progress ? &progress : nullptr;
    r.maxData = s.maxData;
    r.dataFork = -1;
    r.imageHRes = kScreenResolution;
    r.imageVRes = kScreenResolution;
    for (int16_t plane = 0; plane < 16; ++plane) r.planeMap[plane] = plane;
    r.hostSig = kHostSignature;
    r.hostModes = kHostModes;
    r.platformData = s.platformData ? &platform : nullptr;
    r.bufferProcs = s.buffer.present ? &bufferProcs : nullptr;
    r.resourceProcs = s.resource.present ? &resourceProcs : nullptr;
    r.handleProcs = s.handle.present ? &handleProcs : nullptr;
    r.advanceState = s.advanceState ? &Impl::advanceState : nullptr;
    r.descriptorParameters = s.descriptorParameters.present ? &descriptorParams : nullptr;
    r.HostSupports32BitCoordinates = s.coordinates32 ? 1 : 0;

    AboutRecord& about = host.about_;
    std::memset(&about, 0, sizeof about);
    about.platformData = s.platformData ? &platform : nullptr;
}

}  // namespace nebulite::host
