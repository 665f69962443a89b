// The reference host: the host's side of every selector sequence a format
// module sees, on Linux, in one process.
//
// A Host drives one module entry (loaded from a file with Module, or linked
// in and passed as a function pointer). It serves the buffer, resource,
// handle and descriptor suites, advanceState and progressProc, keeps the
// module's data cell between calls, and records everything the module tells
// it: results, geometry, message boxes, progress, protocol violations and
// what it forgot to give back. Every suite can be reshaped or removed and
// most host services can be made to fail, so that tests can walk the module
// through the situations a real host creates.
//
// The suites are plain C function pointers without user data, so they reach
// the host through a "current host" of the calling thread: each Host is
// driven by one thread at a time, and hosts on different threads (two
// documents in flight, host/in_flight.h) never see each other's calls.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/descriptor.h"
#include "host/document.h"
#include "platform/host_hooks.h"
#include "platform/host_sdk.h"

namespace nebulite::host {

// The window handle the host reports as its main window; the module should
// hand it to its message boxes as their owner.
constexpr intptr_t kFakeWindow = 0x4E45424C;  // "NEBL"

// ---- Files ---------------------------------------------------------------

#if !defined(_WIN32)
// A descriptor to write `path` from its start, the file made if missing and
// emptied only when it holds something; -1, errno set, when it cannot be
// had. Saves go into a new, empty file that is then renamed over the
// destination, and truncating that file anyway marks it on ext4 as a file
// rewritten in place, whose every new block is written out when it is
// closed (80 ms for a 128 MiB image here, more on a slow disk).
int openToWrite(const std::string& path);
#endif

// What the module reads from or writes to through `dataFork`.
//
// A disk file is a real descriptor: the module reads it with POSIX calls
// directly, with nothing of the host in between. A memory file is served by
// the host through the hooks and can be made to misbehave.
class File {
public:
    static File memory(std::vector<uint8_t> contents = {},
                       std::string specPath = "/nonexistent/nebulite-memory.fits");
    static File disk(std::string path);

    // Read number `k` (0-based, counted per sequence) and every later one
    // answer HFILE_ERROR.
    File& failReadsFrom(int64_t k = 0);
    // Reads stop at byte `n`, while a seek to the end still reports the full
    // length: a file cut short while being read. (For a file that is simply
    // short, give fewer bytes.)
    File& endReadsAt(size_t n);
    // The file cannot grow beyond `n` bytes: a full disk. Writes past it
    // move fewer bytes than asked.
    File& capacity(size_t n);
    // Write number `k` (0-based, counted per sequence) answers HFILE_ERROR
    // and moves nothing; with `onward`, every later one too: a device that
    // fails, which no capacity plays (a write over bytes already there).
    File& failWriteAt(int64_t k, bool onward = false);

    bool inMemory() const { return memory_; }
    const std::string& path() const { return path_; }
    const std::vector<uint8_t>& contents() const { return bytes_; }
    int64_t readCalls() const { return readCalls_; }
    // Where the module's reads and writes of a memory file stand.
    size_t position() const { return position_; }
    int64_t writeCalls() const { return writeCalls_; }

    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

private:
    File() = default;
    friend class Host;
    friend struct FileHooks;

