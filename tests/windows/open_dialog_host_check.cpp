// Run under wine with a virtual display by scripts/windows_checks.sh: the
// 64-bit module's open dialog as the editor meets it. The module is found
// through its PiPL and asked to read a multi-extension file with the
// scripting parameters of an interactive open (no descriptor, playInfo
// plugInDialogDisplay) and a real window in the platform data. A second
// thread drives the dialog the module shows: it picks the second image (a
// float cube of two planes), its second plane and the asinh stretch and
// presses OK; the document and the descriptor the module hands back are
// written out for the script to compare with the Linux CLI's open with the
// same options (--image 2 --plane 2 --stretch asinh). A second open is
// cancelled: the dialog offers the last choices again, and Cancel answers
// userCanceledErr and opens nothing.
//
//   open_dialog_host_check.exe FOLDER FILE OUT.pgm OUT.json [--screenshot PREFIX]
//
// With --screenshot, the driven dialog waits before OK until the script has
// taken its picture (dialog_driver.h, waitForScreenshot). Prints one line
// per check; the exit status is the number that failed.
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cli/descriptor_json.h"
#include "cli/image_files.h"
#include "dialog_ids.h"
#include "host/host.h"
#include "host/pipl.h"
#include "tests/windows/dialog_driver.h"

namespace {

namespace drv = nebulite::dialog_driver;
namespace ids = nebulite::ui::ids::openDialog;
using namespace nebulite::host;

constexpr DWORD kAppear = 20000;  // for the dialog to appear or close, ms
constexpr const char* kCaption = "Nebulite: open FITS";

struct Checks {
    std::vector<std::string> lines;
    int failures = 0;
    // Called from the driving thread too, but never while the other
    // thread checks: the host's thread waits in the modal loop.
    bool check(bool ok, const std::string& what) {
        lines.push_back(std::string(ok ? "ok   " : "FAIL ") + what);
        if (!ok) ++failures;
        return ok;
    }
};

HWND hostWindow() {
    WNDCLASSA c{};
    c.lpfnWndProc = DefWindowProcA;
    c.hInstance = GetModuleHandleA(nullptr);
    c.lpszClassName = "NebuliteOpenDialogHost";
    RegisterClassA(&c);
    return CreateWindowExA(0, c.lpszClassName, "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                           c.hInstance, nullptr);
}

// The dialog's measured white point changes once the preview of a newly
// chosen image or mapping is rendered.
bool waitForFieldChange(HWND dialog, int id, const std::string& before) {
    return drv::waitUntil([&] {
        const std::string now = drv::controlText(dialog, id);
        return !now.empty() && now != before;
    }, 10000);
}

struct Run {
    Checks* checks;
    HWND owner;
    const char* screenshot;
    std::string shownWhite;  // the white point the dialog showed at OK
};

// The first open: the second image, its second plane, asinh, OK.
void chooseSecondImage(Run& run) {
    Checks& c = *run.checks;
    HWND dialog = drv::waitForDialog(kCaption, kAppear);
    if (!c.check(dialog != nullptr, "the module shows its open dialog")) return;
    c.check(GetWindow(dialog, GW_OWNER) == run.owner, "the dialog is owned by the window in the platform data");
    c.check(drv::listCount(dialog, ids::images) == 3, "the list shows the file's three images (of five HDUs)");
    c.check(drv::listRowText(dialog, ids::images, 1) == "2\tSCI,2\t256 x 192 x 2\t-32\tnone",
            "row 2 is HDU 2, SCI version 2, a float cube of two planes: '" +
                drv::listRowText(dialog, ids::images, 1) + "'");
    drv::waitUntil([&] { return !drv::controlText(dialog, ids::white).empty(); }, 10000);
    const std::string white = drv::controlText(dialog, ids::white);
    drv::selectListRow(dialog, ids::images, 1);
    // (the wait first: the message reads the field after it)
    const bool measured = waitForFieldChange(dialog, ids::white, white);
    c.check(measured,
            "choosing row 2 measures HDU 2: white point '" + white + "' became '" +
                drv::controlText(dialog, ids::white) + "'");
    bool chosen = drv::selectComboText(dialog, ids::planes, "one plane");
    c.check(chosen, "the planes list offers one plane");
    c.check(drv::isEnabled(dialog, ids::plane1) && !drv::isEnabled(dialog, ids::plane2),
            "one plane makes the first plane field editable, the second not");
    drv::typeText(dialog, ids::plane1, "2");
    c.check(drv::controlText(dialog, ids::plane1) == "2", "plane 2 typed");
    const std::string rangeWhite = drv::controlText(dialog, ids::white);
    chosen = drv::selectComboText(dialog, ids::stretch, "asinh") && chosen;
    c.check(chosen, "the stretch list offers asinh");
    // Asinh over the automatic interval (the central 99.5%) measures plane 2
    // afresh; the point shown must be the one the open then records.
    const bool remeasured = waitForFieldChange(dialog, ids::white, rangeWhite);
    c.check(remeasured,
            "asinh measures the chosen plane: white point '" + rangeWhite + "' became '" +
                drv::controlText(dialog, ids::white) + "'");
    Sleep(500);  // the preview of the stretch, for the picture
    run.shownWhite = drv::controlText(dialog, ids::white);
    c.check(drv::controlText(dialog, ids::message).empty(),
            "no message for options that hold: '" + drv::controlText(dialog, ids::message) + "'");
    if (run.screenshot != nullptr)
        c.check(drv::waitForScreenshot(dialog, run.screenshot), "the screenshot of the open dialog was taken");
    drv::clickButton(dialog, chosen ? IDOK : IDCANCEL);
    c.check(drv::waitForClose(dialog, kAppear), "OK closes the dialog");
}

// The second open: the last choices are offered again; Cancel.
void cancel(Run& run) {
    Checks& c = *run.checks;
    HWND dialog = drv::waitForDialog(kCaption, kAppear);
    if (!c.check(dialog != nullptr, "cancel: the dialog appears again")) return;
    c.check(drv::listSelection(dialog, ids::images) == 1, "cancel: the image chosen last is selected");
    c.check(drv::comboText(dialog, ids::planes) == "one plane" && drv::controlText(dialog, ids::plane1) == "2",
            "cancel: the plane chosen last is shown: '" + drv::comboText(dialog, ids::planes) + "', '" +
                drv::controlText(dialog, ids::plane1) + "'");
    c.check(drv::comboText(dialog, ids::stretch) == "asinh",
            "cancel: the stretch chosen last is shown: '" + drv::comboText(dialog, ids::stretch) + "'");
    drv::selectListRow(dialog, ids::images, 0);
    drv::clickButton(dialog, IDCANCEL);
    c.check(drv::waitForClose(dialog, kAppear), "cancel: Cancel closes the dialog");
}

template <typename Steps>
Outcome readDriven(Host& host, const std::string& path, Run& run, Steps steps, Checks& checks) {
    auto drive = [&] { steps(run); };
    drv::DriverThread driver(drive);
    checks.check(driver.started(), "a driving thread starts");
    File file = File::disk(path);
    Outcome outcome = host.read(file);
    checks.check(driver.join(2 * kAppear + 70000), "the driving thread ended");
    return outcome;
}

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5 && !(argc == 7 && std::strcmp(argv[5], "--screenshot") == 0)) {
        std::fprintf(stderr, "usage: open_dialog_host_check FOLDER FILE OUT.pgm OUT.json [--screenshot PREFIX]\n");
        return 2;
    }
    Checks checks;
    HWND owner = hostWindow();
    checks.check(owner != nullptr, "a host window");
    auto found = findFitsModule(argv[1]);
    std::string error;
    auto module = found ? Module::load(found->path, &error, found->info.entryPoint.value_or("")) : nullptr;
    if (!checks.check(module != nullptr, "the module is found through its PiPL and loads (" + error + ")")) {
        for (const std::string& line : checks.lines) std::printf("%s\n", line.c_str());
        return checks.failures;
    }
    Host host(module->entry());
    host.setup().hwnd = reinterpret_cast<intptr_t>(owner);
    // An interactive open: scripting parameters without a descriptor,
    // asking for dialogs.
    host.setup().script.present = false;
    host.setup().script.playInfo = plugInDialogDisplay;

