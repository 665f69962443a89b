// Run under wine with a virtual display by scripts/windows_checks.sh: the
// open and save dialogs shown for real, from the dialog templates in this
// program's resources (the module's own resource script, linked in), with a
// made-up file and a made-up preview. A second thread drives each dialog as
// a user would (dialog_driver.h) and the answers are checked against what
// was done and against the options library's own verdicts.
//
//   dialog_check.exe [--screenshot PREFIX]
//
// With --screenshot, the driven open dialog waits before OK: its client
// area on the screen ("x y width height") goes to PREFIX.ready, and it goes
// on once PREFIX.done exists (or after 60 s). Prints one line per check; the
// exit status is the number that failed.
#include <windows.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dialog_ids.h"
#include "options/option_text.h"
#include "options/resolve_open.h"
#include "options/resolve_save.h"
#include "tests/windows/dialog_driver.h"
#include "ui/open_dialog.h"
#include "ui/save_dialog.h"

namespace {

namespace drv = nebulite::dialog_driver;
namespace opt = nebulite::options;
namespace ui = nebulite::ui;
namespace openIds = nebulite::ui::ids::openDialog;
namespace saveIds = nebulite::ui::ids::saveDialog;

constexpr DWORD kAppear = 10000;  // for a dialog to appear or close, ms
constexpr DWORD kSettle = 5000;   // for a preview to be rendered, ms

struct Checks {
    std::vector<std::string> lines;
    int failures = 0;

    bool check(bool ok, const std::string& what) {
        lines.push_back(std::string(ok ? "ok   " : "FAIL ") + what);
        if (!ok) ++failures;
        return ok;
    }
    void print() const {
        for (const std::string& line : lines) std::printf("%s\n", line.c_str());
    }
};

// ---- The file the dialog is shown ------------------------------------------------------------

opt::HduFacts image(opt::HduKind kind, const char* extname, int16_t bitpix, uint64_t n1, uint64_t n2, uint64_t n3) {
    opt::HduFacts h;
    h.kind = kind;
    h.hasExtname = extname != nullptr;
    if (extname != nullptr) h.extname = opt::ExtName(extname);
    h.bitpix = bitpix;
    h.naxis = n3 > 1 ? 3 : n1 > 0 ? 2 : 0;
    h.naxis1 = n1;
    h.naxis2 = n2;
    h.naxis3 = n3;
    return h;
}

// HDU 0 an empty primary, 1 a float image, 2 a tile-compressed colour-filter
// mosaic, 3 a table, 4 a cube of five planes: the list shows rows for 1, 2, 4.
struct FakeFile {
    std::array<opt::HduFacts, 5> hdus;
    std::array<ui::CompressionName, 5> compression;

