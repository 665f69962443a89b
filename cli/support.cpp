#include "cli/support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/modules.h"
#include "host/pipl.h"
#include "host/result_codes.h"

namespace nebulite::cli {

std::string failureLine(std::string_view what, int code) {
    std::string line = "nebulite: ";
    line += what;
    line += ": ";
    line += host::resultName(code);
    line += " (" + std::to_string(code) + ")";
    return line;
}

void usageError(const std::string& what, std::string_view command) {
    std::string help = command.empty() ? "nebulite --help" : "nebulite " + std::string(command) + " --help";
    throw Failure(what + " (see " + help + ")", formatBadParameters, 2);
}

void failSequence(std::string_view doing, const host::Outcome& outcome) {
    std::string what(doing);
    if (!outcome.reported.empty())
        what += ": " + host::ansiToUtf8(outcome.reported);
    else if (!outcome.hostFailure.empty())
        what += ": " + outcome.hostFailure;
    else if (outcome.failedSelector >= 0)
        what += " failed at " + std::string(host::selectorName(outcome.failedSelector));
    else
        what += " failed";
    throw Failure(what, outcome.result);
}

host::Module& Context::loadModule() {
    if (module) return *module;
    std::string path = modulePath;
    std::string entryPoint = "ENTRYPOINT";
    if (path.empty()) {
        // As the image editor does: the module whose PiPL claims FITS files,
        // entered where its PiPL says.
        std::vector<std::string> folders = moduleFolders();
        std::optional<host::ModuleListing> found;
        for (const std::string& dir : folders)
            if ((found = host::findFitsModule(dir))) break;
        if (!found) {
            std::string where = folders[0];
            for (size_t i = 1; i < folders.size(); ++i) where += (i + 1 == folders.size() ? " or " : ", ") + folders[i];
            throw Failure("no module in " + where + " claims FITS files (see nebulite modules)", readErr);
        }
        path = found->path;
        entryPoint = *found->info.entryPoint;
    }
    // dlopen (and LoadLibrary) search the library path for a bare name; a
    // path given on the command line means that file.
    if (path.find_first_of("/\\") == std::string::npos) path = "./" + path;
    std::string error;
    module = host::Module::load(path, &error, entryPoint);
    if (!module) throw Failure("cannot load the module " + path + " (" + error + ")", readErr);
    loadedPath = path;
    return *module;
}

std::unique_ptr<host::Host> Context::makeHost() {
    auto h = std::make_unique<host::Host>(loadModule().entry());
    h->onMessageBox = [](const host::MessageBox& box) {
        std::fprintf(stderr, "Nebulite: %s\n", host::ansiToUtf8(box.text).c_str());
    };
    return h;
}

// ---- Progress ------------------------------------------------------------------

ProgressBar::ProgressBar() : enabled_(::isatty(STDERR_FILENO) == 1) {}

ProgressBar::~ProgressBar() { finish(); }

void ProgressBar::update(int32_t done, int32_t total) {
    if (!enabled_ || total <= 0) return;
    constexpr int kCells = 40;
    if (done < 0) done = 0;
    if (done > total) done = total;
    int cells = static_cast<int>(int64_t{done} * kCells / total);
    // Redraw only when the bar grows: a large image reports every row.
    if (cells == lastCells_) return;
    lastCells_ = cells;
    std::string bar(static_cast<size_t>(cells), '#');
    bar.append(static_cast<size_t>(kCells - cells), '.');
    std::fprintf(stderr, "\r[%s] %3d%%", bar.c_str(), static_cast<int>(int64_t{done} * 100 / total));
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::finish() {
    if (!drawn_) return;
    // Clear the line so that what follows starts clean.
    std::fprintf(stderr, "\r%*s\r", 48, "");
    std::fflush(stderr);
    drawn_ = false;
    lastCells_ = -1;
}

// ---- Outputs -------------------------------------------------------------------

#if !defined(_WIN32)  // Windows: support_win32.cpp

AtomicOutput::AtomicOutput(const std::string& destination) : destination_(destination) {
    size_t slash = destination.find_last_of('/');
    std::string dir = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? destination : destination.substr(slash + 1);
    // The extension stays last: the image writers go by it.
    size_t dot = base.find_last_of('.');
    std::string suffix = dot == std::string::npos ? "" : base.substr(dot);
    std::string pattern = dir + "." + base + ".XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0) throw Failure("cannot create a file next to " + destination + ": " + std::strerror(errno), writErr);
    // mkstemps makes the file private; the result should look like any new file.
    mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    ::close(fd);
    temporary_ = name.data();
}

AtomicOutput::~AtomicOutput() {
    if (!committed_) ::unlink(temporary_.c_str());
}

void AtomicOutput::commit() {
    if (::rename(temporary_.c_str(), destination_.c_str()) != 0)
        throw Failure("cannot replace " + destination_ + ": " + std::strerror(errno), writErr);
    committed_ = true;
}
#endif

// ---- JSON ------------------------------------------------------------------------

std::string jsonString(std::string_view utf8) {
    std::string out = "\"";
    for (char ch : utf8) {
        auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char buffer[8];
                    std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                    out += buffer;
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

}  // namespace nebulite::cli
