// The live view's server on loopback, fed rows all along as the UI thread
// feeds it: malformed and abusive requests, the limits, the token, the event
// stream. Every request is answered with a 4xx or cut, and the feed never
// waits for the server.
#include "serve/LiveView.h"
#include "support/HttpClient.h"

#include <gtest/gtest.h>


#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using vtest::Client;
using vtest::get;
using vtest::statusOf;

// The program's UI thread: rows go into the feed all along; the longest wait
// between two rows is kept.
class FeedingThread {
public:
    explicit FeedingThread(serve::LiveFeed& feed) : m_feed(feed)
    {
        m_feed.row({0ms, record::WallClock(1'700'000'000'000ms), {}, "session opened"});
        m_thread = std::thread([this] {
            Clock::time_point last = Clock::now();
            for (std::int64_t ms = 1; !m_stop; ++ms) {
                m_feed.row({std::chrono::milliseconds(ms), record::WallClock(std::chrono::milliseconds(1'700'000'000'000 + ms)),
                            {std::to_string(ms % 200), "15.0", "10.0"}, {}});
                const Clock::time_point now = Clock::now();
                m_longestGap = std::max(m_longestGap.load(), now - last);
                last = now;
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    ~FeedingThread()
    {
        m_stop = true;
        m_thread.join();
    }
    Clock::duration longestGap() const { return m_longestGap; }

private:
    serve::LiveFeed& m_feed;
    std::atomic<bool> m_stop{false};
    std::atomic<Clock::duration> m_longestGap{Clock::duration::zero()};
    std::thread m_thread;
};

class LiveViewServerTest : public testing::Test {
protected:
    void start(serve::LiveViewLimits limits = {}, serve::ServeOptions options = {})
    {
        if (!options.address)
            options.address = serve::ListenAddress{"127.0.0.1", 0};
        m_view = std::make_unique<serve::LiveView>(m_feed, options, limits);
    }
    std::uint16_t port() const { return m_view->port(); }
    std::string exchange(const std::string& request, const char* source = "127.0.0.1")
    {
        return vtest::exchange(port(), request, source);
    }
    void TearDown() override
    {
        m_view.reset();
        // A feed that waited this long for a request had been stalled by it.
        EXPECT_LT(m_feeding.longestGap(), 1s);
    }

    history::LiveHistory m_history{[](std::size_t) { return true; }};
    serve::LiveFeed m_feed{m_history};
    FeedingThread m_feeding{m_feed};
    std::unique_ptr<serve::LiveView> m_view;
};

struct BadRequest {
    const char* name;
    std::string request;
    int status; // 0: the connection is cut without an answer
};

TEST_F(LiveViewServerTest, MalformedAndOversizedRequestsGetA4xx)
{
    start();
    const std::string huge(40 * 1024, 'a');
    const BadRequest cases[] = {
        {"post", "POST /api/state HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nConnection: close\r\n\r\n{}", 405},
        {"put", "PUT / HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\nConnection: close\r\n\r\n", 405},
        {"delete", "DELETE /api/state HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405},
        {"options", "OPTIONS * HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405},
        {"made_up_method", "BREW /pot HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", 405},
        {"get_with_body", get("/api/state", "Content-Length: 5\r\n") + "hello", 400},
        {"get_chunked", get("/api/state", "Transfer-Encoding: chunked\r\n") + "0\r\n\r\n", 400},
        {"garbage", std::string("\x01\x02\x03 \xff\xfe\r\n\r\n", 10), 400},
        {"http11_without_host", "GET /api/state HTTP/1.1\r\nConnection: close\r\n\r\n", 400},
        {"overlong_url", get("/api/envelopes?from=" + huge), 414},
        {"huge_header", get("/", "X-Filler: " + huge + "\r\n"), 431},
        {"many_headers", get("/", [] { std::string h; for (int i = 0; i < 3000; ++i) h += "X-" + std::to_string(i) + ": y\r\n"; return h; }()), 431},
        {"width_zero", get("/api/envelopes?width=0"), 400},
        {"width_above_cap", get("/api/envelopes?width=4001"), 400},
        {"width_not_a_number", get("/api/envelopes?width=wide"), 400},
        {"width_float", get("/api/envelopes?width=10.5"), 400},
        {"width_twice", get("/api/envelopes?width=10&width=10"), 400},
        {"from_negative", get("/api/envelopes?from=-1"), 400},
        {"from_huge", get("/api/figures?from=99999999999999999999999"), 400},
        {"from_exponent", get("/api/figures?from=1e3"), 400},
        {"from_with_space", get("/api/figures?from=%205"), 400},
        {"from_with_nul", get("/api/figures?from=5%00"), 400},
        {"from_after_to", get("/api/events?from=10&to=5"), 400},
        {"unknown_parameter", get("/api/state?debug=1"), 400},
        {"parameter_on_page", get("/?from=1"), 400},
        {"unknown_api", get("/api/control"), 404},
        {"dot_dot", get("/../../etc/passwd"), 404},
        {"encoded_dot_dot", get("/%2e%2e/%2e%2e/etc/passwd"), 404},
        {"resource_path", get("/:/serve/index.html"), 404},
        {"doubled_slash", get("//app.js"), 404},
        {"trailing_slash", get("/app.js/"), 404},
    };
    for (const BadRequest& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string response = exchange(c.request);
        EXPECT_EQ(statusOf(response), c.status) << response.substr(0, 200);
    }
    EXPECT_EQ(statusOf(exchange(get("/api/envelopes?from=0&to=100&width=4000"))), 200); // still answering
}

TEST_F(LiveViewServerTest, PagesAndApiAnswerEachWithItsType)
{
    start();
    const std::pair<const char*, const char*> cases[] = {
        {"/", "text/html"},          {"/app.js", "text/javascript"}, {"/style.css", "text/css"},
        {"/api/state", "application/json"}, {"/api/envelopes?width=10", "application/json"},
        {"/api/figures?from=0&to=5", "application/json"}, {"/api/events", "application/json"},
        {"/metrics", "text/plain; version=0.0.4"},
    };
    for (const auto& [target, type] : cases) {
        SCOPED_TRACE(target);
        const std::string response = exchange(get(target));
        EXPECT_EQ(statusOf(response), 200);
        EXPECT_NE(response.find(std::string("Content-Type: ") + type), std::string::npos);
    }
    const std::string head = exchange("HEAD / HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(statusOf(head), 200);
    EXPECT_EQ(head.find("<html"), std::string::npos);
}

TEST_F(LiveViewServerTest, SlowClientIsCutAtTheHeadDeadline)
{
    serve::LiveViewLimits limits;
    limits.http.headDeadline = 1500ms;
    start(limits);
    Client slow(port());
    const std::string request = get("/");
    const auto began = Clock::now();
    bool cut = false;
    // A byte a second: the whole request would take a minute; the deadline
    // cuts it after 1.5 s (8 s allowed before giving up).
    for (std::size_t i = 0; i < 8 && !cut; ++i)
        cut = !slow.send(request.substr(i, 1)) || slow.closedBy(1000ms);
    EXPECT_TRUE(cut);
    EXPECT_LT(Clock::now() - began, 10s);
    Client silent(port());
    EXPECT_TRUE(silent.closedBy(10s)); // nothing sent at all
}

TEST_F(LiveViewServerTest, FloodingBeyondTheRateGets429)
{
    serve::LiveViewLimits limits;
    limits.requestsPerSecond = 2;
    limits.requestBurst = 5;
    start(limits);
    std::vector<int> statuses;
    for (int i = 0; i < 12; ++i)
        statuses.push_back(statusOf(exchange(get("/api/state"))));
    EXPECT_EQ(std::count(statuses.begin(), statuses.begin() + 5, 200), 5);
    EXPECT_GE(std::count(statuses.begin() + 5, statuses.end(), 429), 5);
    // Another client has a bucket of its own.
    EXPECT_EQ(statusOf(exchange(get("/api/state"), "127.0.0.2")), 200);
}

TEST_F(LiveViewServerTest, ConnectionsBeyondTheLimitsAreRefused)
{
    start();
    // 8 connections per client address: the ninth from one address is closed at once.
    std::vector<std::unique_ptr<Client>> held;
    for (int i = 0; i < 8; ++i)
        held.push_back(std::make_unique<Client>(port(), "127.0.0.1"));
    Client ninth(port(), "127.0.0.1");
    EXPECT_TRUE(ninth.closedBy(3000ms));
    // 16 in all: the seventeenth, from a fresh address, is closed at once.
    for (int i = 0; i < 8; ++i)
        held.push_back(std::make_unique<Client>(port(), "127.0.0.2"));
    Client seventeenth(port(), "127.0.0.3");
    EXPECT_TRUE(seventeenth.closedBy(3000ms));
    held.clear();
    // Freed again: a new connection is answered (the server notices the closes shortly).
    int status = 0;
    for (int attempt = 0; attempt < 50 && status != 200; ++attempt) {
        status = statusOf(exchange(get("/api/state"), "127.0.0.3"));
        if (status != 200)
            std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(status, 200);
}

struct TokenCase {
    const char* name;
    std::string request;
    int status;
};

TEST_F(LiveViewServerTest, WithoutTheTokenEveryRequestGets401)
{
    serve::LiveViewLimits limits;
    limits.tokenOnLoopback = true; // as on a non-loopback address
    serve::ServeOptions options;
    const std::string tokenPath = testing::TempDir() + "/vantrel-serve-token";
    const std::string token(32, 'k');
    std::ofstream(tokenPath) << token << '\n';
    options.tokenFile = tokenPath;
    start(limits, options);
    const std::string cookie = "Cookie: vantrel_token_" + std::to_string(port()) + "=";
    const TokenCase cases[] = {
        {"page_without", get("/"), 401},
        {"state_without", get("/api/state"), 401},
        {"events_without", get("/events"), 401},
        {"metrics_without", get("/metrics"), 401},
        {"script_without", get("/app.js"), 401},
        {"wrong_in_url", get("/?token=" + std::string(32, 'x')), 401},
        {"short_in_url", get("/?token=" + token.substr(1)), 401},
        {"empty_in_url", get("/?token="), 401},
        {"wrong_cookie", get("/", cookie + std::string(32, 'x') + "\r\n"), 401},
        {"cookie_of_another_port", get("/", "Cookie: vantrel_token_1=" + token + "\r\n"), 401},
        {"wrong_bearer", get("/metrics", "Authorization: Bearer " + token + "x\r\n"), 401},
        {"right_in_url_redirects", get("/?token=" + token), 303},
        {"right_cookie", get("/", cookie + token + "\r\n"), 200},
        {"right_bearer", get("/metrics", "Authorization: Bearer " + token + "\r\n"), 200},
    };
    for (const TokenCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string response = exchange(c.request);
        EXPECT_EQ(statusOf(response), c.status);
        if (c.status == 401) {
            EXPECT_EQ(response.find("\"session\""), std::string::npos);
        }
    }
    const std::string redirect = exchange(get("/?token=" + token));
    EXPECT_NE(redirect.find("Location: /\r\n"), std::string::npos);
    EXPECT_NE(redirect.find("Set-Cookie: vantrel_token_" + std::to_string(port()) + "=" + token
                            + "; Path=/; HttpOnly; SameSite=Strict\r\n"),
              std::string::npos);
}

TEST_F(LiveViewServerTest, MetricsOpenLeavesTheRestClosed)
{
    serve::LiveViewLimits limits;
    limits.tokenOnLoopback = true;
    serve::ServeOptions options;
    options.metricsOpen = true;
    start(limits, options);
    EXPECT_TRUE(m_view->needsToken());
    EXPECT_EQ(statusOf(exchange(get("/metrics"))), 200);
    EXPECT_EQ(statusOf(exchange(get("/api/state"))), 401);
}

TEST_F(LiveViewServerTest, LoopbackNeedsNoTokenByDefault)
{
    start();
    EXPECT_FALSE(m_view->needsToken());
    EXPECT_EQ(m_view->url(), "http://127.0.0.1:" + std::to_string(port()) + "/");
}

TEST_F(LiveViewServerTest, EventStreamPushesTheStateWhileRowsCome)
{
    start();
    Client viewer(port());
    viewer.send(get("/events"));
    std::string stream;
    const auto deadline = Clock::now() + 10s;
    auto count = [&] {
        std::size_t n = 0;
        for (std::size_t at = stream.find("event: state"); at != std::string::npos; at = stream.find("event: state", at + 1))
            ++n;
        return n;
    };
    while (count() < 3 && Clock::now() < deadline)
        stream += viewer.receive(500ms);
    EXPECT_GE(count(), 3u);
    EXPECT_NE(stream.find("Content-Type: text/event-stream"), std::string::npos);
    EXPECT_NE(stream.find("\"session\":\"open\""), std::string::npos);
    // The server ends with a viewer still connected, at once.
    const auto stopping = Clock::now();
    m_view.reset();
    EXPECT_LT(Clock::now() - stopping, 3s);
}

} // namespace
