#include "header/identification.h"

#include <cstring>

#include "header/card_text.h"

#ifndef NEBULITE_VERSION
#error "NEBULITE_VERSION comes from the build (the project's version)"
#endif

namespace nebulite {

namespace {

constexpr std::string_view kText = "Nebulite " NEBULITE_VERSION "  support@nebulite-fits.org  (FITS)";
constexpr std::string_view kPrefix = "NEBULITE= 'Photoshop Plugin ";
// The text and both quotes within the card's 80 columns.
static_assert(kPrefix.size() + kText.size() + 1 <= kCardBytes, "the version is too long for the card");

}  // namespace

std::string_view identificationText() { return kText; }

void makeIdentificationCard(char* card, IdentificationForm form) {
    std::memset(card, ' ', kCardBytes);
    std::memcpy(card, kPrefix.data(), kPrefix.size());
    std::memcpy(card + kPrefix.size(), kText.data(), kText.size());
    const size_t quote = form == IdentificationForm::synthesized ? kCardBytes - 1 : kPrefix.size() + kText.size();
    card[quote] = '\'';
}

bool isIdentificationCard(const char* card) { return keywordIs(splitCard(card).keyword, "NEBULITE"); }

}  // namespace nebulite
