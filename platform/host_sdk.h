// The host's plug-in SDK, as far as a format module and a host need it.
//
// This header stands in for the host maker's published SDK headers, so that
// the module and the reference host build without them. It holds nothing of
// ours: records, routine types, selector numbers, result codes and image
// modes, with the SDK's names, member types, widths and order, laid out as
// the SDK lays them, so that the real SDK could take its place. The records
// follow the SDK of the editor's 20.0 release; platform/host_sdk_layout.h
// pins every offset against it for 32-bit and 64-bit Windows.
//
// Members the module never touches are still here, with their real types
// where those are plain and as pointers to opaque records where the SDK
// points at machinery of its own: a host allocates the whole record, and a
// member that moves by one byte makes the module read the wrong field
// without any other symptom.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define SPAPI __cdecl
#else
#define SPAPI
#endif

extern "C" {

// ---- Basic types ---------------------------------------------------------------
using OSErr = int16_t;
using Boolean = uint8_t;
using Ptr = char*;
using Handle = char**;       // *handle is the address of the handle's data
using ResType = uint32_t;    // four-character code, first character in the high byte
using OSType = uint32_t;
using PIType = uint32_t;
using Fixed = int32_t;       // 16.16 fixed point
using real64 = double;
using Str255 = unsigned char[256];  // length byte, then the characters
using ConstStr255Param = const unsigned char*;
using LookUpTable = uint8_t[256];
using PlaneMap = int16_t[16];

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

struct VPoint {
    int32_t v;
    int32_t h;
};

struct VRect {
    int32_t top;
    int32_t left;
    int32_t bottom;
    int32_t right;
};

// What `fileSpec` points to on Windows: the file's full
// path as a Pascal string, so its characters start 9 bytes into the record.
// The host ends them with a NUL as well.
struct FSSpec {
    int16_t unused;
    int16_t padding;
    int32_t parID;
    Str255 name;
};

// What `platformData` of the parameter blocks points to on Windows.
struct PlatformData {
    intptr_t hwnd;  // the window that owns the module's dialogs
};

struct PlugInMonitor {
    Fixed gamma;
    Fixed redX;
    Fixed redY;
    Fixed greenX;
    Fixed greenY;
    Fixed blueX;
    Fixed blueY;
    Fixed whiteX;
    Fixed whiteY;
    Fixed ambient;
};

// Records of the host's that a format module only carries pointers to.
struct PSPixelMap;
struct ColorServicesInfo;
struct PropertyProcs;
struct ImageServicesProcs;
struct SPBasicSuite;
struct ChannelPortProcs;
struct ReadImageDocumentDesc;
struct SPPlatformFileSpecificationW;
struct XPlatFileSpec;

// ---- Buffer suite ---------------------------------------------------------
using BufferID = struct PSBuffer*;
using AllocateBufferProc = OSErr(SPAPI*)(int32_t size, BufferID* bufferID);
using LockBufferProc = Ptr(SPAPI*)(BufferID bufferID, Boolean moveHigh);
using UnlockBufferProc = void(SPAPI*)(BufferID bufferID);
using FreeBufferProc = void(SPAPI*)(BufferID bufferID);
using BufferSpaceProc = int32_t(SPAPI*)(void);
using ReserveSpaceProc = OSErr(SPAPI*)(int32_t size);
using AllocateBufferProc64 = OSErr(SPAPI*)(int64_t size, BufferID* bufferID);
using BufferSpaceProc64 = int64_t(SPAPI*)(void);

struct BufferProcs {
    int16_t bufferProcsVersion;
    int16_t numBufferProcs;
    AllocateBufferProc allocateProc;
    LockBufferProc lockProc;
    UnlockBufferProc unlockProc;
    FreeBufferProc freeProc;
    BufferSpaceProc spaceProc;
    ReserveSpaceProc reserveProc;
    AllocateBufferProc64 allocateProc64;
    BufferSpaceProc64 spaceProc64;
};

// ---- Resource suite -------------------------------------------------------
using CountPIResourcesProc = int16_t(SPAPI*)(ResType type);
using GetPIResourceProc = Handle(SPAPI*)(ResType type, int16_t index);
using DeletePIResourceProc = void(SPAPI*)(ResType type, int16_t index);
using AddPIResourceProc = OSErr(SPAPI*)(ResType type, Handle data);

struct ResourceProcs {
    int16_t resourceProcsVersion;
    int16_t numResourceProcs;
    CountPIResourcesProc countProc;
    GetPIResourceProc getProc;
    DeletePIResourceProc deleteProc;
    AddPIResourceProc addProc;
};

// ---- Handle suite ---------------------------------------------------------
using NewPIHandleProc = Handle(SPAPI*)(int32_t size);
using DisposePIHandleProc = void(SPAPI*)(Handle h);
using GetPIHandleSizeProc = int32_t(SPAPI*)(Handle h);
using SetPIHandleSizeProc = OSErr(SPAPI*)(Handle h, int32_t newSize);
using LockPIHandleProc = Ptr(SPAPI*)(Handle h, Boolean moveHigh);
using UnlockPIHandleProc = void(SPAPI*)(Handle h);
using RecoverSpaceProc = void(SPAPI*)(int32_t size);
using DisposeRegularHandlePIHandleProc = void(SPAPI*)(Handle h);

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
    DisposeRegularHandlePIHandleProc disposeRegularHandleProc;
};

