#include "serve/LiveFeed.h"

#include <chrono>

namespace serve {

namespace {

std::int64_t wallMs(record::WallClock time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

} // namespace

const char* sessionName(LiveState::Session session)
{
    switch (session) {
    case LiveState::Session::None:
        return "none";
    case LiveState::Session::Open:
        return "open";
    case LiveState::Session::Lost:
        return "lost";
    case LiveState::Session::Closed:
        return "closed";
    }
    return "none";
}

LiveFeed::LiveFeed(history::LiveHistory& history) : m_history(history)
{
}

void LiveFeed::recordingTo(const std::string& file)
{
    const std::lock_guard lock(m_mutex);
    if (file.empty() ? !m_state.recording : m_state.recording && file == m_state.recordingFile)
        return;
    if (!file.empty()) { // the file's name stays shown after the recording, as recorded
        m_state.recordingFile = file;
        m_state.rowsRecorded = 0;
    }
    m_state.recording = !file.empty();
    m_state.version = m_version.fetch_add(1, std::memory_order_relaxed) + 1;
}

void LiveFeed::row(const record::Row& row)
{
    const std::lock_guard lock(m_mutex);
    m_history.row(row);
    if (m_state.recording) // "recording stopped" is the file's last row
        ++m_state.rowsRecorded;
    if (row.isReading()) {
        ++m_state.readings;
        m_state.newest = row.fields;
        m_state.newestElapsedMs = row.elapsed.count();
        m_state.newestWallMs = wallMs(row.time);
    } else {
        takeEvent(row);
    }
    if (const auto extent = m_history.history().extent()) {
        m_state.firstMs = extent->first;
        m_state.lastMs = extent->second;
    }
    m_state.wallOffsetMs = m_history.history().wallOffsetMs().value_or(0);
    m_state.version = m_version.fetch_add(1, std::memory_order_relaxed) + 1;
}

void LiveFeed::takeEvent(const record::Row& row)
{
    const std::string& text = row.event;
    ++m_state.events;
    m_state.lastEvent = text;
    using Session = LiveState::Session;
    if (text == "session opened" || text == "session reopened") {
        if (text == "session reopened")
            ++m_state.reconnects;
        m_state.session = Session::Open;
        m_state.measuring = true;
        m_state.lossReason.clear();
    } else if (text.starts_with("session lost: ")) {
        m_state.session = Session::Lost;
        m_state.measuring = false;
        m_state.lostSinceWallMs = wallMs(row.time);
        m_state.lossReason = text.substr(std::string_view("session lost: ").size());
    } else if (text == "session closed") {
        m_state.session = Session::Closed;
        m_state.measuring = false;
    } else if (text == "measuring started") {
        m_state.measuring = m_state.session == Session::Open;
    } else if (text == "measuring stopped") {
        m_state.measuring = false;
    } else if (text.starts_with("over-current alarm raised: ")) {
        m_state.alarm = text.substr(std::string_view("over-current alarm raised: ").size());
        ++m_state.alarms;
    } else if (text == "over-current alarm released") {
        m_state.alarm.clear();
    } else if (text == "recording stopped") {
        m_state.recording = false;
    }
}

LiveState LiveFeed::state() const
{
    const std::lock_guard lock(m_mutex);
    return m_state;
}

} // namespace serve

