#pragma once

#include "serve/ListenAddress.h"
#include "serve/QueryParameters.h"

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct MHD_Daemon;
struct MHD_Connection;

namespace serve {

// A request as libmicrohttpd parsed it (we parse no HTTP ourselves).
struct HttpRequest {
    std::string method; // GET or HEAD: others are answered 405 before a handler sees them
    std::string path;
    QueryArguments query;
    std::map<std::string, std::string> cookies;
    std::string authorization;
    std::string client; // the client's address, for the rate limit
};

// A response that goes on for as long as the client stays: Server-Sent Events.
class EventStream {
public:
    virtual ~EventStream() = default;
    // The next bytes to send; waits at most about a second for them.
    // Nothing: the stream ends.
    virtual std::optional<std::string> next() = 0;
};

struct HttpResponse {
    unsigned status = 200;
    std::string contentType = "text/plain; charset=utf-8";
    QByteArray body;
    std::vector<std::pair<std::string, std::string>> headers;
    std::unique_ptr<EventStream> stream; // instead of the body
};

// What one client may take of the server.
struct HttpLimits {
    unsigned connections = 16;
    unsigned connectionsPerClient = 8;
    // A connection that neither sends nor takes anything this long is closed.
    std::chrono::seconds idleTimeout{10};
    // A request's line and headers must have arrived this long after the
    // connection (or the previous request) began, however slowly they trickle.
    std::chrono::milliseconds headDeadline{5000};
    // The request line and headers must fit in this (larger: 414 or 431).
    std::size_t memoryPerConnection = 32 * 1024;
};

struct TlsCredentials {
    std::string certificatePem;
    std::string keyPem;
};

// An HTTP server on libmicrohttpd, a thread per connection (so a stream may
// wait for its next event). Only GET and HEAD reach the handler, and only
// without a body; everything else is answered here (405, 400). The handler
// runs on the connection's thread and must not throw (a throw is a 500).
class HttpServer {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Listens at once. Throws std::runtime_error naming the address and the cause.
    HttpServer(const ListenAddress& address, Handler handler, HttpLimits limits = {},
               std::optional<TlsCredentials> tls = std::nullopt);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // Whether this libmicrohttpd was built with TLS (GnuTLS).
    static bool tlsAvailable();

    struct Connection; // the clock of one connection's request head

private:
    HttpResponse answer(MHD_Connection* connection, const char* url, const char* method);
    void watchHeadDeadlines();

    Handler m_handler;
    HttpLimits m_limits;
    std::atomic<MHD_Daemon*> m_daemon{nullptr}; // set once started
    std::string m_startMessage;
    std::uint16_t m_port = 0;

    std::mutex m_connectionsMutex;
    std::vector<Connection*> m_connections;
    std::condition_variable m_watchWake;
    bool m_stopping = false;
    std::thread m_watch;

    friend struct ConnectionHooks;
};

} // namespace serve