// ---- Scripting descriptor suites ------------------------------------------
using DescriptorKeyID = uint32_t;
using DescriptorTypeID = uint32_t;
using DescriptorEnumID = uint32_t;
using DescriptorUnitID = uint32_t;
using PIDescriptorHandle = Handle;
using PIReadDescriptor = struct PIOpaqueReadDescriptor*;
using PIWriteDescriptor = struct PIOpaqueWriteDescriptor*;
struct PIDescriptorSimpleReference;

using OpenWriteDescriptorProc = PIWriteDescriptor(SPAPI*)(void);
using CloseWriteDescriptorProc = OSErr(SPAPI*)(PIWriteDescriptor, PIDescriptorHandle*);
using PutIntegerProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, int32_t);
using PutFloatProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, const real64*);
using PutUnitFloatProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID,
                                       const real64*);
using PutBooleanProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, Boolean);
using PutTextProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, Handle);
using PutAliasProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, Handle);
using PutEnumeratedProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID key,
                                        DescriptorTypeID type, DescriptorEnumID value);
using PutClassProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID);
using PutSimpleReferenceProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID,
                                             const PIDescriptorSimpleReference*);
using PutObjectProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                                    PIDescriptorHandle);
using PutCountProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, uint32_t count);
using PutStringProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, ConstStr255Param);
using PutScopedClassProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID);
using PutScopedObjectProc = OSErr(SPAPI*)(PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID,
                                          PIDescriptorHandle);

// The key array ends with a zero key.
using OpenReadDescriptorProc = PIReadDescriptor(SPAPI*)(PIDescriptorHandle,
                                                       const DescriptorKeyID* keyArray);
using CloseReadDescriptorProc = OSErr(SPAPI*)(PIReadDescriptor);
using GetKeyProc = Boolean(SPAPI*)(PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID* type,
                                   int32_t* flags);
