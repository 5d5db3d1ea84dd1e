#include "serve/HttpServer.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace serve {

using Clock = std::chrono::steady_clock;

// When the request head now expected began to arrive, and the socket to cut
// when it takes too long.
struct HttpServer::Connection {
    int fd = -1;
    Clock::time_point began = Clock::now();
    bool headArrived = false;
    bool cut = false;
};

namespace {

// A stream's bytes not yet taken by the library.
struct StreamState {
    std::unique_ptr<EventStream> stream;
    std::string pending;
    std::size_t offset = 0;
};

ssize_t readStream(void* cls, std::uint64_t /*position*/, char* buffer, std::size_t max)
{
    auto* state = static_cast<StreamState*>(cls);
    try {
        while (state->offset == state->pending.size()) {
            std::optional<std::string> next = state->stream->next();
            if (!next)
                return MHD_CONTENT_READER_END_OF_STREAM;
            state->pending = std::move(*next);
            state->offset = 0;
        }
    } catch (...) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    const std::size_t n = std::min(max, state->pending.size() - state->offset);
    std::memcpy(buffer, state->pending.data() + state->offset, n);
    state->offset += n;
    return static_cast<ssize_t>(n);
}

void freeStream(void* cls)
{
    delete static_cast<StreamState*>(cls);
}

// With their lengths: a "%00" inside a value stays in it (and makes it no number).
MHD_Result collectQuery(void* cls, MHD_ValueKind, const char* key, std::size_t keySize, const char* value,
                        std::size_t valueSize)
{
    static_cast<QueryArguments*>(cls)->emplace_back(key ? std::string(key, keySize) : std::string(),
                                                    value ? std::string(value, valueSize) : std::string());
    return MHD_YES;
}

MHD_Result collectCookie(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    if (key && value)
        static_cast<std::map<std::string, std::string>*>(cls)->emplace(key, value);
    return MHD_YES;
}

std::string clientAddress(MHD_Connection* connection)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return "unknown";
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* address = info->client_addr;
    if (address->sa_family == AF_INET)
        ::inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
    else if (address->sa_family == AF_INET6)
        ::inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
    return text;
}

// Headers on every answer: nothing is cached, sniffed, framed, or fetched
// from anywhere but this server, and no address (with a token in it) leaks
// as a referrer.
void addCommonHeaders(MHD_Response* response)
{
    MHD_add_response_header(response, "Cache-Control", "no-store");
    MHD_add_response_header(response, "X-Content-Type-Options", "nosniff");
    MHD_add_response_header(response, "X-Frame-Options", "DENY");
    MHD_add_response_header(response, "Referrer-Policy", "no-referrer");
    MHD_add_response_header(response, "Content-Security-Policy",
                            "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
}

} // namespace

// The library's callbacks, with access to the server.
struct ConnectionHooks {
    static MHD_Result access(void* cls, MHD_Connection* connection, const char* url, const char* method,
                             const char* /*version*/, const char* /*uploadData*/, std::size_t* /*uploadSize*/,
                             void** /*requestState*/)
    {
        auto* server = static_cast<HttpServer*>(cls);
        headArrived(server, connection);
        HttpResponse answer;
        try {
            answer = server->answer(connection, url, method);
        } catch (...) {
            answer = HttpResponse{500, "text/plain; charset=utf-8", "500: the live view failed to answer\n", {}, {}};
        }
        MHD_Response* response = nullptr;
        if (answer.stream) {
            response = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 4096, &readStream,
                                                         new StreamState{std::move(answer.stream), {}, 0}, &freeStream);
        } else {
            response = MHD_create_response_from_buffer(static_cast<std::size_t>(answer.body.size()),
                                                       answer.body.data(), MHD_RESPMEM_MUST_COPY);
        }
        if (!response)
            return MHD_NO;
        MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
        addCommonHeaders(response);
        for (const auto& [name, value] : answer.headers)
            MHD_add_response_header(response, name.c_str(), value.c_str());
        const MHD_Result queued = MHD_queue_response(connection, answer.status, response);
        MHD_destroy_response(response);
        return queued;
    }

    // The library's complaint while starting (a port in use, a bad
    // certificate) is kept for the message; later ones (a client that went
    // away) are nobody's business.
    static void log(void* cls, const char* format, va_list arguments)
    {
        auto* server = static_cast<HttpServer*>(cls);
        if (server->m_daemon)
            return;
        char text[512];
        std::vsnprintf(text, sizeof text, format, arguments);
        std::string& last = server->m_startMessage;
        last = text;
        while (!last.empty() && (last.back() == '\n' || last.back() == '.'))
            last.pop_back();
    }

    static void headArrived(HttpServer* server, MHD_Connection* connection)
    {
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (!info || !info->socket_context)
            return;
        const std::lock_guard lock(server->m_connectionsMutex);
        static_cast<HttpServer::Connection*>(info->socket_context)->headArrived = true;
    }

    static void notifyConnection(void* cls, MHD_Connection* connection, void** socketContext,
                                 MHD_ConnectionNotificationCode code)
    {
        auto* server = static_cast<HttpServer*>(cls);
        const std::lock_guard lock(server->m_connectionsMutex);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            auto* clock = new HttpServer::Connection;
            const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
            clock->fd = info ? info->connect_fd : -1;
            server->m_connections.push_back(clock);
            *socketContext = clock;
        } else if (*socketContext) {
            // Called before the library closes the socket: the watch never cuts a closed one.
            auto* clock = static_cast<HttpServer::Connection*>(*socketContext);
            std::erase(server->m_connections, clock);
            delete clock;
            *socketContext = nullptr;
        }
    }

    // A request is over: the clock starts again for the next on the same connection.
    static void requestCompleted(void* cls, MHD_Connection* connection, void** /*requestState*/,
                                 MHD_RequestTerminationCode)
    {
        auto* server = static_cast<HttpServer*>(cls);
        const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        if (!info || !info->socket_context)
            return;
        const std::lock_guard lock(server->m_connectionsMutex);
        auto* clock = static_cast<HttpServer::Connection*>(info->socket_context);
        clock->headArrived = false;
        clock->began = Clock::now();
    }
};

