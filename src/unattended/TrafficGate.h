#pragma once

#include "instrument/Surroundings.h"

#include <functional>

namespace unattended {

// Stands between the instrument object and the recording: passes every
// happening on, tells a listener of each failed reading (the sign that the
// session may be lost), and while muted keeps the opens and closes of the
// reconnect attempts out of the recording (their own rows say what happened).
class TrafficGate : public instrument::TrafficObserver {
public:
    explicit TrafficGate(instrument::TrafficObserver& target) : m_target(target) {}

    void setReadingFailedListener(std::function<void(const std::string&)> listener)
    {
        m_readingFailed = std::move(listener);
    }
    void setMuted(bool muted) { m_muted = muted; }
    // While muted, a successful open still reaches the recording: the
    // start's open, tried again, is the recording's first session.
    void letOpeningThrough(bool through) { m_openingThrough = through; }

    void sessionOpened(const std::string& resource, const std::string& identity) override;
    void openFailed(const std::string& reason) override;
    void sessionClosed() override;
    void commandSent(const std::string& command) override;
    void currentsRead(const std::array<std::string, 3>& fields) override;
    void readingFailed(const std::string& reason) override;

private:
    instrument::TrafficObserver& m_target;
    std::function<void(const std::string&)> m_readingFailed;
    bool m_muted = false;
    bool m_openingThrough = false;
};

} // namespace unattended
