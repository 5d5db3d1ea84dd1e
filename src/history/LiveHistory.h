#pragma once

#include "history/HistorySource.h"
#include "record/CsvFormat.h"

#include <memory>
#include <utility>

namespace history {

// The history of the session running now, fed row by row by the recording's
// observer (as a record::RowSink) whether or not a window shows it. A row
// costs a few hundred nanoseconds and nothing is drawn from here: a shown
// window looks at generation() on its own clock.
class LiveHistory : public record::RowSink, public HistorySource {
public:
    explicit LiveHistory(MemoryCheck mayTake);

    void row(const record::Row& row) override;
    void comment(std::string_view text) override;

    const History& history() const override { return *m_history; }
    std::uint64_t generation() const override { return m_generation; }
    std::vector<std::string> notices() const override;
    ExportJob exportJob(std::int64_t from, std::int64_t to) const override;

private:
    // Shared with export threads, which may outlive this object.
    std::shared_ptr<History> m_history;
    // Where the rows come from (resource, identity, range), each with the
    // number of readings heard before it.
    std::vector<std::pair<std::size_t, std::string>> m_comments;
    std::uint64_t m_generation = 0;
    std::uint64_t m_unreadable = 0;
    bool m_full = false;
};

} // namespace history
