#pragma once

#include "cli/CommandLine.h"
#include "serve/ListenAddress.h"

#include <optional>
#include <string>
#include <vector>

namespace serve {

// How the live view is served, as the command line asks.
struct ServeOptions {
    std::optional<ListenAddress> address; // serving at all: --serve given
    // The token is read from this file instead of drawn at random; a token
    // is then asked for even on a loopback address.
    std::optional<std::string> tokenFile;
    bool metricsOpen = false; // /metrics without the token
    std::optional<std::string> tlsCertificate;
    std::optional<std::string> tlsKey;
};

// The live view's options for a program's command line (vantrel, and
// vantrel-visa's `command` record): --serve, --token-file, --metrics-open,
// --tls-cert, --tls-key, each filling `options`.
std::vector<cli::Option> serveOptions(ServeOptions& options, const std::string& command = {});
// After all options: the others need --serve, and the certificate and key
// come together. Throws cli::UsageError.
void checkServeOptions(const ServeOptions& options);

} // namespace serve