    bool memory_ = false;
    std::string path_;
    std::vector<uint8_t> bytes_;
    size_t position_ = 0;
    std::optional<int64_t> failReadsFrom_;
    std::optional<size_t> endReadsAt_;
    std::optional<size_t> capacity_;
    std::optional<int64_t> failWriteAt_;
    bool failWritesOnward_ = false;
    int64_t readCalls_ = 0;
    int64_t writeCalls_ = 0;
    intptr_t fd_ = -1;     // disk files while attached
    intptr_t handle_ = 0;  // the file handle the module sees in dataFork while attached
};

// ---- Shapes and faults ----------------------------------------------------

// How a suite looks to the module. `nullRoutine` is the index, in suite
// order from 0, of one routine left null (-1 for none).
struct SuiteShape {
    bool present = true;
    int16_t version = 0;
    int16_t count = 0;
    int nullRoutine = -1;
};

// The scripting descriptor a sequence is played with: what an action
// replays. The host offers it in descriptorParameters before ReadStart (a
// read), before OptionsStart and again before WriteStart (a save).
// Without one (present false) the parameters' descriptor is null, as in an
// interactive open or save.
struct ScriptDescriptor {
    bool present = true;                   // a descriptor handle is offered at all
    Descriptor descriptor;                 // its items, in the order getKeyProc yields them
    // What closeReadDescriptorProc answers instead of the editor's answer
    // (errMissingParameter when a key of the module's key array never came,
    // else noErr).
    std::optional<OSErr> closeCode;
    int16_t playInfo = plugInDialogDontDisplay;
    int16_t recordInfo = plugInDialogOptional;
};

struct Setup {
    SuiteShape buffer{true, kCurrentBufferProcsVersion, kCurrentBufferProcsCount, -1};
    SuiteShape resource{true, kCurrentResourceProcsVersion, kCurrentResourceProcsCount, -1};
    SuiteShape handle{true, kCurrentHandleProcsVersion, kCurrentHandleProcsCount, -1};
    SuiteShape descriptorParameters{true, kCurrentDescriptorParametersVersion, 0, -1};
    SuiteShape readDescriptor{true, kCurrentReadDescriptorProcsVersion,
                              kCurrentReadDescriptorProcsCount, -1};
    SuiteShape writeDescriptor{true, kCurrentWriteDescriptorProcsVersion,
                               kCurrentWriteDescriptorProcsCount, -1};
    bool advanceState = true;
    bool progress = true;
    bool platformData = true;
    intptr_t hwnd = kFakeWindow;
    int32_t bufferSpace = 256 << 20;  // what spaceProc answers
    int32_t maxData = 256 << 20;      // what each Prepare step starts with
    int messageBoxAnswer = 1;         // IDOK
    uint64_t maxImageBytes = uint64_t{4} << 30;  // larger documents: memFullErr
    // HostSupports32BitCoordinates: the current editor offers imageSize32
    // and theRect32 and uses them once the module takes them; false plays
    // an older host with 16-bit geometry only.
    bool coordinates32 = true;
    ScriptDescriptor script;  // a read's (present, and empty, unless a test says otherwise)
    // A save's: none by default, as in the editor's Save As. WriteStart gets
    // the descriptor the module left after OptionsFinish, else this one.
    ScriptDescriptor saveScript{false, {}, std::nullopt, plugInDialogDontDisplay, plugInDialogOptional};
    // What a read finds in record.revertInfo: nothing at a first open; on a
    // revert, the bytes the module left there when the document was opened
    // (Outcome::revertInfo), in a handle the host keeps.
    std::optional<std::vector<uint8_t>> revertInfo;
    // record.openForPreview: the editor reads the file for a preview.
    bool openForPreview = false;
    // record.errorString: the editor offers a Str255 for a module's
    // errReportString; false plays a host without one.
    bool errorString = true;
};

// GoogleTest's fixtures have a member named Setup (a trap for SetUp), which
// hides this type inside TEST_F bodies; the alias works everywhere.
using HostSetup = Setup;

// Fires on event `at` (0-based, counted per sequence), and on every later
// one when `onward`.
struct Trigger {
    int64_t at = -1;
    bool onward = false;

