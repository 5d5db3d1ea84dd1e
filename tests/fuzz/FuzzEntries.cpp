#include "FuzzEntries.h"

#include "instrument/StringConverter.h"
#include "panel/VoltageEntry.h"
#include "record/RecordingReader.h"
#include "serve/ListenAddress.h"
#include "serve/QueryParameters.h"
#include "support/FakeInstrument.h"
#include "visa/Error.h"
#include "visa/ResourceExpression.h"

#include <QRegularExpression>
#include <QString>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>

namespace fuzz {

namespace {

void require(bool holds, const std::string& property)
{
    if (!holds)
        throw PropertyViolation(property);
}

// --- StrToDbl ---------------------------------------------------------------

void checkSameNumber(double expected, const std::string& text, const char* property)
{
    const double value = instrument::StringConverter::StrToDbl(text);
    require(value == expected,
            std::string(property) + ": " + std::to_string(value) + " instead of " + std::to_string(expected));
}

// --- readback ---------------------------------------------------------------

std::size_t fieldCount(const std::string& reply)
{
    return reply.empty() ? 0 : static_cast<std::size_t>(std::count(reply.begin(), reply.end(), ',')) + 1;
}

bool isPrintableAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

// The failure rule of every read: one box at most, its text readable whatever
// bytes the instrument sent.
void checkFailureReport(const vtest::ScriptedIOClass& rig, const char* query)
{
    const std::string where = std::string(" (") + query + ")";
    require(rig.dialogs.shown.size() <= 1, "more than one error box for one reply" + where);
    for (const auto& message : rig.dialogs.shown)
        require(isPrintableAscii(message.text), "an error box shows raw reply bytes" + where);
    require(rig.script->replies.empty(), "the reply was not read" + where);
}

// A rig whose instrument is open and answers the next query with `reply`.
struct AnsweringInstrument : vtest::ScriptedIOClass {
    explicit AnsweringInstrument(const std::string& reply)
    {
        openInstrument();
        script->replies = {reply};
    }
};

void checkThreeFields(const instrument::Readback& values, const std::string& reply, const char* query)
{
    const std::string where = std::string(" (") + query + ")";
    require(values.has_value() == (fieldCount(reply) >= 3), "three fields are not what makes a readback" + where);
    if (values)
        for (double value : *values)
            require(std::isfinite(value), "a readback value is not finite" + where);
}

// --- resource expressions ----------------------------------------------------

std::string escapedLiterally(std::string_view name)
{
    std::string expression;
    for (char c : name) {
        expression += '\\';
        expression += c;
    }
    return expression;
}

std::string upperCase(std::string_view text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

bool matches(const std::string& expression, std::string_view name)
{
    return visa::ResourceExpression(expression).matches(name);
}

// --- recording reader ---------------------------------------------------------

// A short longest line, so that fuzzed inputs reach the overlong-line paths.
constexpr std::size_t kFuzzLongestLine = 64;

struct TakenRow {
    std::int64_t elapsed = 0;
    std::int64_t wall = 0;
    std::array<std::string, 3> fields;
    std::string event;
    std::size_t begin = 0, end = 0; // in the whole text
    bool operator==(const TakenRow&) const = default;
};

std::int64_t msOf(record::WallClock time)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

struct Collector : record::RowConsumer {
    std::vector<TakenRow> rows;
    std::size_t base = 0;
    Verdict row(const record::RowView& row, std::size_t begin, std::size_t end) override
    {
        rows.push_back({row.elapsed.count(),
                        msOf(row.time),
                        {std::string(row.fields[0]), std::string(row.fields[1]), std::string(row.fields[2])},
                        std::string(row.event),
                        base + begin,
                        base + end});
        return Verdict::Taken;
    }
};

struct ReadOutcome {
    std::vector<TakenRow> rows;
    std::uint64_t unreadable = 0, firstUnreadable = 0, lineEnds = 0;
    std::size_t end = 0;
    bool operator==(const ReadOutcome&) const = default;
};

// The rows of text from `begin` on, given to one reader in pieces of `piece`
// bytes as the history's file reading does: each read gets what the last
// one left in front of the next piece.
ReadOutcome readInPieces(std::string_view text, std::size_t begin, std::size_t piece)
{
    record::RowReader reader(kFuzzLongestLine);
    Collector collector;
    ReadOutcome total;
    std::string buffer;
    collector.base = begin;
    for (std::size_t at = begin; at < text.size(); at += piece) {
        buffer += text.substr(at, piece);
        const record::ReadResult read = reader.read(buffer, 0, buffer.size(), collector);
        if (read.unreadable && !total.unreadable)
            total.firstUnreadable = total.lineEnds + read.firstUnreadable;
        total.unreadable += read.unreadable;
        total.lineEnds += read.lineEnds;
        collector.base += read.end;
        buffer.erase(0, read.end);
    }
    total.rows = std::move(collector.rows);
    total.end = collector.base;
    return total;
}

ReadOutcome readWhole(std::string_view text, std::size_t begin)
{
    record::RowReader reader(kFuzzLongestLine);
    Collector collector;
    const record::ReadResult read = reader.read(text, begin, text.size(), collector);
    return {std::move(collector.rows), read.unreadable, read.firstUnreadable, read.lineEnds, read.end};
}

void checkHeaderInPieces(std::string_view input, const record::HeaderCheck& whole)
{
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}}) {
        record::HeaderSearch search;
        record::HeaderCheck found;
        for (std::size_t at = 0; at < input.size(); at += piece)
            found = search.take(input.substr(at, piece));
        require(found.outcome == whole.outcome && found.rowsBegin == whole.rowsBegin
                    && found.lineEndsBefore == whole.lineEndsBefore,
                "the header is found elsewhere when the file comes in pieces of " + std::to_string(piece));
    }
    if (whole.outcome == record::HeaderCheck::Outcome::Found)
        require(input.substr(0, whole.rowsBegin).ends_with(record::kHeaderLine)
                    || input.substr(0, whole.rowsBegin).ends_with("ch3_mA,event\r\n"),
                "the rows do not begin after the header line");
}

