#pragma once

#include "sim/FileDescriptor.h"
#include "sim/SerialLine.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// A pseudo-terminal with a symlink to its slave side, the instrument's end of
// a serial line. The simulator keeps the slave open itself so that the master
// never reports a hang-up while the program has the port closed between
// sessions. Destroying it removes the link first and then closes the slave:
// together with closing the master this is an unplugged adapter to the
// program (its reads end, its writes fail with EIO, the device is gone).
class PtyLine {
public:
    // The port starts at the instrument's speed, so a plain client that never
    // touches the line settings is understood. Throws std::runtime_error.
    PtyLine(const std::string& link, std::int32_t baud);
    ~PtyLine();
    PtyLine(const PtyLine&) = delete;
    PtyLine& operator=(const PtyLine&) = delete;

    FileDescriptor takeMaster() { return std::move(m_master); }
    const std::string& slavePath() const { return m_slavePath; }

    // How the program has set up its end of the line.
    LineFormat hostFormat() const;

    // Takes the bytes put on the line that nobody has read yet off it and
    // says how many: once counted, none of them can reach the program.
    std::size_t takeUnreadBytes();

private:
    std::string m_link;
    std::string m_slavePath;
    FileDescriptor m_master;
    FileDescriptor m_slave;
};

} // namespace sim