    static constexpr Trigger never() { return {}; }
    static constexpr Trigger nth(int64_t k) { return {k, false}; }
    static constexpr Trigger from(int64_t k) { return {k, true}; }
    static constexpr Trigger always() { return {0, true}; }
    constexpr bool fires(int64_t index) const {
        return at >= 0 && (index == at || (onward && index > at));
    }
};

constexpr int kAllocKinds = nebuliteAllocOperation + 1;

struct Faults {
    Trigger bufferAllocate;                 // allocateProc answers memFullErr
    Trigger handleNew;                      // newProc answers null
    Trigger advanceState;                   // advanceState answers advanceStateCode
    OSErr advanceStateCode = userCanceledErr;
    Trigger resourceAdd;                    // addProc answers resourceAddCode
    OSErr resourceAddCode = memFullErr;
    Trigger moduleAllocation[kAllocKinds];  // the hook's failAllocation, by kind
    // Every routine of the read and write descriptor suites, counted
    // together in the order the module calls them: the call fails as that
    // routine can (open: null; getKeyProc: no more keys; the others answer
    // descriptorCode, a closeWriteDescriptorProc leaving no descriptor).
    Trigger descriptor;
    OSErr descriptorCode = memFullErr;
};

// ---- What the module told the host ----------------------------------------

struct Call {
    int16_t selector;
    OSErr result;
};

struct MessageBox {
    std::string text;                    // as the module passed it (Windows-1252)
    std::optional<std::string> caption;  // nullopt for a null caption
    unsigned type = 0;
    intptr_t owner = 0;
    int16_t selector = -1;               // the call that showed it
};

struct Progress {
    int32_t done;
    int32_t total;
};

struct Leak {
    enum class Kind { buffer, handle, descriptor };
    Kind kind;
    int64_t bytes;
    int16_t selector;  // the call that allocated it
};

struct Geometry {
    int16_t imageMode = -1;
    int32_t rows = 0;
    int32_t columns = 0;
    int16_t depth = 0;
    int16_t planes = 0;
};

// How many times each service was used: fault sweeps use them to find the
// range of `k` worth trying.
struct Counters {
    int64_t bufferAllocations = 0;
    int64_t handleAllocations = 0;
    int64_t advanceStateCalls = 0;
    int64_t resourceAdds = 0;
    int64_t moduleAllocations[kAllocKinds] = {};
    int64_t descriptorCalls = 0;  // calls of the read and write descriptor suites' routines
};

struct Outcome {
    OSErr result = noErr;        // the first failing step's result, else noErr
    int16_t failedSelector = -1; // that step, -1 when none failed
    std::string hostFailure;     // why the host itself stopped, empty when it did not
    std::vector<Call> calls;
    std::vector<MessageBox> messages;
    std::vector<Progress> progress;
    std::vector<std::string> violations;
    std::vector<Leak> leaks;
    uint64_t outOfRangeSamples = 0;  // 16-bit samples above 32768 handed to the host
    int64_t rowsMoved = 0;
    Geometry told;                   // what the module said after ReadStart
    int32_t minDataBytes = 0;        // what EstimateStart said
    int32_t maxDataBytes = 0;
    Counters counters;
    // The descriptor the module left in descriptorParameters->descriptor
    // after ReadFinish (a save: after OptionsFinish, then WriteFinish), which
    // the editor keeps for the action; the host takes and disposes of it.
    // Nothing when none was left, or only the one the host offered (which
    // then counts as the module's leak).
    std::optional<Descriptor> recorded;
    // What the module left in record.revertInfo after a read, which the
    // editor keeps with the document and hands back on a revert.
    std::optional<std::vector<uint8_t>> revertInfo;
    // The text a step that answered errReportString left in errorString,
    // which the editor shows the user ("Could not complete your request
    // because ..."); empty when no step did.
    std::string reported;

    bool ok() const { return result == noErr; }
    std::vector<int16_t> selectors() const;
};

// ---- Loading a module from a file -------------------------------------------

class Module {
public:
    // Null (and `error` set) when the file cannot be loaded or has no
    // function `entryPoint` (the name the module's PiPL gives).
    static std::unique_ptr<Module> load(const std::string& path, std::string* error,
                                        const std::string& entryPoint = "ENTRYPOINT");
    PluginEntryProc entry() const { return entry_; }
    const std::string& path() const { return path_; }
    // The module stays loaded for the life of the process, as in a host that
    // keeps its plug-ins until it quits: its state may outlive any one Host.
    ~Module() = default;

private:
    Module() = default;
    std::string path_;
    PluginEntryProc entry_ = nullptr;
};

// ---- The host ----------------------------------------------------------------

class Host {
public:
    explicit Host(PluginEntryProc entry, Setup setup = {});
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // Read at the start of every sequence (and by begin()).
    Setup& setup() { return setup_; }
    Faults& faults() { return faults_; }

