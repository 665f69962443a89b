// Compile-time pins of the host records' layouts.
//
// The host hands the module raw records; a member that moves by one byte
// makes the module read the wrong field without any other symptom. Every
// member of every record in platform/host_sdk.h is pinned here at the
// offset the host maker's SDK gives it: the first number for 32-bit
// Windows (i686), the second for 64-bit Windows (x86_64). The numbers come
// from the SDK of the editor's 20.0 release (its PIFormat.h, PIAbout.h,
// PIGeneral.h, PIActions.h and PITypes.h), compiled with the mingw-w64
// compilers for both targets and read back member by member.
//
// The stand-in packs its records as the SDK does on Windows and uses
// fixed-width types only, so any build with 4-byte pointers has the i686
// layout and any build with 8-byte pointers the x86_64 one: the POSIX builds
// check the same pins as the Windows ones.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host_sdk.h"

static_assert(sizeof(void*) == 4 || sizeof(void*) == 8, "a target with other pointers");
static_assert(sizeof(intptr_t) == sizeof(void*) && sizeof(Handle) == sizeof(void*));
static_assert(sizeof(OSErr) == 2 && sizeof(Boolean) == 1 && sizeof(ResType) == 4 &&
              sizeof(Fixed) == 4 && sizeof(LookUpTable) == 256 && sizeof(PlaneMap) == 32);

