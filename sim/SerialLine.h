#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// The instrument's serial line runs at this speed; a host at any other speed
// reads and writes garbage.
constexpr std::int32_t kInstrumentBaud = 38400;

// How one end of an RS-232 line frames its bytes: a start bit, dataBits data
// bits (least significant first) and one stop bit.
struct LineFormat {
    std::int32_t baud = kInstrumentBaud;
    int dataBits = 8;
    bool operator==(const LineFormat&) const = default;
};

// What a receiver framed as `receiver` reads when a sender framed as `sender`
// transmits `bytes` back to back: the same bytes when both agree, otherwise
// the garbage a real UART makes of a mismatched line (bytes lost, split or
// altered); nothing when either speed is 0 or below. Deterministic.
std::string passOverLine(std::string_view bytes, LineFormat sender, LineFormat receiver);

// Time the line needs for `byteCount` bytes at `baud`, 10 bits per byte.
std::chrono::nanoseconds lineTime(std::size_t byteCount, std::int32_t baud);

} // namespace sim