    // Optional observers, e.g. for a CLI that prints as the module goes.
    std::function<void(const MessageBox&)> onMessageBox;
    std::function<void(int32_t done, int32_t total)> onProgress;
    // Around every call of the module: another host's turn can come between
    // two of this host's calls (host/in_flight.h).
    std::function<void(int16_t selector)> beforeCall;
    std::function<void(int16_t selector)> afterCall;

    // ---- Sequences -------------------------------------------------------
    Outcome about();
    Outcome filterFile(File& file);
    // ReadPrepare, ReadStart, ReadContinue, ReadFinish. The document is then
    // document(). A failing step ends the sequence, but ReadFinish is always sent.
    Outcome read(File& file);
    // ReadPrepare, ReadStart, ReadFinish: the header without the samples.
    Outcome info(File& file);
    // File > Revert: a read with the revert information the open left
    // (Outcome::revertInfo) in record.revertInfo and no script descriptor,
    // as the editor reopens a document.
    Outcome revert(File& file, std::vector<uint8_t> revertInfo);
    // A read for the editor's preview: record.openForPreview set, no script
    // descriptor (a preview is no step of an action).
    Outcome preview(File& file);
    Outcome estimate(Document& document);
    // WritePrepare, WriteStart, WriteContinue, WriteFinish.
    Outcome write(Document& document, File& file);
    // A real host's save: the options, estimate and write steps in turn, each
    // group ended by its Finish, stopping at the first failure.
    Outcome save(Document& document, File& file);

    // ---- Raw access, for tests that send their own sequence ----------------
    // Applies the setup, clears the log and the counters.
    void begin();
    // Opens the file (truncating it when writing) and puts it in the record.
    // False, with `error` set, when a disk file cannot be opened.
    bool attach(File& file, bool forWriting, std::string* error = nullptr);
    void detach();
    // The document advanceState and the resource suite work on. For a write
    // its geometry also goes into the record.
    void useDocument(Document& document, bool describeInRecord);
    // Puts a fresh handle of the setup's script descriptor (a read's, or
    // with `forSave` a save's) in the descriptor parameters, with its
    // playInfo and recordInfo.
    void offerScriptDescriptor(bool forSave = false);
    // Puts a handle of `descriptor` there instead, with the playInfo and
    // recordInfo of the read's or the save's script.
    void offerDescriptor(const Descriptor& descriptor, bool forSave = false);
    // Takes what the module left in the descriptor parameters (after a
    // Finish) into the log's `recorded`, and disposes of it.
    void takeRecordedDescriptor();
    // The call as the host makes it; after a successful ReadStart the host
    // makes the document's image from what the record says.
    OSErr call(int16_t selector);
    OSErr callWith(int16_t selector, void* params);
    // Leak check; answers the log since begin().
    Outcome end();

    FormatRecord& record() { return record_; }
    AboutRecord& aboutRecord() { return about_; }
    Document& document() { return *document_; }
    Document takeDocument();
    intptr_t cell() const { return cell_; }

    size_t liveBuffers() const;
    size_t liveHandles() const;

    // Host-side services the hooks and the suites reach through the
    // current-host global.
    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
    PluginEntryProc entry_;
    intptr_t cell_ = 0;
    Setup setup_;
    Faults faults_;
    FormatRecord record_{};
    AboutRecord about_{};
    Document ownDocument_;
    Document* document_ = &ownDocument_;
    File* file_ = nullptr;

    Outcome readLike(File& file, bool withSamples);
    Outcome writeLike(Document& document, File& file, bool withOptionsAndEstimate);
    bool runGroup(int16_t prepare, int16_t start, int16_t cont, int16_t finish,
                  bool continueStep, const std::function<void()>& beforeStart = {});
};

// Windows-1252 text as UTF-8 (the module's messages are ANSI text).
std::string ansiToUtf8(std::string_view text);

}  // namespace nebulite::host
