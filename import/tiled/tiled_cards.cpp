#include "import/tiled/tiled_cards.h"

#include "header/card_text.h"
#include "header/fits_units.h"

namespace nebulite::tiled {

int indexedKeyword(std::string_view keyword, std::string_view stem) {
    if (keyword.size() != 8 || keyword.substr(0, stem.size()) != stem) return 0;
    size_t i = stem.size();
    if (i >= 8 || keyword[i] < '1' || keyword[i] > '9') return 0;
    int n = 0;
    while (i < 8 && keyword[i] >= '0' && keyword[i] <= '9') n = n * 10 + (keyword[i++] - '0');
    while (i < 8 && keyword[i] == ' ') ++i;
    return i == 8 && n <= 999 ? n : 0;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}

}  // namespace nebulite::tiled
