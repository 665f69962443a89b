#include "cli/commands.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <iterator>
#include <optional>

#include "cli/descriptor_json.h"
#include "cli/file_header.h"
#include "cli/fixed_text.h"
#include "cli/modules.h"
#include "cli/mosaic_info.h"
#include "cli/image_files.h"
#include "cli/image_formats.h"
#include "cli/sample_scaling.h"
#include "cli/script_options.h"
#include "header/fits_units.h"
#include "host/pipl.h"
#include "host/result_codes.h"

namespace nebulite::cli {

namespace {

using host::File;
using host::Outcome;

// Any format of the table, even one this build lacks: loadImage and
// saveImage refuse those by name.
bool isImageFile(const std::string& path) { return imageFileFormat(formatForPath(path)) != nullptr; }

// Runs a sequence with the progress bar hooked up.
template <typename Run>
Outcome withProgress(host::Host& h, Run run) {
    ProgressBar bar;
    h.onProgress = [&bar](int32_t done, int32_t total) { bar.update(done, total); };
    Outcome outcome = run();
    bar.finish();
    h.onProgress = nullptr;
    return outcome;
}

// The CLI plays its options as an action does: the descriptor of the
// options (or none), and never a dialog.
Document openFits(Context& context, const std::string& path, const std::optional<host::Descriptor>& play = {},
                  std::optional<host::Descriptor>* recorded = nullptr) {
    auto h = context.makeHost();
    h->setup().script.present = play.has_value();
    if (play) h->setup().script.descriptor = *play;
    h->setup().script.playInfo = plugInDialogSilent;
    File file = File::disk(path);
    Outcome outcome = withProgress(*h, [&] { return h->read(file); });
    if (!outcome.ok()) failSequence("opening " + path, outcome);
    if (recorded != nullptr) *recorded = outcome.recorded;
    return h->takeDocument();
}

void saveFits(Context& context, Document& document, const std::string& path,
              const std::optional<host::Descriptor>& play = {}) {
    const Image& image = document.image;
    // The editor's largest document; the module takes it through 32-bit geometry.
    if (image.rows > static_cast<int32_t>(kMaxSide) || image.columns > static_cast<int32_t>(kMaxSide))
        throw Failure("the image is larger than " + std::to_string(kMaxSide) + " on a side", formatBadParameters);
    AtomicOutput output(path);
    auto h = context.makeHost();
    h->setup().saveScript.present = play.has_value();
    if (play) h->setup().saveScript.descriptor = *play;
    h->setup().saveScript.playInfo = plugInDialogSilent;
    File file = File::disk(output.path());
    Outcome outcome = withProgress(*h, [&] { return h->save(document, file); });
    if (!outcome.ok()) failSequence("saving " + path, outcome);
    output.commit();
}

bool hasAny(const Parsed& p, const std::vector<std::string_view>& names) {
    return std::any_of(names.begin(), names.end(), [&](std::string_view n) { return p.has(n); });
}

// The save options of the command line as the save's descriptor: none
// when no option is given and the name asks for nothing.
std::optional<host::Descriptor> saveScriptFor(const Parsed& p, const std::string& out, const Document& document,
                                              std::string_view command) {
    options::SaveOptions o = saveOptionsFrom(p.flags, command);
    bool asked = hasAny(p, saveOptionFlags());
    if (!p.has("--compress")) {
        if (auto byName = compressionForName(out, savesFloatingPoint(document, o))) {
            o.compression = *byName;
            asked = true;
        }
    }
    if (!asked) return std::nullopt;
    return saveDescriptor(o);
}

host::Descriptor readDescriptorFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw Failure("reading " + path + ": cannot open it", readErr);
    std::stringstream text;
    text << in.rdbuf();
    if (in.bad()) throw Failure("reading " + path + ": read failed", readErr);
    std::string error;
    std::optional<host::Descriptor> d = descriptorFromJson(text.str(), &error);
    if (!d) throw Failure("reading " + path + ": " + error, formatBadParameters);
    return *d;
}

void writeTextAtomically(const std::string& path, const std::string& text) {
    AtomicOutput output(path);
    {
        std::ofstream out(output.path(), std::ios::binary);
        out << text;
        out.flush();
        if (!out) throw Failure("writing " + path + ": write failed", writErr);
    }
    output.commit();
}

void saveImageAtomically(const Document& document, const std::string& path) {
    AtomicOutput output(path);
    try {
        saveImage(document, output.path());
    } catch (const ImageError& e) {
        throw Failure("writing " + path + ": " + e.what(), e.code());
    }
    output.commit();
}

Document loadImageOrFail(const std::string& path) {
    try {
        return loadImage(path);
    } catch (const ImageError& e) {
        throw Failure("reading " + path + ": " + e.what(), e.code());
    }
}

// ---- about ---------------------------------------------------------------------

int runAbout(Context& context, const Args& args) {
    Parsed p = parse(args, "about", {}, {});
    expectCount(p, 0, 0, "about");
    host::Host h(context.loadModule().entry());
    Outcome outcome = h.about();
    if (!outcome.ok()) failSequence("the about box", outcome);
    if (outcome.messages.empty()) throw Failure("the module showed no about box", outcome.result);
    for (const host::MessageBox& box : outcome.messages)
        std::printf("%s\n", host::ansiToUtf8(box.text).c_str());
    return 0;
}

// ---- check ---------------------------------------------------------------------

int runCheck(Context& context, const Args& args) {
    Parsed p = parse(args, "check", {}, {});
    expectCount(p, 1, SIZE_MAX, "check");
    auto h = context.makeHost();
    bool all = true;
    for (const std::string& path : p.positional) {
        File file = File::disk(path);
        Outcome outcome = h->filterFile(file);
        if (!outcome.hostFailure.empty()) {
            std::fprintf(stderr, "%s\n", failureLine(outcome.hostFailure, outcome.result).c_str());
            all = false;
        } else if (outcome.ok()) {
            std::printf("%s: FITS\n", path.c_str());
        } else {
            std::printf("%s: not FITS (%s %d)\n", path.c_str(),
                        std::string(host::resultName(outcome.result)).c_str(), outcome.result);
            all = false;
        }
    }
    return all ? 0 : 1;
}

// ---- info ----------------------------------------------------------------------

std::string axesText(const std::vector<int64_t>& axes) {
    if (axes.empty()) return "-";
    std::string text;
    for (size_t a = 0; a < axes.size(); ++a) {
        if (a > 0) text += 'x';
        text += std::to_string(axes[a]);
    }
    return text;
}

// One line per HDU, in columns; "-" for what an HDU has not.
void printHdus(const HduList& list) {
    std::printf("hdus:\n");
    std::printf("  %-3s %-16s %-12s %5s %6s  %-15s %s\n", "#", "type", "extname", "ver", "bitpix", "axes",
                "compression");
    for (const HduListing& h : list.hdus) {
        std::string name = h.extname.empty() ? "-" : host::ansiToUtf8(h.extname);
        std::printf("  %-3d %-16s %-12s %5lld %6lld  %-15s %s\n", h.index, h.type.c_str(), name.c_str(),
                    static_cast<long long>(h.extver), static_cast<long long>(h.bitpix), axesText(h.axes).c_str(),
                    h.compression.empty() ? "-" : h.compression.c_str());
    }
    if (!list.incomplete.empty()) std::printf("  (the list stops here: %s)\n", list.incomplete.c_str());
}

std::string mosaicJson(const MosaicInfo& m) {
    std::string json = "{\"bayerpat\": " + (m.hasBayerpat ? jsonString(host::ansiToUtf8(m.bayerpat)) : "null");
    json += ", \"pattern\": " + (m.pattern.empty() ? "null" : jsonString(m.pattern));
    json += ", \"xbayroff\": " + std::to_string(m.xOffset) + ", \"ybayroff\": " + std::to_string(m.yOffset);
    json += ", \"roworder\": " + (m.rowOrder.empty() ? "null" : jsonString(m.rowOrder));
    json += ", \"doubts\": " + jsonString(m.doubts);
    json += ", \"auto\": " + jsonString(m.autoDemosaics ? "demosaic" : "grey");
    json += ", \"firstPixel\": " + (m.firstPixel.empty() ? "null" : jsonString(m.firstPixel));
    json += ", \"autoSays\": " + jsonString(m.autoSays) + "}";
    return json;
}

// "RGGB (XBAYROFF 0, YBAYROFF 1, ROWORDER TOP-DOWN)" and the doubts, or "none".
std::string mosaicLine(const MosaicInfo& m) {
    if (!m.hasBayerpat) return "none";
    std::string line = m.pattern.empty() ? "'" + host::ansiToUtf8(m.bayerpat) + "'" : m.pattern;
    line += " (XBAYROFF " + std::to_string(m.xOffset) + ", YBAYROFF " + std::to_string(m.yOffset) + ", ROWORDER " +
            (m.rowOrder.empty() ? "absent" : m.rowOrder) + ")";
    if (!m.doubts.empty()) line += "; " + m.doubts;
    return line;
}

int runInfo(Context& context, const Args& args) {
    Parsed p = parse(args, "info", {"--json"}, {"--depth"});
    expectCount(p, 1, 1, "info");
    const std::string& path = p.positional[0];
    auto h = context.makeHost();
    // The depth an open would give: with --depth, the module is asked as
    // an open with that option asks it, and says what it makes of it.
    if (p.has("--depth")) {
        h->setup().script.present = true;
        h->setup().script.descriptor = openDescriptor(openOptionsFrom(p.flags, "info"));
        h->setup().script.playInfo = plugInDialogSilent;
    }
    File file = File::disk(path);
    Outcome outcome = h->info(file);
    std::optional<ImageHeader> image;
    if (outcome.ok()) image = imageHeader(path);
    // The header the document keeps, in whole blocks: what the module will
    // write back for it, learnt from the file as any host could.
    const uint64_t headerLength = image ? blockedCardBytes(image->cards.size()) : 0;
    std::vector<std::string> cards = image ? image->cards : std::vector<std::string>{};
    const std::string hdu = !image ? "" : image->hdu == 0 ? "0 (primary)"
                                      : std::to_string(image->hdu) + " (IMAGE extension" +
                                            (image->extname.empty() ? "" : " " + image->extname) + ")";
    const host::Geometry& g = outcome.told;
    const HduList hdus = listHdus(path);
    const MosaicInfo mosaic = mosaicInfo(cards);
    if (p.has("--json")) {
        std::string json = "{";
        json += "\"result\": " + std::to_string(outcome.result);
        json += ", \"resultName\": " + jsonString(host::resultName(outcome.result));
        json += ", \"width\": " + std::to_string(g.columns);
        json += ", \"height\": " + std::to_string(g.rows);
        json += ", \"depth\": " + std::to_string(g.depth);
        json += ", \"planes\": " + std::to_string(g.planes);
        json += ", \"mode\": " + std::to_string(g.imageMode);
        json += ", \"modeName\": " + jsonString(host::modeName(g.imageMode));
        json += ", \"headerLength\": " + std::to_string(headerLength);
        if (image) json += ", \"hdu\": " + std::to_string(image->hdu) + ", \"extname\": " + jsonString(image->extname);
        if (image) json += ", \"compression\": " + jsonString(image->compression);
        if (image && !image->tiling.empty())
            json += ", \"tiling\": " + jsonString(image->tiling) +
                    ", \"quantization\": " + jsonString(image->quantization);
        json += ", \"hdus\": [";
        for (size_t i = 0; i < hdus.hdus.size(); ++i) {
            const HduListing& listed = hdus.hdus[i];
            if (i > 0) json += ", ";
            json += "{\"index\": " + std::to_string(listed.index) + ", \"type\": " + jsonString(listed.type) +
                    ", \"extname\": " + jsonString(host::ansiToUtf8(listed.extname)) + ", \"extver\": " +
                    std::to_string(listed.extver) + ", \"bitpix\": " + std::to_string(listed.bitpix) + ", \"axes\": [";
            for (size_t a = 0; a < listed.axes.size(); ++a) {
                if (a > 0) json += ", ";
                json += std::to_string(listed.axes[a]);
            }
            json += "], \"compression\": " + jsonString(listed.compression) + "}";
        }
        json += "]";
        if (!hdus.incomplete.empty()) json += ", \"hdusIncomplete\": " + jsonString(hdus.incomplete);
        if (image) json += ", \"mosaic\": " + mosaicJson(mosaic);
        json += ", \"cards\": [";
        for (size_t i = 0; i < cards.size(); ++i) {
            if (i > 0) json += ", ";
            json += jsonString(host::ansiToUtf8(cards[i]));
        }
        json += "]}";
        std::printf("%s\n", json.c_str());
        if (!outcome.ok()) failSequence("reading the header of " + path, outcome);
        return 0;
    }
    if (!outcome.ok()) failSequence("reading the header of " + path, outcome);
    std::printf("file:         %s\n", path.c_str());
    std::printf("result:       %s (%d)\n", std::string(host::resultName(outcome.result)).c_str(),
                outcome.result);
    std::printf("width:        %d\n", g.columns);
    std::printf("height:       %d\n", g.rows);
    std::printf("depth:        %d\n", g.depth);
    std::printf("planes:       %d\n", g.planes);
    std::printf("mode:         %s (%d)\n", std::string(host::modeName(g.imageMode)).c_str(), g.imageMode);
    std::printf("headerLength: %llu\n", static_cast<unsigned long long>(headerLength));
    if (image) std::printf("hdu:          %s\n", hdu.c_str());
    if (image && !image->tiling.empty())
        std::printf("compression:  %s, tiles %s, %s\n", image->compression.c_str(), image->tiling.c_str(),
                    image->quantization == "none" ? "lossless"
                                                  : ("quantized (" + image->quantization + ")").c_str());
    else if (image && image->compression != "none")
        std::printf("compression:  %s\n", image->compression.c_str());
    if (image) {
        std::printf("bayer:        %s\n", mosaicLine(mosaic).c_str());
        std::printf("debayer auto: %s\n", mosaic.autoSays.c_str());
    }
    printHdus(hdus);
    std::printf("header:\n");
    for (const std::string& card : cards) std::printf("%s\n", printableCard(card).c_str());
    return 0;
}

// ---- open ----------------------------------------------------------------------

std::vector<std::string_view> withFlags(const std::vector<std::string_view>& names,
                                       std::initializer_list<std::string_view> more) {
    std::vector<std::string_view> all = names;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

int runOpen(Context& context, const Args& args) {
    const std::vector<std::string_view> valued = withFlags(openOptionFlags(), {"--record", "--replay"});
    const OptionalValued stretchFlag{"--stretch", stretchWords(), kDefaultStretch};
    Parsed p = parse(args, "open", {}, valued, std::span(&stretchFlag, 1));
    expectCount(p, 2, 2, "open");
    const std::string& in = p.positional[0];
    const std::string& out = p.positional[1];
    if (!isImageFile(out)) usageError(out + " is not a " + std::string(kImageExtensionList) + " file", "open");
    // The options, checked before anything is opened: from the flags, or
    // the descriptor a --record wrote.
    const bool preview = p.has("--stretch");
    const bool anyOption = preview || hasAny(p, openOptionFlags());
    if (p.has("--replay") && anyOption)
        usageError("--replay plays a recorded descriptor as it is: give it without open options", "open");
    if (p.has("--record") && p.value("--record") == out) usageError("--record names the image's own file", "open");
    std::optional<host::Descriptor> play;
    if (anyOption) {
        options::OpenOptions o = openOptionsFrom(p.flags, "open");
        // --stretch has always written an 8-bit preview: the module's
        // stretch then maps onto 0..255, unless --depth says otherwise.
        if (preview && !p.has("--depth")) o.depth = options::Depth::bits8;
        play = openDescriptor(o);
    }
    if (p.has("--replay")) play = readDescriptorFile(p.value("--replay"));
    std::optional<host::Descriptor> recorded;
    Document document = openFits(context, in, play, &recorded);
    const std::string record = p.value("--record");
    if (p.has("--record") && !recorded)
        throw Failure("recording " + record + ": the module wrote no descriptor back at ReadFinish",
                      errMissingParameter);
    // A preview is not the data: it goes without the FITS header, so that
    // saving it cannot pass it off as the original frame.
    if (preview) document.resources.clear();
    saveImageAtomically(document, out);
    if (recorded && p.has("--record")) writeTextAtomically(record, descriptorToJson(*recorded));
    return 0;
}

// ---- save ----------------------------------------------------------------------

int runSave(Context& context, const Args& args) {
    Parsed p = parse(args, "save", {}, saveOptionFlags(), {});
    expectCount(p, 2, 2, "save");
    const std::string& in = p.positional[0];
    const std::string& out = p.positional[1];
    if (!isImageFile(in)) usageError(in + " is not a " + std::string(kImageExtensionList) + " file", "save");
    saveOptionsFrom(p.flags, "save");  // a mistake is told before the input is read
    Document document = loadImageOrFail(in);
    saveFits(context, document, out, saveScriptFor(p, out, document, "save"));
    return 0;
}

// ---- convert -------------------------------------------------------------------

// Rec. 601 luma weights, the ones a grey conversion of video-range RGB
// conventionally uses, rounded to the nearest sample.
void toGray(Image& image) {
    if (image.planes == 1) return;
    if (image.planes != 3)
        throw Failure("cannot make grey from " + std::to_string(image.planes) + " planes", formatBadParameters);
    Image grey;
    grey.rows = image.rows;
    grey.columns = image.columns;
    grey.planes = 1;
    grey.depth = image.depth;
    grey.mode = plugInModeGrayScale;
    grey.allocate();
    for (int r = 0; r < image.rows; ++r)
        for (int c = 0; c < image.columns; ++c) {
            uint64_t y = 299u * uint64_t{image.sample(0, r, c)} + 587u * uint64_t{image.sample(1, r, c)} +
                         114u * uint64_t{image.sample(2, r, c)};
            grey.setSample(0, r, c, static_cast<uint32_t>((y + 500) / 1000));
        }
    image = std::move(grey);
}

void toRgb(Image& image) {
    if (image.planes == 3) return;
    if (image.planes != 1)
        throw Failure("cannot make RGB from " + std::to_string(image.planes) + " planes", formatBadParameters);
    Image rgb = image;
    rgb.planes = 3;
    rgb.mode = plugInModeRGBColor;
    rgb.allocate();
    for (int p = 0; p < 3; ++p)
        for (int r = 0; r < image.rows; ++r)
            for (int c = 0; c < image.columns; ++c) rgb.setSample(p, r, c, image.sample(0, r, c));
    image = std::move(rgb);
}

void toDepth(Image& image, int16_t depth) {
    if (image.depth == depth) return;
    Image out = image;
    out.depth = depth;
    out.allocate();
    for (int p = 0; p < image.planes; ++p)
        for (int r = 0; r < image.rows; ++r)
            for (int c = 0; c < image.columns; ++c) {
                uint32_t v = image.sample(p, r, c);
                out.setSample(p, r, c, depth == 16 ? depth8To16(v) : depth16To8(v));
            }
    image = std::move(out);
}

int runConvert(Context& context, const Args& args) {
    const std::vector<std::string_view> switches = {"--gray", "--grey", "--rgb"};
    const std::vector<std::string_view> valued = withFlags(saveOptionFlags(), {"--depth"});
    Parsed p = parse(args, "convert", switches, valued, {});
    expectCount(p, 2, 2, "convert");
    bool gray = p.has("--gray") || p.has("--grey");
    bool rgb = p.has("--rgb");
    if (gray && rgb) usageError("--gray and --rgb exclude each other", "convert");
    int16_t depth = 0;
    if (p.has("--depth")) {
        std::string d = p.value("--depth");
        if (d == "8")
            depth = 8;
        else if (d == "16")
            depth = 16;
        else if (d == "32")
            depth = 32;
        else
            usageError("--depth must be 8, 16 or 32", "convert");
    }
    if (depth == 32 && (gray || rgb)) usageError("--depth 32 converts nothing: give it without --gray or --rgb", "convert");
    saveOptionsFrom(p.flags, "convert");  // a mistake is told before the input is read
    // A 32-bit document is the module's to make (the depth open option):
    // the host converts nothing to or from floats.
    std::optional<host::Descriptor> open;
    if (depth == 32) {
        options::OpenOptions o;
        o.depth = options::Depth::bits32;
        open = openDescriptor(o);
        depth = 0;
    }
    Document document = openFits(context, p.positional[0], open);
    if (gray) toGray(document.image);
    if (rgb) toRgb(document.image);
    if (depth != 0) toDepth(document.image, depth);
    saveFits(context, document, p.positional[1], saveScriptFor(p, p.positional[1], document, "convert"));
    return 0;
}

// ---- Help texts --------------------------------------------------------------
// open and save list the image formats from their table (image_formats.h).

constexpr TextBuilder openSummary() {
    TextBuilder text;
    text += "open a FITS file and write it as ";
    appendNameList(text);
    return text;
}

// What the prose says of PNG and TIFF holds only where the build has them.
constexpr bool kHeaderFormats = imageFileFormat(ImageFormat::png)->built() && imageFileFormat(ImageFormat::tiff)->built();

constexpr TextBuilder openHelp() {
    TextBuilder text;
    text += "usage: nebulite open FILE OUT [OPEN OPTIONS] [--record JSON | --replay JSON]\n"
            "                     [--stretch [linear|sqrt|log|asinh|mtf|range]]\n\n"
            "Opens FILE through the module and writes the image to OUT, in the format\n"
            "OUT's extension names:\n";
    appendFormatLines(text);
    text += "16-bit images: PNM keeps the host's 0..32768 samples (maxval 32768)";
    if (kHeaderFormats)
        text += "; PNG\n"
                "and TIFF scale them to 0..65535 and keep the FITS header (a private chunk\n"
                "or tag), so that `nebulite save` brings it back";
    text += ".\n"
            "32-bit documents (--depth 32) hold the file's physical values times a power\n"
            "of two, as floats: PFM";
    if (kHeaderFormats) text += " and TIFF";
    text += " keep them exactly";
    if (kHeaderFormats) text += ", and TIFF how they were taken, so\nthat `nebulite save` gives the file's samples back";
    text += ".\n\n"
            "  --stretch [CURVE]  write an 8-bit preview: the module maps the file's\n"
            "                     values between black and white points (by default\n"
            "                     the 0.25th and 99.75th percentiles, leaving out\n"
            "                     blank samples) through CURVE (default asinh):\n"
            "                       linear  x\n"
            "                       sqrt    sqrt(x)\n"
            "                       log     log(1 + 1000 x) / log(1001)\n"
            "                       asinh   asinh(10 x) / asinh(10)\n"
            "                       mtf     the midtones transfer function, its\n"
            "                               shadows and midtone found in the data\n"
            "                       range   the plain open's scaling\n"
            "                     --interval, --black, --white and --midtone choose the\n"
            "                     points, --depth another depth. The preview carries no\n"
            "                     FITS header.\n\n"
            "Open options, handed to the module as the scripting descriptor an action\n"
            "plays (never a dialog); the last of a kind wins:\n"
            "  --image N|EXTNAME[,EXTVER]|auto   the image of HDU N (0 the primary), or\n"
            "                     of the first HDU named EXTNAME (a name that reads as a\n"
            "                     number or auto in single quotes)\n"
            "  --plane K          plane K of a cube (from 1) as grey\n"
            "  --planes R,G,B|auto  three planes as red, green and blue\n"
            "  --orientation stored|sky  the first row at the top, or at the bottom\n"
            "  --interval minmax|zscale|P|auto  the values the stretch runs over\n"
            "  --black V --white V  explicit points, in physical values\n"
            "  --midtone M        the midtones balance over explicit points\n"
            "  --depth 8|16|32|auto  the document's bits per channel\n"
            "  --debayer auto|off|RGGB|BGGR|GRBG|GBRG  demosaic a colour-filter mosaic\n"
            "  --demosaic bilinear|quality  how the missing colours are found\n"
            "  --record JSON      write the descriptor the module hands back (every\n"
            "                     option, resolved) as JSON\n"
            "  --replay JSON      open with a descriptor --record wrote, and no open\n"
            "                     options besides\n";
    return text;
}

constexpr std::string_view kSaveOptionsHelp =
    "Save options, handed to the module as the scripting descriptor an action\n"
    "plays (never a dialog):\n"
    "  --compress none|rice|gzip1|gzip2|hcompress  tile-compress the image (an OUT\n"
    "                     ending in .fz: RICE_1 for integers, GZIP_2 for floats)\n"
    "  --tile ROWSxCOLS|auto  the compression tile\n"
    "  --quantize Q       floating-point samples to steps of noise / Q (0 exact)\n"
    "  --orientation stored|sky  which way up a new document is written\n"
    "  --bitpix original|-32  the BITPIX of a floating-point document\n";

constexpr TextBuilder saveSummary() {
    TextBuilder text;
    text += "save a ";
    appendNameList(text);
    text += " image as FITS";
    return text;
}

constexpr TextBuilder saveHelp() {
    TextBuilder text;
    text += "usage: nebulite save IN OUT.fits [SAVE OPTIONS]\n\n"
            "Loads IN, in the format its extension names, and saves it through the\n"
            "module:\n";
    appendFormatLines(text);
    if (kHeaderFormats)
        text += "PNG files may be of any kind (palettes become RGB, alpha is dropped), PNM\n"
                "files of any maxval up to 65535, TIFF files 8- or 16-bit or 32-bit float\n"
                "grey or RGB, contiguous or planar, in strips or tiles (alpha is dropped). A\n"
                "FITS header that `nebulite open` put in a PNG or TIFF file is written back.\n"
                "PFM and float TIFF files save as 32-bit documents: BITPIX -32, or the\n"
                "file's own BITPIX when the TIFF came from `nebulite open --depth 32`.\n";
    else
        text += "PNM files may have any maxval up to 65535.\n";
    text += "OUT is replaced only when the save succeeds.\n\n";
    text += kSaveOptionsHelp;
    return text;
}

constexpr TextBuilder convertHelp() {
    TextBuilder text;
    text += "usage: nebulite convert IN.fits OUT.fits [--gray | --rgb] [--depth 8|16|32]\n"
            "                        [SAVE OPTIONS]\n\n"
            "Opens IN through the module, converts in the host, and saves through the\n"
            "module with the header it kept.\n"
            "  --gray      RGB to grey by Rec. 601 luminance (0.299 R + 0.587 G + 0.114 B)\n"
            "  --rgb       grey to RGB by copying the grey plane three times\n"
            "  --depth N   8 to 16: round(v * 32768 / 255); 16 to 8: round(v * 255 / 32768);\n"
            "              32: IN opened as a 32-bit document, its values as floats\n"
            "OUT is replaced only when the save succeeds.\n\n";
    text += kSaveOptionsHelp;
    return text;
}

constexpr Command kCommands[] = {
    {"about", "show the module's about box",
     "usage: nebulite about\n\n"
     "Shows the module's about box text.\n",
     runAbout},
    {"check", "ask the module whether files are FITS files",
     "usage: nebulite check FILE...\n\n"
     "Asks the module (FilterFile) about each file and prints\n"
     "  FILE: FITS              when the module takes it\n"
     "  FILE: not FITS (<code name> <code>)  otherwise.\n"
     "Exit status 0 when every file is taken, else 1.\n",
     runCheck},
    {"info", "show a FITS file's size, mode and header",
     "usage: nebulite info FILE [--depth 8|16|32|auto] [--json]\n\n"
     "Reads the file's header through the module (ReadPrepare, ReadStart,\n"
     "ReadFinish) and prints width, height, depth, planes, mode, the header\n"
     "length, the result, the colour-filter pattern the header names (BAYERPAT,\n"
     "XBAYROFF, YBAYROFF, ROWORDER) and what --debayer auto makes of it, every\n"
     "HDU of the file (index, type, EXTNAME, EXTVER, BITPIX, axes, a compressed\n"
     "image's ZCMPTYPE) and the header cards up to END.\n"
     "The depth is the one an open would give the document.\n\n"
     "  --depth D  the depth an open with --depth D would give (the module's\n"
     "           answer to that option, as `nebulite open` asks it)\n"
     "  --json   one JSON object: result, resultName, width, height, depth,\n"
     "           planes, mode, modeName, headerLength, hdus, mosaic, cards\n",
     runInfo},
    {"open", kFrozenText<openSummary>, kFrozenText<openHelp>, runOpen},
    {"save", kFrozenText<saveSummary>, kFrozenText<saveHelp>, runSave},
    {"convert", "open a FITS file and save it again, optionally converted", kFrozenText<convertHelp>,
     runConvert},
    {"modules", kModulesSummary, kModulesHelp, runModules},
    // More commands go here; main() and `nebulite --help` pick them up from
    // this table.
};

}  // namespace

std::span<const Command> commands() { return kCommands; }

int printVersion(Context& context) {
    std::printf("nebulite %s\n", NEBULITE_VERSION);
    std::fflush(stdout);
    context.loadModule();
    std::string line = "module: " + context.loadedPath;
    std::string error;
    if (auto bytes = host::readModulePipl(context.loadedPath, &error)) {
        if (auto list = host::parsePropertyList(*bytes, &error)) {
            host::PluginInfo info = host::decodePluginInfo(*list);
            line += " (" + info.name.value_or("unnamed");
            if (info.version) {
                char version[32];
                std::snprintf(version, sizeof version, " %u.%u", *info.version >> 16, *info.version & 0xFFFFu);
                line += version;
            }
            if (info.entryPoint) line += ", entry point " + *info.entryPoint;
            line += ")";
        }
    }
    std::printf("%s\n", line.c_str());
    return 0;
}

const Command* findCommand(std::string_view name) {
    for (const Command& c : kCommands)
        if (c.name == name) return &c;
    return nullptr;
}

}  // namespace nebulite::cli
