// The history's envelopes, span figures and gaps against brute force: random
// runs with OVER and OCP reports, repeated times and gaps (sessions, pauses,
// failed readings), built at
// once (a file) and reading by reading (the live session); a trace drawn by
// pixel columns, lanes hidden or held; the reading nearest a moment; the
// ways about a run (events by kind, spans visited, typed times, time labels
// that fit); fields as the instrument sends them.
#include "history/ChannelValue.h"
#include "history/EventKinds.h"
#include "history/History.h"
#include "history/LabelLayout.h"
#include "history/PlotGeometry.h"
#include "history/SpanTrail.h"
#include "history/TypedMoment.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace {

using namespace history;

// A run kept twice: in a History, and plainly for the brute force.
struct KeptRun {
    History history;
    std::vector<std::int64_t> times;
    std::vector<Values> values;
    std::vector<bool> gapBefore; // a gap event came just before this reading

    void reading(std::int64_t t, const Values& v, bool liveCatchUp)
    {
        ASSERT_TRUE(history.appendReading(t, v));
        times.push_back(t);
        values.push_back(v);
        gapBefore.push_back(pendingBoundary);
        pendingBoundary = false;
        if (liveCatchUp)
            history.catchUp();
    }
    void event(std::int64_t t, const std::string& text)
    {
        history.appendEvent(t, 0, text);
        pendingBoundary = pendingBoundary || isGapEvent(text);
    }
    bool pendingBoundary = false;
};

KeptRun randomRun(std::size_t n, unsigned seed, bool live)
{
    KeptRun run;
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> step(0, 12), percent(0, 99);
    std::uniform_real_distribution<float> current(-5, 200);
    std::int64_t t = 0;
    for (std::size_t i = 0; i < n; ++i) {
        t += step(random); // 0 now and then: readings that share a millisecond
        static const char* const kEvents[] = {"session closed",    "VSET1 2",        "measuring stopped",
                                              "measuring started", "read failed: x", "OUTPut 1"};
        if (percent(random) == 0)
            run.event(t, kEvents[percent(random) % std::size(kEvents)]);
        Values v{};
        for (float& value : v) {
            const int kind = percent(random);
            value = kind < 2 ? kOver : kind < 4 ? kOcp : current(random);
        }
        run.reading(t, v, live);
    }
    run.history.catchUp();
    return run;
}

ChannelRange bruteRange(const KeptRun& run, int channel, std::size_t first, std::size_t last)
{
    ChannelRange range;
    for (std::size_t i = first; i < last; ++i)
        range.take(run.values[i][channel]);
    return range;
}

std::string buildName(const ::testing::TestParamInfo<bool>& info)
{
    return info.param ? "ReadingByReading" : "AllAtOnce";
}

class BruteForce : public ::testing::TestWithParam<bool> {};

TEST_P(BruteForce, TheRangeOfEverySpanAtEveryLevelMatchesBruteForce)
{
    // Past 16^4 readings, so four levels of envelopes are read.
    const KeptRun run = randomRun(70000, 1, GetParam());
    std::mt19937 random(2);
    const auto n = static_cast<std::int64_t>(run.times.size());
    const auto within = [n](std::int64_t i) { return static_cast<std::size_t>(std::clamp<std::int64_t>(i, 0, n)); };
    for (std::int64_t size = 1; size <= 65536; size *= 16) {
        std::uniform_int_distribution<std::int64_t> multiple(0, n / size), edge(-1, 1), blocks(1, 3);
        for (int k = 0; k < 30; ++k) {
            // Ends on, just before and just after the block bounds of this level.
            const std::size_t first = within(multiple(random) * size + edge(random));
            const std::size_t last = within(static_cast<std::int64_t>(first) + blocks(random) * size + edge(random));
            const SpanRange ranges = run.history.range(first, last);
            for (int c = 0; c < kChannels; ++c)
                EXPECT_EQ(ranges[c], bruteRange(run, c, first, last))
                    << "channel " << c << ", readings " << first << " to " << last;
        }
    }
    EXPECT_EQ(run.history.range(0, run.times.size())[0], bruteRange(run, 0, 0, run.times.size()));
}

