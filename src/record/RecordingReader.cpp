#include "record/RecordingReader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace record {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kShownLineLength = 60;
constexpr int kFields = 6;
constexpr int kFirstYear = 1900;
constexpr int kLastYear = 2200;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A line without its line end; a CR before it (a file saved on Windows) goes too.
std::string_view withoutCarriageReturn(std::string_view line)
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    return line;
}

bool isComment(std::string_view line)
{
    return !line.empty() && line.front() == '#';
}

// Seconds with up to three decimals ("12.345") as whole milliseconds; further
// decimals round to the nearest millisecond.
std::optional<std::chrono::milliseconds> parseElapsed(std::string_view text)
{
    std::size_t i = 0;
    long long ms = 0;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        if (i >= 12)
            return std::nullopt;
        ms = ms * 10 + (text[i] - '0');
    }
    if (i == 0)
        return std::nullopt;
    ms *= 1000;
    if (i < text.size()) {
        if (text[i++] != '.')
            return std::nullopt;
        static constexpr int kPlace[] = {100, 10, 1};
        for (int decimal = 0; i < text.size(); ++i, ++decimal) {
            if (!isDigit(text[i]))
                return std::nullopt;
            if (decimal < 3)
                ms += (text[i] - '0') * kPlace[decimal];
            else if (decimal == 3 && text[i] >= '5')
                ms += 1;
        }
    }
    return std::chrono::milliseconds(ms);
}

int digits(std::string_view text, std::size_t at, std::size_t count, bool& ok)
{
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        ok = ok && isDigit(text[i]);
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
long long daysFromCivil(long long year, int month, int day)
{
    year -= month <= 2;
    const long long era = (year >= 0 ? year : year - 399) / 400;
    const long long yearOfEra = year - era * 400;
    const long long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const long long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// "2026-12-07T01:10:23.123Z", as utcText writes it. The day number of the
// date is kept for the next row, which almost always has the same date.
std::optional<WallClock> parseUtc(std::string_view text, ParseScratch& scratch)
{
    if (text.size() != 24 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' || text[16] != ':'
        || text[19] != '.' || text[23] != 'Z')
        return std::nullopt;
    bool ok = true;
    if (!std::equal(scratch.lastDate.begin(), scratch.lastDate.end(), text.begin())) {
        const int year = digits(text, 0, 4, ok), month = digits(text, 5, 2, ok), day = digits(text, 8, 2, ok);
        // Years a wall clock can show, well inside what WallClock holds (1678 to 2262).
        if (!ok || year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 || day > 31)
            return std::nullopt;
        std::copy_n(text.begin(), scratch.lastDate.size(), scratch.lastDate.begin());
        scratch.lastDays = daysFromCivil(year, month, day);
    }
    const int hour = digits(text, 11, 2, ok), minute = digits(text, 14, 2, ok), second = digits(text, 17, 2, ok);
    const int ms = digits(text, 20, 3, ok);
    if (!ok || hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    const long long seconds = scratch.lastDays * 86400LL + hour * 3600 + minute * 60 + second;
    return WallClock(std::chrono::duration_cast<WallClock::duration>(std::chrono::milliseconds(seconds * 1000 + ms)));
}

// Splits a line at its commas, or by RFC 4180 when it holds a quote
// (unquoted texts go to scratch). False unless it has exactly six fields.
bool splitFields(std::string_view line, std::array<std::string_view, kFields>& fields, std::string& scratch)
{
    if (line.find('"') == std::string_view::npos) {
        int n = 0;
        for (std::size_t start = 0;; ++n) {
            const std::size_t comma = line.find(',', start);
            if (n == kFields)
                return false;
            fields[n] = line.substr(start, comma - start);
            if (comma == std::string_view::npos)
                return n == kFields - 1;
            start = comma + 1;
        }
    }
    scratch.clear();
    scratch.reserve(line.size()); // views into scratch must not move
    int n = 0;
    std::size_t i = 0;
    for (;; ++n) {
        if (n == kFields)
            return false;
        const std::size_t start = scratch.size();
        if (i < line.size() && line[i] == '"') {
            for (++i;; ++i) {
                if (i >= line.size())
                    return false; // the closing quote is missing
                if (line[i] == '"') {
                    if (i + 1 < line.size() && line[i + 1] == '"')
                        ++i;
                    else
                        break;
                }
                scratch += line[i];
            }
            ++i;
            if (i < line.size() && line[i] != ',')
                return false; // text after a closing quote
        } else {
            for (; i < line.size() && line[i] != ','; ++i) {
                if (line[i] == '"')
                    return false;
                scratch += line[i];
            }
        }
        fields[n] = std::string_view(scratch).substr(start);
        if (i >= line.size())
            return n == kFields - 1;
        ++i; // the comma
    }
}

// Printable ASCII for a message: other bytes as \xNN, long lines shortened.
std::string shownLine(std::string_view line)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string shown;
    for (const char c : line.substr(0, kShownLineLength)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F) {
            shown += c;
        } else {
            shown += "\\x";
            shown += kHex[byte >> 4];
            shown += kHex[byte & 0xF];
        }
    }
    if (line.size() > kShownLineLength)
        shown += "...";
    return shown;
}

} // namespace

