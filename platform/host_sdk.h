// The host's plug-in SDK, as far as a format module uses it.
//
// This header stands in for the host maker's published SDK headers, which
// are not available on Linux. It holds nothing of ours: records, routine
// types, selector numbers, result codes and image modes only, spelled as the
// SDK spells them, so that the real SDK could take its place. Members the
// module does not use are left out, so the layouts are our own; both sides
// (module and reference host) are built from this one header.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define SPAPI __cdecl
#else
#define SPAPI
#endif

extern "C" {

using OSErr = int16_t;
using Boolean = uint8_t;
using Ptr = char*;
using Handle = char**;       // *handle is the address of the handle's data
using ResType = uint32_t;    // four-character code, first character in the high byte
using DescriptorKeyID = uint32_t;
using DescType = uint32_t;
using BufferID = struct OpaqueBufferID*;
using PIDescriptorHandle = Handle;
using PIReadDescriptor = struct OpaqueReadDescriptor*;
using PIWriteDescriptor = struct OpaqueWriteDescriptor*;

struct Point {
    int16_t v;  // rows
    int16_t h;  // columns
};

struct Rect {
    int16_t top;
    int16_t left;
    int16_t bottom;
    int16_t right;
};

// The host's FSSpec record: a volume, a parent directory and the file's
// full path as a Pascal string. The path's characters therefore start 9 bytes
// into the record; the host also ends them with a NUL.
struct FSSpec {
    int16_t vRefNum;
    int32_t parID;
    uint8_t name[256];
};

// ---- Buffer suite ---------------------------------------------------------
using AllocateBufferProc = OSErr(SPAPI*)(int32_t size, BufferID* bufferID);
using LockBufferProc = Ptr(SPAPI*)(BufferID bufferID, Boolean moveHigh);
using UnlockBufferProc = void(SPAPI*)(BufferID bufferID);
using FreeBufferProc = void(SPAPI*)(BufferID bufferID);
using BufferSpaceProc = int32_t(SPAPI*)(void);

struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
};
constexpr int16_t kCurrentBufferProcsVersion = 2;
constexpr int16_t kCurrentBufferProcsCount = 5;

// ---- Resource suite -------------------------------------------------------
using CountPIResourcesProc = int16_t(SPAPI*)(ResType ofType);
using GetPIResourceProc = Handle(SPAPI*)(ResType ofType, int16_t index);
using DeletePIResourceProc = void(SPAPI*)(ResType ofType, int16_t index);
using AddPIResourceProc = OSErr(SPAPI*)(ResType ofType, Handle data);

struct ResourceProcs {
    int16_t resourceProcsVersion;
    int16_t numResourceProcs;
    CountPIResourcesProc countProc;
    GetPIResourceProc getProc;
    DeletePIResourceProc deleteProc;
    AddPIResourceProc addProc;
};
constexpr int16_t kCurrentResourceProcsVersion = 3;
constexpr int16_t kCurrentResourceProcsCount = 4;

// ---- Handle suite ---------------------------------------------------------
using NewPIHandleProc = Handle(SPAPI*)(int32_t size);
using DisposePIHandleProc = void(SPAPI*)(Handle h);
using GetPIHandleSizeProc = int32_t(SPAPI*)(Handle h);
using SetPIHandleSizeProc = OSErr(SPAPI*)(Handle h, int32_t newSize);
using LockPIHandleProc = Ptr(SPAPI*)(Handle h, Boolean moveHigh);
using UnlockPIHandleProc = void(SPAPI*)(Handle h);
using RecoverSpaceProc = void(SPAPI*)(int32_t size);
using DisposeRegularHandleProc = void(SPAPI*)(Handle h);

struct HandleProcs {
    int16_t handleProcsVersion;
    int16_t numHandleProcs;
    NewPIHandleProc newProc;
    DisposePIHandleProc disposeProc;
    GetPIHandleSizeProc getSizeProc;
    SetPIHandleSizeProc setSizeProc;
    LockPIHandleProc lockProc;
    UnlockPIHandleProc unlockProc;
    RecoverSpaceProc recoverSpaceProc;
    DisposeRegularHandleProc disposeRegularHandleProc;
};
constexpr int16_t kCurrentHandleProcsVersion = 1;
constexpr int16_t kCurrentHandleProcsCount = 8;

// ---- Scripting descriptor suites ------------------------------------------
using OpenReadDescriptorProc = PIReadDescriptor(SPAPI*)(PIDescriptorHandle descriptor,
                                                       const DescriptorKeyID* keyArray);
using CloseReadDescriptorProc = OSErr(SPAPI*)(PIReadDescriptor token);
using GetKeyProc = Boolean(SPAPI*)(PIReadDescriptor token, DescriptorKeyID* key,
                                   DescType* type, int32_t* flags);
// The module reads no values and writes no descriptor; the remaining routines
// only have to be present, so they share one opaque type here.
using OtherDescriptorProc = OSErr(SPAPI*)(void);

struct ReadDescriptorProcs {
    int16_t readDescriptorProcsVersion;
    int16_t numReadDescriptorProcs;
    OpenReadDescriptorProc openReadDescriptorProc;
    CloseReadDescriptorProc closeReadDescriptorProc;
    GetKeyProc getKeyProc;
    OtherDescriptorProc getIntegerProc;
    OtherDescriptorProc getFloatProc;
    OtherDescriptorProc getUnitFloatProc;
    OtherDescriptorProc getBooleanProc;
    OtherDescriptorProc getTextProc;
    OtherDescriptorProc getAliasProc;
    OtherDescriptorProc getEnumeratedProc;
    OtherDescriptorProc getClassProc;
    OtherDescriptorProc getSimpleReferenceProc;
    OtherDescriptorProc getObjectProc;
    OtherDescriptorProc getCountProc;
    OtherDescriptorProc getStringProc;
    OtherDescriptorProc getPinnedIntegerProc;
    OtherDescriptorProc getPinnedFloatProc;
    OtherDescriptorProc getPinnedUnitFloatProc;
};
constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = 18;