    FakeFile() {
        hdus[0] = image(opt::HduKind::image, nullptr, 8, 0, 0, 1);
        hdus[1] = image(opt::HduKind::image, "SCI", -32, 640, 480, 1);
        hdus[2] = image(opt::HduKind::compressedImage, "RAW", 16, 1024, 768, 1);
        hdus[2].bayer = opt::CfaPattern::rggb;
        compression[2] = ui::CompressionName("RICE_1");
        hdus[3] = image(opt::HduKind::binaryTable, "CAT", 8, 40, 1000, 1);
        hdus[4] = image(opt::HduKind::image, "CUBE", 8, 100, 100, 5);
    }
    opt::FileFacts facts() const { return {hdus}; }
};

// ---- The preview ---------------------------------------------------------------------------------

constexpr uint32_t kWidth = 256;
constexpr uint32_t kHeight = 192;
constexpr double kLow = 0.0;
constexpr double kHigh = 1000.0;
// The points the fake "measures" for every interval but explicit points.
constexpr double kMeasuredBlack = 12.5;
constexpr double kMeasuredWhite = 850.25;
constexpr double kMeasuredMidtone = 0.25;

// A sky: a faint noisy background, a galaxy, a few stars (physical values).
double sky(uint32_t x, uint32_t y) {
    double dx = (static_cast<double>(x) - 120.0) / 46.0, dy = (static_cast<double>(y) - 100.0) / 22.0;
    double rx = dx * 0.94 + dy * 0.34, ry = -dx * 0.34 * 2.2 + dy * 0.94;
    double galaxy = 900.0 * std::exp(-std::sqrt(rx * rx + ry * ry) * 3.2);
    double stars = 0.0;
    const double star[][3] = {{40, 30, 700}, {210, 50, 500}, {180, 160, 900}, {60, 150, 300}, {230, 120, 250}};
    for (const auto& s : star) {
        double ex = static_cast<double>(x) - s[0], ey = static_cast<double>(y) - s[1];
        stars += s[2] * std::exp(-(ex * ex + ey * ey) / 3.0);
    }
    uint32_t hash = (x * 73856093u) ^ (y * 19349663u);
    return 15.0 + static_cast<double>(hash % 23u) + galaxy + stars;
}

double curve(opt::Stretch stretch, double t, double midtone) {
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    switch (stretch) {
        case opt::Stretch::sqrt: return std::sqrt(t);
        case opt::Stretch::log: return std::log1p(1000.0 * t) / std::log(1001.0);
        case opt::Stretch::asinh: return std::asinh(10.0 * t) / std::asinh(10.0);
        case opt::Stretch::mtf: return (midtone - 1) * t / ((2 * midtone - 1) * t - midtone);
        default: return t;
    }
}

class FakePreview final : public ui::PreviewProvider {
public:
    FakePreview() { InitializeCriticalSection(&lock_); }
    ~FakePreview() { DeleteCriticalSection(&lock_); }
    FakePreview(const FakePreview&) = delete;
    FakePreview& operator=(const FakePreview&) = delete;

    ui::Preview render(const opt::OpenOptions& o) override {
        bool points = o.mapping.interval.kind == opt::IntervalKind::points;
        double black = points ? *o.mapping.interval.black : kMeasuredBlack;
        double white = points ? *o.mapping.interval.white : kMeasuredWhite;
        bool colour = o.debayer != opt::Debayer::off || o.planes.select == opt::PlaneSelect::three;
        counts_.fill(0);
        for (uint32_t y = 0; y < kHeight; ++y)
            for (uint32_t x = 0; x < kWidth; ++x) {
                double v = sky(x, y);
                counts_[static_cast<std::size_t>(std::fmin(255.0, std::fmax(0.0, (v - kLow) / (kHigh - kLow) * 256)))]++;
                double level = curve(o.mapping.stretch, (v - black) / (white - black), kMeasuredMidtone) * 255.0;
                uint8_t* p = &pixels_[(std::size_t{y} * kWidth + x) * 3];
                // Colour: a warm core and blue arms, as a demosaiced galaxy.
                double warm = colour ? std::fmin(1.0, v / 400.0) : 0.0;
                p[0] = static_cast<uint8_t>(std::lround(level));
                p[1] = static_cast<uint8_t>(std::lround(level * (1.0 - 0.15 * warm)));
                p[2] = static_cast<uint8_t>(std::lround(level * (colour ? 1.0 - 0.45 * warm : 1.0)));
            }
        ui::Preview out;
        out.image = {kWidth, kHeight, 3, kWidth * 3, pixels_.data()};
        out.histogram = {counts_, kLow, kHigh, black, white, kMeasuredMidtone};
        EnterCriticalSection(&lock_);
        ++renders_;
        last_ = o;
        LeaveCriticalSection(&lock_);
        return out;
    }

