#pragma once

#include "history/TimeView.h"

#include <optional>
#include <vector>

namespace history {

// A span the user has looked at, and whether it was "the whole run" (which
// then shows the run as it has grown since).
struct VisitedSpan {
    TimeSpan span;
    bool wholeRun = false;
};

// Zoom back and forward through the spans the user visited, as a browser
// goes back through pages. Each jump (a dragged span, a zoom button, an
// event, a typed time, Whole Run) leaves one step; a run of wheel notches or
// of arrow-key pans leaves one step as a whole, not one per notch.
class SpanTrail {
public:
    enum class Move { Jump, Wheel, PanKeys, Drag };

    // Called before the view leaves `current` by `move`.
    void leaving(const VisitedSpan& current, Move move);
    // A run of wheel notches, pan keys or drag moves has ended (the pointer
    // left, a button or another key was pressed).
    void settled() { m_lastMove.reset(); }
    // The span to show instead of `current`; nothing at either end.
    std::optional<VisitedSpan> back(const VisitedSpan& current);
    std::optional<VisitedSpan> forward(const VisitedSpan& current);

    bool canGoBack() const { return !m_back.empty(); }
    bool canGoForward() const { return !m_forward.empty(); }

private:
    static constexpr std::size_t kKept = 200;

    std::vector<VisitedSpan> m_back, m_forward;
    std::optional<Move> m_lastMove; // a wheel or pan run goes on while the same move repeats
};

} // namespace history
