#include "serve/StaticFiles.h"

#include <QFile>

#include <array>

namespace serve {

namespace {

struct Entry {
    std::string_view path;
    const char* resource;
    const char* contentType;
};

constexpr std::array kEntries{
    Entry{"/", ":/serve/index.html", "text/html; charset=utf-8"},
    Entry{"/app.js", ":/serve/app.js", "text/javascript; charset=utf-8"},
    Entry{"/style.css", ":/serve/style.css", "text/css; charset=utf-8"},
};

} // namespace

std::optional<StaticFile> staticFile(std::string_view path)
{
    for (const Entry& entry : kEntries) {
        if (entry.path != path)
            continue;
        QFile file(QString::fromLatin1(entry.resource));
        if (!file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return StaticFile{file.readAll(), entry.contentType};
    }
    return std::nullopt;
}

} // namespace serve
