#include "cli/modules.h"

#include <cstdio>
#include <filesystem>

#include "host/pipl.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>

#include <climits>
#endif

namespace nebulite::cli {

std::string executableDirectory() {
#if defined(_WIN32)
    char buffer[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    if (n == 0 || n >= sizeof buffer) return ".";
    std::string self(buffer, n);
    size_t slash = self.find_last_of("\\/");
#else
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    std::string self(buffer, static_cast<size_t>(n));
    size_t slash = self.find_last_of('/');
#endif
    return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

std::vector<std::string> moduleFolders() {
    std::string self = executableDirectory();
    std::filesystem::path installed = (std::filesystem::path(self) / NEBULITE_MODULE_DIR).lexically_normal();
    std::string other = installed.string();
    while (other.size() > 1 && (other.back() == '/' || other.back() == '\\')) other.pop_back();
    if (other == self) return {self};
    return {self, other};
}

int runModules(Context&, const Args& args) {
    if (args.size() > 1) usageError("too many arguments", "modules");
    if (!args.empty() && args[0].size() > 1 && args[0][0] == '-')
        usageError("unknown option " + args[0], "modules");
    std::vector<std::string> folders = args.empty() ? moduleFolders() : args;
    std::vector<host::ModuleListing> modules;
    for (const std::string& dir : folders)
        for (host::ModuleListing& listing : host::findModules(dir)) modules.push_back(std::move(listing));
    if (modules.empty()) {
        std::string where = folders[0];
        for (size_t i = 1; i < folders.size(); ++i) where += " or " + folders[i];
        throw Failure("no module with a PiPL in " + where, readErr);
    }
    for (size_t i = 0; i < modules.size(); ++i) {
        if (i > 0) std::printf("\n");
        std::printf("%s\n%s", modules[i].path.c_str(), host::describePluginInfo(modules[i].info).c_str());
    }
    return 0;
}

}  // namespace nebulite::cli
