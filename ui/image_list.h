// The open dialog's list of images: which HDUs it lists, in which row, and
// the text of a row. Pure: the Win32 dialog fills its list box from this.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "options/file_facts.h"
#include "options/fixed_text.h"
#include "ui/open_dialog.h"

namespace nebulite::ui {

// A row: HDU, EXTNAME[,EXTVER], size, BITPIX, compression, separated by tabs.
using RowText = options::FixedText<160>;

// The list box's tab stops in dialog units, from its left edge. The column
// heads in the dialog's template (resources/definition.py) sit over them.
inline constexpr std::array<int32_t, 4> kImageListTabStops = {22, 90, 160, 192};

// An HDU the dialog lists: an image of two or more axes, plain or
// tile-compressed. Tables and empty primaries cannot be opened.
bool isListedImage(const options::HduFacts& hdu);

uint32_t listedImageCount(const options::FileFacts& file);
// The HDU in list row `row`, or nothing past the last row (or for -1).
std::optional<uint32_t> hduOfRow(const options::FileFacts& file, int32_t row);
// The row of HDU `hdu`, or -1 when it is not listed.
int32_t rowOfHdu(const options::FileFacts& file, uint32_t hdu);

RowText imageRowText(const options::FileFacts& file, std::span<const CompressionName> compression, uint32_t hdu);

}  // namespace nebulite::ui
