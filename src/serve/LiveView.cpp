#include "serve/LiveView.h"

#include "serve/LiveJson.h"
#include "serve/StaticFiles.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace serve {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr const char* kText = "text/plain; charset=utf-8";
constexpr const char* kJson = "application/json";
// Elapsed milliseconds in a request: up to about 300 years.
constexpr std::int64_t kMaxMs = 10'000'000'000'000;
// A stream sends the state at most this often, and something this often at least.
constexpr auto kStreamMinGap = 250ms;
constexpr auto kStreamKeepAlive = 2s;
constexpr std::int64_t kDefaultWidth = 1000;

std::int64_t wallNowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

HttpResponse plain(unsigned status, const std::string& text)
{
    return HttpResponse{status, kText, QByteArray::fromStdString(text + "\n"), {}, {}};
}

HttpResponse json(QByteArray body)
{
    return HttpResponse{200, kJson, std::move(body), {}, {}};
}

std::string readWhole(const std::string& path, const char* what)
{
    std::ifstream file(path);
    if (!file)
        throw std::runtime_error(std::string("Cannot read the ") + what + " " + path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The state pushed as Server-Sent Events: whenever it changed, at most every
// 250 ms; a comment line every 2 s while nothing changes. One message at a
// time is kept, so a viewer costs the same however slowly it reads.
class StateStream : public EventStream {
public:
    StateStream(const LiveFeed& feed, std::mutex& mutex, std::condition_variable& wake, const bool& stopping)
        : m_feed(feed), m_mutex(mutex), m_wake(wake), m_stopping(stopping)
    {
    }

    std::optional<std::string> next() override
    {
        if (!m_sentAny) {
            m_sentAny = true;
            return "retry: 1000\n\n" + message();
        }
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait_until(lock, m_lastLook + kStreamMinGap, [this] { return m_stopping; });
                if (m_stopping)
                    return std::nullopt;
            }
            m_lastLook = Clock::now();
            if (m_feed.version() != m_version)
                return message();
            if (m_lastLook - m_lastSent >= kStreamKeepAlive) {
                m_lastSent = m_lastLook;
                return ": still here\n\n";
            }
        }
    }

private:
    std::string message()
    {
        const LiveState state = m_feed.state();
        m_version = state.version;
        m_lastSent = m_lastLook = Clock::now();
        return "event: state\ndata: " + stateJson(state, wallNowMs()).toStdString() + "\n\n";
    }

    const LiveFeed& m_feed;
    std::mutex& m_mutex;
    std::condition_variable& m_wake;
    const bool& m_stopping;
    bool m_sentAny = false;
    std::uint64_t m_version = 0;
    Clock::time_point m_lastSent = Clock::now();
    Clock::time_point m_lastLook = Clock::now();
};

const std::array<IntegerParameter, 3> kSpanAndWidth{
    IntegerParameter{"from", 0, kMaxMs}, IntegerParameter{"to", 0, kMaxMs}, IntegerParameter{"width", 1, 1}};

} // namespace

LiveView::LiveView(const LiveFeed& feed, const ServeOptions& options, LiveViewLimits limits)
    : m_feed(feed),
      m_limits(limits),
      m_address(options.address.value_or(ListenAddress{})),
      m_tls(options.tlsCertificate.has_value()),
      m_metricsOpen(options.metricsOpen),
      m_rate(limits.requestsPerSecond, limits.requestBurst)
{
    if (options.tokenFile)
        m_token = AccessToken::fromFile(*options.tokenFile);
    else if (!m_address.isLoopback() || limits.tokenOnLoopback)
        m_token = AccessToken::generate();
    std::optional<TlsCredentials> tls;
    if (m_tls)
        tls = TlsCredentials{readWhole(*options.tlsCertificate, "certificate"), readWhole(*options.tlsKey, "key")};
    try {
        m_server = std::make_unique<HttpServer>(
            m_address, [this](const HttpRequest& request) { return handle(request); }, limits.http, std::move(tls));
    } catch (const std::runtime_error& failure) {
        if (!m_tls)
            throw;
        throw std::runtime_error(std::string(failure.what()) + " (are " + *options.tlsCertificate + " and "
                                 + *options.tlsKey + " a PEM certificate and its private key?)");
    }
    // Cookies are kept per host, not per port: two servers on one machine keep theirs apart.
    m_cookieName = "vantrel_token_" + std::to_string(m_server->port());
}

LiveView::~LiveView()
{
    {
        const std::lock_guard lock(m_streamMutex);
        m_stopping = true;
    }
    m_streamWake.notify_all();
    m_server.reset();
}

