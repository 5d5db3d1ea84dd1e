// The live view's pieces without a network: addresses, parameters, the
// token, the rate limit, the state read from rows, and the envelopes
// against brute force.
#include "history/ChannelValue.h"
#include "serve/AccessToken.h"
#include "serve/ListenAddress.h"
#include "serve/LiveJson.h"
#include "serve/QueryParameters.h"
#include "serve/RateLimiter.h"
#include "serve/ServeOptions.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <stdexcept>

namespace {

using namespace std::chrono_literals;

struct AddressCase {
    const char* name;
    const char* text;
    const char* host; // nullptr: refused
    int port;
    bool loopback;
};

TEST(ListenAddressTest, ParsesAddressAndPortAndKnowsLoopback)
{
    const AddressCase cases[] = {
        {"port_alone_is_loopback_only", "8080", "127.0.0.1", 8080, true},
        {"port_zero_picks_one", "0", "127.0.0.1", 0, true},
        {"all_addresses", "0.0.0.0:8080", "0.0.0.0", 8080, false},
        {"lan_address", "192.168.1.20:80", "192.168.1.20", 80, false},
        {"other_loopback", "127.0.0.2:9000", "127.0.0.2", 9000, true},
        {"ipv6_loopback", "[::1]:8080", "::1", 8080, true},
        {"ipv6_any", "[::]:8080", "::", 8080, false},
        {"ipv6_without_brackets", "::1:8080", nullptr, 0, false},
        {"host_name_not_looked_up", "localhost:8080", nullptr, 0, false},
        {"port_too_large", "65536", nullptr, 0, false},
        {"port_negative", "-1", nullptr, 0, false},
        {"port_missing", "127.0.0.1:", nullptr, 0, false},
        {"port_with_sign", "+80", nullptr, 0, false},
        {"empty", "", nullptr, 0, false},
    };
    for (const AddressCase& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.host) {
            EXPECT_THROW(serve::parseListenAddress(c.text), std::invalid_argument);
            continue;
        }
        const serve::ListenAddress address = serve::parseListenAddress(c.text);
        EXPECT_EQ(address.host, c.host);
        EXPECT_EQ(address.port, c.port);
        EXPECT_EQ(address.isLoopback(), c.loopback);
    }
}

TEST(ListenAddressTest, UrlPutsIpv6InBrackets)
{
    EXPECT_EQ(serve::parseListenAddress("[::1]:1").url(false, 8080), "http://[::1]:8080/");
    EXPECT_EQ(serve::parseListenAddress("0.0.0.0:1").url(true, 443), "https://0.0.0.0:443/");
}

TEST(ServeOptionsTest, OtherOptionsNeedServeAndCertificateComesWithKey)
{
    serve::ServeOptions options;
    const cli::CommandLine line("vantrel", serve::serveOptions(options));
    line.parse({"--metrics-open"});
    EXPECT_THROW(serve::checkServeOptions(options), cli::UsageError);
    line.parse({"--serve", "8080"});
    EXPECT_NO_THROW(serve::checkServeOptions(options));
    line.parse({"--tls-cert", "cert.pem"});
    EXPECT_THROW(serve::checkServeOptions(options), cli::UsageError);
    line.parse({"--tls-key=key.pem"});
    EXPECT_NO_THROW(serve::checkServeOptions(options));
    EXPECT_THROW(line.parse({"--token-file="}), cli::UsageError);
    EXPECT_THROW(line.parse({"--serve", "localhost:80"}), cli::UsageError);
}

struct IntegerCase {
    const char* name;
    const char* text;
    std::optional<std::int64_t> value;
};

