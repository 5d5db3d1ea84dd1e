#include "history/SpanTrail.h"

namespace history {

void SpanTrail::leaving(const VisitedSpan& current, Move move)
{
    const bool continuing = move != Move::Jump && m_lastMove == move;
    m_lastMove = move;
    if (continuing)
        return;
    m_back.push_back(current);
    if (m_back.size() > kKept)
        m_back.erase(m_back.begin());
    m_forward.clear();
}

std::optional<VisitedSpan> SpanTrail::back(const VisitedSpan& current)
{
    if (m_back.empty())
        return std::nullopt;
    const VisitedSpan earlier = m_back.back();
    m_back.pop_back();
    m_forward.push_back(current);
    m_lastMove.reset();
    return earlier;
}

std::optional<VisitedSpan> SpanTrail::forward(const VisitedSpan& current)
{
    if (m_forward.empty())
        return std::nullopt;
    const VisitedSpan later = m_forward.back();
    m_forward.pop_back();
    m_back.push_back(current);
    m_lastMove.reset();
    return later;
}

} // namespace history
