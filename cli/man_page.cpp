// Writes the manual page: nebulite.1.in (after CMake's configure_file) with
// its two marker lines replaced from the table of image formats, so that
// the page offers the formats `nebulite open --help` does.
//
//   nebulite_man_page IN OUT
//
// `.\" {image-extensions}` becomes the list of extensions, in bold, as a
// sentence lists them; `.\" {image-formats}` one tagged paragraph a format.
// Each marker must stand in the page exactly once.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli/image_formats.h"

namespace {

using namespace nebulite::cli;

constexpr std::string_view kExtensionsMarker = R"(.\" {image-extensions})";
constexpr std::string_view kFormatsMarker = R"(.\" {image-formats})";

// Text set as it is: a backslash is roff's escape, and a line that starts
// with a dot or a quote would be a request.
std::string roffText(std::string_view text) {
    std::string out = text.empty() || (text[0] != '.' && text[0] != '\'') ? "" : "\\&";
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else
            out += c;
    }
    return out;
}

// ".png, .pgm, ... .tif or .tiff" with each extension in bold and the
// punctuation in roman. (Appended piece by piece: GCC 12 warns falsely,
// -Wrestrict, about a literal joined to a string's front.)
std::string extensionLines() {
    std::vector<std::pair<std::string_view, std::string_view>> items;  // separator before, extension
    forEachExtension([&](std::string_view separator, std::string_view extension) {
        items.emplace_back(separator, extension);
    });
    std::string lines;
    for (size_t i = 0; i < items.size(); ++i) {
        const std::string_view next = i + 1 < items.size() ? items[i + 1].first : std::string_view();
        lines += next == ", " ? ".BR ." : ".B .";
        lines += roffText(items[i].second);
        if (next == ", ") {
            lines += " ,\n";
        } else {
            lines += '\n';
            if (!next.empty()) {  // " or "
                lines += roffText(next.substr(1, next.size() - 2));
                lines += '\n';
            }
        }
    }
    return lines;
}

// One tagged paragraph a format: its extensions, then its name and line.
std::string formatParagraphs() {
    std::string lines;
    for (const ImageFileFormat& f : kImageFormats) {
        if (!f.built()) continue;
        lines += ".TP\n.BR";
        bool first = true;
        for (std::string_view e : f.extensions) {
            if (e.empty()) continue;
            lines += first ? " ." : " \", \" .";
            lines += roffText(e);
            first = false;
        }
        std::string text(f.name);
        text += ": ";
        text += f.description;
        text += '.';
        lines += '\n';
        lines += roffText(text);
        lines += '\n';
    }
    return lines;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: nebulite_man_page IN OUT\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "nebulite_man_page: cannot read %s\n", argv[1]);
        return 1;
    }
    std::ostringstream page;
    int extensionsMarkers = 0, formatsMarkers = 0;
    for (std::string line; std::getline(in, line);) {
        if (line == kExtensionsMarker) {
            page << extensionLines();
            ++extensionsMarkers;
        } else if (line == kFormatsMarker) {
            page << formatParagraphs();
            ++formatsMarkers;
        } else {
            page << line << '\n';
        }
    }
    if (extensionsMarkers != 1 || formatsMarkers != 1) {
        std::fprintf(stderr, "nebulite_man_page: %s has %d %s and %d %s lines; one of each is needed\n", argv[1],
                     extensionsMarkers, std::string(kExtensionsMarker).c_str(), formatsMarkers,
                     std::string(kFormatsMarker).c_str());
        return 1;
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    out << page.str();
    out.close();
    if (!out) {
        std::fprintf(stderr, "nebulite_man_page: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