TEST(QueryParametersTest, IntegersAreStrictAndBounded)
{
    const IntegerCase cases[] = {
        {"zero", "0", 0},
        {"upper_bound", "1000", 1000},
        {"above_bound", "1001", std::nullopt},
        {"lower_bound", "-5", -5},
        {"below_bound", "-6", std::nullopt},
        {"leading_zeros", "0007", 7},
        {"empty", "", std::nullopt},
        {"minus_alone", "-", std::nullopt},
        {"plus_sign", "+5", std::nullopt},
        {"space", " 5", std::nullopt},
        {"trailing_text", "5x", std::nullopt},
        {"exponent", "1e3", std::nullopt},
        {"hexadecimal", "0x10", std::nullopt},
        {"decimal_point", "5.0", std::nullopt},
        {"eighteen_digits_out_of_bounds", "999999999999999999", std::nullopt},
        {"nineteen_digits", "0000000000000000001", std::nullopt},
        {"overflowing", "99999999999999999999999", std::nullopt},
    };
    for (const IntegerCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(serve::parseInteger(c.text, -5, 1000), c.value);
    }
    EXPECT_EQ(serve::parseInteger(std::string_view("5\0", 2), 0, 9), std::nullopt);
}

TEST(QueryParametersTest, OnlyNamedParametersOnceEach)
{
    const std::array<serve::IntegerParameter, 2> parameters{serve::IntegerParameter{"from", 0, 100},
                                                           serve::IntegerParameter{"width", 1, 4000}};
    const auto values = serve::parseQuery({{"width", "10"}}, parameters);
    ASSERT_TRUE(std::holds_alternative<serve::IntegerValues>(values));
    EXPECT_EQ(std::get<serve::IntegerValues>(values), (serve::IntegerValues{std::nullopt, 10}));
    const serve::QueryArguments refused[] = {
        {{"width", "10"}, {"width", "10"}}, {{"height", "10"}}, {{"width", "4001"}}, {{"width", "0"}},
        {{"from", ""}},                     {{"", "5"}},
    };
    for (const serve::QueryArguments& query : refused)
        EXPECT_TRUE(std::holds_alternative<std::string>(serve::parseQuery(query, parameters))) << query[0].first;
}