void checkRowsRead(std::string_view input, const ReadOutcome& whole)
{
    std::int64_t lastElapsed = INT64_MIN;
    for (const TakenRow& row : whole.rows) {
        const std::string_view line = input.substr(row.begin, row.end - row.begin);
        require(line.ends_with('\n') && line.find('\n') == line.size() - 1, "a row taken is not one whole line");
        require(line.size() <= kFuzzLongestLine + 1, "a row longer than the longest line is taken");
        require(row.elapsed >= lastElapsed, "the rows taken run backwards");
        lastElapsed = row.elapsed;
        // Written again in the recording's own format, the row reads back the same.
        const std::string again =
            record::rowLine({std::chrono::milliseconds(row.elapsed),
                             record::WallClock(std::chrono::milliseconds(row.wall)), row.fields, row.event});
        record::RowView view;
        record::ParseScratch scratch;
        require(record::parseRow(std::string_view(again).substr(0, again.size() - 1), view, scratch),
                "a row written again cannot be read: " + again);
        require(view.elapsed.count() == row.elapsed && msOf(view.time) == row.wall && view.event == row.event
                    && view.fields[0] == row.fields[0] && view.fields[1] == row.fields[1]
                    && view.fields[2] == row.fields[2],
                "a row written again reads back otherwise: " + again);
    }
    require(whole.rows.size() + whole.unreadable <= whole.lineEnds + 1, "more rows than lines");
}

} // namespace

void checkStrToDbl(std::string_view input)
{
    const std::string text(input);
    const double value = instrument::StringConverter::StrToDbl(text);
    require(std::isfinite(value), "StrToDbl gave a non-finite value");

    // Blanks are skipped anywhere, and a letter after the text never extends its number.
    checkSameNumber(value, " " + text, "a leading blank changed the number");
    checkSameNumber(value, text.substr(0, text.size() / 2) + "\t" + text.substr(text.size() / 2),
                    "a tab inside the text changed the number");
    checkSameNumber(value, text + "x", "a trailing letter changed the number");

    const std::size_t first = text.find_first_not_of(" \t\n");
    if (first != std::string::npos && (std::isdigit(static_cast<unsigned char>(text[first])) || text[first] == '.'))
        checkSameNumber(-value, "-" + text, "a minus sign did not negate the number");
}

void checkReadback(std::string_view input)
{
    const std::string reply(input);
    {
        AnsweringInstrument rig(reply);
        const instrument::Readback currents = rig.io.GetCurrentCHArray();
        checkFailureReport(rig, "I?");
        checkThreeFields(currents, reply, "I?");
        require(rig.io.OCP == !rig.alarm.shown.empty(), "OCP flag and alarm box disagree");
        if (currents) {
            std::size_t start = 0;
            for (double current : *currents) {
                const std::size_t end = reply.find(',', start);
                const std::string field = reply.substr(start, end == std::string::npos ? end : end - start);
                if (field.find("OVER") != std::string::npos)
                    require(current == 300, "an OVER field does not read as over-range");
                start = end + 1;
            }
        }
    }
    {
        AnsweringInstrument rig(reply);
        const instrument::Readback voltages = rig.io.GetVoltageCHArray();
        checkFailureReport(rig, "VSET?");
        checkThreeFields(voltages, reply, "VSET?");
        require(rig.alarm.shown.empty() && !rig.io.OCP, "a voltage readback raised the OCP alarm");
    }
    {
        AnsweringInstrument rig(reply);
        const bool output = rig.io.GetOutput();
        checkFailureReport(rig, "OUTP?");
        require(!output || rig.dialogs.shown.empty(), "a refused truth value still reads as true");
    }
}

