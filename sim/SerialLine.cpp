#include "sim/SerialLine.h"

#include <cmath>

namespace sim {
namespace {

// The sender's line level at time t, in units of the sender's bit time: idle
// (1) outside the frames, frames sent back to back from t = 0.
class SenderLine {
public:
    SenderLine(std::string_view bytes, int dataBits) : m_bytes(bytes), m_dataBits(dataBits) {}

    int frameBits() const { return m_dataBits + 2; }
    double end() const { return static_cast<double>(m_bytes.size()) * frameBits(); }

    int levelAt(double t) const
    {
        if (t < 0 || t >= end())
            return 1;
        const auto bit = static_cast<long>(std::floor(t));
        const auto frame = static_cast<std::size_t>(bit / frameBits());
        const int inFrame = static_cast<int>(bit % frameBits());
        if (inFrame == 0)
            return 0; // start bit
        if (inFrame > m_dataBits)
            return 1; // stop bit
        return (static_cast<unsigned char>(m_bytes[frame]) >> (inFrame - 1)) & 1;
    }

private:
    std::string_view m_bytes;
    int m_dataBits;
};

} // namespace

std::string passOverLine(std::string_view bytes, LineFormat sender, LineFormat receiver)
{
    if (sender == receiver)
        return std::string(bytes);
    // A line set to speed 0 is hung up (termios B0) or runs at a speed we
    // cannot tell: nothing readable crosses it.
    if (sender.baud <= 0 || receiver.baud <= 0)
        return {};
    const SenderLine line(bytes, sender.dataBits);
    // The receiver's bit time in sender bit times.
    const double bit = static_cast<double>(sender.baud) / receiver.baud;
    std::string received;
    // Level changes happen only on the sender's bit boundaries, so a start
    // bit is found by stepping over those boundaries looking for 1 -> 0.
    double t = 0; // from here on the receiver hunts for a start bit
    for (;;) {
        double edge = std::ceil(t);
        while (edge < line.end() && !(line.levelAt(edge - 1) == 1 && line.levelAt(edge) == 0))
            edge += 1;
        if (edge >= line.end())
            break;
        unsigned value = 0;
        for (int i = 0; i < receiver.dataBits; ++i)
            value |= static_cast<unsigned>(line.levelAt(edge + (i + 1.5) * bit)) << i;
        received.push_back(static_cast<char>(value));
        // The receiver hunts again once it has sampled the stop bit.
        t = edge + (receiver.dataBits + 1.5) * bit;
    }
    return received;
}

std::chrono::nanoseconds lineTime(std::size_t byteCount, std::int32_t baud)
{
    return std::chrono::nanoseconds(static_cast<std::int64_t>(byteCount) * 10 * 1'000'000'000LL / baud);
}

} // namespace sim