HeaderCheck HeaderSearch::take(std::string_view bytes)
{
    if (m_answer)
        return *m_answer;
    // The line at hand: the start kept from the last piece, if any, and these bytes.
    const auto lineOf = [this](std::string_view part) {
        return m_line.empty() ? part : std::string_view(m_line.append(part));
    };
    for (std::size_t pos = 0; pos < bytes.size();) {
        const void* found = std::memchr(bytes.data() + pos, '\n', bytes.size() - pos);
        if (!found) {
            if (!m_inComment) {
                if ((m_answer = judge(lineOf(bytes.substr(pos)), false, 0)))
                    return *m_answer;
                if (!m_inComment && m_line.empty())
                    m_line = bytes.substr(pos); // the start of what may become the header
            }
            break;
        }
        const std::size_t lineEnd = static_cast<const char*>(found) - bytes.data();
        if (!m_inComment && (m_answer = judge(lineOf(bytes.substr(pos, lineEnd - pos)), true, m_taken + lineEnd + 1)))
            return *m_answer;
        ++m_lineEnds;
        m_inComment = false;
        m_line.clear();
        pos = lineEnd + 1;
    }
    m_taken += bytes.size();
    return {};
}

std::optional<HeaderCheck> HeaderSearch::judge(std::string_view line, bool whole, std::uint64_t lineEnd)
{
    const std::string_view header = kHeaderLine.substr(0, kHeaderLine.size() - 1);
    if (m_lineEnds == 0) {
        if (!whole && kByteOrderMark.starts_with(line))
            return std::nullopt; // the byte order mark, not yet whole
        if (line.starts_with(kByteOrderMark))
            line.remove_prefix(kByteOrderMark.size());
    }
    line = withoutCarriageReturn(line);
    if (whole && line == header)
        return HeaderCheck{HeaderCheck::Outcome::Found, lineEnd, m_lineEnds + 1, {}};
    if (isComment(line)) {
        m_inComment = !whole; // the rest of it is passed over as it comes
        return std::nullopt;
    }
    // A line still being written is waited for while it can become the header.
    if (!whole && header.starts_with(line))
        return std::nullopt;
    return HeaderCheck{HeaderCheck::Outcome::NotHeader, 0, 0, shownLine(line)};
}

HeaderCheck checkHeader(std::string_view text)
{
    return HeaderSearch().take(text);
}

bool parseRow(std::string_view line, RowView& row, ParseScratch& scratch)
{
    std::array<std::string_view, kFields> fields;
    if (isComment(line) || !splitFields(line, fields, scratch.unquoted))
        return false;
    const auto elapsed = parseElapsed(fields[0]);
    const auto time = parseUtc(fields[1], scratch);
    if (!elapsed || !time)
        return false;
    row.elapsed = *elapsed;
    row.time = *time;
    row.fields = {fields[2], fields[3], fields[4]};
    row.event = fields[5];
    // A reading has all three currents, an event none.
    const auto present = std::count_if(row.fields.begin(), row.fields.end(), [](auto f) { return !f.empty(); });
    return row.isReading() ? present == 3 : present == 0;
}

RowReader::Timing RowReader::timing(const Moment& before, const Moment& now)
{
    if (now.elapsed < before.elapsed)
        return Timing::Backwards;
    const std::int64_t step = now.elapsed - before.elapsed;
    const std::int64_t slack = kClockSlack.count();
    return step > slack && step - (now.wall - before.wall) > slack ? Timing::Ahead : Timing::InTime;
}

bool RowReader::inTime(const Moment& now)
{
    Timing judged = m_last ? timing(*m_last, now) : Timing::InTime;
    // Two rows in a row ahead of the last one taken, and in time with each
    // other: the wall clock was set back (the elapsed time never is).
    if (judged == Timing::Ahead && m_ahead && timing(*m_ahead, now) == Timing::InTime)
        judged = Timing::InTime;
    if (judged == Timing::Ahead)
        m_ahead = now;
    else
        m_ahead.reset();
    return judged == Timing::InTime;
}

ReadResult RowReader::read(std::string_view text, std::size_t begin, std::size_t end, RowConsumer& consumer)
{
    ReadResult result;
    result.end = begin;
    RowView row;
    for (std::size_t pos = begin; pos < end && pos < text.size();) {
        const void* found = std::memchr(text.data() + pos, '\n', text.size() - pos);
        if (!found) {
            // A line cut short or still being written waits for its end, unless
            // it is too long to be a row already: then it is passed over (and
            // counted, unless it is a comment).
            if (!m_insideLongLine && text.size() - pos > m_longestLine) {
                m_insideLongLine = true;
                if (!isComment(text.substr(pos, 1)) && result.unreadable++ == 0)
                    result.firstUnreadable = result.lineEnds + 1;
            }
            if (m_insideLongLine)
                result.end = text.size();
            break;
        }
        const std::size_t lineEnd = static_cast<const char*>(found) - text.data();
        const std::uint64_t line = result.lineEnds + 1;
        const bool counted = std::exchange(m_insideLongLine, false);
        const std::string_view raw = text.substr(pos, lineEnd - pos);
        const std::string_view content = withoutCarriageReturn(raw);
        if (!counted && !content.empty() && !isComment(content)) {
            RowConsumer::Verdict verdict = RowConsumer::Verdict::Unreadable;
            if (raw.size() <= m_longestLine && parseRow(content, row, m_scratch)) {
                using std::chrono::duration_cast, std::chrono::milliseconds;
                const Moment now{row.elapsed.count(), duration_cast<milliseconds>(row.time.time_since_epoch()).count()};
                if (inTime(now)) {
                    verdict = consumer.row(row, pos, lineEnd + 1);
                    if (verdict == RowConsumer::Verdict::Taken)
                        m_last = now;
                }
            }
            if (verdict == RowConsumer::Verdict::Stop) {
                result.stopped = true;
                break;
            }
            if (verdict == RowConsumer::Verdict::Unreadable && result.unreadable++ == 0)
                result.firstUnreadable = line;
        }
        pos = lineEnd + 1;
        result.end = pos;
        result.lineEnds = line;
    }
    return result;
}

ReadResult readRows(std::string_view text, std::size_t begin, std::size_t end, RowConsumer& consumer)
{
    return RowReader().read(text, begin, end, consumer);
}

} // namespace record
