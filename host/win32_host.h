// The reference host's Windows side: the module is a DLL and its file a
// Win32 HFILE, as the image editor hands them over on Windows. The POSIX
// host reaches the same points through dlopen and file descriptors.
#pragma once

#if defined(_WIN32)

#include <string>

namespace nebulite::host::win32 {

// The HFILE the module reads (_lopen) or writes (_lcreat, which empties an
// existing file), or -1 with `error` set.
int openDataFork(const std::string& path, bool forWriting, std::string* error);
void closeDataFork(int handle);

// Loads the module with LoadLibrary and answers the address of `entryPoint`
// (GetProcAddress), or null with `error` set. The module's MessageBoxA
// import is pointed at the host's message box hook first, so that the host
// sees every message the module shows; everything else the module calls is
// Windows itself.
void* loadModuleEntry(const std::string& path, const std::string& entryPoint, std::string* error);

}  // namespace nebulite::host::win32

#endif
