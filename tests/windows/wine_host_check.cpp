// Run under wine by scripts/windows_checks.sh: the 64-bit module as the
// editor meets it. The module is found in the given folder through its PiPL
// (the resource, read without running the module) and entered where the
// property for this host's own architecture says; the about box must be
// owned by the window the host put in the AboutRecord's platform data.
// Its PiPL, and that of every other DLL given with --pipl (the 32-bit one,
// mapped as data: this machine cannot run it), must have Save As offer the
// module for 32-bit grey and RGB documents, as for 8- and 16-bit ones, with
// the mode flags as they were. Given a FITS file (--float), it is opened
// into a 32-bit document (the depth option played as an action plays it, no
// dialog) and the document saved as an editor saves it, header and open
// record kept, to OUT: the script compares OUT with what the Linux build
// writes for the same open and save.
//
//   wine_host_check.exe FOLDER [--pipl OTHER.8bi]... [--float IN.fits OUT.fits]
//
// Prints one line per check; the exit status is the number that failed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/pipl.h"
#include "host/save_as_modes.h"

namespace {

int failures = 0;

void check(bool ok, const std::string& what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok) ++failures;
}

// The documents Save As offers the module for, from the PiPL of the DLL at
// `path` as this host's loader reads it (FindResource on the file mapped as
// data).
void checkSaveAsModes(const std::string& path, const std::string& label) {
    using namespace nebulite::host;
    std::string error;
    auto bytes = readModulePipl(path, &error);
    auto list = bytes ? parsePropertyList(*bytes, &error) : std::nullopt;
    check(list.has_value(), label + ": its PiPL is read (" + error + ")");
    if (!list) return;
    const PluginInfo info = decodePluginInfo(*list);
    for (const char* mode : {"GrayScaleMode", "RGBMode", "Gray16Mode", "RGB48Mode", "Gray32Mode", "RGB96Mode"})
        check(offersSaveAs(info, mode), label + ": Save As offers it for " + mode + " documents");
    check(info.modes == std::vector<std::string>{"Bitmap", "Grayscale", "Indexed", "RGB", "CMYK", "HSL", "HSB",
                                                 "Multichannel", "Duotone", "Lab"},
          label + ": its mode flags are the ten 8-bit modes, as before");
}

// IN opened at depth 32 and saved to OUT, as `nebulite open --depth 32`
// and `nebulite save` of its TIFF do on Linux.
void openFloatsAndSave(PluginEntryProc entry, const nebulite::host::PluginInfo& info, const std::string& in,
                       const std::string& out) {
    using namespace nebulite::host;
    Host reader(entry);
    reader.setup().script.present = true;
    reader.setup().script.playInfo = plugInDialogSilent;
    reader.setup().script.descriptor.items = {
        DescriptorItem::ofEnumerated(fourCharCode("nbDp"), fourCharCode("nbTD"), fourCharCode("nb32"))};
    File source = File::disk(in);
    Outcome opened = reader.read(source);
    check(opened.ok(), in + " opens with the depth option at 32");
    if (!opened.ok()) return;
    Document document = reader.takeDocument();
    check(document.image.depth == 32 && document.image.real.size() == document.image.sampleCount(),
          "the document is 32-bit, its floats handed over");
    check(document.resources.count(kOpenRecordResource) == 1, "the document keeps how it was opened");
    check(offersSaveAs(info, enableModeName(document.image.mode, document.image.depth)),
          "Save As offers the module for that document (" +
              enableModeName(document.image.mode, document.image.depth) + ")");
    Host writer(entry);
    writer.setup().saveScript.present = false;
    File target = File::disk(out);
    Outcome saved = writer.save(document, target);
    check(saved.ok(), "the 32-bit document saves to " + out);
    check(opened.violations.empty() && saved.violations.empty(), "the host saw no protocol violation");
}

}  // namespace

int main(int argc, char** argv) {
    using namespace nebulite::host;
    std::vector<std::string> others;
    std::string floatIn, floatOut;
    bool usage = argc < 2;
    for (int i = 2; i < argc && !usage; ++i) {
        if (std::strcmp(argv[i], "--pipl") == 0 && i + 1 < argc) {
            others.emplace_back(argv[++i]);
        } else if (std::strcmp(argv[i], "--float") == 0 && i + 2 < argc) {
            floatIn = argv[++i];
            floatOut = argv[++i];
        } else {
            usage = true;
        }
    }
    if (usage) {
        std::fprintf(stderr, "usage: wine_host_check FOLDER [--pipl OTHER.8bi]... [--float IN.fits OUT.fits]\n");
        return 2;
    }
    auto found = findFitsModule(argv[1]);
    check(found.has_value(), "a module in the folder claims FITS through its PiPL");
    if (!found) return failures;
    check(found->info.entryPoint == "ENTRYPOINT",
          "its PiPL names ENTRYPOINT under this host's code property '" +
              fourCharCode(kOwnCodeProperty) + "'");
    std::string error;
    auto module = Module::load(found->path, &error, found->info.entryPoint.value_or(""));
    check(module != nullptr, "the module loads and has that entry (" + error + ")");
    if (!module) return failures;

    Host host(module->entry());
    Outcome about = host.about();
    check(about.ok(), "the about selector answers noErr");
    check(about.messages.size() == 1, "the about selector shows one message box");
    if (!about.messages.empty()) {
        const MessageBox& box = about.messages.front();
        check(box.owner == kFakeWindow, "the about box is owned by the host's window");
        check(box.text.rfind("Nebulite\n", 0) == 0, "the about box shows the about text");
    }
    check(about.violations.empty(), "the host saw no protocol violation");
    checkSaveAsModes(found->path, found->path);
    for (const std::string& other : others) checkSaveAsModes(other, other);
    if (!floatIn.empty()) openFloatsAndSave(module->entry(), found->info, floatIn, floatOut);
    return failures;
}
