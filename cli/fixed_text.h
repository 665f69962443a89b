// Text put together at compile time, for the help texts that are made from
// tables (the image formats) yet must stay constants: the command table
// holds them as string_views.
#pragma once

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string_view>

namespace nebulite::cli {

// An append-only buffer of a fixed capacity. Running out of room throws,
// which in a constant expression stops the build rather than cutting the
// text.
class TextBuilder {
public:
    static constexpr size_t kCapacity = 4096;

    constexpr TextBuilder& operator+=(std::string_view text) {
        if (text.size() > kCapacity - size_) throw std::length_error("TextBuilder: text longer than its capacity");
        for (char c : text) chars_[size_++] = c;
        return *this;
    }
    constexpr TextBuilder& operator+=(char c) { return *this += std::string_view(&c, 1); }
    constexpr std::string_view view() const { return {chars_.data(), size_}; }
    constexpr size_t size() const { return size_; }

private:
    std::array<char, kCapacity> chars_{};
    size_t size_ = 0;
};

// The text `Make` builds, in an array of exactly its length: the builder's
// spare capacity never reaches the program.
template <TextBuilder (*Make)()>
constexpr auto frozen() {
    constexpr TextBuilder draft = Make();
    std::array<char, draft.size()> chars{};
    for (size_t i = 0; i < chars.size(); ++i) chars[i] = draft.view()[i];
    return chars;
}

template <TextBuilder (*Make)()>
inline constexpr auto kFrozenChars = frozen<Make>();

// The text as a view of storage that lives as long as the program.
template <TextBuilder (*Make)()>
inline constexpr std::string_view kFrozenText{kFrozenChars<Make>.data(), kFrozenChars<Make>.size()};

}  // namespace nebulite::cli
