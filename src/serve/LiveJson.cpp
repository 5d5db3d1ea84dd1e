#include "serve/LiveJson.h"

#include "history/ChannelValue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cmath>
#include <vector>

namespace serve {

namespace {

using history::kChannels;

// Columns worked out per hold of the lock: a few hundred microseconds at most.
constexpr int kColumnsPerLock = 128;

// A current as JSON: 4 decimals are finer than the instrument reads.
QJsonValue currentJson(double value)
{
    return std::round(value * 1e4) / 1e4;
}

// A reading's value: a number, or the report "OVER" / "OCP".
QJsonValue readingJson(float value)
{
    if (history::isOver(value))
        return QStringLiteral("OVER");
    if (history::isOcp(value))
        return QStringLiteral("OCP");
    return currentJson(value);
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QJsonValue text(const std::string& value)
{
    return QString::fromStdString(value);
}

struct Column {
    std::int64_t from;
    std::int64_t to;
};

// Column c covers [from, to) of the span's milliseconds; the last one ends
// just after the span's `to`, so every reading of the span is in a column.
Column column(Span span, int width, int c)
{
    const std::int64_t length = span.to - span.from + 1;
    return {span.from + length * c / width, span.from + length * (c + 1) / width};
}

QByteArray readingsJson(const LiveFeed& feed, Span span, std::size_t first, std::size_t last, int width)
{
    struct Copy {
        std::vector<std::int64_t> times;
        std::vector<history::Values> values;
        std::vector<std::size_t> breaks; // positions with a gap before them (History::gapBefore)
    };
    const Copy copy = feed.read([&](const history::History& history) {
        Copy c;
        last = std::min(last, history.readings().size());
        for (std::size_t i = first; i < last; ++i) {
            c.times.push_back(history.readings().time(i));
            c.values.push_back(history.readings().values(i));
            if (i > first && history.gapBefore(i))
                c.breaks.push_back(i - first);
        }
        return c;
    });
    QJsonArray times;
    for (const std::int64_t t : copy.times)
        times.append(static_cast<qint64>(t));
    QJsonArray channels;
    for (int ch = 0; ch < kChannels; ++ch) {
        QJsonArray values;
        for (const history::Values& v : copy.values)
            values.append(readingJson(v[ch]));
        channels.append(values);
    }
    QJsonArray breaks;
    for (const std::size_t b : copy.breaks)
        breaks.append(static_cast<qint64>(b));
    return compact({{"kind", "readings"},
                    {"from", static_cast<qint64>(span.from)},
                    {"to", static_cast<qint64>(span.to)},
                    {"width", width},
                    {"t", times},
                    {"values", channels},
                    {"breaks", breaks}});
}

} // namespace

QByteArray stateJson(const LiveState& state, std::int64_t nowWallMs)
{
    using Session = LiveState::Session;
    QJsonObject object{{"version", static_cast<qint64>(state.version)},
                       {"now", static_cast<qint64>(nowWallMs)},
                       {"session", sessionName(state.session)},
                       {"measuring", state.measuring},
                       {"retrying", state.session == Session::Lost && state.recording},
                       {"reconnects", static_cast<qint64>(state.reconnects)},
                       {"alarm", state.alarm.empty() ? QJsonValue() : text(state.alarm)},
                       {"alarms", static_cast<qint64>(state.alarms)},
                       {"readings", static_cast<qint64>(state.readings)},
                       {"events", static_cast<qint64>(state.events)},
                       {"lastEvent", text(state.lastEvent)},
                       {"first", static_cast<qint64>(state.firstMs)},
                       {"last", static_cast<qint64>(state.lastMs)},
                       {"wallOffset", static_cast<qint64>(state.wallOffsetMs)}};
    if (state.session == Session::Lost) {
        object["lostSince"] = static_cast<qint64>(state.lostSinceWallMs);
        object["lossReason"] = text(state.lossReason);
    }
    if (state.newest) {
        QJsonArray fields;
        for (const std::string& field : *state.newest)
            fields.append(text(field));
        object["newest"] = QJsonObject{{"fields", fields},
                                       {"elapsed", static_cast<qint64>(state.newestElapsedMs)},
                                       {"wall", static_cast<qint64>(state.newestWallMs)}};
    }
    if (!state.recordingFile.empty())
        object["recording"] = QJsonObject{{"file", text(state.recordingFile)},
                                          {"active", state.recording},
                                          {"rows", static_cast<qint64>(state.rowsRecorded)}};
    return compact(object);
}

QByteArray envelopesJson(const LiveFeed& feed, Span span, int width)
{
    const auto [first, last] = feed.read([&](const history::History& history) {
        return std::pair(history.readings().lowerBound(span.from), history.readings().upperBound(span.to));
    });
    if (last - first <= static_cast<std::size_t>(width))
        return readingsJson(feed, span, first, last, width);

    std::vector<history::SpanRange> ranges(static_cast<std::size_t>(width));
    // Columns whose first reading comes after a session began or ended: no line joins them to the one before.
    QJsonArray breaks;
    for (int start = 0; start < width; start += kColumnsPerLock) {
        const int end = std::min(width, start + kColumnsPerLock);
        feed.read([&](const history::History& history) {
            const history::Readings& readings = history.readings();
            for (int c = start; c < end; ++c) {
                const Column col = column(span, width, c);
                const std::size_t i0 = readings.lowerBound(col.from);
                const std::size_t i1 = readings.lowerBound(col.to); // the last column's col.to is span.to + 1
                if (i1 <= i0)
                    continue;
                ranges[static_cast<std::size_t>(c)] = history.range(i0, i1);
                if (i0 > 0 && history.gapBefore(i0))
                    breaks.append(c);
            }
            return 0;
        });
    }
    QJsonArray mins, maxs, overs, ocps;
    for (int ch = 0; ch < kChannels; ++ch) {
        QJsonArray min, max, over, ocp;
        for (const history::SpanRange& range : ranges) {
            const history::ChannelRange& r = range[static_cast<std::size_t>(ch)];
            min.append(r.hasNumbers() ? currentJson(r.min) : QJsonValue());
            max.append(r.hasNumbers() ? currentJson(r.max) : QJsonValue());
            over.append(r.over ? 1 : 0);
            ocp.append(r.ocp ? 1 : 0);
        }
        mins.append(min);
        maxs.append(max);
        overs.append(over);
        ocps.append(ocp);
    }
    return compact({{"kind", "columns"},
                    {"from", static_cast<qint64>(span.from)},
                    {"to", static_cast<qint64>(span.to)},
                    {"width", width},
                    {"readings", static_cast<qint64>(last - first)},
                    {"min", mins},
                    {"max", maxs},
                    {"over", overs},
                    {"ocp", ocps},
                    {"breaks", breaks}});
}

QByteArray figuresJson(const LiveFeed& feed, Span span)
{
    const history::SpanStatistics statistics =
        feed.read([&](const history::History& history) { return history.statistics(span.from, span.to); });
    QJsonArray channels;
    for (const history::ChannelStatistics& ch : statistics.channels) {
        const bool numbers = ch.range.hasNumbers();
        channels.append(QJsonObject{{"min", numbers ? currentJson(ch.range.min) : QJsonValue()},
                                    {"max", numbers ? currentJson(ch.range.max) : QJsonValue()},
                                    {"mean", ch.numbers ? currentJson(ch.mean) : QJsonValue()},
                                    {"chargeMah", std::round(ch.chargeMah * 1e6) / 1e6},
                                    {"numbers", static_cast<qint64>(ch.numbers)},
                                    {"over", static_cast<qint64>(ch.over)},
                                    {"ocp", static_cast<qint64>(ch.ocp)}});
    }
    return compact({{"from", static_cast<qint64>(span.from)},
                    {"to", static_cast<qint64>(span.to)},
                    {"readings", static_cast<qint64>(statistics.readings)},
                    {"channels", channels}});
}

QByteArray eventsJson(const LiveFeed& feed, Span span, std::size_t limit)
{
    struct Copy {
        std::vector<history::Event> events;
        std::size_t omitted = 0;
    };
    const Copy copy = feed.read([&](const history::History& history) {
        Copy c;
        auto [first, last] = history.eventsBetween(span.from, span.to);
        if (last - first > limit) {
            c.omitted = last - first - limit;
            first = last - limit;
        }
        c.events.assign(history.events().begin() + static_cast<std::ptrdiff_t>(first),
                        history.events().begin() + static_cast<std::ptrdiff_t>(last));
        return c;
    });
    QJsonArray events;
    for (const history::Event& event : copy.events)
        events.append(QJsonObject{{"elapsed", static_cast<qint64>(event.elapsed)},
                                  {"wall", static_cast<qint64>(event.wallMs)},
                                  {"text", text(event.text)}});
    return compact({{"from", static_cast<qint64>(span.from)},
                    {"to", static_cast<qint64>(span.to)},
                    {"omitted", static_cast<qint64>(copy.omitted)},
                    {"events", events}});
}

QByteArray metricsText(const LiveState& state)
{
    QByteArray out;
    const auto metric = [&out](const char* name, const char* type, const char* help) {
        out += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    };
    metric("vantrel_current_milliamperes", "gauge",
           "Newest current reading of each channel in mA (+Inf: OVER, NaN: OCP).");
    if (state.newest) {
        for (int ch = 0; ch < kChannels; ++ch) {
            const std::optional<float> value = history::channelValue((*state.newest)[static_cast<std::size_t>(ch)]);
            QByteArray number = "NaN";
            if (value && history::isOver(*value))
                number = "+Inf";
            else if (value && history::isNumber(*value))
                number = QByteArray::number(static_cast<double>(*value), 'g', 9);
            out += "vantrel_current_milliamperes{channel=\"CH" + QByteArray::number(ch + 1) + "\"} " + number + '\n';
        }
    }
    metric("vantrel_readings_total", "counter", "Readings taken since the program started.");
    out += "vantrel_readings_total " + QByteArray::number(static_cast<qulonglong>(state.readings)) + '\n';
    metric("vantrel_session_state", "gauge", "1 for the state the instrument session is in.");
    for (const LiveState::Session session : {LiveState::Session::None, LiveState::Session::Open,
                                             LiveState::Session::Lost, LiveState::Session::Closed})
        out += QByteArray("vantrel_session_state{state=\"") + sessionName(session) + "\"} "
               + (state.session == session ? "1" : "0") + '\n';
    metric("vantrel_measuring", "gauge", "1 while readings are being taken.");
    out += QByteArray("vantrel_measuring ") + (state.measuring ? "1" : "0") + '\n';
    metric("vantrel_reconnects_total", "counter", "Sessions reopened after a loss.");
    out += "vantrel_reconnects_total " + QByteArray::number(static_cast<qulonglong>(state.reconnects)) + '\n';
    metric("vantrel_alarms_total", "counter", "Over-current alarms raised.");
    out += "vantrel_alarms_total " + QByteArray::number(static_cast<qulonglong>(state.alarms)) + '\n';
    metric("vantrel_recording_rows_total", "counter", "Rows handed to the recording file being written.");
    out += "vantrel_recording_rows_total " + QByteArray::number(static_cast<qulonglong>(state.rowsRecorded)) + '\n';
    return out;
}

} // namespace serve
