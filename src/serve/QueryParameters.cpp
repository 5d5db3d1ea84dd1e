#include "serve/QueryParameters.h"

namespace serve {

namespace {

// 18 digits always fit an int64_t, so no overflow check is needed.
constexpr std::size_t kMaxDigits = 18;

// "from, to, width", or "none"; the request's own names are never echoed.
std::string parameterNames(std::span<const IntegerParameter> parameters)
{
    std::string names;
    for (const IntegerParameter& parameter : parameters)
        names += (names.empty() ? "" : ", ") + std::string(parameter.name);
    return names.empty() ? "none" : names;
}

} // namespace

std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t min, std::int64_t max)
{
    const bool negative = !text.empty() && text.front() == '-';
    if (negative)
        text.remove_prefix(1);
    if (text.empty() || text.size() > kMaxDigits)
        return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (negative)
        value = -value;
    if (value < min || value > max)
        return std::nullopt;
    return value;
}

std::variant<IntegerValues, std::string> parseQuery(const QueryArguments& arguments,
                                                    std::span<const IntegerParameter> parameters)
{
    IntegerValues values(parameters.size());
    for (const auto& [name, text] : arguments) {
        std::size_t index = 0;
        while (index < parameters.size() && parameters[index].name != name)
            ++index;
        if (index == parameters.size())
            return "unknown parameter (this address takes " + parameterNames(parameters) + ")";
        const IntegerParameter& parameter = parameters[index];
        if (values[index])
            return "parameter " + std::string(parameter.name) + " given twice";
        values[index] = parseInteger(text, parameter.min, parameter.max);
        if (!values[index])
            return std::string(parameter.name) + " must be a whole number from " + std::to_string(parameter.min)
                   + " to " + std::to_string(parameter.max);
    }
    return values;
}

} // namespace serve