INSTANTIATE_TEST_SUITE_P(Built, BruteForce, ::testing::Bool(), buildName);

// The figures of readings from <= t <= to, straight from the definition.
SpanStatistics bruteStatistics(const KeptRun& run, std::int64_t from, std::int64_t to)
{
    SpanStatistics s;
    std::array<double, kChannels> sums{};
    std::optional<std::size_t> previous;
    for (std::size_t i = 0; i < run.times.size(); ++i) {
        if (run.times[i] < from || run.times[i] > to)
            continue;
        ++s.readings;
        for (int c = 0; c < kChannels; ++c) {
            const float v = run.values[i][c];
            ChannelStatistics& channel = s.channels[c];
            channel.range.take(v);
            channel.over += isOver(v);
            channel.ocp += isOcp(v);
            if (!isNumber(v))
                continue;
            ++channel.numbers;
            sums[c] += v;
            const float before = previous ? run.values[*previous][c] : kOcp;
            if (previous && !run.gapBefore[i] && isNumber(before))
                channel.chargeMah += (before + double(v)) / 2 * double(run.times[i] - run.times[*previous]) / 3.6e6;
        }
        if (previous && !run.gapBefore[i])
            s.coveredMs += run.times[i] - run.times[*previous];
        previous = i;
    }
    for (int c = 0; c < kChannels; ++c)
        s.channels[c].mean = s.channels[c].numbers ? sums[c] / double(s.channels[c].numbers) : 0;
    return s;
}

void expectSameFigures(const SpanStatistics& found, const SpanStatistics& expected, const std::string& where)
{
    EXPECT_EQ(found.readings, expected.readings) << where;
    EXPECT_EQ(found.coveredMs, expected.coveredMs) << where;
    for (int c = 0; c < kChannels; ++c) {
        const ChannelStatistics &f = found.channels[c], &e = expected.channels[c];
        EXPECT_EQ(f.range, e.range) << where << " channel " << c;
        EXPECT_EQ(std::tie(f.numbers, f.over, f.ocp), std::tie(e.numbers, e.over, e.ocp)) << where << " channel " << c;
        EXPECT_NEAR(f.mean, e.mean, 1e-6) << where << " channel " << c;
        EXPECT_NEAR(f.chargeMah, e.chargeMah, 1e-6 + std::abs(e.chargeMah) * 1e-9) << where << " channel " << c;
    }
}

TEST_P(BruteForce, SpanFiguresMatchBruteForce)
{
    const KeptRun run = randomRun(20000, 3, GetParam());
    std::mt19937 random(4);
    std::uniform_int_distribution<std::int64_t> moment(-10, run.times.back() + 10);
    for (int k = 0; k < 200; ++k) {
        std::int64_t from = moment(random), to = moment(random);
        if (from > to)
            std::swap(from, to);
        if (k % 4 == 0)
            to = from + k % 40; // short spans: a few readings, or none
        expectSameFigures(run.history.statistics(from, to), bruteStatistics(run, from, to),
                          "span " + std::to_string(from) + " to " + std::to_string(to));
        // The gaps: from the reading before each gap event to the one after.
        std::vector<Gap> gaps;
        for (std::size_t i = 1; i < run.times.size(); ++i)
            if (run.gapBefore[i] && run.times[i] >= from && run.times[i - 1] <= to && run.times[i] > run.times[i - 1])
                gaps.push_back({run.times[i - 1], run.times[i]});
        EXPECT_EQ(run.history.gaps(from, to), gaps) << "span " << from << " to " << to;
    }
}

