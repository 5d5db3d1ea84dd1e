// vantrel-bench-live-view: the live view serving a history as large as the
// 24-hour reference (13.6 million readings at the serial line's full rate,
// with an OCP report now and then), for bench/live_view_cost.py to time the
// page's first picture in Chromium. Prints the address, serves until its
// standard input closes.
#include "history/LiveHistory.h"
#include "serve/LiveFeed.h"
#include "serve/LiveView.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>

int main()
{
    constexpr long kReadings = 13'600'000;
    constexpr double kMsPerReading = 24.0 * 3600 * 1000 / kReadings;
    history::LiveHistory live([](std::size_t) { return true; });
    serve::LiveFeed feed(live);
    const auto wall = [](long ms) { return record::WallClock(std::chrono::milliseconds(1'800'000'000'000 + ms)); };
    feed.row({std::chrono::milliseconds(0), wall(0), {}, "session opened"});
    char ch1[32], ch2[32];
    for (long i = 0; i < kReadings; ++i) {
        const long ms = std::lround(i * kMsPerReading);
        std::snprintf(ch1, sizeof ch1, "%.3f", 125 + 20 * std::sin(i * 1e-5) + (i % 7) * 0.01);
        std::snprintf(ch2, sizeof ch2, "%.3f", 15 + 5 * std::sin(i * 3e-6));
        feed.row({std::chrono::milliseconds(ms), wall(ms), {ch1, i % 1'000'000 == 500'000 ? "CH2 OCP" : ch2, "10.000"},
                  {}});
    }
    serve::ServeOptions options;
    options.address = serve::ListenAddress{"127.0.0.1", 0};
    serve::LiveView view(feed, options);
    std::cout << "live view at " << view.url() << std::endl;
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}
