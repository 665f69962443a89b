// Small FITS files built in memory for tests: cards, big-endian samples,
// block padding, and the damage a test needs (short data, trailing bytes).
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

namespace fixture {

inline std::string card(const std::string& text) {
    std::string c = text.substr(0, 80);
    c.resize(80, ' ');
    return c;
}

// "KEYWORD = value" with the value right-aligned to column 30.
inline std::string valueCard(const std::string& keyword, const std::string& value,
                             const std::string& comment = "") {
    std::string c = keyword;
    c.resize(8, ' ');
    c += "= ";
    std::string v = value;
    if (v.size() < 20) v = std::string(20 - v.size(), ' ') + v;
    c += v;
    if (!comment.empty()) c += " / " + comment;
    return card(c);
}

inline std::string intCard(const std::string& keyword, long long value) {
    return valueCard(keyword, std::to_string(value));
}

struct Fits {
    std::vector<std::string> cards;  // without END
    std::vector<uint8_t> data;       // the data unit, unpadded
    bool padHeader = true;
    bool padData = true;

    Fits& add(const std::string& c) {
        cards.push_back(card(c));
        return *this;
    }

    std::vector<uint8_t> bytes() const {
        std::string header;
        for (const std::string& c : cards) header += c;
        header += card("END");
        if (padHeader) header.resize((header.size() + 2879) / 2880 * 2880, ' ');
        std::vector<uint8_t> out(header.begin(), header.end());
        out.insert(out.end(), data.begin(), data.end());
        if (padData && !data.empty()) out.resize(header.size() + (data.size() + 2879) / 2880 * 2880, 0);
        return out;
    }
};

// The mandatory cards of a primary image.
inline Fits image(int bitpix, std::vector<long long> axes) {
    Fits f;
    f.cards.push_back(valueCard("SIMPLE", "T"));
    f.cards.push_back(intCard("BITPIX", bitpix));
    f.cards.push_back(intCard("NAXIS", static_cast<long long>(axes.size())));
    for (size_t i = 0; i < axes.size(); ++i) f.cards.push_back(intCard("NAXIS" + std::to_string(i + 1), axes[i]));
    return f;
}

// The mandatory cards of an extension: XTENSION, the size cards, PCOUNT, GCOUNT.
inline Fits extension(int bitpix, std::vector<long long> axes, const std::string& kind = "IMAGE",
                      long long pcount = 0, long long gcount = 1) {
    std::string name = kind;
    name.resize(name.size() < 8 ? 8 : name.size(), ' ');
    Fits f;
    f.cards.push_back(card("XTENSION= '" + name + "'"));
    f.cards.push_back(intCard("BITPIX", bitpix));
    f.cards.push_back(intCard("NAXIS", static_cast<long long>(axes.size())));
    for (size_t i = 0; i < axes.size(); ++i) f.cards.push_back(intCard("NAXIS" + std::to_string(i + 1), axes[i]));
    f.cards.push_back(intCard("PCOUNT", pcount));
    f.cards.push_back(intCard("GCOUNT", gcount));
    return f;
}

// HDUs one after another, as a file holds them.
inline std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> hdus) {
    std::vector<uint8_t> out;
    for (const auto& h : hdus) out.insert(out.end(), h.begin(), h.end());
    return out;
}

inline void put16(std::vector<uint8_t>& out, int value) {
    auto v = static_cast<uint16_t>(static_cast<int16_t>(value));
    out.push_back(static_cast<uint8_t>(v >> 8));
    out.push_back(static_cast<uint8_t>(v & 0xFF));
}

inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void putFloat(std::vector<uint8_t>& out, float f) {
    uint32_t v;
    std::memcpy(&v, &f, 4);
    put32(out, v);
}

inline void put64(std::vector<uint8_t>& out, uint64_t v) {
    for (int shift = 56; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

inline void putDouble(std::vector<uint8_t>& out, double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    put64(out, v);
}

}  // namespace fixture