struct WriteDescriptorProcs {
    int16_t writeDescriptorProcsVersion;
    int16_t numWriteDescriptorProcs;
    OtherDescriptorProc openWriteDescriptorProc;
    OtherDescriptorProc closeWriteDescriptorProc;
    OtherDescriptorProc putIntegerProc;
    OtherDescriptorProc putFloatProc;
    OtherDescriptorProc putUnitFloatProc;
    OtherDescriptorProc putBooleanProc;
    OtherDescriptorProc putTextProc;
    OtherDescriptorProc putAliasProc;
    OtherDescriptorProc putEnumeratedProc;
    OtherDescriptorProc putClassProc;
    OtherDescriptorProc putSimpleReferenceProc;
    OtherDescriptorProc putObjectProc;
    OtherDescriptorProc putCountProc;
    OtherDescriptorProc putStringProc;
    OtherDescriptorProc putScopedClassProc;
    OtherDescriptorProc putScopedObjectProc;
};
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = 16;

struct PIDescriptorParameters {
    int16_t descriptorParametersVersion;
    int16_t playInfo;
    int16_t recordInfo;
    PIDescriptorHandle descriptor;
    WriteDescriptorProcs* writeDescriptorProcs;
    ReadDescriptorProcs* readDescriptorProcs;
};
constexpr int16_t kCurrentDescriptorParametersVersion = 0;

// ---- Parameter blocks -----------------------------------------------------
using ProgressProc = void(SPAPI*)(int32_t done, int32_t total);
using AdvanceStateProc = OSErr(SPAPI*)(void);

struct PlatformData {
    intptr_t hwnd;  // the host's main window
};

struct AboutRecord {
    void* serialNumber;
    void* abortProc;
    PlatformData* platformData;
};

struct FormatRecord {
    ProgressProc progressProc;
    int32_t maxData;
    int32_t minDataBytes;
    int32_t maxDataBytes;
    int32_t dataFork;  // the open file, a Win32 HFILE
    FSSpec* fileSpec;
    int16_t imageMode;
    Point imageSize;
    int16_t depth;
    int16_t planes;
    void* data;
    Rect theRect;
    int16_t loPlane;
    int16_t hiPlane;
    int16_t colBytes;
    int32_t rowBytes;
    int32_t planeBytes;
    Handle imageRsrcData;
    int32_t imageRsrcSize;
    PlatformData* platformData;
    BufferProcs* bufferProcs;
    ResourceProcs* resourceProcs;
    HandleProcs* handleProcs;
    AdvanceStateProc advanceState;
    PIDescriptorParameters* descriptorParameters;
};

}  // extern "C"

// ---- Selectors --------------------------------------------------------------
constexpr int16_t formatSelectorAbout = 0;
constexpr int16_t formatSelectorReadPrepare = 1;
constexpr int16_t formatSelectorReadStart = 2;
constexpr int16_t formatSelectorReadContinue = 3;
constexpr int16_t formatSelectorReadFinish = 4;
constexpr int16_t formatSelectorOptionsPrepare = 5;
constexpr int16_t formatSelectorOptionsStart = 6;
constexpr int16_t formatSelectorOptionsContinue = 7;
constexpr int16_t formatSelectorOptionsFinish = 8;
constexpr int16_t formatSelectorEstimatePrepare = 9;
constexpr int16_t formatSelectorEstimateStart = 10;
constexpr int16_t formatSelectorEstimateContinue = 11;
constexpr int16_t formatSelectorEstimateFinish = 12;
constexpr int16_t formatSelectorWritePrepare = 13;
constexpr int16_t formatSelectorWriteStart = 14;
constexpr int16_t formatSelectorWriteContinue = 15;
constexpr int16_t formatSelectorWriteFinish = 16;
constexpr int16_t formatSelectorFilterFile = 17;

// ---- Result codes -----------------------------------------------------------
constexpr OSErr noErr = 0;
constexpr OSErr readErr = -19;
constexpr OSErr writErr = -20;
constexpr OSErr eofErr = -39;
constexpr OSErr memFullErr = -108;
constexpr OSErr userCanceledErr = -128;
constexpr OSErr errMissingParameter = -1715;
constexpr OSErr formatBadParameters = -30500;
constexpr OSErr formatCannotRead = -30501;

// ---- Image modes ------------------------------------------------------------
constexpr int16_t plugInModeBitmap = 0;
constexpr int16_t plugInModeGrayScale = 1;
constexpr int16_t plugInModeIndexedColor = 2;
constexpr int16_t plugInModeRGBColor = 3;
constexpr int16_t plugInModeCMYKColor = 4;
constexpr int16_t plugInModeHSLColor = 5;
constexpr int16_t plugInModeHSBColor = 6;
constexpr int16_t plugInModeMultichannel = 7;
constexpr int16_t plugInModeDuotone = 8;
constexpr int16_t plugInModeLabColor = 9;
constexpr int16_t plugInModeGray16 = 10;

// ---- The exported entry -----------------------------------------------------
extern "C" {
using PluginEntryProc = void(SPAPI*)(int16_t selector, void* params, intptr_t* data,
                                     int16_t* result);
}
