#include "serve/AccessToken.h"

#include <sys/random.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace serve {

namespace {

constexpr std::size_t kRandomBytes = 16; // 128 bits
constexpr std::size_t kMinLength = 32;
constexpr std::size_t kMaxLength = 128;

bool isTokenCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

} // namespace

bool equalInConstantTime(std::string_view expected, std::string_view candidate)
{
    unsigned char difference = candidate.size() == expected.size() ? 0 : 1;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const char other = i < candidate.size() ? candidate[i] : '\0';
        difference |= static_cast<unsigned char>(expected[i] ^ other);
    }
    return difference == 0;
}

AccessToken AccessToken::generate()
{
    std::array<unsigned char, kRandomBytes> bytes{};
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + got, bytes.size() - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::runtime_error(std::string("No random numbers for the live view's access token: ")
                                     + std::strerror(errno));
        got += static_cast<std::size_t>(n);
    }
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return AccessToken(text);
}

AccessToken AccessToken::fromFile(const std::string& path)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error("Cannot read the token file " + path + ": " + std::strerror(errno));
    std::string line;
    std::getline(file, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    bool valid = line.size() >= kMinLength && line.size() <= kMaxLength;
    for (const char c : line)
        valid = valid && isTokenCharacter(c);
    if (!valid)
        throw std::runtime_error("The token file " + path
                                 + " must hold one line of 32 to 128 characters A-Z, a-z, 0-9, - or _"
                                   " (for example the output of: head -c 16 /dev/urandom | xxd -p)");
    return AccessToken(line);
}

bool AccessToken::matches(std::string_view candidate) const
{
    return equalInConstantTime(m_text, candidate);
}

} // namespace serve
