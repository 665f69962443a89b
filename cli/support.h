// What the CLI's commands share: how failures are reported, where the module
// is found, the progress bar, and outputs that replace a file only once they
// are complete.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace nebulite::cli {

// A failure the CLI reports as its one line on stderr:
//   nebulite: <what>: <code name> (<code>)
class Failure : public std::runtime_error {
public:
    Failure(std::string what, OSErr code, int exitCode = 1)
        : std::runtime_error(std::move(what)), code_(code), exitCode_(exitCode) {}
    OSErr code() const { return code_; }
    int exitCode() const { return exitCode_; }

private:
    OSErr code_;
    int exitCode_;
};

// A mistake on the command line: exit status 2.
[[noreturn]] void usageError(const std::string& what, std::string_view command);

std::string failureLine(std::string_view what, int code);

// Describes a failed sequence: the host's own reason when it stopped by
// itself, else the step that failed.
[[noreturn]] void failSequence(std::string_view doing, const host::Outcome& outcome);

struct Context {
    std::string modulePath;  // empty: the first FITS module in moduleFolders()
    std::unique_ptr<host::Module> module;
    std::string loadedPath;  // the file loadModule() loaded

    // Loads the module on first use.
    host::Module& loadModule();
    // A host on the module that prints message boxes as "Nebulite: <text>"
    // and, on a terminal, shows a progress bar while rows move.
    std::unique_ptr<host::Host> makeHost();
};

// A bar on stderr, drawn only when stderr is a terminal.
class ProgressBar {
public:
    ProgressBar();
    ~ProgressBar();
    void update(int32_t done, int32_t total);
    void finish();

private:
    bool enabled_;
    bool drawn_ = false;
    int lastCells_ = -1;
};

// A file written under a temporary name in the destination's directory and
// renamed over the destination by commit(); removed if never committed, so
// an existing file is replaced only by a complete one.
class AtomicOutput {
public:
    explicit AtomicOutput(const std::string& destination);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;
    const std::string& path() const { return temporary_; }
    void commit();

private:
    std::string destination_;
    std::string temporary_;
    bool committed_ = false;
};

std::string jsonString(std::string_view utf8);

}  // namespace nebulite::cli
