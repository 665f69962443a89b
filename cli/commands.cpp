#include "cli/commands.h"

#include <cstdio>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>

#include "cli/modules.h"
#include "cli/image_files.h"
#include "cli/sample_scaling.h"
#include "cli/stretch.h"
#include "host/pipl.h"
#include "host/result_codes.h"

namespace nebulite::cli {

namespace {

using host::File;
using host::Outcome;

constexpr size_t kCardBytes = 80;

bool isImageFile(const std::string& path) {
    ImageFormat f = formatForPath(path);
    return f != ImageFormat::unknown && f != ImageFormat::fits;
}

constexpr const char* kImageExtensions = ".png, .pgm, .ppm, .pnm, .tif or .tiff";

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

Document openFits(Context& context, const std::string& path) {
    auto h = context.makeHost();
    File file = File::disk(path);
    Outcome outcome = withProgress(*h, [&] { return h->read(file); });
    if (!outcome.ok()) failSequence("opening " + path, outcome);
    return h->takeDocument();
}

void saveFits(Context& context, Document& document, const std::string& path) {
    const Image& image = document.image;
    if (image.rows > 32767 || image.columns > 32767)
        throw Failure("the image is larger than 32767 on a side", formatBadParameters);
    AtomicOutput output(path);
    auto h = context.makeHost();
    File file = File::disk(output.path());
    Outcome outcome = withProgress(*h, [&] { return h->save(document, file); });
    if (!outcome.ok()) failSequence("saving " + path, outcome);
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

std::string paddedCard(std::string text) {
    text.resize(kCardBytes, ' ');
    return text;
}

// As the module reads keywords: a card starting with NUL is blank, other
// NULs in the keyword are spaces.
std::string keywordOf(const std::string& card) {
    if (card[0] == '\0') return "";
    std::string k = card.substr(0, 8);
    std::replace(k.begin(), k.end(), '\0', ' ');
    k.erase(k.find_last_not_of(' ') + 1);
    return k;
}

long long intValueOf(const std::vector<std::string>& cards, const std::string& keyword, long long fallback) {
    for (const std::string& c : cards)
        if (keywordOf(c) == keyword) return std::strtoll(c.substr(10, 20).c_str(), nullptr, 10);
    return fallback;
}

std::string stringValueOf(const std::vector<std::string>& cards, const std::string& keyword) {
    for (const std::string& c : cards) {
        if (keywordOf(c) != keyword) continue;
        size_t open = c.find('\'', 10), close = open == std::string::npos ? open : c.find('\'', open + 1);
        if (close == std::string::npos) return "";
        std::string v = c.substr(open + 1, close - open - 1);
        return v.erase(v.find_last_not_of(' ') + 1);
    }
    return "";
}

// One header of the file as it stands there: its cards before END, and
// where the next header starts (0 when its size cannot be told).
struct FileHeader {
    std::vector<std::string> cards;
    uint64_t next = 0;
};

std::optional<FileHeader> readFileHeader(std::ifstream& in, uint64_t offset) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    FileHeader h;
    char card[kCardBytes];
    uint64_t read = 0;
    for (bool end = false; !(end && read % 36 == 0); ++read) {
        if (!in.read(card, kCardBytes)) return std::nullopt;
        if (end) continue;
        h.cards.emplace_back(card, kCardBytes);
        if (keywordOf(h.cards.back()) == "END") end = true;
    }
    h.cards.pop_back();  // END
    // Sizes beyond 2^40 bytes are taken as unknown: no file here is that large.
    constexpr uint64_t kLimit = uint64_t{1} << 40;
    long long naxis = intValueOf(h.cards, "NAXIS", -1);
    bool known = naxis >= 0 && naxis < 1000;
    uint64_t n = naxis > 0 ? 1 : 0;
    auto times = [&](long long factor) {
        auto f = static_cast<uint64_t>(std::max(0LL, factor));
        if (f != 0 && n > kLimit / f) known = false;
        else n *= f;
    };
    for (long long i = 1; known && i <= naxis; ++i) times(intValueOf(h.cards, "NAXIS" + std::to_string(i), 0));
    n += static_cast<uint64_t>(std::clamp(intValueOf(h.cards, "PCOUNT", 0), 0LL, static_cast<long long>(kLimit)));
    times(intValueOf(h.cards, "GCOUNT", 1));
    times(std::llabs(intValueOf(h.cards, "BITPIX", 0)) / 8);
    if (known) h.next = offset + read * kCardBytes + (n + 2879) / 2880 * 2880;
    return h;
}

// The header the document keeps, and which HDU of the file the image is:
// the primary's own, or, after a primary without data, the first image
// extension's merged with the primary's descriptive cards, as the module
// merges them (the extension's keywords win; WCSAXES goes first).
struct ImageHeader {
    int hdu = 0;
    std::string extname;
    std::vector<std::string> cards;  // up to and including END
};

std::optional<ImageHeader> imageHeader(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::optional<FileHeader> primary = readFileHeader(in, 0);
    if (!primary) return std::nullopt;
    ImageHeader image;
    if (intValueOf(primary->cards, "NAXIS", 0) != 0) {
        image.cards = primary->cards;
        image.cards.push_back(paddedCard("END"));
        return image;
    }
    std::optional<FileHeader> ext;
    for (uint64_t at = primary->next; at != 0; at = ext->next) {
        ++image.hdu;
        ext = readFileHeader(in, at);
        if (!ext || ext->cards.empty() || keywordOf(ext->cards[0]) != "XTENSION") return std::nullopt;
        if (stringValueOf(ext->cards, "XTENSION") == "IMAGE" && intValueOf(ext->cards, "NAXIS", 0) >= 2) break;
    }
    if (!ext) return std::nullopt;
    image.extname = stringValueOf(ext->cards, "EXTNAME");
    auto structural = [](const std::string& k) {
        return k == "SIMPLE" || k == "BITPIX" || k == "NAXIS" || k == "EXTEND" || k == "GROUPS" || k == "PCOUNT" ||
               k == "GCOUNT" || k == "BZERO" || k == "BSCALE" || k == "BLANK" || k == "XTENSION" ||
               (k.size() > 5 && k.compare(0, 5, "NAXIS") == 0 && k.find_first_not_of("0123456789", 5) == k.npos);
    };
    auto mandatory = [](const std::string& k) {
        return k == "XTENSION" || k == "BITPIX" || k == "NAXIS" || k == "PCOUNT" || k == "GCOUNT" ||
               (k.size() > 5 && k.compare(0, 5, "NAXIS") == 0 && k.find_first_not_of("0123456789", 5) == k.npos);
    };
    auto wcsAxesKeyword = [](const std::string& k) {
        return k.compare(0, 7, "WCSAXES") == 0 && (k.size() == 7 || (k[7] >= 'A' && k[7] <= 'Z'));
    };
    auto repeatable = [](const std::string& k) {
        return k.empty() || k == "COMMENT" || k == "HISTORY" || k == "HIERARCH";
    };
    std::set<std::string> own;
    for (const std::string& c : ext->cards) own.insert(keywordOf(c));
    std::vector<std::string> fromPrimary, wcsAxes;
    bool droppedLast = false;
    for (size_t i = 1; i < primary->cards.size(); ++i) {
        const std::string& c = primary->cards[i];
        std::string k = keywordOf(c);
        bool kept = k == "CONTINUE" ? !droppedLast : !structural(k) && (repeatable(k) || !own.count(k));
        if (k != "CONTINUE") droppedLast = !kept;
        if (kept) (wcsAxesKeyword(k) ? wcsAxes : fromPrimary).push_back(c);
    }
    std::string simple = primary->cards[0];
    if (simple.compare(0, 30, "SIMPLE  =                    T") != 0) {
        size_t slash = simple.find('/', 10);
        std::string comment = slash == simple.npos ? "" : simple.substr(slash + 1);
        comment.erase(0, comment.find_first_not_of(' '));
        comment.erase(comment.find_last_not_of(' ') + 1);
        simple = paddedCard("SIMPLE  =                    T" + (comment.empty() ? "" : " / " + comment));
    }
    image.cards.push_back(simple);
    size_t next = 0;
    for (; next < ext->cards.size() && mandatory(keywordOf(ext->cards[next])); ++next)
        if (keywordOf(ext->cards[next]) != "XTENSION" && keywordOf(ext->cards[next]) != "PCOUNT" &&
            keywordOf(ext->cards[next]) != "GCOUNT")
            image.cards.push_back(ext->cards[next]);
    image.cards.insert(image.cards.end(), wcsAxes.begin(), wcsAxes.end());
    for (; next < ext->cards.size(); ++next) {
        std::string k = keywordOf(ext->cards[next]);
        if (k != "XTENSION" && k != "PCOUNT" && k != "GCOUNT") image.cards.push_back(ext->cards[next]);
    }
    image.cards.insert(image.cards.end(), fromPrimary.begin(), fromPrimary.end());
    image.cards.push_back(paddedCard("END"));
    return image;
}

// Header cards are ASCII; anything else is shown the way the module would
// show it (Windows-1252), with control characters made visible.
std::string printableCard(const std::string& card) {
    std::string clean = card;
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return host::ansiToUtf8(clean);
}

int runInfo(Context& context, const Args& args) {
    Parsed p = parse(args, "info", {"--json"}, {});
    expectCount(p, 1, 1, "info");
    const std::string& path = p.positional[0];
    auto h = context.makeHost();
    File file = File::disk(path);
    Outcome outcome = h->info(file);
    uint32_t headerLength = h->peekHeaderLength().value_or(0);
    std::optional<ImageHeader> image;
    if (outcome.ok()) image = imageHeader(path);
    std::vector<std::string> cards = image ? image->cards : std::vector<std::string>{};
    const std::string hdu = !image ? "" : image->hdu == 0 ? "0 (primary)"
                                      : std::to_string(image->hdu) + " (IMAGE extension" +
                                            (image->extname.empty() ? "" : " " + image->extname) + ")";
    const host::Geometry& g = outcome.told;
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
    std::printf("headerLength: %u\n", headerLength);
    if (image) std::printf("hdu:          %s\n", hdu.c_str());
    std::printf("header:\n");
    for (const std::string& card : cards) std::printf("%s\n", printableCard(card).c_str());
    return 0;
}

// ---- open ----------------------------------------------------------------------

int runOpen(Context& context, const Args& args) {
    Parsed p = parse(args, "open", {}, {}, {{"--stretch", kStretchNames, "asinh"}});
    expectCount(p, 2, 2, "open");
    const std::string& in = p.positional[0];
    const std::string& out = p.positional[1];
    if (!isImageFile(out)) usageError(out + " is not a " + kImageExtensions + " file", "open");
    std::optional<Stretch> stretch;
    if (p.has("--stretch")) {
        stretch = stretchNamed(p.value("--stretch"));
        if (!stretch) usageError("--stretch must be linear, sqrt, log or asinh", "open");
    }
    Document document = openFits(context, in);
    if (stretch) {
        // A preview is not the data: it goes without the FITS header, so
        // that saving it cannot pass it off as the original frame.
        Document preview;
        preview.image = stretchPreview(document.image, *stretch);
        document = std::move(preview);
    }
    saveImageAtomically(document, out);
    return 0;
}

// ---- save ----------------------------------------------------------------------

int runSave(Context& context, const Args& args) {
    Parsed p = parse(args, "save", {}, {});
    expectCount(p, 2, 2, "save");
    const std::string& in = p.positional[0];
    const std::string& out = p.positional[1];
    if (!isImageFile(in)) usageError(in + " is not a " + kImageExtensions + " file", "save");
    Document document = loadImageOrFail(in);
    saveFits(context, document, out);
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
    Parsed p = parse(args, "convert", {"--gray", "--grey", "--rgb"}, {"--depth"});
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
        else
            usageError("--depth must be 8 or 16", "convert");
    }
    Document document = openFits(context, p.positional[0]);
    if (gray) toGray(document.image);
    if (rgb) toRgb(document.image);
    if (depth != 0) toDepth(document.image, depth);
    saveFits(context, document, p.positional[1]);
    return 0;
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
     "usage: nebulite info FILE [--json]\n\n"
     "Reads the file's header through the module (ReadPrepare, ReadStart,\n"
     "ReadFinish) and prints width, height, depth, planes, mode, the header\n"
     "length, the result and the header cards up to END.\n\n"
     "  --json   one JSON object: result, resultName, width, height, depth,\n"
     "           planes, mode, modeName, headerLength, cards\n",
     runInfo},
    {"open", "open a FITS file and write it as PNG, PNM or TIFF",
     "usage: nebulite open FILE OUT [--stretch [linear|sqrt|log|asinh]]\n\n"
     "Opens FILE through the module and writes the image to OUT (.png, .pgm,\n"
     ".ppm, .pnm, .tif or .tiff). 16-bit images: PNM keeps the host's 0..32768\n"
     "samples (maxval 32768); PNG and TIFF scale them to 0..65535 and keep the\n"
     "FITS header (a private chunk or tag), so that `nebulite save` brings it\n"
     "back.\n\n"
     "  --stretch [CURVE]  write an 8-bit preview instead: black and white points\n"
     "                     at the 0.25th and 99.75th percentiles of the image's\n"
     "                     samples, then CURVE (default asinh):\n"
     "                       linear  x\n"
     "                       sqrt    sqrt(x)\n"
     "                       log     log(1 + 1000 x) / log(1001)\n"
     "                       asinh   asinh(10 x) / asinh(10)\n"
     "                     The preview carries no FITS header.\n",
     runOpen},
    {"save", "save a PNG, PNM or TIFF image as FITS",
     "usage: nebulite save IN OUT.fits\n\n"
     "Loads IN (.png, .pgm, .ppm, .pnm, .tif or .tiff) and saves it through\n"
     "the module. TIFF files may be 8- or 16-bit grey or RGB, contiguous or\n"
     "planar, in strips or tiles; alpha is dropped. A FITS header that\n"
     "`nebulite open` put in a PNG or TIFF file is written back.\n"
     "OUT is replaced only when the save succeeds.\n",
     runSave},
    {"convert", "open a FITS file and save it again, optionally converted",
     "usage: nebulite convert IN.fits OUT.fits [--gray | --rgb] [--depth 8|16]\n\n"
     "Opens IN through the module, converts in the host, and saves through the\n"
     "module with the header it kept.\n"
     "  --gray      RGB to grey by Rec. 601 luminance (0.299 R + 0.587 G + 0.114 B)\n"
     "  --rgb       grey to RGB by copying the grey plane three times\n"
     "  --depth N   8 to 16: round(v * 32768 / 255); 16 to 8: round(v * 255 / 32768)\n"
     "OUT is replaced only when the save succeeds.\n",
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
