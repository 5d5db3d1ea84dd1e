#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace serve {

// A request's query as the HTTP library split and decoded it, in order.
using QueryArguments = std::vector<std::pair<std::string, std::string>>;

// One integer a request may give: its name and bounds, and the value taken
// when it is not given (nothing: the endpoint fills it in itself).
struct IntegerParameter {
    std::string_view name;
    std::int64_t min;
    std::int64_t max;
};

// The values of a query in the order of the parameters asked for; nothing
// where a parameter was not given.
using IntegerValues = std::vector<std::optional<std::int64_t>>;

// A decimal integer: an optional '-', then 1 to 18 digits, nothing else (no
// '+', spaces, hexadecimal or exponent); nothing when outside [min, max].
std::optional<std::int64_t> parseInteger(std::string_view text, std::int64_t min, std::int64_t max);

// Checks a query strictly: only the parameters named, each at most once,
// each an integer within its bounds. Either the values or the reason for
// the 400 answer.
std::variant<IntegerValues, std::string> parseQuery(const QueryArguments& arguments,
                                                    std::span<const IntegerParameter> parameters);

} // namespace serve
