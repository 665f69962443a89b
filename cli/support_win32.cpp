// The CLI's file-system pieces on Windows; support.cpp has the POSIX ones.
#include "cli/support.h"

#if defined(_WIN32)

#include <windows.h>

#include "cli/modules.h"

namespace nebulite::cli {

AtomicOutput::AtomicOutput(const std::string& destination) : destination_(destination) {
    size_t slash = destination.find_last_of("\\/");
    std::string dir = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? destination : destination.substr(slash + 1);
    // The extension stays last: the image writers go by it.
    size_t dot = base.find_last_of('.');
    std::string suffix = dot == std::string::npos ? "" : base.substr(dot);
    // CREATE_NEW fails on a name in use, so a clash just tries the next one.
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        std::string name = dir + "." + base + "." + std::to_string(GetCurrentProcessId()) + "-" +
                           std::to_string(attempt) + suffix;
        HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            CloseHandle(file);
            temporary_ = name;
            return;
        }
        if (GetLastError() != ERROR_FILE_EXISTS) break;
    }
    throw Failure("cannot create a file next to " + destination + " (Windows error " +
                      std::to_string(GetLastError()) + ")",
                  writErr);
}

AtomicOutput::~AtomicOutput() {
    if (!committed_) DeleteFileA(temporary_.c_str());
}

void AtomicOutput::commit() {
    if (!MoveFileExA(temporary_.c_str(), destination_.c_str(), MOVEFILE_REPLACE_EXISTING))
        throw Failure("cannot replace " + destination_ + " (Windows error " +
                          std::to_string(GetLastError()) + ")",
                      writErr);
    committed_ = true;
}

}  // namespace nebulite::cli

#endif