std::string LiveView::url() const
{
    return m_address.url(m_tls, port()) + (m_token ? "?token=" + m_token->text() : std::string());
}

HttpResponse LiveView::handle(const HttpRequest& request)
{
    if (!m_rate.allow(request.client)) {
        HttpResponse answer = plain(429, "429: too many requests from " + request.client + "; slow down");
        answer.headers.emplace_back("Retry-After", "1");
        return answer;
    }
    QueryArguments query = request.query;
    if (std::optional<HttpResponse> refusal = admission(request, query))
        return std::move(*refusal);
    return route(request, query);
}

std::optional<HttpResponse> LiveView::admission(const HttpRequest& request, QueryArguments& query) const
{
    if (!m_token)
        return std::nullopt;
    const auto given = std::find_if(query.begin(), query.end(), [](const auto& arg) { return arg.first == "token"; });
    if (given != query.end()) {
        if (!m_token->matches(given->second))
            return plain(401, "401: wrong token for this live view");
        // Once given in the address, the token is kept in a cookie and the
        // address shown without it.
        HttpResponse redirect = plain(303, "303: see " + request.path);
        redirect.headers.emplace_back("Location", request.path);
        redirect.headers.emplace_back("Set-Cookie", m_cookieName + "=" + m_token->text()
                                                        + "; Path=/; HttpOnly; SameSite=Strict"
                                                        + (m_tls ? "; Secure" : ""));
        return redirect;
    }
    if (request.path == "/metrics" && m_metricsOpen)
        return std::nullopt;
    const auto cookie = request.cookies.find(m_cookieName);
    if (cookie != request.cookies.end() && m_token->matches(cookie->second))
        return std::nullopt;
    constexpr std::string_view kBearer = "Bearer ";
    if (request.authorization.starts_with(kBearer)
        && m_token->matches(std::string_view(request.authorization).substr(kBearer.size())))
        return std::nullopt;
    HttpResponse refusal = plain(401, "401: this live view needs its token: open the address with ?token=... that the "
                                      "recorder printed at its start");
    refusal.headers.emplace_back("WWW-Authenticate", "Bearer realm=\"vantrel\"");
    return refusal;
}

HttpResponse LiveView::route(const HttpRequest& request, const QueryArguments& query)
{
    const std::string& path = request.path;
    const bool isApi = path.starts_with("/api/");
    std::array<IntegerParameter, 3> parameters = kSpanAndWidth;
    parameters[2].max = m_limits.maxWidth;
    parameters[2].min = 1;
    std::span<const IntegerParameter> taken;
    if (path == "/api/envelopes")
        taken = parameters;
    else if (path == "/api/figures" || path == "/api/events")
        taken = std::span(parameters).first(2);
    const auto parsed = parseQuery(query, taken);
    if (const auto* reason = std::get_if<std::string>(&parsed))
        return plain(400, "400: " + *reason);
    const IntegerValues& values = std::get<IntegerValues>(parsed);

    if (!isApi) {
        if (path == "/events")
            return HttpResponse{200, "text/event-stream", {}, {{"X-Accel-Buffering", "no"}}, stateStream()};
        if (path == "/metrics")
            return HttpResponse{200, "text/plain; version=0.0.4; charset=utf-8", metricsText(m_feed.state()), {}, {}};
        if (std::optional<StaticFile> file = staticFile(path))
            return HttpResponse{200, file->contentType, std::move(file->body), {}, {}};
        return plain(404, "404: the live view has no such page");
    }
    if (path == "/api/state")
        return json(stateJson(m_feed.state(), wallNowMs()));
    if (taken.empty())
        return plain(404, "404: no such API; see /api/state, /api/envelopes, /api/figures, /api/events");

    // A span left open is the whole run so far.
    const LiveState state = m_feed.state();
    const Span span{values[0].value_or(state.firstMs), values[1].value_or(std::max(state.lastMs, state.firstMs))};
    if (span.from > span.to)
        return plain(400, "400: from must not be after to");
    if (path == "/api/envelopes")
        return json(envelopesJson(m_feed, span, static_cast<int>(values[2].value_or(std::min<std::int64_t>(kDefaultWidth, m_limits.maxWidth)))));
    if (path == "/api/figures")
        return json(figuresJson(m_feed, span));
    return json(eventsJson(m_feed, span, m_limits.maxEvents));
}

std::unique_ptr<EventStream> LiveView::stateStream()
{
    return std::make_unique<StateStream>(m_feed, m_streamMutex, m_streamWake, m_stopping);
}

} // namespace serve
