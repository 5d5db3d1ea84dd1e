#include "serve/ServeOptions.h"

#include <stdexcept>

namespace serve {

std::vector<cli::Option> serveOptions(ServeOptions& options, const std::string& command)
{
    const auto file = [](const std::string& value) {
        if (value.empty())
            throw std::invalid_argument("expected a file name");
        return value;
    };
    return {
        {"--serve", "[ADDRESS:]PORT",
         "serve a read-only live view of the run to browsers at\nhttp://ADDRESS:PORT/ (127.0.0.1 when ADDRESS is "
         "left out;\nany other asks for the token printed at the start)",
         [&options](const std::string& value) { options.address = parseListenAddress(value); }, command},
        {"--token-file", "FILE", "the live view's token from FILE (then asked for on any address)",
         [&options, file](const std::string& value) { options.tokenFile = file(value); }, command},
        {"--metrics-open", "", "the live view's /metrics without the token",
         [&options](const std::string&) { options.metricsOpen = true; }, command},
        {"--tls-cert", "FILE", "serve the live view over HTTPS with this PEM certificate",
         [&options, file](const std::string& value) { options.tlsCertificate = file(value); }, command},
        {"--tls-key", "FILE", "and this PEM private key",
         [&options, file](const std::string& value) { options.tlsKey = file(value); }, command},
    };
}

void checkServeOptions(const ServeOptions& options)
{
    if (!options.address && (options.tokenFile || options.metricsOpen || options.tlsCertificate || options.tlsKey))
        throw cli::UsageError("options '--token-file', '--metrics-open', '--tls-cert' and '--tls-key' need '--serve'");
    if (options.tlsCertificate.has_value() != options.tlsKey.has_value())
        throw cli::UsageError("options '--tls-cert' and '--tls-key' come together");
}

} // namespace serve
