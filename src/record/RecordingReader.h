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
    std::size_t rowsBegin = 0;
    std::string foundLine; // for NotHeader: that line, shortened and in printable ASCII
};

// Looks for the header line after the leading comment lines.
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
    std::size_t end = 0;               // just past the last whole line taken
    std::uint64_t lineEnds = 0;        // line ends passed, comments and unreadable rows included
    std::uint64_t unreadable = 0;      // rows skipped because they could not be read
    std::uint64_t firstUnreadable = 0; // line of the first, counted from 1 at the read's first line; 0 if none
    bool stopped = false;              // the consumer ended the read
};

// Reads the rows whose lines begin in text[begin, end) (begin at a line
// start) and hands each to the consumer, in order. Comment lines are passed
// over; rows that cannot be read are counted. A row is only taken whole: a
// line without its line end (cut short, or still being written) is left for
// a later read and `end` stays before it. A quoted field may hold line ends.
ReadResult readRows(std::string_view text, std::size_t begin, std::size_t end, RowConsumer& consumer);

// The first line that begins at or after `offset`: `offset` itself when it is
// a line start, else just past the next line end (text.size() when none).
std::size_t nextLineStart(std::string_view text, std::size_t offset);

// What a read keeps from row to row: the unquoted texts of the row at hand,
// and the last date seen with its day number (a day's rows share their date).
struct ParseScratch {
    std::string unquoted;
    std::array<char, 10> lastDate{};
    long long lastDays = 0;
};

// One row's line, without its line end; false when it is a comment or
// cannot be read. Texts with quotes are unquoted into `scratch`.
bool parseRow(std::string_view line, RowView& row, ParseScratch& scratch);

} // namespace record