HttpServer::HttpServer(const ListenAddress& address, Handler handler, HttpLimits limits,
                       std::optional<TlsCredentials> tls)
    : m_handler(std::move(handler)), m_limits(limits)
{
    const std::string where = address.host + ":" + std::to_string(address.port);
    sockaddr_in address4{};
    sockaddr_in6 address6{};
    const sockaddr* bindTo = nullptr;
    if (address.isIpv6()) {
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(address.port);
        if (::inet_pton(AF_INET6, address.host.c_str(), &address6.sin6_addr) != 1)
            throw std::runtime_error("Cannot serve the live view on " + where + ": not a numeric address");
        bindTo = reinterpret_cast<const sockaddr*>(&address6);
    } else {
        address4.sin_family = AF_INET;
        address4.sin_port = htons(address.port);
        if (::inet_pton(AF_INET, address.host.c_str(), &address4.sin_addr) != 1)
            throw std::runtime_error("Cannot serve the live view on " + where + ": not a numeric address");
        bindTo = reinterpret_cast<const sockaddr*>(&address4);
    }
    if (tls && !tlsAvailable())
        throw std::runtime_error("Cannot serve the live view over HTTPS: this libmicrohttpd was built without TLS");

    unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_POLL
                     | MHD_USE_ERROR_LOG;
    if (address.isIpv6())
        flags |= MHD_USE_IPv6;
    if (tls)
        flags |= MHD_USE_TLS;
    std::vector<MHD_OptionItem> options{
        {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&ConnectionHooks::log), this},
        {MHD_OPTION_SOCK_ADDR, 0, const_cast<sockaddr*>(bindTo)},
        {MHD_OPTION_CONNECTION_LIMIT, static_cast<intptr_t>(limits.connections), nullptr},
        {MHD_OPTION_PER_IP_CONNECTION_LIMIT, static_cast<intptr_t>(limits.connectionsPerClient), nullptr},
        {MHD_OPTION_CONNECTION_TIMEOUT, static_cast<intptr_t>(limits.idleTimeout.count()), nullptr},
        {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(limits.memoryPerConnection), nullptr},
        {MHD_OPTION_NOTIFY_CONNECTION, reinterpret_cast<intptr_t>(&ConnectionHooks::notifyConnection), this},
        {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&ConnectionHooks::requestCompleted), this},
        // HTTP/1.1 without a Host header is refused (400), as the standard asks.
        {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
    };
    if (tls) {
        options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(tls->certificatePem.c_str())});
        options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(tls->keyPem.c_str())});
    }
    options.push_back({MHD_OPTION_END, 0, nullptr});
    MHD_Daemon* daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &ConnectionHooks::access, this, MHD_OPTION_ARRAY,
                                options.data(), MHD_OPTION_END);
    if (!daemon)
        throw std::runtime_error("Cannot serve the live view on " + where + ": "
                                 + (m_startMessage.empty() ? std::string("the HTTP server did not start")
                                                           : m_startMessage));
    m_daemon.store(daemon);
    const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    m_port = info ? info->port : address.port;
    m_watch = std::thread([this] { watchHeadDeadlines(); });
}

HttpServer::~HttpServer()
{
    {
        const std::lock_guard lock(m_connectionsMutex);
        m_stopping = true;
    }
    m_watchWake.notify_all();
    m_watch.join();
    MHD_stop_daemon(m_daemon.load());
}

bool HttpServer::tlsAvailable()
{
    return MHD_is_feature_supported(MHD_FEATURE_TLS) == MHD_YES;
}

HttpResponse HttpServer::answer(MHD_Connection* connection, const char* url, const char* method)
{
    const std::string verb = method ? method : "";
    if (verb != "GET" && verb != "HEAD")
        return HttpResponse{405, "text/plain; charset=utf-8", "405: the live view only reads (GET, HEAD)\n",
                            {{"Allow", "GET, HEAD"}}, {}};
    const char* length = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH);
    if ((length && std::strcmp(length, "0") != 0)
        || MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING))
        return HttpResponse{400, "text/plain; charset=utf-8", "400: a request to the live view carries no body\n",
                            {}, {}};
    HttpRequest request;
    request.method = verb;
    request.path = url ? url : "";
    MHD_get_connection_values_n(connection, MHD_GET_ARGUMENT_KIND, &collectQuery, &request.query);
    MHD_get_connection_values(connection, MHD_COOKIE_KIND, &collectCookie, &request.cookies);
    if (const char* authorization =
            MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION))
        request.authorization = authorization;
    request.client = clientAddress(connection);
    return m_handler(request);
}

void HttpServer::watchHeadDeadlines()
{
    std::unique_lock lock(m_connectionsMutex);
    while (!m_stopping) {
        m_watchWake.wait_for(lock, std::chrono::milliseconds(200));
        const Clock::time_point now = Clock::now();
        for (Connection* connection : m_connections) {
            if (connection->headArrived || connection->cut || connection->fd < 0
                || now - connection->began < m_limits.headDeadline)
                continue;
            // The library sees the connection end and cleans it up on its own thread.
            ::shutdown(connection->fd, SHUT_RDWR);
            connection->cut = true;
        }
    }
}

} // namespace serve
