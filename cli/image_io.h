// Host documents to and from PNG and binary PNM files, for the CLI.
//
// 16-bit documents hold the host's 0..32768 samples. PNM files keep them as
// they are (maxval 32768); PNG files need 0..65535, so the samples are
// scaled on the way out and scaled back on the way in, exactly.
//
// A PNG also carries the document's 'hist' resource records (the FITS
// header the module keeps) in private "hiST" chunks, one per record, so
// that an image opened, edited elsewhere and saved again gets its header back.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/document.h"
#include "platform/host_sdk.h"

namespace nebulite::host {

// What went wrong, with the result code the CLI reports for it.
class ImageError : public std::runtime_error {
public:
    ImageError(OSErr code, const std::string& what) : std::runtime_error(what), code_(code) {}
    OSErr code() const { return code_; }

private:
    OSErr code_;
};

enum class ImageFormat { unknown, png, pgm, ppm, pnm, fits };
ImageFormat formatForPath(std::string_view path);

// The chunk that carries the 'hist' records: ancillary, private, reserved
// bit clear, unsafe to copy (an editor that changes the pixels should not
// carry a FITS header it does not understand).
inline constexpr char kHistoryChunk[5] = "hiST";

// 0..32768 <-> 0..65535, each the rounded inverse of the other.
constexpr uint16_t hostToPng16(uint32_t host) {
    if (host > kHostMax16) host = kHostMax16;
    return static_cast<uint16_t>((host * 65535u + kHostMax16 / 2) / kHostMax16);
}
constexpr uint16_t png16ToHost(uint32_t value) {
    return static_cast<uint16_t>((value * kHostMax16 + 65535u / 2) / 65535u);
}
// A sample of 0..maxval into 0..target (255 or 32768), rounded.
constexpr uint32_t rescale(uint32_t value, uint32_t maxval, uint32_t target) {
    if (maxval == target) return value;
    return static_cast<uint32_t>((uint64_t{value} * target + maxval / 2) / maxval);
}
// The host's two depths into each other, rounded.
constexpr uint32_t depth8To16(uint32_t v) { return rescale(v, kHostMax8, kHostMax16); }
constexpr uint32_t depth16To8(uint32_t v) {
    return rescale(v > kHostMax16 ? kHostMax16 : v, kHostMax16, kHostMax8);
}

// Binary PNM: P5 for one plane, P6 for three; maxval 255 or 32768.
std::vector<uint8_t> encodePnm(const Image& image);
// P5 or P6 with any maxval 1..65535: 8-bit when maxval <= 255 (scaled to
// 0..255), else 16-bit (scaled to 0..32768).
Image decodePnm(std::span<const uint8_t> bytes);

// Grey or RGB, 8 or 16 bits, plus the 'hist' records.
std::vector<uint8_t> encodePng(const Document& document);
// Any PNG: palettes become RGB, low bit depths 8 bits, alpha is dropped.
Document decodePng(std::span<const uint8_t> bytes);

std::vector<uint8_t> readFileBytes(const std::string& path);
void writeFileBytes(const std::string& path, std::span<const uint8_t> bytes);

// By the file name's extension.
Document loadImage(const std::string& path);
void saveImage(const Document& document, const std::string& path);

}  // namespace nebulite::host
