#pragma once

#include "Results.h"

#include <chrono>
#include <vector>

namespace bench {

// Time of each of `calls` calls, in µs; `prepare` runs before each call,
// outside the timing (a redraw wants a new sample first).
template <class Call, class Prepare>
Spread timeEach(int calls, Call&& call, Prepare&& prepare)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> times;
    times.reserve(static_cast<std::size_t>(calls));
    for (int c = 0; c < calls; ++c) {
        prepare();
        const auto start = Clock::now();
        call();
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    return spreadOf(std::move(times));
}

// Time per call, in µs, for calls too short for the clock: each of `batches`
// batches of `callsPerBatch` calls is timed as a whole.
template <class Call>
Spread timeInBatches(int batches, int callsPerBatch, Call&& call)
{
    using Clock = std::chrono::steady_clock;
    std::vector<double> perCall;
    perCall.reserve(static_cast<std::size_t>(batches));
    for (int b = 0; b < batches; ++b) {
        const auto start = Clock::now();
        for (int c = 0; c < callsPerBatch; ++c)
            call();
        perCall.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count() / callsPerBatch);
    }
    return spreadOf(std::move(perCall));
}

} // namespace bench
