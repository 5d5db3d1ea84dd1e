#pragma once

#include <QByteArray>

#include <optional>
#include <string_view>

namespace serve {

struct StaticFile {
    QByteArray body;
    const char* contentType;
};

// The page, its script and its style, compiled into the program. Looked up
// by the exact request path ("/", "/app.js", "/style.css"); nothing else,
// and never a path on disk.
std::optional<StaticFile> staticFile(std::string_view path);

} // namespace serve
