#include "visa/ResourceName.h"

#include <cctype>
#include <charconv>

namespace visa {

bool startsWithIgnoringCase(std::string_view resource, std::string_view word)
{
    return resource.size() >= word.size() && equalsIgnoringCase(resource.substr(0, word.size()), word);
}

std::vector<std::string> splitResource(std::string_view resource)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const auto at = resource.find("::", start);
        parts.emplace_back(resource.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos)
            return parts;
        start = at + 2;
    }
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

long parseNumber(std::string_view text)
{
    long value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value < 0)
        return -1;
    return value;
}

} // namespace visa
