// Loading a module the way the editor does, and how the module, on a POSIX
// system, finds the host: the hooks it looks up by name for its message
// boxes, its memory files and the allocations a test fails.
#include <cstdio>
#include <cstring>

#include "host/host_impl.h"

#if defined(_WIN32)
#include "host/win32_host.h"
#else
#include <dlfcn.h>
#endif

namespace nebulite::host {

std::unique_ptr<Module> Module::load(const std::string& path, std::string* error,
                                     const std::string& entryPoint) {
#if defined(_WIN32)
    void* symbol = win32::loadModuleEntry(path, entryPoint, error);
    if (symbol == nullptr) return nullptr;
#else
    // RTLD_NOW: a module with a missing symbol fails here, not mid-call.
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        if (error != nullptr) {
            const char* why = dlerror();
            *error = why != nullptr ? why : "cannot load " + path;
        }
        return nullptr;
    }
    void* symbol = dlsym(library, entryPoint.c_str());
    if (symbol == nullptr) {
        if (error != nullptr) *error = path + " has no " + entryPoint;
        dlclose(library);
        return nullptr;
    }
#endif
    std::unique_ptr<Module> module(new Module());
    module->path_ = path;
    static_assert(sizeof(PluginEntryProc) == sizeof(void*));
    std::memcpy(&module->entry_, &symbol, sizeof symbol);
    return module;
}

// ---- Text --------------------------------------------------------------------------------

std::string ansiToUtf8(std::string_view text) {
    // Windows-1252 differs from Latin-1 only in 0x80..0x9F; the five bytes it
    // leaves undefined map to the C1 controls, as Windows itself maps them.
    static constexpr char16_t kHigh[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        auto byte = static_cast<unsigned char>(ch);
        char32_t code = byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

}  // namespace nebulite::host

// ---- The hooks the module looks up by name -----------------------------------------------

namespace {

using nebulite::host::FileHooks;

int hookMessageBox(void* owner, const char* text, const char* caption, unsigned type) {
    if (nebulite::host::Host::Impl::current() != nullptr)
        return nebulite::host::Host::Impl::current()->messageBox(owner, text, caption, type);
    // A module called outside any host call still gets its answer.
    std::fprintf(stderr, "Nebulite: %s\n",
                 nebulite::host::ansiToUtf8(text != nullptr ? text : "").c_str());
    return 1;
}

bool hookFailAllocation(int kind, size_t) {
    nebulite::host::Host::Impl* self = nebulite::host::Host::Impl::current();
    if (self == nullptr) return false;
    if (kind < 0 || kind >= nebulite::host::kAllocKinds) kind = nebuliteAllocOther;
    auto index = static_cast<size_t>(kind);
    int64_t k = self->log.counters.moduleAllocations[index]++;
    return self->host.faults().moduleAllocation[index].fires(k);
}

const NebuliteHostHooks kHooks = {
    nebuliteHostHooksVersion, &hookMessageBox, &FileHooks::read,
    &FileHooks::write,        &FileHooks::seek, &hookFailAllocation,
};

}  // namespace

// Default visibility: the module finds this with dlsym in the executable.
extern "C" __attribute__((visibility("default"))) const NebuliteHostHooks* nebuliteHostHooks(void) {
    return &kHooks;
}