    int renders() {
        EnterCriticalSection(&lock_);
        int n = renders_;
        LeaveCriticalSection(&lock_);
        return n;
    }
    opt::OpenOptions last() {
        EnterCriticalSection(&lock_);
        opt::OpenOptions o = last_;
        LeaveCriticalSection(&lock_);
        return o;
    }
    // Waits for a render of options that pass `test`.
    template <typename Test>
    bool waitForRender(Test test) {
        return drv::waitUntil([&] { return renders() > 0 && test(last()); }, kSettle);
    }

private:
    CRITICAL_SECTION lock_;
    int renders_ = 0;
    opt::OpenOptions last_;
    std::array<uint8_t, kWidth * kHeight * 3> pixels_{};
    std::array<uint32_t, 256> counts_{};
};

// ---- Running a dialog with a driver ---------------------------------------------------------------

struct Drive {
    FakePreview* preview = nullptr;
    HWND owner = nullptr;
    const char* screenshot = nullptr;
    void (*steps)(Drive&) = nullptr;
    Checks checks;
};

// Shows a dialog with `show` on this thread while the drive's steps drive it
// from another; the driver's checks join `checks`.
template <typename Show>
auto runDriven(Drive& drive, Checks& checks, Show show) {
    auto steps = [&drive] { drive.steps(drive); };
    drv::DriverThread driver(steps);
    checks.check(driver.started(), "a driving thread starts");
    auto answer = show();
    bool ended = driver.join(2 * kAppear + 60000);
    checks.lines.insert(checks.lines.end(), drive.checks.lines.begin(), drive.checks.lines.end());
    checks.failures += drive.checks.failures;
    checks.check(ended, "the driving thread ended");
    return answer;
}

// A driver that cannot go on closes the dialog, so the run ends.
void giveUp(HWND dialog) {
    if (dialog != nullptr) drv::clickButton(dialog, IDCANCEL);
}

bool renderedHdu(const opt::OpenOptions& o, uint32_t hdu) {
    return o.image.select == opt::ImageSelect::index && o.image.index == hdu;
}

void pauseForScreenshot(Drive& d, HWND dialog) {
    if (d.screenshot == nullptr) return;
    d.checks.check(drv::waitForScreenshot(dialog, d.screenshot), "the screenshot of the open dialog was taken");
}

// Second image, a stretch, explicit points with a typed black point, OK.
void driveOpen(Drive& d) {
    HWND dialog = drv::waitForDialog("Nebulite: open FITS", kAppear);
    if (!d.checks.check(dialog != nullptr, "open: the dialog appears")) return;
    d.checks.check(GetWindow(dialog, GW_OWNER) == d.owner, "open: the dialog is owned by the host's window");
    d.checks.check(drv::listCount(dialog, openIds::images) == 3, "open: the list shows the 3 images of 5 HDUs");
    d.checks.check(drv::listSelection(dialog, openIds::images) == 0,
                   "open: the automatic image (HDU 1, after the empty primary) is selected");
    d.checks.check(drv::listRowText(dialog, openIds::images, 1) == "2\tRAW\t1024 x 768\t16\tRICE_1",
                   "open: row 2 reads HDU, EXTNAME, size, BITPIX, compression: '" +
                       drv::listRowText(dialog, openIds::images, 1) + "'");
    d.checks.check(d.preview->waitForRender([](const opt::OpenOptions& o) {
        return o.image.select == opt::ImageSelect::automatic;
    }), "open: a preview of the automatic choice is rendered at once");
    d.checks.check(!drv::isEnabled(dialog, openIds::debayer), "open: no demosaicing offered for HDU 1 (no BAYERPAT)");

    drv::selectListRow(dialog, openIds::images, 1);
    bool rendered = d.preview->waitForRender([](const opt::OpenOptions& o) { return renderedHdu(o, 2); });
    d.checks.check(rendered, "open: choosing row 2 renders HDU 2");
    d.checks.check(drv::isEnabled(dialog, openIds::debayer), "open: demosaicing offered for HDU 2 (BAYERPAT RGGB)");
    d.checks.check(drv::controlText(dialog, openIds::debayerAuto).find("RGGB") != std::string::npos,
                   "open: the note names the header's pattern: '" + drv::controlText(dialog, openIds::debayerAuto) + "'");
    d.checks.check(drv::controlText(dialog, openIds::white) == "850.25",
                   "open: the white point field shows the measured point: '" + drv::controlText(dialog, openIds::white) +
                       "'");

    bool chosen = drv::selectComboText(dialog, openIds::stretch, "asinh") &&
                  drv::selectComboText(dialog, openIds::interval, "black and white points") &&
                  drv::selectComboText(dialog, openIds::debayer, "automatic");
    if (!d.checks.check(chosen, "open: stretch, interval and debayer entries are there")) return giveUp(dialog);
    d.checks.check(drv::isEnabled(dialog, openIds::black) && drv::isEnabled(dialog, openIds::white),
                   "open: explicit points make the black and white fields editable");
    drv::typeText(dialog, openIds::black, "100");
    d.checks.check(d.preview->waitForRender([](const opt::OpenOptions& o) {
        return renderedHdu(o, 2) && o.mapping.stretch == opt::Stretch::asinh && o.mapping.interval.black == 100.0;
    }), "open: the typed black point is rendered");
    d.checks.check(drv::controlText(dialog, openIds::message).empty(),
                   "open: no message for options that hold: '" + drv::controlText(dialog, openIds::message) + "'");
    pauseForScreenshot(d, dialog);
    drv::clickButton(dialog, IDOK);
    d.checks.check(drv::waitForClose(dialog, kAppear), "open: OK closes the dialog");
}

// Options that do not hold keep the dialog open with the library's message.
void driveRefusal(Drive& d) {
    HWND dialog = drv::waitForDialog("Nebulite: open FITS", kAppear);
    if (!d.checks.check(dialog != nullptr, "refusal: the dialog appears")) return;
    d.preview->waitForRender([](const opt::OpenOptions&) { return true; });
    drv::selectComboText(dialog, openIds::stretch, "linear");
    drv::selectComboText(dialog, openIds::interval, "black and white points");
    drv::typeText(dialog, openIds::black, "12a");
    opt::Checked<double> parsed = opt::parseNumber("12a");
    d.checks.check(drv::controlText(dialog, openIds::message) == "black point: " + std::string(parsed.error.view()),
                   "refusal: a black point that is no number is named: '" +
                       drv::controlText(dialog, openIds::message) + "'");
    drv::typeText(dialog, openIds::black, "900");
    // What the options library says of these options, on its own.
    opt::OpenOptions wrong;
    wrong.mapping.stretch = opt::Stretch::linear;
    wrong.mapping.interval.kind = opt::IntervalKind::points;
    wrong.mapping.interval.black = 900.0;
    wrong.mapping.interval.white = kMeasuredWhite;
    FakeFile file;
    std::string verdict(opt::resolve(wrong, file.facts()).message.view());
    d.checks.check(!verdict.empty() && drv::controlText(dialog, openIds::message) == verdict,
                   "refusal: black above white shows the library's message: '" + verdict + "'");
    drv::clickButton(dialog, IDOK);
    Sleep(300);
    d.checks.check(IsWindowVisible(dialog) != FALSE, "refusal: OK does not close the dialog while they do not hold");
    drv::typeText(dialog, openIds::black, "1");
    d.checks.check(drv::controlText(dialog, openIds::message).empty(), "refusal: mended, the message goes");
    drv::clickButton(dialog, IDOK);
    d.checks.check(drv::waitForClose(dialog, kAppear), "refusal: then OK closes it");
}

void driveCancel(Drive& d) {
    HWND dialog = drv::waitForDialog("Nebulite: open FITS", kAppear);
    if (!d.checks.check(dialog != nullptr, "cancel: the dialog appears")) return;
    drv::selectListRow(dialog, openIds::images, 2);
    drv::selectComboText(dialog, openIds::stretch, "square root");
    drv::clickButton(dialog, IDCANCEL);
    d.checks.check(drv::waitForClose(dialog, kAppear), "cancel: Cancel closes the dialog");
}

// The image chosen at the previous open, by name, is selected and kept.
void driveKept(Drive& d) {
    HWND dialog = drv::waitForDialog("Nebulite: open FITS", kAppear);
    if (!d.checks.check(dialog != nullptr, "previous: the dialog appears")) return;
    d.checks.check(drv::listSelection(dialog, openIds::images) == 1, "previous: EXTNAME 'RAW' selects row 2");
    d.checks.check(drv::comboText(dialog, openIds::stretch) == "logarithmic",
                   "previous: the stretch shows as chosen: '" + drv::comboText(dialog, openIds::stretch) + "'");
    d.checks.check(drv::comboText(dialog, openIds::planes) == "automatic", "previous: planes automatic");
    drv::clickButton(dialog, IDOK);
    d.checks.check(drv::waitForClose(dialog, kAppear), "previous: OK closes the dialog");
}

void driveSave(Drive& d) {
    HWND dialog = drv::waitForDialog("Nebulite: save FITS", kAppear);
    if (!d.checks.check(dialog != nullptr, "save: the dialog appears")) return;
    d.checks.check(GetWindow(dialog, GW_OWNER) == d.owner, "save: the dialog is owned by the host's window");
    d.checks.check(!drv::isEnabled(dialog, saveIds::tileRows) && !drv::isEnabled(dialog, saveIds::quantize),
                   "save: no tile or quantize level without compression");
    d.checks.check(!drv::isEnabled(dialog, saveIds::orientation),
                   "save: a document opened from FITS goes back the way it came (orientation greyed)");
    d.checks.check(drv::isEnabled(dialog, saveIds::bitpix), "save: BITPIX offered for a 32-bit document");
    bool chosen = drv::selectComboText(dialog, saveIds::compression, "Rice");
    if (!d.checks.check(chosen, "save: the Rice entry is there")) return giveUp(dialog);
    // The automatic tile as the options library settles it for this document.
    opt::SaveFacts facts;
    facts.columns = 800;
    facts.rows = 600;
    facts.depth = 32;
    facts.keptBitpix = -64;
    facts.keptHeader = true;
    opt::SaveOptions rice;
    rice.compression = opt::Compression::rice;
    rice.quantize = 4.0;
    opt::ResolvedSave resolved = opt::resolve(rice, facts).resolved;
    std::string automatic = "automatic: " + std::to_string(resolved.tileRows) + " x " + std::to_string(resolved.tileColumns);
    d.checks.check(drv::controlText(dialog, saveIds::tileAuto) == automatic,
                   "save: the note shows the automatic tile: '" + drv::controlText(dialog, saveIds::tileAuto) + "'");
    drv::selectComboText(dialog, saveIds::bitpix, "-32 (float)");
    d.checks.check(drv::isEnabled(dialog, saveIds::quantize), "save: quantize offered for floating-point samples");
    drv::typeText(dialog, saveIds::tileRows, "16");
    d.checks.check(!drv::controlText(dialog, saveIds::message).empty(), "save: a tile of rows alone is refused");
    drv::typeText(dialog, saveIds::tileColumns, "200");
    drv::typeText(dialog, saveIds::quantize, "4");
    d.checks.check(drv::controlText(dialog, saveIds::message).empty(),
                   "save: no message: '" + drv::controlText(dialog, saveIds::message) + "'");
    drv::clickButton(dialog, IDOK);
    d.checks.check(drv::waitForClose(dialog, kAppear), "save: OK closes the dialog");
}

HWND hostWindow() {
    WNDCLASSA c{};
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "NebuliteDialogCheckHost";
    RegisterClassA(&c);
    return CreateWindowExA(0, c.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           c.hInstance, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    const char* screenshot = argc == 3 && std::strcmp(argv[1], "--screenshot") == 0 ? argv[2] : nullptr;
    Checks checks;
    FakeFile file;
    FakePreview preview;
    HWND owner = hostWindow();
    checks.check(owner != nullptr, "a host window to own the dialogs");
    ui::DialogHost host{reinterpret_cast<intptr_t>(owner), GetModuleHandleA(nullptr)};

    ui::OpenDialogRequest request;
    request.host = host;
    request.file = file.facts();
    request.compression = file.compression;
    request.preview = &preview;

    {
        Drive d{&preview, owner, screenshot, driveOpen, {}};
        ui::OpenDialogAnswer a = runDriven(d, checks, [&] { return ui::showOpenDialog(request); });
        const opt::OpenOptions& o = a.options;
        checks.check(a.outcome == ui::DialogOutcome::ok, "open: answered OK");
        checks.check(renderedHdu(o, 2), "open: the answer chooses HDU 2");
        checks.check(o.mapping.stretch == opt::Stretch::asinh, "open: ... stretch asinh");
        checks.check(o.mapping.interval.kind == opt::IntervalKind::points && o.mapping.interval.black == 100.0 &&
                         o.mapping.interval.white == kMeasuredWhite,
                     "open: ... black 100 as typed, white the measured 850.25");
        checks.check(o.debayer == opt::Debayer::automatic && o.planes.select == opt::PlaneSelect::automatic &&
                         o.depth == opt::Depth::automatic,
                     "open: ... debayer automatic; planes and depth left automatic");
        checks.check(opt::resolve(o, file.facts()).ok(), "open: the answer resolves against the file");
    }
    {
        Drive d{&preview, owner, nullptr, driveRefusal, {}};
        ui::OpenDialogAnswer a = runDriven(d, checks, [&] { return ui::showOpenDialog(request); });
        checks.check(a.outcome == ui::DialogOutcome::ok && a.options.mapping.interval.black == 1.0,
                     "refusal: answered OK with the mended black point");
    }
    {
        Drive d{&preview, owner, nullptr, driveCancel, {}};
        ui::OpenDialogAnswer a = runDriven(d, checks, [&] { return ui::showOpenDialog(request); });
        checks.check(a.outcome == ui::DialogOutcome::cancel, "cancel: answered cancel");
        checks.check(a.options == request.current, "cancel: the options are the request's, untouched");
    }
    {
        ui::OpenDialogRequest previous = request;
        previous.current.image = {opt::ImageSelect::name, 0, opt::ExtName("RAW"), std::nullopt};
        previous.current.mapping.stretch = opt::Stretch::log;
        Drive d{&preview, owner, nullptr, driveKept, {}};
        ui::OpenDialogAnswer a = runDriven(d, checks, [&] { return ui::showOpenDialog(previous); });
        checks.check(a.outcome == ui::DialogOutcome::ok && a.options.image == previous.current.image,
                     "previous: the image stays chosen by EXTNAME");
    }
    {
        ui::SaveDialogRequest save;
        save.host = host;
        save.document.columns = 800;
        save.document.rows = 600;
        save.document.depth = 32;
        save.document.keptBitpix = -64;
        save.document.keptHeader = true;
        Drive d{&preview, owner, nullptr, driveSave, {}};
        ui::SaveDialogAnswer a = runDriven(d, checks, [&] { return ui::showSaveDialog(save); });
        const opt::SaveOptions& o = a.options;
        checks.check(a.outcome == ui::DialogOutcome::ok, "save: answered OK");
        checks.check(o.compression == opt::Compression::rice && o.tile == opt::TileSize{16, 200} && o.quantize == 4.0 &&
                         o.floatBitpix == opt::FloatBitpix::minus32,
                     "save: Rice, tile 16 x 200, quantize 4, BITPIX -32");
        checks.check(opt::resolve(o, save.document).ok(), "save: the answer resolves against the document");
    }
    {
        // No template in the instance given: the dialog cannot be shown.
        ui::OpenDialogRequest elsewhere = request;
        elsewhere.host.moduleInstance = GetModuleHandleA("kernel32.dll");
        ui::OpenDialogAnswer a = ui::showOpenDialog(elsewhere);
        checks.check(a.outcome == ui::DialogOutcome::notShown && a.options == request.current,
                     "no template: answered not shown, with the request's options");
        ui::SaveDialogRequest save;
        save.host = elsewhere.host;
        checks.check(ui::showSaveDialog(save).outcome == ui::DialogOutcome::notShown,
                     "no template: the save dialog answers not shown");
        // Nothing to choose from: a file of tables.
        std::array<opt::HduFacts, 2> tables = {file.hdus[0], file.hdus[3]};
        ui::OpenDialogRequest none = request;
        none.file = {tables};
        checks.check(ui::showOpenDialog(none).outcome == ui::DialogOutcome::notShown,
                     "no image in the file: answered not shown");
    }
    DestroyWindow(owner);
    checks.print();
    return checks.failures;
}
