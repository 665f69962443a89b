// Compile-time pins of the host records' layouts.
//
// The host hands the module raw records; a member that moves by one byte
// makes the module read the wrong field without any other symptom. The
// 32-bit Windows module is the build the host's own layouts are defined for,
// so every record it touches is pinned there member by member. The records
// without pointers have the same layout everywhere and are pinned on every
// target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/host_sdk.h"
#include "platform/win32.h"

static_assert(sizeof(Point) == 4 && offsetof(Point, v) == 0 && offsetof(Point, h) == 2);
static_assert(sizeof(Rect) == 8 && offsetof(Rect, top) == 0 && offsetof(Rect, left) == 2 &&
              offsetof(Rect, bottom) == 4 && offsetof(Rect, right) == 6);
// The path's length byte sits at 8, so its characters start 9 bytes in.
static_assert(sizeof(FSSpec) == 264 && offsetof(FSSpec, vRefNum) == 0 &&
              offsetof(FSSpec, parID) == 4 && offsetof(FSSpec, name) == 8);
static_assert(sizeof(OSErr) == 2 && sizeof(Boolean) == 1 && sizeof(ResType) == 4);

#if defined(_WIN32)
// dataFork carries a Win32 HFILE in an int32.
static_assert(sizeof(HFILE) == sizeof(int32_t));
#endif

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(void*) == 4 && sizeof(intptr_t) == 4 && sizeof(Handle) == 4);

static_assert(sizeof(BufferProcs) == 24);
static_assert(offsetof(BufferProcs, bufferProcsVersion) == 0);
static_assert(offsetof(BufferProcs, numBufferProcs) == 2);
static_assert(offsetof(BufferProcs, allocateProc) == 4);
static_assert(offsetof(BufferProcs, lockProc) == 8);
static_assert(offsetof(BufferProcs, unlockProc) == 12);
static_assert(offsetof(BufferProcs, freeProc) == 16);
static_assert(offsetof(BufferProcs, spaceProc) == 20);

static_assert(sizeof(ResourceProcs) == 20);
static_assert(offsetof(ResourceProcs, countProc) == 4);
static_assert(offsetof(ResourceProcs, getProc) == 8);
static_assert(offsetof(ResourceProcs, deleteProc) == 12);
static_assert(offsetof(ResourceProcs, addProc) == 16);

static_assert(sizeof(HandleProcs) == 36);
static_assert(offsetof(HandleProcs, newProc) == 4);
static_assert(offsetof(HandleProcs, disposeProc) == 8);
static_assert(offsetof(HandleProcs, getSizeProc) == 12);
static_assert(offsetof(HandleProcs, setSizeProc) == 16);
static_assert(offsetof(HandleProcs, lockProc) == 20);
static_assert(offsetof(HandleProcs, unlockProc) == 24);
static_assert(offsetof(HandleProcs, recoverSpaceProc) == 28);
static_assert(offsetof(HandleProcs, disposeRegularHandleProc) == 32);

static_assert(sizeof(ReadDescriptorProcs) == 4 + 18 * 4);
static_assert(offsetof(ReadDescriptorProcs, openReadDescriptorProc) == 4);
static_assert(offsetof(ReadDescriptorProcs, closeReadDescriptorProc) == 8);
static_assert(offsetof(ReadDescriptorProcs, getKeyProc) == 12);
static_assert(offsetof(ReadDescriptorProcs, getPinnedUnitFloatProc) == 72);
static_assert(sizeof(WriteDescriptorProcs) == 4 + 16 * 4);
static_assert(offsetof(WriteDescriptorProcs, openWriteDescriptorProc) == 4);
static_assert(offsetof(WriteDescriptorProcs, putScopedObjectProc) == 64);

static_assert(sizeof(PIDescriptorParameters) == 20);
static_assert(offsetof(PIDescriptorParameters, playInfo) == 2);
static_assert(offsetof(PIDescriptorParameters, recordInfo) == 4);
static_assert(offsetof(PIDescriptorParameters, descriptor) == 8);
static_assert(offsetof(PIDescriptorParameters, writeDescriptorProcs) == 12);
static_assert(offsetof(PIDescriptorParameters, readDescriptorProcs) == 16);

static_assert(sizeof(PlatformData) == 4);
static_assert(sizeof(AboutRecord) == 12);
static_assert(offsetof(AboutRecord, serialNumber) == 0);
static_assert(offsetof(AboutRecord, abortProc) == 4);
static_assert(offsetof(AboutRecord, platformData) == 8);

static_assert(sizeof(FormatRecord) == 96);
static_assert(offsetof(FormatRecord, progressProc) == 0);
static_assert(offsetof(FormatRecord, maxData) == 4);
static_assert(offsetof(FormatRecord, minDataBytes) == 8);
static_assert(offsetof(FormatRecord, maxDataBytes) == 12);
static_assert(offsetof(FormatRecord, dataFork) == 16);
static_assert(offsetof(FormatRecord, fileSpec) == 20);
static_assert(offsetof(FormatRecord, imageMode) == 24);
static_assert(offsetof(FormatRecord, imageSize) == 26);
static_assert(offsetof(FormatRecord, depth) == 30);
static_assert(offsetof(FormatRecord, planes) == 32);
static_assert(offsetof(FormatRecord, data) == 36);
static_assert(offsetof(FormatRecord, theRect) == 40);
static_assert(offsetof(FormatRecord, loPlane) == 48);
static_assert(offsetof(FormatRecord, hiPlane) == 50);
static_assert(offsetof(FormatRecord, colBytes) == 52);
static_assert(offsetof(FormatRecord, rowBytes) == 56);
static_assert(offsetof(FormatRecord, planeBytes) == 60);
static_assert(offsetof(FormatRecord, imageRsrcData) == 64);
static_assert(offsetof(FormatRecord, imageRsrcSize) == 68);
static_assert(offsetof(FormatRecord, platformData) == 72);
static_assert(offsetof(FormatRecord, bufferProcs) == 76);
static_assert(offsetof(FormatRecord, resourceProcs) == 80);
static_assert(offsetof(FormatRecord, handleProcs) == 84);
static_assert(offsetof(FormatRecord, advanceState) == 88);
static_assert(offsetof(FormatRecord, descriptorParameters) == 92);
#endif