using GetIntegerProc = OSErr(SPAPI*)(PIReadDescriptor, int32_t*);
using GetFloatProc = OSErr(SPAPI*)(PIReadDescriptor, real64*);
using GetUnitFloatProc = OSErr(SPAPI*)(PIReadDescriptor, DescriptorUnitID*, real64*);
using GetBooleanProc = OSErr(SPAPI*)(PIReadDescriptor, Boolean*);
using GetTextProc = OSErr(SPAPI*)(PIReadDescriptor, Handle*);
using GetAliasProc = OSErr(SPAPI*)(PIReadDescriptor, Handle*);
using GetEnumeratedProc = OSErr(SPAPI*)(PIReadDescriptor, DescriptorEnumID*);
using GetClassProc = OSErr(SPAPI*)(PIReadDescriptor, DescriptorTypeID*);
using GetSimpleReferenceProc = OSErr(SPAPI*)(PIReadDescriptor, PIDescriptorSimpleReference*);
using GetObjectProc = OSErr(SPAPI*)(PIReadDescriptor, DescriptorTypeID*, PIDescriptorHandle*);
using GetCountProc = OSErr(SPAPI*)(PIReadDescriptor, uint32_t*);
using GetStringProc = OSErr(SPAPI*)(PIReadDescriptor, Str255*);
using GetPinnedIntegerProc = OSErr(SPAPI*)(PIReadDescriptor, int32_t min, int32_t max, int32_t*);
using GetPinnedFloatProc = OSErr(SPAPI*)(PIReadDescriptor, const real64* min, const real64* max,
                                         real64*);
using GetPinnedUnitFloatProc = OSErr(SPAPI*)(PIReadDescriptor, const real64* min,
                                             const real64* max, DescriptorUnitID*, real64*);

struct WriteDescriptorProcs {
    int16_t writeDescriptorProcsVersion;
    int16_t numWriteDescriptorProcs;
    OpenWriteDescriptorProc openWriteDescriptorProc;
    CloseWriteDescriptorProc closeWriteDescriptorProc;
    PutIntegerProc putIntegerProc;
    PutFloatProc putFloatProc;
    PutUnitFloatProc putUnitFloatProc;
    PutBooleanProc putBooleanProc;
    PutTextProc putTextProc;
    PutAliasProc putAliasProc;
    PutEnumeratedProc putEnumeratedProc;
    PutClassProc putClassProc;
    PutSimpleReferenceProc putSimpleReferenceProc;
    PutObjectProc putObjectProc;
    PutCountProc putCountProc;
    PutStringProc putStringProc;
    PutScopedClassProc putScopedClassProc;
    PutScopedObjectProc putScopedObjectProc;
};

struct ReadDescriptorProcs {
    int16_t readDescriptorProcsVersion;
    int16_t numReadDescriptorProcs;
    OpenReadDescriptorProc openReadDescriptorProc;
    CloseReadDescriptorProc closeReadDescriptorProc;
    GetKeyProc getKeyProc;
    GetIntegerProc getIntegerProc;
    GetFloatProc getFloatProc;
    GetUnitFloatProc getUnitFloatProc;
    GetBooleanProc getBooleanProc;
    GetTextProc getTextProc;
    GetAliasProc getAliasProc;
    GetEnumeratedProc getEnumeratedProc;
    GetClassProc getClassProc;
    GetSimpleReferenceProc getSimpleReferenceProc;
    GetObjectProc getObjectProc;
    GetCountProc getCountProc;
    GetStringProc getStringProc;
    GetPinnedIntegerProc getPinnedIntegerProc;
    GetPinnedFloatProc getPinnedFloatProc;
    GetPinnedUnitFloatProc getPinnedUnitFloatProc;
};

struct PIDescriptorParameters {
    int16_t descriptorParametersVersion;
    int16_t playInfo;
    int16_t recordInfo;
    PIDescriptorHandle descriptor;
    WriteDescriptorProcs* writeDescriptorProcs;
    ReadDescriptorProcs* readDescriptorProcs;
};

// ---- Suite versions and sizes -------------------------------------------------
// A suite's routine count is the number of routine slots after its two
// counts, as the SDK defines it.
constexpr int16_t kCurrentBufferProcsVersion = 2;
constexpr int16_t kCurrentBufferProcsCount = static_cast<int16_t>(
    (sizeof(BufferProcs) - offsetof(BufferProcs, allocateProc)) / sizeof(void*));
constexpr int16_t kCurrentResourceProcsVersion = 3;
constexpr int16_t kCurrentResourceProcsCount = static_cast<int16_t>(
    (sizeof(ResourceProcs) - offsetof(ResourceProcs, countProc)) / sizeof(void*));
