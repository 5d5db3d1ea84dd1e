#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

// Collects bytes as they arrive from a line and hands out whole command
// lines, each with its line feed, in arrival order. Like the instrument's
// input buffer it is bounded: a line longer than kMaxLineLength keeps its
// first kMaxLineLength bytes and loses the rest up to its line feed.
class LineAssembler {
public:
    static constexpr std::size_t kMaxLineLength = 4096;

    void append(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const auto end = bytes.find('\n');
            const std::size_t content = end == std::string_view::npos ? bytes.size() : end;
            m_pending.append(bytes.substr(0, std::min(content, kMaxLineLength - m_openLineLength)));
            m_openLineLength = std::min(kMaxLineLength, m_openLineLength + content);
            if (end == std::string_view::npos)
                return;
            m_pending.push_back('\n');
            m_openLineLength = 0;
            bytes.remove_prefix(end + 1);
        }
    }

    std::optional<std::string> nextLine()
    {
        const auto end = m_pending.find('\n');
        if (end == std::string::npos)
            return std::nullopt;
        std::string line = m_pending.substr(0, end + 1);
        m_pending.erase(0, end + 1);
        return line;
    }

private:
    std::string m_pending;
    std::size_t m_openLineLength = 0; // bytes kept of the line not yet ended
};

} // namespace sim
