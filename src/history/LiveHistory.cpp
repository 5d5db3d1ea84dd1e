#include "history/LiveHistory.h"

#include "history/ChannelValue.h"
#include "history/ExportFile.h"
#include "history/Texts.h"
#include "version/Version.h"

namespace history {

namespace {

std::int64_t msOf(record::WallClock time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// A reading's field as the instrument writes it.
std::string fieldText(float value, int channel)
{
    if (isOcp(value))
        return "CH" + std::to_string(channel + 1) + " OCP";
    return valueText(value);
}

} // namespace

LiveHistory::LiveHistory(MemoryCheck mayTake) : m_history(std::make_shared<History>(std::move(mayTake)))
{
}

void LiveHistory::comment(std::string_view text)
{
    // Only what says where the readings come from; a comment a session.
    for (std::string_view kind : {"resource:", "identity:", "CH1 range:"})
        if (text.starts_with(kind))
            m_comments.emplace_back(m_history->readings().size(), text);
}

void LiveHistory::row(const record::Row& row)
{
    if (m_full)
        return;
    const std::int64_t elapsed = row.elapsed.count();
    if (!row.isReading()) {
        m_history->appendEvent(elapsed, msOf(row.time), row.event);
        ++m_generation;
        return;
    }
    Values values{};
    for (int c = 0; c < kChannels; ++c) {
        const std::optional<float> value = channelValue(row.fields[c]);
        if (!value) {
            ++m_unreadable;
            ++m_generation;
            return;
        }
        values[c] = *value;
    }
    m_history->noteWallClock(elapsed, msOf(row.time));
    m_full = !m_history->appendReading(elapsed, values);
    m_history->catchUp();
    ++m_generation;
}

std::vector<std::string> LiveHistory::notices() const
{
    std::vector<std::string> notices;
    if (m_unreadable)
        notices.push_back(groupedCount(m_unreadable)
                          + " readings held a field that is neither a number, OVER nor OCP;"
                            " they are left out.");
    if (m_full)
        notices.push_back("Memory is short: the history stopped growing after "
                          + groupedCount(m_history->readings().size())
                          + " readings. Record to a file to keep the rest.");
    return notices;
}

ExportJob LiveHistory::exportJob(std::int64_t from, std::int64_t to) const
{
    // The chunks of the readings never move, so the worker reads the first
    // `last` of them while the session appends more; the events are copied.
    std::shared_ptr<const History> history = m_history;
    const std::size_t first = history->readings().lowerBound(from);
    const std::size_t last = std::max(first, history->readings().upperBound(to));
    const auto [firstEvent, lastEvent] = m_history->eventsBetween(from, to);
    std::vector<Event> events(m_history->events().begin() + static_cast<std::ptrdiff_t>(firstEvent),
                              m_history->events().begin() + static_cast<std::ptrdiff_t>(lastEvent));
    const std::int64_t wallOffset = m_history->wallOffsetMs().value_or(0);
    // The comments in effect at the span's start (the last of each kind) and those within it.
    std::vector<std::string> comments;
    for (const auto& [readingsBefore, text] : m_comments) {
        if (readingsBefore > last)
            break;
        const std::string_view kind = std::string_view(text).substr(0, text.find(':'));
        if (readingsBefore <= first)
            std::erase_if(comments, [&](const std::string& c) { return std::string_view(c).starts_with(kind); });
        comments.push_back(text);
    }
    const std::string provenance = "history of a live session started "
                                   + record::localTextWithOffset(record::WallClock(std::chrono::milliseconds(wallOffset)))
                                   + ", rows rebuilt from the readings kept";
    return [history, first, last, events = std::move(events), wallOffset, comments = std::move(comments), provenance,
            span = exportedSpanText(from, to, m_history->wallOffsetMs())](const std::string& path, const std::atomic<bool>& cancel) {
        const Readings* readings = &history->readings();
        return writeExport(path, {}, &cancel, [&](ExportFile& file) {
            file.write(record::commentLine(std::string("Vantrel ") + version::kText + " " + provenance));
            for (const std::string& comment : comments)
                file.write(record::commentLine(comment));
            file.write(record::commentLine(span));
            file.write(std::string(record::kHeaderLine));
            auto event = events.begin();
            const auto toWall = [wallOffset](std::int64_t ms) {
                return record::WallClock(std::chrono::duration_cast<record::WallClock::duration>(
                    std::chrono::milliseconds(ms + wallOffset)));
            };
            for (std::size_t i = first; i <= last; ++i) {
                // Events before reading i, in the order they came.
                for (; event != events.end() && (i == last || event->readingIndex <= i); ++event)
                    file.write(record::rowLine({std::chrono::milliseconds(event->elapsed),
                                                record::WallClock(std::chrono::milliseconds(event->wallMs)),
                                                {},
                                                event->text}));
                if (i == last)
                    break;
                const std::int64_t t = readings->time(i);
                record::Row row{std::chrono::milliseconds(t), toWall(t), {}, {}};
                for (int c = 0; c < kChannels; ++c)
                    row.fields[c] = fieldText(readings->value(c, i), c);
                file.write(record::rowLine(row));
            }
        });
    };
}

} // namespace history