TEST(SpanStatistics, ChargeWithAPauseIsTheSumOverTheMeasuredParts)
{
    // 100 mA for an hour, an hour paused (or the session closed, or readings
    // failing) with 100 mA before and after, and another hour: 200 mA·h,
    // not 300, and readings cover two hours of three.
    constexpr std::int64_t kHour = 3600000, kStep = 100;
    for (const auto& [stopped, started] : std::vector<std::pair<std::string, std::string>>{
             {"measuring stopped", "measuring started"},
             {"session closed", "session opened"},
             {"read failed: No reply from ASRL1::INSTR within 2000 ms.", "read failed: again"}}) {
        KeptRun run;
        for (std::int64_t t = 0; t < kHour; t += kStep)
            run.reading(t, {100.0f, 0, 0}, true);
        run.event(kHour, stopped);
        run.event(2 * kHour, started);
        for (std::int64_t t = 2 * kHour; t < 3 * kHour; t += kStep)
            run.reading(t, {100.0f, 0, 0}, true);
        const SpanStatistics whole = run.history.statistics(0, 3 * kHour);
        const double part = run.history.statistics(0, kHour).channels[0].chargeMah;
        EXPECT_NEAR(whole.channels[0].chargeMah,
                    part + run.history.statistics(2 * kHour, 3 * kHour).channels[0].chargeMah, 1e-9)
            << stopped;
        EXPECT_NEAR(whole.channels[0].chargeMah, 200.0 * double(kHour - kStep) / kHour, 1e-9) << stopped;
        EXPECT_EQ(whole.coveredMs, 2 * (kHour - kStep)) << stopped;
        EXPECT_EQ(run.history.gaps(0, 3 * kHour), (std::vector<Gap>{{kHour - kStep, 2 * kHour}})) << stopped;
        expectSameFigures(whole, bruteStatistics(run, 0, 3 * kHour), stopped);
    }
}

TEST(SpanStatistics, ChargeOfASquareWaveAndNoneAcrossAClosedSession)
{
    // 10 mA for half an hour, 0 for half an hour, four times, a reading every
    // 10 ms: 1.44 million readings, caught up at once on two threads.
    constexpr std::int64_t kHalfHour = 1800000, kStep = 10;
    KeptRun run;
    for (std::int64_t t = 0; t < 8 * kHalfHour; t += kStep)
        run.reading(t, {(t / kHalfHour) % 2 ? 0.0f : 10.0f, 2.5f, kOver}, false);
    run.history.catchUp();
    // Each of the 7 edges is one trapezoid, off by at most 10 mA over half of it.
    const double edgeError = 7 * 10.0 * kStep / 2 / 3.6e6;
    SpanStatistics whole = run.history.statistics(0, 8 * kHalfHour);
    EXPECT_NEAR(whole.channels[0].chargeMah, 20.0, edgeError);
    EXPECT_NEAR(whole.channels[1].chargeMah, 2.5 * double(8 * kHalfHour - kStep) / 3.6e6, 1e-9);
    EXPECT_EQ(whole.channels[2].chargeMah, 0); // OVER has no number to integrate
    EXPECT_EQ(whole.channels[2].over, whole.readings);
    EXPECT_NEAR(whole.channels[0].mean, 5.0, 0.01);
    EXPECT_NEAR(run.history.statistics(0, kHalfHour - kStep).channels[0].chargeMah, 5.0 - 10.0 * kStep / 3.6e6, 1e-9);

    // The session closes for an hour with 10 mA flowing: that hour counts nothing.
    run.event(8 * kHalfHour, "session closed");
    run.event(10 * kHalfHour, "session opened");
    for (std::int64_t t = 10 * kHalfHour; t < 12 * kHalfHour; t += kStep)
        run.reading(t, {10.0f, 0, 0}, true);
    const double lastHour = 10.0 * double(2 * kHalfHour - kStep) / 3.6e6;
    EXPECT_NEAR(run.history.statistics(10 * kHalfHour - 1, 12 * kHalfHour).channels[0].chargeMah, lastHour, 1e-9);
    EXPECT_NEAR(run.history.statistics(0, 12 * kHalfHour).channels[0].chargeMah, 20.0 + lastHour, edgeError);
}