#define NEBULITE_PIN(record, member, i686, x86_64)                                       \
    static_assert(offsetof(record, member) == (sizeof(void*) == 4 ? (i686) : (x86_64)), \
                  #record "::" #member " is not where the host looks for it")
#define NEBULITE_PIN_SIZE(record, i686, x86_64)                                  \
    static_assert(sizeof(record) == (sizeof(void*) == 4 ? (i686) : (x86_64)), \
                  #record " is not the size the host allocates")

// Point
NEBULITE_PIN_SIZE(Point, 4, 4);
NEBULITE_PIN(Point, v,    0,    0);
NEBULITE_PIN(Point, h,    2,    2);

// Rect
NEBULITE_PIN_SIZE(Rect, 8, 8);
NEBULITE_PIN(Rect, top,       0,    0);
NEBULITE_PIN(Rect, left,      2,    2);
NEBULITE_PIN(Rect, bottom,    4,    4);
NEBULITE_PIN(Rect, right,     6,    6);

// VPoint
NEBULITE_PIN_SIZE(VPoint, 8, 8);
NEBULITE_PIN(VPoint, v,    0,    0);
NEBULITE_PIN(VPoint, h,    4,    4);

// VRect
NEBULITE_PIN_SIZE(VRect, 16, 16);
NEBULITE_PIN(VRect, top,       0,    0);
NEBULITE_PIN(VRect, left,      4,    4);
NEBULITE_PIN(VRect, bottom,    8,    8);
NEBULITE_PIN(VRect, right,    12,   12);

// FSSpec
NEBULITE_PIN_SIZE(FSSpec, 264, 264);
NEBULITE_PIN(FSSpec, unused,     0,    0);
NEBULITE_PIN(FSSpec, padding,    2,    2);
NEBULITE_PIN(FSSpec, parID,      4,    4);
NEBULITE_PIN(FSSpec, name,       8,    8);

// PlatformData
NEBULITE_PIN_SIZE(PlatformData, 4, 8);
NEBULITE_PIN(PlatformData, hwnd,    0,    0);

// PlugInMonitor
NEBULITE_PIN_SIZE(PlugInMonitor, 40, 40);
NEBULITE_PIN(PlugInMonitor, gamma,      0,    0);
NEBULITE_PIN(PlugInMonitor, redX,       4,    4);
NEBULITE_PIN(PlugInMonitor, redY,       8,    8);
NEBULITE_PIN(PlugInMonitor, greenX,    12,   12);
NEBULITE_PIN(PlugInMonitor, greenY,    16,   16);
NEBULITE_PIN(PlugInMonitor, blueX,     20,   20);
NEBULITE_PIN(PlugInMonitor, blueY,     24,   24);
NEBULITE_PIN(PlugInMonitor, whiteX,    28,   28);
NEBULITE_PIN(PlugInMonitor, whiteY,    32,   32);
NEBULITE_PIN(PlugInMonitor, ambient,   36,   36);

// BufferProcs
NEBULITE_PIN_SIZE(BufferProcs, 36, 72);
NEBULITE_PIN(BufferProcs, bufferProcsVersion,    0,    0);
NEBULITE_PIN(BufferProcs, numBufferProcs,        2,    2);
NEBULITE_PIN(BufferProcs, allocateProc,          4,    8);
NEBULITE_PIN(BufferProcs, lockProc,              8,   16);
NEBULITE_PIN(BufferProcs, unlockProc,           12,   24);
NEBULITE_PIN(BufferProcs, freeProc,             16,   32);
NEBULITE_PIN(BufferProcs, spaceProc,            20,   40);
NEBULITE_PIN(BufferProcs, reserveProc,          24,   48);
NEBULITE_PIN(BufferProcs, allocateProc64,       28,   56);
NEBULITE_PIN(BufferProcs, spaceProc64,          32,   64);

// ResourceProcs
NEBULITE_PIN_SIZE(ResourceProcs, 20, 40);
NEBULITE_PIN(ResourceProcs, resourceProcsVersion,    0,    0);
NEBULITE_PIN(ResourceProcs, numResourceProcs,        2,    2);
NEBULITE_PIN(ResourceProcs, countProc,               4,    8);
NEBULITE_PIN(ResourceProcs, getProc,                 8,   16);
NEBULITE_PIN(ResourceProcs, deleteProc,             12,   24);
NEBULITE_PIN(ResourceProcs, addProc,                16,   32);

// HandleProcs
NEBULITE_PIN_SIZE(HandleProcs, 36, 72);
NEBULITE_PIN(HandleProcs, handleProcsVersion,          0,    0);
NEBULITE_PIN(HandleProcs, numHandleProcs,              2,    2);
NEBULITE_PIN(HandleProcs, newProc,                     4,    8);
NEBULITE_PIN(HandleProcs, disposeProc,                 8,   16);
NEBULITE_PIN(HandleProcs, getSizeProc,                12,   24);
NEBULITE_PIN(HandleProcs, setSizeProc,                16,   32);
NEBULITE_PIN(HandleProcs, lockProc,                   20,   40);
NEBULITE_PIN(HandleProcs, unlockProc,                 24,   48);
NEBULITE_PIN(HandleProcs, recoverSpaceProc,           28,   56);
NEBULITE_PIN(HandleProcs, disposeRegularHandleProc,   32,   64);

// ReadDescriptorProcs
NEBULITE_PIN_SIZE(ReadDescriptorProcs, 76, 152);
NEBULITE_PIN(ReadDescriptorProcs, readDescriptorProcsVersion,    0,    0);
NEBULITE_PIN(ReadDescriptorProcs, numReadDescriptorProcs,        2,    2);
NEBULITE_PIN(ReadDescriptorProcs, openReadDescriptorProc,        4,    8);
NEBULITE_PIN(ReadDescriptorProcs, closeReadDescriptorProc,       8,   16);
NEBULITE_PIN(ReadDescriptorProcs, getKeyProc,                   12,   24);
NEBULITE_PIN(ReadDescriptorProcs, getIntegerProc,               16,   32);
NEBULITE_PIN(ReadDescriptorProcs, getFloatProc,                 20,   40);
NEBULITE_PIN(ReadDescriptorProcs, getUnitFloatProc,             24,   48);
NEBULITE_PIN(ReadDescriptorProcs, getBooleanProc,               28,   56);
NEBULITE_PIN(ReadDescriptorProcs, getTextProc,                  32,   64);
NEBULITE_PIN(ReadDescriptorProcs, getAliasProc,                 36,   72);
NEBULITE_PIN(ReadDescriptorProcs, getEnumeratedProc,            40,   80);
NEBULITE_PIN(ReadDescriptorProcs, getClassProc,                 44,   88);
NEBULITE_PIN(ReadDescriptorProcs, getSimpleReferenceProc,       48,   96);
NEBULITE_PIN(ReadDescriptorProcs, getObjectProc,                52,  104);
NEBULITE_PIN(ReadDescriptorProcs, getCountProc,                 56,  112);
NEBULITE_PIN(ReadDescriptorProcs, getStringProc,                60,  120);
NEBULITE_PIN(ReadDescriptorProcs, getPinnedIntegerProc,         64,  128);
NEBULITE_PIN(ReadDescriptorProcs, getPinnedFloatProc,           68,  136);
NEBULITE_PIN(ReadDescriptorProcs, getPinnedUnitFloatProc,       72,  144);

// WriteDescriptorProcs
NEBULITE_PIN_SIZE(WriteDescriptorProcs, 68, 136);
NEBULITE_PIN(WriteDescriptorProcs, writeDescriptorProcsVersion,    0,    0);
NEBULITE_PIN(WriteDescriptorProcs, numWriteDescriptorProcs,        2,    2);
NEBULITE_PIN(WriteDescriptorProcs, openWriteDescriptorProc,        4,    8);
NEBULITE_PIN(WriteDescriptorProcs, closeWriteDescriptorProc,       8,   16);
NEBULITE_PIN(WriteDescriptorProcs, putIntegerProc,                12,   24);
NEBULITE_PIN(WriteDescriptorProcs, putFloatProc,                  16,   32);
NEBULITE_PIN(WriteDescriptorProcs, putUnitFloatProc,              20,   40);
NEBULITE_PIN(WriteDescriptorProcs, putBooleanProc,                24,   48);
NEBULITE_PIN(WriteDescriptorProcs, putTextProc,                   28,   56);
NEBULITE_PIN(WriteDescriptorProcs, putAliasProc,                  32,   64);
NEBULITE_PIN(WriteDescriptorProcs, putEnumeratedProc,             36,   72);
NEBULITE_PIN(WriteDescriptorProcs, putClassProc,                  40,   80);
NEBULITE_PIN(WriteDescriptorProcs, putSimpleReferenceProc,        44,   88);
NEBULITE_PIN(WriteDescriptorProcs, putObjectProc,                 48,   96);
NEBULITE_PIN(WriteDescriptorProcs, putCountProc,                  52,  104);
NEBULITE_PIN(WriteDescriptorProcs, putStringProc,                 56,  112);
NEBULITE_PIN(WriteDescriptorProcs, putScopedClassProc,            60,  120);
NEBULITE_PIN(WriteDescriptorProcs, putScopedObjectProc,           64,  128);

// PIDescriptorParameters
NEBULITE_PIN_SIZE(PIDescriptorParameters, 20, 32);
NEBULITE_PIN(PIDescriptorParameters, descriptorParametersVersion,    0,    0);
NEBULITE_PIN(PIDescriptorParameters, playInfo,                       2,    2);
NEBULITE_PIN(PIDescriptorParameters, recordInfo,                     4,    4);
NEBULITE_PIN(PIDescriptorParameters, descriptor,                     8,    8);
NEBULITE_PIN(PIDescriptorParameters, writeDescriptorProcs,          12,   16);
NEBULITE_PIN(PIDescriptorParameters, readDescriptorProcs,           16,   24);

// AboutRecord
NEBULITE_PIN_SIZE(AboutRecord, 256, 272);
NEBULITE_PIN(AboutRecord, platformData,    0,    0);
NEBULITE_PIN(AboutRecord, sSPBasic,        4,    8);
NEBULITE_PIN(AboutRecord, plugInRef,       8,   16);
NEBULITE_PIN(AboutRecord, reserved,       12,   24);

// FormatRecord
NEBULITE_PIN_SIZE(FormatRecord, 1304, 1468);
NEBULITE_PIN(FormatRecord, serialNumber,                    0,    0);
NEBULITE_PIN(FormatRecord, abortProc,                       4,    4);
NEBULITE_PIN(FormatRecord, progressProc,                    8,   12);
NEBULITE_PIN(FormatRecord, maxData,                        12,   20);
NEBULITE_PIN(FormatRecord, minDataBytes,                   16,   24);
NEBULITE_PIN(FormatRecord, maxDataBytes,                   20,   28);
NEBULITE_PIN(FormatRecord, minRsrcBytes,                   24,   32);
NEBULITE_PIN(FormatRecord, maxRsrcBytes,                   28,   36);
NEBULITE_PIN(FormatRecord, dataFork,                       32,   40);
NEBULITE_PIN(FormatRecord, rsrcFork,                       36,   48);
NEBULITE_PIN(FormatRecord, fileSpec,                       40,   56);
NEBULITE_PIN(FormatRecord, imageMode,                      44,   64);
NEBULITE_PIN(FormatRecord, imageSize,                      46,   66);
NEBULITE_PIN(FormatRecord, depth,                          50,   70);
NEBULITE_PIN(FormatRecord, planes,                         52,   72);
NEBULITE_PIN(FormatRecord, imageHRes,                      56,   76);
NEBULITE_PIN(FormatRecord, imageVRes,                      60,   80);
NEBULITE_PIN(FormatRecord, redLUT,                         64,   84);
NEBULITE_PIN(FormatRecord, greenLUT,                      320,  340);
NEBULITE_PIN(FormatRecord, blueLUT,                       576,  596);
NEBULITE_PIN(FormatRecord, data,                          832,  852);
NEBULITE_PIN(FormatRecord, theRect,                       836,  860);
NEBULITE_PIN(FormatRecord, loPlane,                       844,  868);
NEBULITE_PIN(FormatRecord, hiPlane,                       846,  870);
NEBULITE_PIN(FormatRecord, colBytes,                      848,  872);
NEBULITE_PIN(FormatRecord, rowBytes,                      852,  876);
NEBULITE_PIN(FormatRecord, planeBytes,                    856,  880);
NEBULITE_PIN(FormatRecord, planeMap,                      860,  884);
NEBULITE_PIN(FormatRecord, canTranspose,                  892,  916);
NEBULITE_PIN(FormatRecord, needTranspose,                 893,  917);
NEBULITE_PIN(FormatRecord, hostSig,                       896,  920);
NEBULITE_PIN(FormatRecord, hostProc,                      900,  924);
NEBULITE_PIN(FormatRecord, hostModes,                     904,  932);
NEBULITE_PIN(FormatRecord, revertInfo,                    908,  936);
NEBULITE_PIN(FormatRecord, hostNewHdl,                    912,  944);
NEBULITE_PIN(FormatRecord, hostDisposeHdl,                916,  952);
NEBULITE_PIN(FormatRecord, imageRsrcData,                 920,  960);
NEBULITE_PIN(FormatRecord, imageRsrcSize,                 924,  968);
NEBULITE_PIN(FormatRecord, monitor,                       928,  972);
NEBULITE_PIN(FormatRecord, platformData,                  968, 1012);
NEBULITE_PIN(FormatRecord, bufferProcs,                   972, 1020);
NEBULITE_PIN(FormatRecord, resourceProcs,                 976, 1028);
NEBULITE_PIN(FormatRecord, processEvent,                  980, 1036);
NEBULITE_PIN(FormatRecord, displayPixels,                 984, 1044);
NEBULITE_PIN(FormatRecord, handleProcs,                   988, 1052);
NEBULITE_PIN(FormatRecord, fileType,                      992, 1060);
NEBULITE_PIN(FormatRecord, colorServices,                 996, 1064);
NEBULITE_PIN(FormatRecord, advanceState,                 1000, 1072);
NEBULITE_PIN(FormatRecord, propertyProcs,                1004, 1080);
NEBULITE_PIN(FormatRecord, imageServicesProcs,           1008, 1088);
NEBULITE_PIN(FormatRecord, tileWidth,                    1012, 1096);
NEBULITE_PIN(FormatRecord, tileHeight,                   1014, 1098);
NEBULITE_PIN(FormatRecord, tileOrigin,                   1016, 1100);
NEBULITE_PIN(FormatRecord, descriptorParameters,         1020, 1104);
NEBULITE_PIN(FormatRecord, errorString,                  1024, 1112);
NEBULITE_PIN(FormatRecord, maxValue,                     1028, 1120);
NEBULITE_PIN(FormatRecord, sSPBasic,                     1032, 1124);
NEBULITE_PIN(FormatRecord, plugInRef,                    1036, 1132);
NEBULITE_PIN(FormatRecord, transparentIndex,             1040, 1140);
NEBULITE_PIN(FormatRecord, iCCprofileData,               1044, 1144);
NEBULITE_PIN(FormatRecord, iCCprofileSize,               1048, 1152);
NEBULITE_PIN(FormatRecord, canUseICCProfiles,            1052, 1156);
NEBULITE_PIN(FormatRecord, lutCount,                     1056, 1160);
NEBULITE_PIN(FormatRecord, preferredColorModes,          1060, 1164);
NEBULITE_PIN(FormatRecord, convertMode,                  1064, 1168);
NEBULITE_PIN(FormatRecord, preferredSize,                1068, 1172);
NEBULITE_PIN(FormatRecord, imageIndex,                   1076, 1180);
NEBULITE_PIN(FormatRecord, transparencyPlane,            1080, 1184);
NEBULITE_PIN(FormatRecord, transparencyMatting,          1084, 1188);
NEBULITE_PIN(FormatRecord, channelPortProcs,             1088, 1192);
NEBULITE_PIN(FormatRecord, documentInfo,                 1092, 1200);
NEBULITE_PIN(FormatRecord, openForPreview,               1096, 1208);
NEBULITE_PIN(FormatRecord, browserRotation,              1100, 1212);
NEBULITE_PIN(FormatRecord, HostSupports32BitCoordinates, 1104, 1216);
NEBULITE_PIN(FormatRecord, PluginUsing32BitCoordinates,  1108, 1220);
NEBULITE_PIN(FormatRecord, imageSize32,                  1112, 1224);
NEBULITE_PIN(FormatRecord, theRect32,                    1120, 1232);
NEBULITE_PIN(FormatRecord, requestedFileProperty,        1136, 1248);
NEBULITE_PIN(FormatRecord, filePropertyValue,            1140, 1252);
NEBULITE_PIN(FormatRecord, fileCount,                    1144, 1256);
NEBULITE_PIN(FormatRecord, xmp,                          1148, 1260);
NEBULITE_PIN(FormatRecord, supportsSkipFile,             1152, 1268);
NEBULITE_PIN(FormatRecord, extractQuickThumbnail,        1156, 1272);
NEBULITE_PIN(FormatRecord, hostInSecondaryThread,        1157, 1273);
NEBULITE_PIN(FormatRecord, bulkMask,                     1160, 1276);
NEBULITE_PIN(FormatRecord, bulkFlags,                    1164, 1280);
NEBULITE_PIN(FormatRecord, presetCount,                  1168, 1288);
NEBULITE_PIN(FormatRecord, presetNames,                  1172, 1292);
NEBULITE_PIN(FormatRecord, presetData,                   1176, 1300);
NEBULITE_PIN(FormatRecord, settingsChecksum,             1180, 1308);
NEBULITE_PIN(FormatRecord, fileSpec2,                    1184, 1312);
NEBULITE_PIN(FormatRecord, layerData,                    1188, 1320);
NEBULITE_PIN(FormatRecord, layerName,                    1192, 1324);
NEBULITE_PIN(FormatRecord, renderRecord,                 1196, 1332);
NEBULITE_PIN(FormatRecord, bulkParams,                   1200, 1340);
NEBULITE_PIN(FormatRecord, openAsSmartObject,            1204, 1348);
NEBULITE_PIN(FormatRecord, layerMetaData,                1208, 1352);
NEBULITE_PIN(FormatRecord, finalSpec,                    1212, 1360);
NEBULITE_PIN(FormatRecord, isTextLayer,                  1216, 1368);
NEBULITE_PIN(FormatRecord, textDescriptor,               1220, 1372);
NEBULITE_PIN(FormatRecord, isGroupDivider,               1224, 1380);
NEBULITE_PIN(FormatRecord, isGroupStart,                 1225, 1381);
NEBULITE_PIN(FormatRecord, isVisible,                    1226, 1382);
NEBULITE_PIN(FormatRecord, isLocked,                     1227, 1383);
NEBULITE_PIN(FormatRecord, blendMode,                    1228, 1384);
NEBULITE_PIN(FormatRecord, opacity,                      1232, 1388);
NEBULITE_PIN(FormatRecord, bulkExtraData,                1236, 1392);
NEBULITE_PIN(FormatRecord, fileSpecX,                    1240, 1400);
NEBULITE_PIN(FormatRecord, hostSupportsPOSIXIO,          1244, 1408);
NEBULITE_PIN(FormatRecord, pluginUsingPOSIXIO,           1246, 1410);
NEBULITE_PIN(FormatRecord, posixFileDescriptor,          1248, 1412);
NEBULITE_PIN(FormatRecord, reserved,                     1252, 1416);
#undef NEBULITE_PIN
#undef NEBULITE_PIN_SIZE
