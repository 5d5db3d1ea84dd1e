#pragma once

#include "serve/AccessToken.h"
#include "serve/HttpServer.h"
#include "serve/LiveFeed.h"
#include "serve/RateLimiter.h"
#include "serve/ServeOptions.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace serve {

// What the server allows beyond the HTTP limits; tests shorten them.
struct LiveViewLimits {
    HttpLimits http;
    double requestsPerSecond = 20; // per client address
    double requestBurst = 40;
    int maxWidth = 4000;          // pixel columns of one envelope answer
    std::size_t maxEvents = 1000; // events in one answer
    // Ask for the token even on a loopback address (tests of the refusal,
    // which never bind anything but loopback).
    bool tokenOnLoopback = false;
};

// The read-only live view of a run: the page, its API, the event stream and
// the metrics, served from the feed. Nothing served reaches the instrument,
// the recording or the program: the feed is only read.
//
//   /                  the page (/app.js, /style.css its script and style)
//   /api/state         the run's state (JSON)
//   /api/envelopes     ?from=MS&to=MS&width=PX: the span drawn PX columns wide
//   /api/figures       ?from=MS&to=MS: the span's figures
//   /api/events        ?from=MS&to=MS: the span's events
//   /events            Server-Sent Events: the state, at most 4 times a second
//   /metrics           Prometheus text format
//
// A token is asked for on a non-loopback address (or with --token-file):
// given once as ?token=..., it is kept in a cookie (HttpOnly,
// SameSite=Strict); scripts may send "Authorization: Bearer TOKEN".
class LiveView {
public:
    // Starts serving. Throws std::runtime_error with a message for the user.
    LiveView(const LiveFeed& feed, const ServeOptions& options, LiveViewLimits limits = {});
    ~LiveView();
    LiveView(const LiveView&) = delete;
    LiveView& operator=(const LiveView&) = delete;

    std::uint16_t port() const { return m_server->port(); }
    // The address to open, with the token when one is needed.
    std::string url() const;
    bool needsToken() const { return m_token.has_value(); }

private:
    HttpResponse handle(const HttpRequest& request);
    HttpResponse route(const HttpRequest& request, const QueryArguments& query);
    // Nothing when the request may pass; else the answer (401, or the
    // redirect that turns ?token= into the cookie).
    std::optional<HttpResponse> admission(const HttpRequest& request, QueryArguments& query) const;
    std::unique_ptr<EventStream> stateStream();

    const LiveFeed& m_feed;
    LiveViewLimits m_limits;
    ListenAddress m_address;
    bool m_tls;
    bool m_metricsOpen;
    std::optional<AccessToken> m_token;
    std::string m_cookieName;
    RateLimiter m_rate;

    // Streams wait on this between events; the end wakes them.
    std::mutex m_streamMutex;
    std::condition_variable m_streamWake;
    bool m_stopping = false;

    std::unique_ptr<HttpServer> m_server; // last: stopped first
};

} // namespace serve