TEST(PlotGeometryTest, ATraceJoinsReadingsFurtherApartThanAColumnButNotAcrossAGap)
{
    for (const auto& [before, after] :
         std::vector<std::pair<std::string, std::string>>{{"session closed", "session opened"},
                                                          {"measuring stopped", "measuring started"},
                                                          {"read failed: No reply", "VSET1 2"}}) {
        SCOPED_TRACE(before);
        // 600 readings 16 ms apart on about 900 columns of 10.6 ms: drawn by
        // columns, with empty columns between; no readings for 320 ms.
        History history;
        std::int64_t t = 0;
        for (int i = 0; i < 600; ++i, t += 16) {
            if (i == 300) {
                history.appendEvent(t, 0, before);
                t += 320;
                history.appendEvent(t, 0, after);
            }
            ASSERT_TRUE(history.appendReading(t, {float(i % 2), 0, 0}));
        }
        history.catchUp();
        const PlotGeometry geometry(1000, 600, {0, double(t)});
        const Picture picture = geometry.draw(history);
        ASSERT_FALSE(picture.readingsOneByOne);
        const std::vector<float>& lines = picture.lanes[0].lines;
        const auto covered = [&](double x) {
            for (std::size_t i = 0; i + 3 < lines.size(); i += 4)
                if (std::min(lines[i], lines[i + 2]) <= x && x <= std::max(lines[i], lines[i + 2]))
                    return true;
            return false;
        };
        const double closedFrom = geometry.xOf(300 * 16), closedTo = geometry.xOf(300 * 16 + 320);
        for (double x = std::ceil(geometry.xOf(0)) + 0.5; x < geometry.xOf(double(t - 16)); ++x) {
            if (std::abs(x - closedFrom) <= 1 || std::abs(x - closedTo) <= 1)
                continue; // the column of an edge may go either way
            EXPECT_EQ(covered(x), x < closedFrom || x > closedTo) << "column at x " << x;
        }
        // Shaded from the last reading before to the first after.
        EXPECT_EQ(picture.gaps, (std::vector<std::pair<double, double>>{{geometry.xOf(299 * 16), closedTo}}));
    }
}

TEST_P(BruteForce, TheReadingNearestAMomentMatchesBruteForce)
{
    const KeptRun run = randomRun(3000, 5, GetParam());
    std::mt19937 random(6);
    std::uniform_real_distribution<double> moment(-20, double(run.times.back()) + 20);
    for (int k = 0; k < 2000; ++k) {
        const double t = k % 5 == 0 ? double(run.times[std::size_t(k) % run.times.size()]) : moment(random);
        const std::optional<std::size_t> found = nearestReading(run.history.readings(), t);
        ASSERT_TRUE(found);
        double best = INFINITY;
        for (const std::int64_t time : run.times)
            best = std::min(best, std::abs(double(time) - t));
        EXPECT_EQ(std::abs(double(run.times[*found]) - t), best) << "at " << t;
    }
    EXPECT_FALSE(nearestReading(History().readings(), 5));
}

TEST(PlotGeometryTest, AHiddenLaneGivesItsRoomToTheOthersAndAHeldRangeIsDrawnAsHeld)
{
    History history;
    for (std::int64_t t = 0; t < 1000; t += 10)
        ASSERT_TRUE(history.appendReading(t, {float(t % 7), 20 + float(t % 3), 5}));
    history.catchUp();
    const Picture all = PlotGeometry(1000, 600, {0, 1000}).draw(history);
    LaneSettings lanes;
    lanes[1].shown = false;
    lanes[2].held = std::pair{-10.0, 30.0};
    const Picture arranged = PlotGeometry(1000, 600, {0, 1000}, lanes).draw(history);
    const LanePicture &ch1 = arranged.lanes[0], &ch2 = arranged.lanes[1], &ch3 = arranged.lanes[2];
    EXPECT_TRUE(ch2.lines.empty() && ch2.points.empty() && ch2.ticks.empty());
    EXPECT_GT(ch1.bottom - ch1.top, (all.lanes[0].bottom - all.lanes[0].top) * 1.4);
    EXPECT_GT(ch3.top, ch1.bottom);
    EXPECT_LT(ch3.bottom, arranged.eventsTop);
    EXPECT_EQ(std::pair(ch1.low, ch1.high), std::pair(all.lanes[0].low, all.lanes[0].high)); // still fitted
    EXPECT_EQ(std::pair(ch3.low, ch3.high), std::pair(-10.0, 30.0));
    ASSERT_FALSE(ch3.ticks.empty());
    EXPECT_EQ(ch3.ticks.back().label, "30");
    // CH3 reads 5 mA throughout: 5 of 40 mA up from the bottom.
    EXPECT_NEAR(ch3.lines[1], ch3.bottom - 15.0 / 40 * (ch3.bottom - ch3.traceTop), 0.5);
}