constexpr int16_t kCurrentHandleProcsVersion = 1;
constexpr int16_t kCurrentHandleProcsCount = static_cast<int16_t>(
    (sizeof(HandleProcs) - offsetof(HandleProcs, newProc)) / sizeof(void*));
constexpr int16_t kCurrentReadDescriptorProcsVersion = 0;
constexpr int16_t kCurrentReadDescriptorProcsCount = static_cast<int16_t>(
    (sizeof(ReadDescriptorProcs) - offsetof(ReadDescriptorProcs, openReadDescriptorProc)) /
    sizeof(void*));
constexpr int16_t kCurrentWriteDescriptorProcsVersion = 0;
constexpr int16_t kCurrentWriteDescriptorProcsCount = static_cast<int16_t>(
    (sizeof(WriteDescriptorProcs) - offsetof(WriteDescriptorProcs, openWriteDescriptorProc)) /
    sizeof(void*));
constexpr int16_t kCurrentDescriptorParametersVersion = 0;

// ---- Parameter blocks -----------------------------------------------------
using TestAbortProc = Boolean(SPAPI*)(void);
using ProgressProc = void(SPAPI*)(int32_t done, int32_t total);
using HostProc = void(SPAPI*)(int16_t selector, intptr_t* data);
using ProcessEventProc = void(SPAPI*)(void* event);
using DisplayPixelsProc = OSErr(SPAPI*)(const PSPixelMap* source, const VRect* srcRect,
                                        int32_t dstRow, int32_t dstCol, void* platformContext);
using ColorServicesProc = OSErr(SPAPI*)(ColorServicesInfo* info);
using AdvanceStateProc = OSErr(SPAPI*)(void);

// The about selector's parameter block.
struct AboutRecord {
    void* platformData;  // a PlatformData on Windows
    SPBasicSuite* sSPBasic;
    void* plugInRef;
    char reserved[244];
};

