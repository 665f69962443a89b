// The parameter blocks as the editor fills them before a sequence: the whole
// FormatRecord zeroed, then what the editor sets besides the suites, and the
// suites shaped as the test's setup asks (absent, another version, fewer
// routines, one routine null).
#include <cstddef>
#include <cstring>

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

void fillReadProcs(ReadDescriptorProcs& p) {
    p.openReadDescriptorProc = &Host::Impl::openReadDescriptor;
    p.closeReadDescriptorProc = &Host::Impl::closeReadDescriptor;
    p.getKeyProc = &Host::Impl::getKey;
    p.getIntegerProc = &Host::Impl::getInteger;
    p.getFloatProc = &Host::Impl::getFloat;
    p.getUnitFloatProc = &Host::Impl::getUnitFloat;
    p.getBooleanProc = &Host::Impl::getBoolean;
    p.getTextProc = &Host::Impl::getText;
    p.getAliasProc = &Host::Impl::getAlias;
    p.getEnumeratedProc = &Host::Impl::getEnumerated;
    p.getClassProc = &Host::Impl::getClass;
    p.getSimpleReferenceProc = &Host::Impl::getSimpleReference;
    p.getObjectProc = &Host::Impl::getObject;
    p.getCountProc = &Host::Impl::getCount;
    p.getStringProc = &Host::Impl::getString;
    p.getPinnedIntegerProc = &Host::Impl::getPinnedInteger;
    p.getPinnedFloatProc = &Host::Impl::getPinnedFloat;
    p.getPinnedUnitFloatProc = &Host::Impl::getPinnedUnitFloat;
}

void fillWriteProcs(WriteDescriptorProcs& p) {
    p.openWriteDescriptorProc = &Host::Impl::openWriteDescriptor;
    p.closeWriteDescriptorProc = &Host::Impl::closeWriteDescriptor;
    p.putIntegerProc = &Host::Impl::putInteger;
    p.putFloatProc = &Host::Impl::putFloat;
    p.putUnitFloatProc = &Host::Impl::putUnitFloat;
    p.putBooleanProc = &Host::Impl::putBoolean;
    p.putTextProc = &Host::Impl::putText;
    p.putAliasProc = &Host::Impl::putAlias;
    p.putEnumeratedProc = &Host::Impl::putEnumerated;
    p.putClassProc = &Host::Impl::putClass;
    p.putSimpleReferenceProc = &Host::Impl::putSimpleReference;
    p.putObjectProc = &Host::Impl::putObject;
    p.putCountProc = &Host::Impl::putCount;
    p.putStringProc = &Host::Impl::putString;
    p.putScopedClassProc = &Host::Impl::putScopedClass;
    p.putScopedObjectProc = &Host::Impl::putScopedObject;
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
    descriptorParams.recordInfo = s.script.recordInfo;
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
    r.openForPreview = s.openForPreview ? 1 : 0;
    errorText[0] = 0;
    r.errorString = s.errorString ? &errorText : nullptr;

    AboutRecord& about = host.about_;
    std::memset(&about, 0, sizeof about);
    about.platformData = s.platformData ? &platform : nullptr;
}

}  // namespace nebulite::host
