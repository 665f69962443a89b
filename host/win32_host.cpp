#include "host/win32_host.h"

#if defined(_WIN32)

#include <windows.h>

#include <cstring>

#include "platform/host_hooks.h"

extern "C" const NebuliteHostHooks* nebuliteHostHooks(void);

namespace nebulite::host::win32 {

namespace {

std::string lastError(const std::string& what) {
    return what + " (Windows error " + std::to_string(GetLastError()) + ")";
}

// Stands in for USER32's MessageBoxA inside the module: the host records the
// message the way its POSIX hooks do. A real window would need a desktop,
// and the host has no user to press its buttons.
int WINAPI hostMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const NebuliteHostHooks* hooks = nebuliteHostHooks();
    return hooks->messageBox(owner, text, caption, type);
}

// Points the module's import of `dll`!`function` at `replacement`. False
// when the module does not import it.
bool patchImport(HMODULE module, const char* dll, const char* function, void* replacement) {
    auto* base = reinterpret_cast<unsigned char*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return false;
    for (auto* entry = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         entry->Name != 0; ++entry) {
        if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dll) != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &old))
                return false;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, old, &old);
            return true;
        }
    }
    return false;
}

}  // namespace

intptr_t openDataFork(const std::string& path, bool forWriting, std::string* error) {
    // The editor opens the file itself and hands the module the Win32 handle.
    HANDLE file = CreateFileA(path.c_str(), forWriting ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                              FILE_SHARE_READ, nullptr, forWriting ? CREATE_ALWAYS : OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (error != nullptr) *error = lastError("cannot open " + path);
        return -1;
    }
    return reinterpret_cast<intptr_t>(file);
}

void closeDataFork(intptr_t handle) { CloseHandle(reinterpret_cast<HANDLE>(handle)); }

void* loadModuleEntry(const std::string& path, const std::string& entryPoint, std::string* error) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) {
        if (error != nullptr) *error = lastError("cannot load " + path);
        return nullptr;
    }
    FARPROC entry = GetProcAddress(module, entryPoint.c_str());
    if (entry == nullptr) {
        if (error != nullptr) *error = path + " has no " + entryPoint;
        FreeLibrary(module);
        return nullptr;
    }
    patchImport(module, "USER32.dll", "MessageBoxA", reinterpret_cast<void*>(&hostMessageBoxA));
    void* address = nullptr;
    static_assert(sizeof entry == sizeof address);
    std::memcpy(&address, &entry, sizeof address);
    return address;
}

}  // namespace nebulite::host::win32

#endif
