// The few Win32 calls the module makes.
//
// On Windows this is <windows.h>. Elsewhere the same names are provided by
// win32_posix.cpp: global memory on the C heap, the HFILE calls on POSIX file
// descriptors, the string table from resources/, and message boxes routed to
// whichever host loaded the module (see host_hooks.h).
#pragma once

#if defined(_WIN32)
#include <windows.h>
#else
#include <cstddef>
#include <cstdint>

using BOOL = int;
using UINT = unsigned int;
using DWORD = uint32_t;
using LONG = int32_t;
using SIZE_T = size_t;
using LPVOID = void*;
using LPCVOID = const void*;
using LPSTR = char*;
using LPCSTR = const char*;
using HGLOBAL = void*;
using HINSTANCE = void*;
using HWND = void*;
using HFILE = int;
using HANDLE = void*;
// A union on Windows; the module only uses its 64-bit member.
struct LARGE_INTEGER {
    int64_t QuadPart;
};

constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr HFILE HFILE_ERROR = -1;
constexpr int FILE_BEGIN = 0;
constexpr UINT MB_OK = 0x0000;
constexpr UINT MB_ICONEXCLAMATION = 0x0030;
constexpr UINT MB_ICONINFORMATION = 0x0040;
constexpr int IDOK = 1;
constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
LPVOID GlobalLock(HGLOBAL block);
BOOL GlobalUnlock(HGLOBAL block);
HGLOBAL GlobalFree(HGLOBAL block);
HGLOBAL GlobalHandle(LPCVOID address);
SIZE_T GlobalSize(HGLOBAL block);

UINT _lread(HFILE file, LPVOID buffer, UINT count);
UINT _lwrite(HFILE file, LPCSTR buffer, UINT count);
LONG _llseek(HFILE file, LONG offset, int origin);
// 64-bit positions on the same file: the handle is the HFILE's number.
BOOL SetFilePointerEx(HANDLE file, LARGE_INTEGER distance, LARGE_INTEGER* position, DWORD method);

int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int bufferMax);
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

#endif
