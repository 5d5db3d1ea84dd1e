#include "sim/Transcript.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace sim {

std::string escapeBytes(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\n': text += "\\n"; break;
        case '\r': text += "\\r"; break;
        case '\t': text += "\\t"; break;
        case '\\': text += "\\\\"; break;
        default:
            if (byte >= 0x20 && byte < 0x7F) {
                text += c;
            } else {
                static constexpr char hex[] = "0123456789ABCDEF";
                text += "\\x";
                text += hex[byte >> 4];
                text += hex[byte & 0xF];
            }
        }
    }
    return text;
}

Transcript::Transcript(const std::string& path) : m_file(std::fopen(path.c_str(), "w"))
{
    if (!m_file)
        throw TranscriptUnwritable("cannot write the transcript " + path + ": " + std::strerror(errno));
}

Transcript::~Transcript()
{
    std::fclose(m_file);
}

void Transcript::write(const char* direction, std::string_view bytes)
{
    std::fprintf(m_file, "%s%s\n", direction, escapeBytes(bytes).c_str());
    std::fflush(m_file);
}

} // namespace sim
