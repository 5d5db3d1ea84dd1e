#pragma once

#include <string>
#include <string_view>

namespace serve {

// The secret a browser must show on a non-loopback address: 128 random bits
// as 32 hexadecimal digits, or a token of the user's from a file.
class AccessToken {
public:
    // 128 bits from getrandom(). Throws std::runtime_error when the system has none to give.
    static AccessToken generate();
    // The first line of the file: 32 to 128 characters of A-Z a-z 0-9 - _
    // (safe in a URL and a cookie as they are). Throws std::runtime_error
    // naming the file and what is wrong.
    static AccessToken fromFile(const std::string& path);

    const std::string& text() const { return m_text; }
    // Compared in time independent of where the texts differ, so the time
    // of a refusal tells nothing about the token.
    bool matches(std::string_view candidate) const;

private:
    explicit AccessToken(std::string text) : m_text(std::move(text)) {}
    std::string m_text;
};

// Constant-time equality of two texts: every byte of `expected` is looked
// at whatever `candidate` holds; a length that differs is no match.
bool equalInConstantTime(std::string_view expected, std::string_view candidate);

} // namespace serve
