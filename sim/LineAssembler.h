#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace sim {

// Collects bytes as they arrive from a line and hands out whole command
// lines, each with its line feed, in arrival order.
class LineAssembler {
public:
    void append(std::string_view bytes) { m_pending.append(bytes); }

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
};

} // namespace sim
