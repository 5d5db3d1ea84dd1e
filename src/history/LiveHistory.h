#pragma once

#include "history/HistorySource.h"
#include "record/CsvFormat.h"

namespace history {

// The history of the session running now, fed row by row by the recording's
// observer (as a record::RowSink) whether or not a window shows it. A row
// costs a few hundred nanoseconds and nothing is drawn from here: a shown
// window looks at generation() on its own clock.
class LiveHistory : public record::RowSink, public HistorySource {
public:
    explicit LiveHistory(MemoryCheck mayTake);

    void row(const record::Row& row) override;

    const History& history() const override { return m_history; }
    std::uint64_t generation() const override { return m_generation; }
    std::vector<std::string> notices() const override;
    ExportJob exportJob(std::int64_t from, std::int64_t to) const override;

private:
    History m_history;
    std::uint64_t m_generation = 0;
    std::uint64_t m_unreadable = 0;
    bool m_full = false;
};

} // namespace history