History eventsRun(const std::vector<std::pair<std::int64_t, std::string>>& events)
{
    History history;
    for (const auto& [at, text] : events)
        history.appendEvent(at, 1'796'000'000'000 + at, text);
    return history;
}

TEST(EventKindsTest, NextAndPreviousEventOfTheKindsWanted)
{
    const History history = eventsRun({{0, "session opened"},
                                       {100, "VSET1 2.5"},
                                       {200, "over-current alarm raised: CH2"},
                                       {200, "read failed: Timeout"},
                                       {300, "session lost: the line is gone"},
                                       {400, "output found off after reopen"},
                                       {500, "OUTPut 1"}});
    constexpr EventFilter alarms{true, false, false, false}, failures{false, true, false, false},
        sessions{false, false, true, false}, commands{false, false, false, true};
    struct Case {
        const char* name;
        std::optional<std::size_t> current;
        double at;
        int direction;
        EventFilter filter;
        std::optional<std::size_t> expected;
    };
    const std::vector<Case> cases{
        {"NextFromAMomentBetween", {}, 150, 1, kEveryEvent, 2},
        {"NextFromAMomentOnAnEventPassesIt", {}, 100, 1, kEveryEvent, 2},
        {"PreviousFromAMomentOnAnEventPassesIt", {}, 200, -1, kEveryEvent, 1},
        {"NextFromAnEventTakesTheOneSharingItsTime", 2, 200, 1, kEveryEvent, 3},
        {"PreviousFromAnEventTakesTheOneSharingItsTime", 3, 200, -1, kEveryEvent, 2},
        {"OnlyAlarms", {}, 0, 1, alarms, 2},
        {"FailuresSkipCommandsAndSessions", 3, 200, 1, failures, 4},
        {"SessionsTakeTheReopenState", {}, 350, 1, sessions, 5},
        {"CommandsBackwards", {}, 450, -1, commands, 1},
        {"NoneAfterTheLast", 6, 500, 1, kEveryEvent, std::nullopt},
        {"NoneBeforeTheFirst", {}, 0, -1, kEveryEvent, std::nullopt},
        {"NoAlarmLater", {}, 250, 1, alarms, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(neighbourEvent(history, c.current, c.at, c.direction, c.filter), c.expected) << c.name;
    EXPECT_TRUE(isTrouble("read failed: Timeout") && isTrouble("over-current alarm raised: CH1"));
    EXPECT_FALSE(isTrouble("over-current alarm released") || isTrouble("session opened") || isTrouble("VSET1 2"));
    EXPECT_EQ(spanAround(5000, {0, 60000}).length(), kMomentSpanMs);
    EXPECT_EQ(spanAround(5000, {4000, 6000}).begin, 4000); // zoomed in further: kept
}

TEST(SpanTrailTest, BackAndForwardThroughTheSpansVisited)
{
    using Move = SpanTrail::Move;
    const auto at = [](double begin) { return VisitedSpan{{begin, begin + 10}, false}; };
    SpanTrail trail;
    EXPECT_FALSE(trail.back(at(0)));
    trail.leaving({{0, 100}, true}, Move::Jump); // from the whole run
    trail.leaving(at(1), Move::Wheel);           // three notches: one step
    trail.leaving(at(2), Move::Wheel);
    trail.leaving(at(3), Move::Wheel);
    trail.leaving(at(4), Move::PanKeys); // another kind of move: a step of its own
    trail.leaving(at(5), Move::PanKeys);
    trail.settled();
    trail.leaving(at(6), Move::PanKeys); // a new run of pans
    const auto begin = [](const std::optional<VisitedSpan>& v) { return v ? v->span.begin : -1.0; };
    EXPECT_EQ(begin(trail.back(at(7))), 6);
    EXPECT_EQ(begin(trail.back(at(6))), 4);
    EXPECT_EQ(begin(trail.back(at(4))), 1);
    const std::optional<VisitedSpan> whole = trail.back(at(1));
    ASSERT_TRUE(whole);
    EXPECT_TRUE(whole->wholeRun);
    EXPECT_FALSE(trail.back(whole.value()));
    EXPECT_EQ(begin(trail.forward(*whole)), 1);
    EXPECT_EQ(begin(trail.forward(at(1))), 4);
    trail.leaving(at(4), Move::Jump); // a new move forgets the way forward
    EXPECT_FALSE(trail.forward(at(9)));
    EXPECT_EQ(begin(trail.back(at(9))), 4);
}

TEST(TypedMomentTest, LocalAndElapsedTimesOfARunAcrossMidnight)
{
    // In Berlin: 2026-12-07 22:00 (21:00 UTC) to 2026-12-08 02:00.
    const char* zone = std::getenv("TZ");
    const std::string before = zone ? zone : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    History history;
    const std::int64_t start = 1796677200000; // 2026-12-07T21:00:00Z
    history.appendEvent(0, start, "session opened");
    ASSERT_TRUE(history.appendReading(4 * 3600000, {1, 2, 3}));
    const std::vector<std::pair<std::string, std::optional<double>>> cases{
        {"+1:02:03.5", 3723500},
        {" +45:00 ", 2700000},
        {"+90", 90000},
        {"2026-12-07 23:30", 5400000},
        {"2026-12-08 01:15:30.25", 11730250},
        {"2026-12-08 01:15:30.250 (+3:15:30.250)", 11730250}, // as the cursor boxes show it
        {"23:00", 3600000},
        {"00:30:00", 9000000},   // the first 00:30 of the run is the next day's
        {"21:59", std::nullopt}, // before the run
        {"2026-12-08 03:00", std::nullopt},
        {"+5:00:00", std::nullopt},
        {"2026-02-30 12:00", std::nullopt},
        {"23:61", std::nullopt},
        {"noon", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const TypedMoment moment = typedMoment(text, history);
        EXPECT_EQ(moment.elapsedMs, expected) << text;
        EXPECT_EQ(moment.problem.empty(), expected.has_value()) << text << ": " << moment.problem;
    }
    EXPECT_EQ(momentText(history, 11730250), "2026-12-08 01:15:30.250 (+3:15:30.250)");
    setenv("TZ", before.c_str(), 1);
    if (!zone)
        unsetenv("TZ");
    tzset();
}

TEST(LabelLayoutTest, LabelsNeverOverlapTheCaptionOrEachOther)
{
    struct Case {
        const char* name;
        std::vector<LabelBox> labels;
        std::vector<std::optional<double>> expected;
    };
    const std::vector<Case> cases{
        {"SpreadOut", {{100, 40}, {200, 40}}, {80, 180}},
        {"OverTheCaptionLeftOut", {{60, 40}, {200, 40}}, {std::nullopt, 180}},
        {"TooCloseToTheOneBefore", {{100, 40}, {140, 40}, {180, 40}}, {80, std::nullopt, 160}},
        {"PushedInAtTheRightEdge", {{100, 40}, {490, 40}}, {80, 460}},
        {"WiderThanTheRoom", {{300, 600}}, {std::nullopt}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(labelLefts(c.labels, 50, 500, 10), c.expected) << c.name;
}

TEST(ChannelValueTest, FieldsAsTheInstrumentSendsThem)
{
    const std::vector<std::pair<std::string, std::optional<float>>> cases{
        {"50.021", 50.021f}, {" -0.004 ", -0.004f}, {"+12", 12.0f}, {"1.5e2", 150.0f}, {"0", 0.0f}};
    for (const auto& [field, expected] : cases)
        EXPECT_EQ(channelValue(field), expected) << field;
    EXPECT_TRUE(isOver(*channelValue("OVER")));
    EXPECT_TRUE(isOcp(*channelValue("CH2 OCP")));
    for (const std::string bad : {"", "12.5mA", "nan", "inf", "1e39", "1.2.3", "-"})
        EXPECT_FALSE(channelValue(bad).has_value()) << bad;
}

} // namespace
