// Text held in place, of at most a fixed number of bytes. The option model
// keeps EXTNAMEs, command-line values and messages this way, so that nothing
// in it allocates and nothing in it can fail for want of memory.
#pragma once

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <type_traits>

namespace nebulite::options {

template <std::size_t Capacity>
class FixedText {
    static_assert(Capacity > 0 && Capacity < 65536);

public:
    constexpr FixedText() = default;
    constexpr explicit FixedText(std::string_view text) { append(text); }

    constexpr std::string_view view() const { return {chars_.data(), length_}; }
    constexpr std::size_t size() const { return length_; }
    constexpr bool empty() const { return length_ == 0; }
    static constexpr std::size_t capacity() { return Capacity; }
    // True once something did not fit and was cut off.
    constexpr bool truncated() const { return truncated_; }

    constexpr FixedText& append(std::string_view text) {
        for (char c : text) {
            if (length_ == Capacity) {
                truncated_ = true;
                break;
            }
            chars_[length_++] = c;
        }
        return *this;
    }

    // Text from outside (a command line, a descriptor) within a message:
    // control characters show as '?', so that a message stays one line.
    constexpr FixedText& appendPrintable(std::string_view text) {
        for (char c : text) {
            auto code = static_cast<unsigned char>(c);
            append(code < 0x20 || code == 0x7F ? std::string_view("?") : std::string_view(&c, 1));
        }
        return *this;
    }

    FixedText& appendInteger(int64_t value) {
        std::array<char, 24> digits{};
        auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc{}) append(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
        return *this;
    }

    FixedText& appendUnsigned(uint64_t value) {
        std::array<char, 24> digits{};
        auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc{}) append(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
        return *this;
    }

    // The shortest text that reads back as the same double, so that a value
    // written out and parsed again is the value it was.
    FixedText& appendNumber(double value) {
        std::array<char, 32> digits{};
        auto [end, error] = std::to_chars(digits.data(), digits.data() + digits.size(), value);
        if (error == std::errc{}) append(std::string_view(digits.data(), static_cast<std::size_t>(end - digits.data())));
        return *this;
    }

    friend constexpr bool operator==(const FixedText& a, const FixedText& b) { return a.view() == b.view(); }

private:
    std::array<char, Capacity> chars_{};
    uint16_t length_ = 0;
    bool truncated_ = false;
};

// One line of text saying what is wrong, for a message box or stderr.
using Message = FixedText<200>;

namespace detail {
template <std::size_t N>
void appendPart(FixedText<N>& text, std::string_view part) { text.appendPrintable(part); }
template <std::size_t N>
void appendPart(FixedText<N>& text, const char* part) { text.appendPrintable(part); }
template <std::size_t N, std::size_t M>
void appendPart(FixedText<N>& text, const FixedText<M>& part) { text.appendPrintable(part.view()); }
template <std::size_t N>
void appendPart(FixedText<N>& text, double part) { text.appendNumber(part); }
template <std::size_t N, typename Integer>
    requires std::is_integral_v<Integer>
void appendPart(FixedText<N>& text, Integer part) {
    if constexpr (std::is_signed_v<Integer>)
        text.appendInteger(static_cast<int64_t>(part));
    else
        text.appendUnsigned(static_cast<uint64_t>(part));
}
}  // namespace detail

// A message from its parts in order: text, integers and doubles; one line
// whatever the text holds.
template <typename... Parts>
Message compose(const Parts&... parts) {
    Message text;
    (detail::appendPart(text, parts), ...);
    return text;
}

// A value, or the message that says why there is none. Module code has no
// exceptions: every parser and every check answers this way.
template <typename T>
struct Checked {
    T value{};
    Message error;

    bool ok() const { return error.empty(); }
    static Checked of(const T& v) { return Checked{v, {}}; }
    static Checked failure(const Message& m) { return Checked{T{}, m}; }
};

}  // namespace nebulite::options