    Run run{&checks, owner, argc == 7 ? argv[6] : nullptr, {}};
    Outcome chosen = readDriven(host, argv[2], run, chooseSecondImage, checks);
    checks.check(chosen.ok(), "the open answers noErr (" + std::to_string(chosen.result) + ")");
    checks.check(chosen.messages.empty() && chosen.violations.empty() && chosen.leaks.empty(),
                 "no message box, protocol violation or leak");
    const DescriptorItem* image = chosen.recorded ? chosen.recorded->find(fourCharCode("nbIm")) : nullptr;
    const DescriptorItem* planes = chosen.recorded ? chosen.recorded->find(fourCharCode("nbPl")) : nullptr;
    const DescriptorItem* plane = chosen.recorded ? chosen.recorded->find(fourCharCode("nbP1")) : nullptr;
    const DescriptorItem* stretch = chosen.recorded ? chosen.recorded->find(fourCharCode("nbSt")) : nullptr;
    checks.check(image != nullptr && image->integer == 2 && planes != nullptr &&
                     planes->value == fourCharCode("nbOn") && plane != nullptr && plane->integer == 2 &&
                     stretch != nullptr && stretch->value == fourCharCode("nbAs"),
                 "the descriptor handed back holds HDU 2, plane 2 and asinh");
    const DescriptorItem* white = chosen.recorded ? chosen.recorded->find(fourCharCode("nbWh")) : nullptr;
    const double shown = std::strtod(run.shownWhite.c_str(), nullptr);
    checks.check(white != nullptr && std::fabs(shown - white->number) <= 1e-6 * std::fabs(white->number),
                 "the white point the dialog showed (" + run.shownWhite + ") is the one the open recorded (" +
                     (white != nullptr ? std::to_string(white->number) : std::string("none")) + ")");
    if (chosen.ok()) {
        Document document = host.takeDocument();
        document.resources.clear();  // PNM carries no header
        nebulite::cli::saveImage(document, argv[3]);
        if (chosen.recorded) checks.check(writeText(argv[4], nebulite::cli::descriptorToJson(*chosen.recorded)),
                                          "the descriptor written out");
    }

    run.screenshot = nullptr;
    Outcome cancelled = readDriven(host, argv[2], run, cancel, checks);
    checks.check(cancelled.result == userCanceledErr,
                 "Cancel answers userCanceledErr (" + std::to_string(cancelled.result) + ")");
    checks.check(cancelled.rowsMoved == 0 && cancelled.messages.empty() && cancelled.leaks.empty(),
                 "Cancel opens nothing: no row moved, no message box, nothing left behind");
    checks.check(!cancelled.recorded.has_value(), "Cancel hands back no descriptor");

    DestroyWindow(owner);
    for (const std::string& line : checks.lines) std::printf("%s\n", line.c_str());
    return checks.failures;
}