TEST(AccessTokenTest, RandomTokenIs128BitsInHexAndComparedWhole)
{
    const serve::AccessToken a = serve::AccessToken::generate();
    const serve::AccessToken b = serve::AccessToken::generate();
    EXPECT_EQ(a.text().size(), 32u);
    EXPECT_EQ(a.text().find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_NE(a.text(), b.text());
    EXPECT_TRUE(a.matches(a.text()));
    const std::string t = a.text();
    const std::string refused[] = {"",
                                   t.substr(0, 31),
                                   t + "0",
                                   std::string(1, t[0] == 'a' ? 'b' : 'a') + t.substr(1),
                                   t.substr(0, 31) + (t[31] == 'a' ? "b" : "a"),
                                   b.text()};
    for (const std::string& candidate : refused)
        EXPECT_FALSE(a.matches(candidate)) << candidate;
}

TEST(AccessTokenTest, TokenFileHoldsOneSafeLine)
{
    const std::string path = testing::TempDir() + "/vantrel-token";
    const auto tokenOf = [&](const std::string& content) {
        std::ofstream(path) << content;
        return serve::AccessToken::fromFile(path).text();
    };
    EXPECT_EQ(tokenOf(std::string(32, 'a') + "\n"), std::string(32, 'a'));
    EXPECT_EQ(tokenOf("abcdefghijklmnopqrstuvwxyz-_0123456789\r\nsecond line"),
              "abcdefghijklmnopqrstuvwxyz-_0123456789");
    EXPECT_THROW(tokenOf(std::string(31, 'a')), std::runtime_error);
    EXPECT_THROW(tokenOf(std::string(129, 'a')), std::runtime_error);
    EXPECT_THROW(tokenOf(std::string(32, 'a') + ";"), std::runtime_error);
    EXPECT_THROW(serve::AccessToken::fromFile(path + "-missing"), std::runtime_error);
}

TEST(RateLimiterTest, BurstThenRefillPerClient)
{
    serve::RateLimiter limiter(10, 3, 2);
    const auto t0 = serve::RateLimiter::Clock::time_point{} + 1h;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(limiter.allow("a", t0));
    EXPECT_FALSE(limiter.allow("a", t0));
    EXPECT_TRUE(limiter.allow("b", t0)); // a bucket of its own
    EXPECT_FALSE(limiter.allow("a", t0 + 50ms));
    EXPECT_TRUE(limiter.allow("a", t0 + 100ms)); // one token every 100 ms
    EXPECT_FALSE(limiter.allow("a", t0 + 100ms));
    EXPECT_TRUE(limiter.allow("c", t0 + 100ms)); // table full: the longest idle client is forgotten
}

// Rows as the recorder hands them to its live sink.
struct Feeder {
    history::LiveHistory history{[](std::size_t) { return true; }};
    serve::LiveFeed feed{history};
    std::int64_t ms = 0;

    void reading(const char* ch1, const char* ch2 = "1.0", const char* ch3 = "2.0")
    {
        feed.row({std::chrono::milliseconds(ms), record::WallClock(std::chrono::milliseconds(1'000'000 + ms)),
                  {ch1, ch2, ch3}, {}});
        ms += 10;
    }
    void event(const std::string& text)
    {
        feed.row({std::chrono::milliseconds(ms), record::WallClock(std::chrono::milliseconds(1'000'000 + ms)), {},
                  text});
    }
};

TEST(LiveFeedTest, StateFollowsTheRunsRows)
{
    using Session = serve::LiveState::Session;
    Feeder f;
    EXPECT_EQ(f.feed.state().session, Session::None);
    f.feed.recordingTo("run.csv");
    f.event("session opened");
    f.reading("125.000");
    EXPECT_EQ(f.feed.state().session, Session::Open);
    EXPECT_TRUE(f.feed.state().measuring);
    f.event("over-current alarm raised: CH2");
    EXPECT_EQ(f.feed.state().alarm, "CH2");
    f.event("over-current alarm released");
    EXPECT_EQ(f.feed.state().alarm, "");
    f.event("session lost: the line hung up");
    serve::LiveState lost = f.feed.state();
    EXPECT_EQ(lost.session, Session::Lost);
    EXPECT_FALSE(lost.measuring);
    EXPECT_EQ(lost.lostSinceWallMs, 1'000'010);
    EXPECT_EQ(lost.lossReason, "the line hung up");
    f.event("session reopened");
    f.reading("OVER", "CH2 OCP");
    f.event("recording stopped");
    f.reading("1.0");
    const serve::LiveState s = f.feed.state();
    EXPECT_EQ(s.session, Session::Open);
    EXPECT_EQ(s.reconnects, 1u);
    EXPECT_EQ(s.alarms, 1u);
    EXPECT_EQ(s.readings, 3u);
    EXPECT_EQ(s.rowsRecorded, 8u); // "recording stopped" is the file's last row
    EXPECT_FALSE(s.recording);
    EXPECT_EQ(s.recordingFile, "run.csv");
    EXPECT_EQ(s.newest, (std::array<std::string, 3>{"1.0", "1.0", "2.0"}));
    EXPECT_EQ(f.history.history().readings().size(), 3u); // the history model is fed through
}

QJsonObject parsed(const QByteArray& json)
{
    return QJsonDocument::fromJson(json).object();
}

TEST(LiveJsonTest, EnvelopeColumnsHoldEachColumnsLeastAndGreatestReading)
{
    Feeder f;
    f.event("session opened");
    // The span's very last reading is its greatest: it must be in the last column.
    const auto valueOf = [](int i) { return i == 999 ? 1000 : (i * 37) % 101; };
    for (int i = 0; i < 1000; ++i) {
        if (i == 143) { // just before column 1's first reading
            f.event("session lost: gone");
            f.event("session reopened");
        }
        f.reading(i == 500 ? "OVER" : std::to_string(valueOf(i)).c_str(), "1.0", i == 700 ? "CH3 OCP" : "2.0");
    }
    const int width = 7;
    const serve::Span span{0, 9990};
    const QJsonObject answer = parsed(serve::envelopesJson(f.feed, span, width));
    ASSERT_EQ(answer["kind"].toString(), "columns");
    EXPECT_EQ(answer["breaks"].toArray(), QJsonArray{1});
    const QJsonArray min = answer["min"].toArray()[0].toArray();
    const QJsonArray max = answer["max"].toArray()[0].toArray();
    ASSERT_EQ(min.size(), width);
    // Brute force: every reading falls in exactly one column.
    std::vector<double> lo(width, 1e9), hi(width, -1e9);
    std::vector<bool> over(width, false), ocp(width, false);
    for (int i = 0; i < 1000; ++i) {
        const std::int64_t t = i * 10;
        const int c = static_cast<int>((t - span.from) * width / (span.to - span.from + 1));
        over[c] = over[c] || i == 500;
        ocp[c] = ocp[c] || i == 700;
        if (i == 500)
            continue;
        lo[c] = std::min(lo[c], double(valueOf(i)));
        hi[c] = std::max(hi[c], double(valueOf(i)));
    }
    for (int c = 0; c < width; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(min[c].toDouble(), lo[c]);
        EXPECT_EQ(max[c].toDouble(), hi[c]);
        EXPECT_EQ(answer["over"].toArray()[0].toArray()[c].toInt() == 1, over[c]);
        EXPECT_EQ(answer["ocp"].toArray()[2].toArray()[c].toInt() == 1, ocp[c]);
    }
}

TEST(LiveJsonTest, FewReadingsComeThemselvesWithReportsAndSessionBreaks)
{
    Feeder f;
    f.event("session opened");
    f.reading("5.5");
    f.reading("OVER");
    f.event("session lost: gone");
    f.event("session reopened");
    f.reading("CH1 OCP");
    const QJsonObject answer = parsed(serve::envelopesJson(f.feed, {0, 1000}, 3));
    ASSERT_EQ(answer["kind"].toString(), "readings");
    EXPECT_EQ(answer["t"].toArray(), (QJsonArray{0, 10, 20}));
    EXPECT_EQ(answer["values"].toArray()[0].toArray(), (QJsonArray{5.5, "OVER", "OCP"}));
    EXPECT_EQ(answer["breaks"].toArray(), QJsonArray{2});
}

TEST(LiveJsonTest, FiguresAndEventsOfTheSpan)
{
    Feeder f;
    f.event("session opened");
    for (int i = 0; i < 10; ++i)
        f.reading(std::to_string(i).c_str());
    f.event("session closed");
    const QJsonObject figures = parsed(serve::figuresJson(f.feed, {0, 45}));
    EXPECT_EQ(figures["readings"].toInt(), 5);
    const QJsonObject ch1 = figures["channels"].toArray()[0].toObject();
    EXPECT_EQ(ch1["min"].toDouble(), 0);
    EXPECT_EQ(ch1["max"].toDouble(), 4);
    EXPECT_EQ(ch1["mean"].toDouble(), 2);
    EXPECT_NEAR(ch1["chargeMah"].toDouble(), 80.0 / 3'600'000, 1e-6); // 40 ms of 2 mA on average
    const QJsonObject events = parsed(serve::eventsJson(f.feed, {0, 1000}, 1));
    EXPECT_EQ(events["omitted"].toInt(), 1);
    EXPECT_EQ(events["events"].toArray()[0].toObject()["text"].toString(), "session closed");
}

TEST(LiveJsonTest, MetricsInPrometheusTextFormat)
{
    Feeder f;
    f.feed.recordingTo("run.csv");
    f.event("session opened");
    f.reading("12.5", "OVER", "CH3 OCP");
    const std::string text = serve::metricsText(f.feed.state()).toStdString();
    for (const char* line : {"vantrel_current_milliamperes{channel=\"CH1\"} 12.5\n",
                             "vantrel_current_milliamperes{channel=\"CH2\"} +Inf\n",
                             "vantrel_current_milliamperes{channel=\"CH3\"} NaN\n", "vantrel_readings_total 1\n",
                             "vantrel_session_state{state=\"open\"} 1\n", "vantrel_session_state{state=\"lost\"} 0\n",
                             "vantrel_reconnects_total 0\n", "vantrel_recording_rows_total 2\n",
                             "# TYPE vantrel_readings_total counter\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
}

} // namespace