// The format module's parameter block. The SDK packs it to 4 bytes on
// Windows, for 64-bit builds as well, so its 8-byte members sit on 4-byte
// boundaries there. The stand-in packs it the same way everywhere: the
// POSIX build then has the 64-bit Windows layout, and the pins hold on it too.
#pragma pack(push, 4)
struct FormatRecord {
    int32_t serialNumber;  // always 0 in today's hosts
    TestAbortProc abortProc;
    ProgressProc progressProc;
    int32_t maxData;
    int32_t minDataBytes;
    int32_t maxDataBytes;
    int32_t minRsrcBytes;
    int32_t maxRsrcBytes;
    intptr_t dataFork;  // the open file: a Win32 file handle
    intptr_t rsrcFork;
    FSSpec* fileSpec;
    int16_t imageMode;
    Point imageSize;
    int16_t depth;
    int16_t planes;
    Fixed imageHRes;
    Fixed imageVRes;
    LookUpTable redLUT;
    LookUpTable greenLUT;
    LookUpTable blueLUT;
    void* data;
    Rect theRect;
    int16_t loPlane;
    int16_t hiPlane;
    int16_t colBytes;
    int32_t rowBytes;
    int32_t planeBytes;
    PlaneMap planeMap;
    Boolean canTranspose;
    Boolean needTranspose;
    OSType hostSig;
    HostProc hostProc;
    int16_t hostModes;
    Handle revertInfo;
    NewPIHandleProc hostNewHdl;
    DisposePIHandleProc hostDisposeHdl;
    Handle imageRsrcData;
    int32_t imageRsrcSize;
    PlugInMonitor monitor;
    void* platformData;  // a PlatformData on Windows
    BufferProcs* bufferProcs;
    ResourceProcs* resourceProcs;
    ProcessEventProc processEvent;
    DisplayPixelsProc displayPixels;
    HandleProcs* handleProcs;
    // Since 3.0
    OSType fileType;
    ColorServicesProc colorServices;
    AdvanceStateProc advanceState;
    // Since 3.0.4
    PropertyProcs* propertyProcs;
    ImageServicesProcs* imageServicesProcs;
    int16_t tileWidth;
    int16_t tileHeight;
    Point tileOrigin;
    // Since 4.0
    PIDescriptorParameters* descriptorParameters;
    Str255* errorString;
    // Since 5.0
    int32_t maxValue;
    SPBasicSuite* sSPBasic;
    void* plugInRef;
    int32_t transparentIndex;
    Handle iCCprofileData;
    int32_t iCCprofileSize;
    int32_t canUseICCProfiles;
    // Since 5.5
    int32_t lutCount;
    // Since 6.0
    int32_t preferredColorModes;
    int32_t convertMode;
    VPoint preferredSize;
    int32_t imageIndex;
    int32_t transparencyPlane;
    int32_t transparencyMatting;
    // Since 7.0
    ChannelPortProcs* channelPortProcs;
    ReadImageDocumentDesc* documentInfo;
    Boolean openForPreview;
    // Since 8.0
    int32_t browserRotation;
    int32_t HostSupports32BitCoordinates;
    int32_t PluginUsing32BitCoordinates;
    VPoint imageSize32;
    VRect theRect32;
    uint32_t requestedFileProperty;
    uint32_t filePropertyValue;
    uint32_t fileCount;
    Handle xmp;
    int32_t supportsSkipFile;
    // Since 9.0
    Boolean extractQuickThumbnail;
    Boolean hostInSecondaryThread;
    uint32_t bulkMask;
    uint32_t* bulkFlags;
    uint32_t presetCount;
    Handle presetNames;
    Handle presetData;
    uint32_t settingsChecksum;
    SPPlatformFileSpecificationW* fileSpec2;
    // Since 10.0
    uint32_t layerData;
    uint16_t* layerName;
    void* renderRecord;
    Handle* bulkParams;
    Boolean openAsSmartObject;
    // Since 11.0
    PIDescriptorParameters* layerMetaData;
    uint16_t* finalSpec;
    Boolean isTextLayer;
    PIDescriptorHandle* textDescriptor;
    Boolean isGroupDivider;
    Boolean isGroupStart;
    Boolean isVisible;
    Boolean isLocked;
    PIType blendMode;
    uint8_t opacity;
    // Since 15.0
    Handle bulkExtraData;
    // Since 17.0
    XPlatFileSpec* fileSpecX;
    // Since 20.0
    int16_t hostSupportsPOSIXIO;
    int16_t pluginUsingPOSIXIO;
    int32_t posixFileDescriptor;
    char reserved[50];  // zero
};
#pragma pack(pop)

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
constexpr OSErr paramErr = -50;
constexpr OSErr coercedParamErr = 2;  // a pinned get moved the value into its range
// The Apple Event Manager's answer to a get whose type the descriptor's item
// cannot be coerced to: the descriptor suites' wrong-type answer.
constexpr OSErr errAECoercionFail = -1700;
constexpr OSErr errMissingParameter = -1715;
constexpr OSErr formatBadParameters = -30500;
constexpr OSErr formatCannotRead = -30501;
// The module wrote the reason into FormatRecord::errorString; the host tells
// the user ("Could not complete your request because ...").
constexpr OSErr errReportString = -30904;

// ---- Scripting: PIDescriptorParameters' playInfo and recordInfo -----------
constexpr int16_t plugInDialogDontDisplay = 0;  // a dialog only if parameters are missing or wrong
constexpr int16_t plugInDialogDisplay = 1;      // show the dialog
constexpr int16_t plugInDialogSilent = 2;       // never a dialog: fail instead
constexpr int16_t plugInDialogOptional = 0;     // recordInfo
constexpr int16_t plugInDialogRequired = 1;
constexpr int16_t plugInDialogNone = 2;

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
constexpr int16_t plugInModeRGB48 = 11;

// ---- The exported entry -----------------------------------------------------
extern "C" {
using PluginEntryProc = void(SPAPI*)(int16_t selector, void* params, intptr_t* data,
                                     int16_t* result);
}
