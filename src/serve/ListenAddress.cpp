#include "serve/ListenAddress.h"

#include "serve/QueryParameters.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <stdexcept>

namespace serve {

namespace {

bool isNumericAddress(const std::string& host)
{
    in6_addr address6{};
    in_addr address4{};
    return ::inet_pton(AF_INET, host.c_str(), &address4) == 1 || ::inet_pton(AF_INET6, host.c_str(), &address6) == 1;
}

} // namespace

bool ListenAddress::isLoopback() const
{
    in_addr address4{};
    if (::inet_pton(AF_INET, host.c_str(), &address4) == 1)
        return (ntohl(address4.s_addr) >> 24) == 127;
    in6_addr address6{};
    if (::inet_pton(AF_INET6, host.c_str(), &address6) == 1)
        return IN6_IS_ADDR_LOOPBACK(&address6);
    return false;
}

std::string ListenAddress::url(bool tls, std::uint16_t actualPort) const
{
    const std::string shownHost = isIpv6() ? "[" + host + "]" : host;
    return std::string(tls ? "https://" : "http://") + shownHost + ":" + std::to_string(actualPort) + "/";
}

ListenAddress parseListenAddress(std::string_view text)
{
    ListenAddress address;
    std::string_view port = text;
    const std::size_t colon = text.rfind(':');
    if (colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        port = text.substr(colon + 1);
        // An IPv6 address comes in brackets, so its own colons are not taken for the port's.
        const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
        if (bracketed)
            host = host.substr(1, host.size() - 2);
        address.host = std::string(host);
        if (!isNumericAddress(address.host) || (address.isIpv6() && !bracketed))
            throw std::invalid_argument("expected [ADDRESS:]PORT with a numeric ADDRESS (such as 0.0.0.0, or [::1] "
                                        "in brackets)");
    }
    const std::optional<std::int64_t> number = parseInteger(port, 0, 65535);
    if (!number)
        throw std::invalid_argument("expected [ADDRESS:]PORT with a PORT from 0 to 65535");
    address.port = static_cast<std::uint16_t>(*number);
    return address;
}

} // namespace serve
