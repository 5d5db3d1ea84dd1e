#pragma once

#include "record/CsvFormat.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace record {

// A line longer than this (its line end not counted) is no row the program
// wrote: it is counted as unreadable and passed over without being kept.
inline constexpr std::size_t kLongestLine = std::size_t{1} << 20;

// How far a row's elapsed time may run ahead of its wall-clock time, counted
// from the row before it: further is a damaged number, never a real run.
inline constexpr std::chrono::milliseconds kClockSlack{60000};

// A row as read from a recording. Its texts view the line it came from (or a
// scratch copy of a quoted field) and stay valid only while it is handed on.
struct RowView {
    std::chrono::milliseconds elapsed{};
    WallClock time{};
    std::array<std::string_view, 3> fields{};
    std::string_view event;
    bool isReading() const { return event.empty(); }
};

// Where the rows of a recording begin, or why the text is no recording.
struct HeaderCheck {
    enum class Outcome {
        Found,    // rowsBegin is just past the header line
        Pending,  // only comment lines so far (a file just started); the header may follow
        NotHeader // the first line that is no comment is not the header
    };
    Outcome outcome = Outcome::Pending;
    std::uint64_t rowsBegin = 0;      // for Found: the offset of the first row in the file
    std::uint64_t lineEndsBefore = 0; // for Found: line ends before the first row (comments and header)
    std::string foundLine;            // for NotHeader: that line, shortened and in printable ASCII
};

// Looks for the header line after any number of comment lines, in a file's
// bytes given piece by piece from its first. Comment lines are passed over
// however long they are; nothing but the start of a line that may still
// become the header is kept between pieces.
class HeaderSearch {
public:
    // The next bytes of the file. Once Found or NotHeader, that stays the answer.
    HeaderCheck take(std::string_view bytes);

private:
    // Judges a whole line (or the start of one, when `whole` is false).
    std::optional<HeaderCheck> judge(std::string_view line, bool whole, std::uint64_t lineEnd);

    std::optional<HeaderCheck> m_answer;
    std::uint64_t m_taken = 0;    // bytes taken so far
    std::uint64_t m_lineEnds = 0; // line ends passed so far
    std::string m_line;           // the line begun and not yet ended, when it may become the header
    bool m_inComment = false;     // the line begun is a comment, passed over up to its end
};

// The header search over a whole text at once.
HeaderCheck checkHeader(std::string_view text);

// Hears the rows a read finds, in order.
class RowConsumer {
public:
    enum class Verdict {
        Taken,
        Unreadable, // the row is well formed but its content makes no sense here
        Stop        // ends the read before this row
    };
    virtual ~RowConsumer() = default;
    // [begin, end): the row's bytes in the text, its line end included.
    virtual Verdict row(const RowView& row, std::size_t begin, std::size_t end) = 0;
};

struct ReadResult {
    std::size_t end = 0;               // just past the last whole line taken, or the text's end (insideLongLine)
    std::uint64_t lineEnds = 0;        // line ends passed, comments and unreadable rows included
    std::uint64_t unreadable = 0;      // rows skipped because they could not be read
    std::uint64_t firstUnreadable = 0; // line of the first, counted from 1 at the read's first line; 0 if none
    bool stopped = false;              // the consumer ended the read
};

// What a read keeps from row to row: the unquoted texts of the row at hand,
// and the last date seen with its day number (a day's rows share their date).
struct ParseScratch {
    std::string unquoted;
    std::array<char, 10> lastDate{};
    long long lastDays = 0;
};

// Reads the rows of a recording from its bytes, given piece by piece: each
// piece begins where the last read ended (`end`), with the bytes it left
// (a row not yet whole) in front. The format never puts a line end inside a
// field, so every line is one row, and a quote ends at the line end at the
// latest. Comment lines are passed over. A row is unreadable, counted and
// passed over, when its line holds no six fields (an unbalanced quote among
// them), is longer than kLongestLine, or its time makes no sense after the
// rows before it: its elapsed time runs backwards, or jumps more than
// kClockSlack ahead of its wall-clock time (a wall clock set back is taken
// once a second row agrees with it; a machine that slept lets the wall clock
// run ahead, which is fine).
class RowReader {
public:
    explicit RowReader(std::size_t longestLine = kLongestLine) : m_longestLine(longestLine) {}

    // Reads the rows whose lines begin in text[begin, end) (begin at a line
    // start, or inside the overlong line the last read ended in) and hands each
    // to the consumer, in order. A row is only taken whole: a line without its
    // line end (cut short, or still being written) is left for a later read
    // and `end` stays before it, unless it is already too long to be a row.
    ReadResult read(std::string_view text, std::size_t begin, std::size_t end, RowConsumer& consumer);

private:
    struct Moment {
        std::int64_t elapsed = 0; // ms
        std::int64_t wall = 0;    // ms since 1970
    };
    enum class Timing { InTime, Backwards, Ahead };
    static Timing timing(const Moment& before, const Moment& now);
    // Whether a row at `now` may follow the rows taken so far; notes a refusal.
    bool inTime(const Moment& now);

    std::size_t m_longestLine;
    ParseScratch m_scratch;
    bool m_insideLongLine = false; // the last read ended inside an overlong line, already counted
    std::optional<Moment> m_last;  // the last row taken
    std::optional<Moment> m_ahead; // the row just refused for running ahead of its wall clock
};

// One RowReader over a whole text.
ReadResult readRows(std::string_view text, std::size_t begin, std::size_t end, RowConsumer& consumer);

// One row's line, without its line end; false when it is a comment or
// cannot be read. Texts with quotes are unquoted into `scratch`.
bool parseRow(std::string_view line, RowView& row, ParseScratch& scratch);

} // namespace record