void checkVoltageEntry(std::string_view input)
{
    constexpr qsizetype kLongestEntry = 6;
    constexpr double kLimit = 6.5;
    const QString typed = QString::fromUtf8(input.data(), static_cast<qsizetype>(input.size()));
    const panel::VoltageEntry entry = panel::VoltageEntry::check(typed);

    require(entry.boxText == typed || (typed.size() > kLongestEntry && entry.boxText == typed.left(kLongestEntry)),
            "the box shows neither the typed text nor its first six characters");

    // A digit, or a digit, "." and up to four digits; trailing blanks are read past.
    static const QRegularExpression sendable(QStringLiteral(R"(^[0-9](\.[0-9]{0,4})?[ \t]*\z)"));
    static const QRegularExpression plain(QStringLiteral(R"(^[0-9](\.[0-9]{0,4})?\z)"));
    if (entry.voltage) {
        const double volts = *entry.voltage;
        require(std::isfinite(volts) && volts >= 0 && volts <= kLimit, "a voltage outside 0..6.5 V is sent");
        require(sendable.match(entry.boxText).hasMatch(), "a box text that is no plain voltage is sent");
        require(volts == entry.boxText.trimmed().toDouble(), "the voltage sent is not the one in the box");
    }
    if (plain.match(entry.boxText).hasMatch() && entry.boxText.toDouble() <= kLimit)
        require(entry.voltage.has_value(), "a valid voltage within the limit is refused");
}

void checkResourceExpression(std::string_view input)
{
    const std::size_t split = input.find('\n');
    const std::string expression(input.substr(0, split));
    const std::string_view name = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);

    const std::string literal = escapedLiterally(name);
    require(matches(literal, name), "a name written with every character escaped does not match itself");
    require(!matches(literal, std::string(name) + "x"), "an escaped name matches a longer name");

    std::optional<visa::ResourceExpression> parsed;
    try {
        parsed.emplace(expression);
    } catch (const visa::Error&) {
        return; // a malformed expression is refused, which is all it may do
    }
    const bool matched = parsed->matches(name);
    require(matches("(" + expression + ")", name) == matched, "grouping the whole expression changed the match");
    require(matches(expression + "|" + expression, name) == matched, "e|e matches differently from e");
    require(parsed->matches(upperCase(name)) == matched, "letter case of the name changed the match");
}

void checkRecordingReader(std::string_view input)
{
    const record::HeaderCheck header = record::checkHeader(input);
    checkHeaderInPieces(input, header);
    const std::size_t begin =
        header.outcome == record::HeaderCheck::Outcome::Found ? static_cast<std::size_t>(header.rowsBegin) : 0;
    const ReadOutcome whole = readWhole(input, begin);
    checkRowsRead(input, whole);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{13}, std::size_t{100}})
        require(readInPieces(input, begin, piece) == whole,
                "rows read in pieces of " + std::to_string(piece) + " differ from the whole file's");
}

void checkServeQuery(std::string_view input)
{
    const std::size_t lineEnd = input.find('\n');
    try {
        const serve::ListenAddress address = serve::parseListenAddress(input.substr(0, lineEnd));
        require(!address.host.empty(), "an accepted address names a host");
    } catch (const std::invalid_argument&) {
    }
    if (lineEnd == std::string_view::npos)
        return;
    serve::QueryArguments arguments;
    std::string_view query = input.substr(lineEnd + 1);
    while (!query.empty()) {
        const std::string_view argument = query.substr(0, query.find('&'));
        const std::size_t equals = argument.find('=');
        arguments.emplace_back(std::string(argument.substr(0, equals)),
                               equals == std::string_view::npos ? std::string() : std::string(argument.substr(equals + 1)));
        query.remove_prefix(std::min(query.size(), argument.size() + 1));
    }
    const serve::IntegerParameter parameters[] = {{"from", 0, 10'000'000'000'000}, {"to", 0, 10'000'000'000'000},
                                                 {"width", 1, 4000}};
    const auto parsed = serve::parseQuery(arguments, parameters);
    const auto* values = std::get_if<serve::IntegerValues>(&parsed);
    if (!values)
        return;
    require(values->size() == 3, "a value or nothing for each parameter");
    for (std::size_t i = 0; i < 3; ++i) {
        const std::optional<std::int64_t> value = (*values)[i];
        require(!value || (*value >= parameters[i].min && *value <= parameters[i].max),
                "an accepted value lies within its bounds");
        require(!value || serve::parseInteger(std::to_string(*value), parameters[i].min, parameters[i].max) == value,
                "an accepted value reads back the same");
    }
    for (const auto& [name, text] : arguments) {
        const bool known = name == "from" || name == "to" || name == "width";
        require(known, "only the parameters named are accepted");
        require(text.find_first_not_of("-0123456789") == std::string::npos, "only digits and a sign are accepted");
    }
}

} // namespace fuzz
