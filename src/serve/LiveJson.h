#pragma once

#include "serve/LiveFeed.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace serve {

// A span of the run in elapsed milliseconds, both ends included.
struct Span {
    std::int64_t from = 0;
    std::int64_t to = 0;
};

// The answers of the live view's API, built from the feed. Each reads the
// history under the feed's lock in short pieces and builds its text outside it.

// The run's state: session, measuring, newest reading, recording, counts.
QByteArray stateJson(const LiveState& state, std::int64_t nowWallMs);
// The span drawn `width` pixel columns wide: per channel and column the
// least and greatest reading and whether OVER or OCP occurred, from the
// history's envelopes; or, when the span holds no more readings than
// columns, the readings themselves.
QByteArray envelopesJson(const LiveFeed& feed, Span span, int width);
// The span's figures as the history window computes them: min, max, mean,
// charge, readings, OVER and OCP counts per channel.
QByteArray figuresJson(const LiveFeed& feed, Span span);
// The span's events with their times, at most the last `limit`.
QByteArray eventsJson(const LiveFeed& feed, Span span, std::size_t limit);
// The Prometheus text exposition of the state.
QByteArray metricsText(const LiveState& state);

} // namespace serve
