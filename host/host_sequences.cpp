// The host's side of every selector sequence: a call as the editor makes it,
// the read, estimate, write and save sequences built from calls, and the log
// each sequence answers with.
#include <algorithm>
#include <climits>
#include <cstring>

#include "host/host_impl.h"
#include "host/host_lock.h"
#include "host/result_codes.h"

namespace nebulite::host {

namespace {

// The module keeps its state in the cell for as long as it stays loaded, and
// a loaded module is never unloaded here; cells of hosts that are gone are
// kept where a leak checker can still see them.
void retireCell(intptr_t cell) {
    static HostLock lock;
    static auto* cells = new std::vector<intptr_t>();
    HostLockGuard guard(lock);
    cells->push_back(cell);
}

}  // namespace

// ---- Bookkeeping ------------------------------------------------------------------

void Host::Impl::violation(std::string_view routine, const std::string& what) {
    std::string text(selectorName(selector));
    text += ": ";
    text += routine;
    text += ": ";
    text += what;
    log.violations.push_back(std::move(text));
}

void Host::Impl::fail(int16_t step, OSErr code) {
    if (log.failedSelector >= 0 || code == noErr) return;
    log.failedSelector = step;
    log.result = code;
}

// The editor shows the text of the first step that reported one.
void Host::Impl::takeReport() {
    if (host.record_.errorString == nullptr) {
        violation("result", "errReportString, but the host offered no errorString");
        return;
    }
    const unsigned char* text = *host.record_.errorString;
    if (log.reported.empty()) log.reported.assign(reinterpret_cast<const char*>(text + 1), text[0]);
    if (log.reported.empty()) violation("errorString", "errReportString with an empty text");
}

void Host::Impl::hostFailure(OSErr code, std::string why) {
    if (log.hostFailure.empty()) log.hostFailure = std::move(why);
    if (log.result == noErr) log.result = code;
}

int Host::Impl::messageBox(void* owner, const char* text, const char* caption, unsigned type) {
    MessageBox box;
    box.text = text != nullptr ? text : "";
    if (caption != nullptr) box.caption = caption;
    box.type = type;
    box.owner = reinterpret_cast<intptr_t>(owner);
    box.selector = selector;
    if (text == nullptr) violation("MessageBoxA", "null text");
    log.messages.push_back(box);
    if (host.onMessageBox) host.onMessageBox(log.messages.back());
    return host.setup_.messageBoxAnswer;
}

// ---- Host -------------------------------------------------------------------------

std::vector<int16_t> Outcome::selectors() const {
    std::vector<int16_t> out;
    out.reserve(calls.size());
    for (const Call& c : calls) out.push_back(c.selector);
    return out;
}

Host::Host(PluginEntryProc entry, Setup setup)
    : impl_(std::make_unique<Impl>(*this)), entry_(entry), setup_(std::move(setup)) {
    impl_->applySetup();
}

Host::~Host() {
    detach();
    if (cell_ != 0) retireCell(cell_);
    for (auto& [id, record] : impl_->buffers) std::free(record->data);
    for (auto& [h, record] : impl_->handles) std::free(record->data);
    if (Impl::currentSlot() == impl_.get()) Impl::currentSlot() = nullptr;
}

void Host::begin() {
    impl_->applySetup();
    impl_->log = Outcome{};
    impl_->readTokens.clear();
    impl_->writeTokens.clear();
    impl_->offeredDescriptor = 0;
    impl_->offeredRevert = 0;
    impl_->saving = false;
    impl_->documentError = noErr;
    ++impl_->sequence;
}

void Host::useDocument(Document& document, bool describeInRecord) {
    document_ = &document;
    if (!describeInRecord) return;
    const Image& image = document.image;
    record_.imageMode = image.mode;
    // The 16-bit fields as far as they reach; the 32-bit ones whenever this
    // host offers them, as the editor fills both before a save.
    record_.imageSize.v = static_cast<int16_t>(std::min(image.rows, 32767));
    record_.imageSize.h = static_cast<int16_t>(std::min(image.columns, 32767));
    if (setup_.coordinates32) record_.imageSize32 = {image.rows, image.columns};
    record_.depth = image.depth;
    record_.planes = image.planes;
    record_.imageRsrcData = nullptr;
    record_.imageRsrcSize = 0;
}

OSErr Host::call(int16_t selector) {
    return callWith(selector, selector == formatSelectorAbout ? static_cast<void*>(&about_)
                                                              : static_cast<void*>(&record_));
}

OSErr Host::callWith(int16_t selector, void* params) {
    if (beforeCall) beforeCall(selector);
    Impl*& current = Impl::currentSlot();
    Impl* previous = current;
    current = impl_.get();
    impl_->selector = selector;
    int16_t result = noErr;
    entry_(selector, params, &cell_, &result);
    impl_->log.calls.push_back({selector, result});
    if (result == errReportString) impl_->takeReport();
    if (selector == formatSelectorReadStart && params == &record_ && result == noErr)
        impl_->makeDocumentImage();
    impl_->selector = -1;
    current = previous;
    if (afterCall) afterCall(selector);
    return result;
}

Outcome Host::end() {
    Impl& I = *impl_;
    // A sequence a test drives call by call ends as the editor ends any:
    // it keeps the descriptor and revert information the module left.
    I.takeRecorded(I.log.calls.empty() ? -1 : I.log.calls.back().selector);
    I.takeRevertInfo();
    for (auto& [id, record] : I.buffers)
        if (record->sequence == I.sequence)
            I.log.leaks.push_back({Leak::Kind::buffer, static_cast<int64_t>(record->size), record->selector});
    std::vector<Handle> hostOwned;
    for (auto& [h, record] : I.handles) {
        if (record->hostOwned) {
            hostOwned.push_back(h);
        } else if (record->sequence == I.sequence) {
            I.log.leaks.push_back({record->kind, static_cast<int64_t>(record->size), record->selector});
        }
    }
    // Resource handles are the host's; they last as long as the sequence.
    for (Handle h : hostOwned) I.freeHandle(h);
    for (auto& token : I.readTokens)
        if (token->open) I.log.violations.push_back("read descriptor left open at the end");
    for (auto& token : I.writeTokens)
        if (token->open) I.log.violations.push_back("write descriptor left open at the end");
    I.readTokens.clear();
    I.writeTokens.clear();
    detach();
    Outcome out = std::move(I.log);
    I.log = Outcome{};
    return out;
}

Document Host::takeDocument() {
    Document out = std::move(ownDocument_);
    ownDocument_ = Document{};
    return out;
}

size_t Host::liveBuffers() const { return impl_->buffers.size(); }

size_t Host::liveHandles() const {
    size_t n = 0;
    for (auto& [h, record] : impl_->handles)
        if (!record->hostOwned) ++n;
    return n;
}

// ---- Sequences ----------------------------------------------------------------------

Outcome Host::about() {
    begin();
    impl_->fail(formatSelectorAbout, call(formatSelectorAbout));
    return end();
}

Outcome Host::filterFile(File& file) {
    begin();
    std::string error;
    if (!attach(file, false, &error)) {
        impl_->hostFailure(readErr, error);
        return end();
    }
    impl_->fail(formatSelectorFilterFile, call(formatSelectorFilterFile));
    return end();
}

Outcome Host::readLike(File& file, bool withSamples) {
    begin();
    ownDocument_ = Document{};
    document_ = &ownDocument_;
    std::string error;
    if (!attach(file, false, &error)) {
        impl_->hostFailure(readErr, error);
        return end();
    }
    Impl& I = *impl_;
    auto step = [&](int16_t selector) {
        OSErr r = call(selector);
        I.fail(selector, r);
        return r == noErr;
    };
    I.offerRevertInfo();
    bool going = step(formatSelectorReadPrepare);
    if (going) {
        offerScriptDescriptor();
        going = step(formatSelectorReadStart);
    }
    if (going && I.documentError != noErr) {
        I.fail(formatSelectorReadStart, I.documentError);
        I.hostFailure(I.documentError, I.documentError == memFullErr
                                           ? "the image is too large for the host"
                                           : "the host cannot make that document");
        going = false;
    }
    if (going && withSamples) {
        going = step(formatSelectorReadContinue);
        if (record_.data != nullptr)
            I.violation("ReadContinue", "data left set; this host moves rows through advanceState only");
    }
    step(formatSelectorReadFinish);
    I.takeRecorded(formatSelectorReadFinish);
    I.takeRevertInfo();
    return end();
}

Outcome Host::read(File& file) { return readLike(file, true); }
Outcome Host::info(File& file) { return readLike(file, false); }

namespace {

// Runs `sequence` with the setup changed by `change`, then puts it back.
template <typename Change, typename Sequence>
Outcome withSetup(Setup& setup, Change change, Sequence sequence) {
    Setup saved = setup;
    change(setup);
    Outcome outcome = sequence();
    setup = std::move(saved);
    return outcome;
}

}  // namespace

Outcome Host::revert(File& file, std::vector<uint8_t> revertInfo) {
    return withSetup(
        setup_,
        [&](Setup& s) {
            s.revertInfo = std::move(revertInfo);
            s.script.present = false;
        },
        [&] { return readLike(file, true); });
}

Outcome Host::preview(File& file) {
    return withSetup(
        setup_,
        [](Setup& s) {
            s.openForPreview = true;
            s.script.present = false;
        },
        [&] { return readLike(file, true); });
}

bool Host::runGroup(int16_t prepare, int16_t start, int16_t cont, int16_t finish,
                    bool continueStep, const std::function<void()>& beforeStart) {
    Impl& I = *impl_;
    bool failed = false;
    auto step = [&](int16_t selector) {
        OSErr r = call(selector);
        if (r != noErr && !failed) {
            I.fail(selector, r);
            failed = true;
        }
        return r == noErr;
    };
    record_.maxData = setup_.maxData;
    bool going = step(prepare);
    if (going) {
        if (beforeStart) beforeStart();
        going = step(start);
        if (start == formatSelectorEstimateStart) {
            I.log.minDataBytes = record_.minDataBytes;
            I.log.maxDataBytes = record_.maxDataBytes;
        }
    }
    if (going && continueStep) {
        step(cont);
        if (cont == formatSelectorWriteContinue && record_.data != nullptr)
            I.violation("WriteContinue", "data left set; this host moves rows through advanceState only");
    }
    step(finish);
    return !failed;
}

namespace {

// The record describes an image with 16-bit sizes, or with 32-bit ones up to
// the editor's largest document where the host offers them; a larger
// document cannot be handed to a module at all.
std::string undescribable(const Image& image, const Setup& setup) {
    const int32_t most = setup.coordinates32 ? 300000 : INT16_MAX;
    if (image.rows > most || image.columns > most)
        return "the host cannot describe an image of " + std::to_string(image.columns) + "x" +
               std::to_string(image.rows);
    return {};
}

}  // namespace

Outcome Host::estimate(Document& document) {
    begin();
    if (std::string why = undescribable(document.image, setup_); !why.empty()) {
        impl_->hostFailure(formatBadParameters, why);
        return end();
    }
    useDocument(document, true);
    runGroup(formatSelectorEstimatePrepare, formatSelectorEstimateStart,
             formatSelectorEstimateContinue, formatSelectorEstimateFinish, true);
    document_ = &ownDocument_;
    return end();
}

Outcome Host::write(Document& document, File& file) {
    return writeLike(document, file, false);
}

// A real host's save: the options, estimate and write steps in turn.
Outcome Host::save(Document& document, File& file) {
    return writeLike(document, file, true);
}

Outcome Host::writeLike(Document& document, File& file, bool withOptionsAndEstimate) {
    begin();
    std::string error = undescribable(document.image, setup_);
    if (!error.empty()) {
        impl_->hostFailure(formatBadParameters, error);
        return end();
    }
    useDocument(document, true);
    impl_->saving = true;
    if (attach(file, true, &error)) {
        bool going = true;
        // The script descriptor goes to OptionsStart; WriteStart gets what
        // the options left (the editor does not always run the options, so
        // the module reads its descriptor again there), or the script's.
        if (withOptionsAndEstimate) {
            going = runGroup(formatSelectorOptionsPrepare, formatSelectorOptionsStart,
                             formatSelectorOptionsContinue, formatSelectorOptionsFinish, true,
                             [this] { offerScriptDescriptor(true); });
            impl_->takeRecorded(formatSelectorOptionsFinish);
            going = going && runGroup(formatSelectorEstimatePrepare, formatSelectorEstimateStart,
                                      formatSelectorEstimateContinue, formatSelectorEstimateFinish, true);
        }
        if (going) {
            runGroup(formatSelectorWritePrepare, formatSelectorWriteStart, formatSelectorWriteContinue,
                     formatSelectorWriteFinish, true, [this] {
                         if (impl_->log.recorded)
                             offerDescriptor(*impl_->log.recorded, true);
                         else
                             offerScriptDescriptor(true);
                     });
            impl_->takeRecorded(formatSelectorWriteFinish);
        }
    } else {
        impl_->hostFailure(writErr, error);
    }
    document_ = &ownDocument_;
    return end();
}

}  // namespace nebulite::host
