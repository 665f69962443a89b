// The reference host's Windows side: the module is a DLL and its file a
// Win32 file handle, as the image editor hands them over on Windows. The POSIX
// host reaches the same points through dlopen and file descriptors.
#pragma once

#if defined(_WIN32)

#include <cstdint>
#include <string>

namespace nebulite::host::win32 {

// The file handle the module reads, or writes (an existing file is emptied),
// or -1 with `error` set.
intptr_t openDataFork(const std::string& path, bool forWriting, std::string* error);
void closeDataFork(intptr_t handle);

// Loads the module with LoadLibrary and answers the address of `entryPoint`
// (GetProcAddress), or null with `error` set. The module's MessageBoxA
// import is pointed at the host's message box hook first, so that the host
// sees every message the module shows; everything else the module calls is
// Windows itself.
void* loadModuleEntry(const std::string& path, const std::string& entryPoint, std::string* error);

}  // namespace nebulite::host::win32

#endif
