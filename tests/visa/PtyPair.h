#pragma once

// A pseudo-terminal for serial tests: the program side opens resource(), the
// test plays the instrument on the master side. The test keeps the line open
// itself too, so the program's close never hangs it up.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <string>

class PtyPair {
public:
    PtyPair() : m_master(::posix_openpt(O_RDWR | O_NOCTTY))
    {
        if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0)
            return;
        m_programPath = ::ptsname(m_master);
        m_slave = ::open(m_programPath.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        ::tcgetattr(m_slave, &raw);
        ::cfmakeraw(&raw); // no echo, no line editing: bytes pass as they are
        ::tcsetattr(m_slave, TCSANOW, &raw);
    }
    ~PtyPair()
    {
        ::close(m_slave);
        ::close(m_master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ready() const { return m_slave >= 0; }
    const std::string& programPath() const { return m_programPath; }
    std::string resource() const { return "ASRL" + m_programPath + "::INSTR"; }
    // The instrument's side goes away: the program's side reads EIO from now on.
    void hangUp()
    {
        ::close(m_slave);
        ::close(m_master);
        m_slave = m_master = -1;
    }
    // Sends bytes to the program side, as the instrument would.
    void send(const std::string& bytes) { (void)!::write(m_master, bytes.data(), bytes.size()); }
    // Bytes the program side sent, waiting up to waitMs for at least `count`.
    std::string receive(std::size_t count, int waitMs = 2000)
    {
        std::string bytes;
        pollfd readable{m_master, POLLIN, 0};
        char buffer[256];
        while (bytes.size() < count && ::poll(&readable, 1, waitMs) > 0) {
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                break;
            bytes.append(buffer, std::size_t(n));
        }
        return bytes;
    }

private:
    int m_master;
    int m_slave = -1;
    std::string m_programPath;
};
