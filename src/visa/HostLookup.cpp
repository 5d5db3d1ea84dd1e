#include "visa/HostLookup.h"

#include "visa/Error.h"

#include <netdb.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace visa {
namespace {

// Shared by the waiting caller and the lookup's thread, which may outlive it.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::string failure; // empty on success
    std::vector<SocketAddress> addresses;
};

void runLookup(Lookup& lookup, const std::string& host, const std::string& service)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    std::vector<SocketAddress> addresses;
    for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        SocketAddress address{};
        std::memcpy(&address.address, entry->ai_addr, entry->ai_addrlen);
        address.length = entry->ai_addrlen;
        addresses.push_back(address);
    }
    if (found != nullptr)
        ::freeaddrinfo(found);
    const std::lock_guard guard(lookup.mutex);
    if (status != 0)
        lookup.failure = status == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(status);
    lookup.addresses = std::move(addresses);
    lookup.done = true;
    lookup.finished.notify_all();
}

} // namespace

std::vector<SocketAddress> lookUpHost(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout)
{
    const std::string where = host + ":" + std::to_string(port);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service = std::to_string(port)] { runLookup(*lookup, host, service); }).detach();
    } catch (const std::system_error& error) {
        throw Error("Cannot connect to " + where + ": cannot start the name lookup (" + error.what() + ")");
    }
    std::unique_lock lock(lookup->mutex);
    if (!lookup->finished.wait_until(lock, deadline, [&] { return lookup->done; }))
        throw Error("Timeout: no connection to " + where + " within " + std::to_string(timeout.count())
                    + " ms (looking up " + host + " took too long; check the name and the network's name servers)");
    if (!lookup->failure.empty())
        throw Error("Cannot connect to " + where + ": " + lookup->failure);
    return std::move(lookup->addresses);
}

} // namespace visa
