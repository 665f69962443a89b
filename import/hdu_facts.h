// What the open options are measured against, read from the headers the
// read walks: one HDU's facts from its keywords (and, for a compressed
// image, from its table's description of the image it holds).
#pragma once

#include "header/header_keywords.h"
#include "import/tiled/tiled_header.h"
#include "options/file_facts.h"

namespace nebulite {

options::HduFacts hduFactsOf(const HeaderKeywords& keys);
// A compressed image's facts: its table header's keywords (EXTNAME...) and
// the image the table describes (ZBITPIX, ZNAXISn).
options::HduFacts compressedHduFacts(const HeaderKeywords& table, const tiled::TiledImage& image);

}  // namespace nebulite
