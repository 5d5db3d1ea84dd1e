#pragma once

#include <QProcess>
#include <QTemporaryDir>

#include <string>

// A pair of connected pseudo-terminals made by socat, for serial tests: the
// program side opens programPath(), the test plays the instrument on the
// other end through peerFd(). Everything is gone when the object is.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ready() const { return m_peerFd >= 0; }
    const std::string& programPath() const { return m_programPath; }
    std::string resource() const { return "ASRL" + m_programPath + "::INSTR"; }

    // Sends bytes to the program side, as the instrument would.
    void send(const std::string& bytes);
    // Bytes the program side sent, waiting up to waitMs for at least `count`.
    std::string receive(std::size_t count, int waitMs = 2000);
    // Ends socat: the program side loses its line.
    void hangUp();

private:
    QTemporaryDir m_dir;
    QProcess m_socat;
    std::string m_programPath;
    int m_peerFd = -1;
};
