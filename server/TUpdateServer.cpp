// The bundled update server's listener and connection threads (see the header).
#include "server/TUpdateServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>

#include "platform/Text.h"
#include "server/ServerConstants.h"
#include "server/TFileStore.h"
#include "server/TQueryCountingChannel.h"
#include "server/TServerContext.h"
#include "server/TServerSession.h"
#include "server/TServerSocketChannel.h"
#include "transport/TDBXFilterSocketChannel.h"
#include "transport/TTransportFilterCollection.h"
#include "transport/TTransportFilterFactory.h"
#include "transport/filters/FilterConstants.h"
#include "transport/filters/TTransportCompressionFilter.h"

namespace ab::server {

struct TUpdateServer::Connection {
    int fd = -1;  // guarded by the server's mutex; -1 once closed
    std::thread thread;
    std::shared_ptr<TConnectionRecord> record;
    std::atomic<bool> finished{false};
    int number = 0;
    // Guarded by the server's mutex: its login was accepted; it was closed to make room for a
    // newer connection before its login.
    bool loggedIn = false;
    bool evicted = false;
};

namespace {

[[noreturn]] void Fail(const std::string& what, int err) {
    throw EServerError(FromUtf8(what + ": " + std::strerror(err)));
}

int Listen(const sockaddr* address, socklen_t length, bool v6only) {
    const int fd = ::socket(address->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address->sa_family == AF_INET6 && v6only)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    if (::bind(fd, address, length) != 0 || ::listen(fd, 64) != 0) {
        const int err = errno;
        ::close(fd);
        errno = err;
        return -1;
    }
    return fd;
}

std::uint16_t BoundPort(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    if (ss.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
}

// The compression filter of one connection: until its login a received frame may inflate to the
// login bound at most, so a small frame cannot make the server build a large message for a
// stranger; after it, to the filter's own limit.
class TLoginBoundCompressionFilter : public TTransportCompressionFilter {
  public:
    TLoginBoundCompressionFilter(const bool& loggedIn, std::size_t beforeLogin)
        : loggedIn_(loggedIn), beforeLogin_(beforeLogin) {}
    std::vector<std::uint8_t> ProcessOutput(std::span<const std::uint8_t> data) override {
        return loggedIn_ ? TTransportCompressionFilter::ProcessOutput(data)
                         : beforeLogin_.ProcessOutput(data);
    }

  private:
    const bool& loggedIn_;
    TTransportCompressionFilter beforeLogin_;
};

bool FiltersRequested(const std::string& filters) {
    std::string compact;
    for (char c : filters)
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            compact += c;
    return !compact.empty() && compact != "{}";
}

}  // namespace

TUpdateServer::TUpdateServer(TServerOptions options) : options_(std::move(options)) {}

TUpdateServer::~TUpdateServer() {
    Stop();
}

void TUpdateServer::Bind() {
    if (!options_.address.empty()) {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
        addrinfo* found = nullptr;
        const std::string service = std::to_string(options_.port);
        if (::getaddrinfo(options_.address.c_str(), service.c_str(), &hints, &found) != 0 || !found)
            throw EServerError(u"Cannot resolve " + FromUtf8(options_.address));
        const int fd = Listen(found->ai_addr, found->ai_addrlen, false);
        const int err = errno;
        ::freeaddrinfo(found);
        if (fd < 0)
            Fail("cannot listen on " + options_.address, err);
        listeners_.push_back(fd);
        port_ = BoundPort(fd);
        return;
    }
    // Loopback on both families with one port; an ephemeral port taken on IPv6 is tried again.
    for (int attempt = 0; attempt < 20; ++attempt) {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        v4.sin_port = htons(options_.port);
        const int fd4 = Listen(reinterpret_cast<sockaddr*>(&v4), sizeof v4, false);
        if (fd4 < 0)
            Fail("cannot listen on 127.0.0.1", errno);
        const std::uint16_t port = BoundPort(fd4);
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_addr = in6addr_loopback;
        v6.sin6_port = htons(port);
        const int fd6 = Listen(reinterpret_cast<sockaddr*>(&v6), sizeof v6, true);
        if (fd6 < 0 && errno == EADDRINUSE && options_.port == 0) {
            ::close(fd4);
            continue;
        }
        listeners_.push_back(fd4);
        if (fd6 >= 0)
            listeners_.push_back(fd6);  // a host without IPv6 serves IPv4 alone
        port_ = port;
        return;
    }
    throw EServerError(u"Cannot find a port free on both loopback addresses");
}

std::uint16_t TUpdateServer::Start() {
    if (started_)
        return port_;
    if (FiltersRequested(options_.filters)) {
        try {
            filters_ = TTransportFilterCollection::FromJSON(FromUtf8(options_.filters),
                                                            TTransportFilterFactory::Instance());
        } catch (const Exception& e) {
            throw EServerError(u"Filters: " + e.Message());
        }
        if (!filters_)
            throw EServerError(u"Filters: not a JSON object: " + FromUtf8(options_.filters));
    }
    try {
        store_ = std::make_unique<TFileStore>(options_.root);
    } catch (const Exception& e) {
        throw EServerError(e.Message());
    }
    context_ = std::make_unique<TServerContext>(options_, *store_);
    Bind();
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        Fail("cannot create a pipe", errno);
    started_ = true;
    acceptThread_ = std::thread([this] { AcceptLoop(); });
    context_->Log("listening on port " + std::to_string(port_) + ", root " +
                  options_.root.string());
    return port_;
}

void TUpdateServer::AcceptLoop() {
    std::vector<pollfd> fds;
    for (int fd : listeners_)
        fds.push_back({fd, POLLIN, 0});
    fds.push_back({wake_[0], POLLIN, 0});
    for (;;) {
        for (auto& p : fds)
            p.revents = 0;
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds.back().revents != 0)
            return;
        for (std::size_t i = 0; i + 1 < fds.size(); ++i) {
            if ((fds[i].revents & POLLIN) == 0)
                continue;
            const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                continue;
            const int on = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

            std::lock_guard lock(mutex_);
            // Reap finished connections so a long run does not pile up threads.
            for (auto it = connections_.begin(); it != connections_.end();) {
                if ((*it)->finished) {
                    (*it)->thread.join();
                    it = connections_.erase(it);
                } else {
                    ++it;
                }
            }
            if (!MakeRoom()) {
                ::close(fd);
                context_->Log("connection refused: too many connections");
                continue;
            }
            const int number = static_cast<int>(records_.size()) + 1;
            std::filesystem::path file;
            if (!options_.receivedDir.empty())
                file = options_.receivedDir / ("conexao-" + std::to_string(number) + ".bin");
            auto connection = std::make_shared<Connection>();
            connection->fd = fd;
            connection->number = number;
            connection->record = std::make_shared<TConnectionRecord>(options_.keepReceived, file);
            records_.push_back(connection->record);
            connections_.push_back(connection);
            connection->thread =
                std::thread([this, connection, number] { Serve(connection, number); });
            accepted_.notify_all();
        }
    }
}

bool TUpdateServer::MakeRoom() {
    // Connections not logged in are anyone's: they may hold only their own share of the places,
    // and the one that has waited longest gives its place to a newcomer, so a real client gets
    // in while strangers come and go.
    std::size_t live = 0;
    std::size_t waiting = 0;
    std::shared_ptr<Connection> oldest;
    for (const auto& c : connections_) {
        if (c->finished || c->evicted)
            continue;
        ++live;
        if (!c->loggedIn) {
            ++waiting;
            if (!oldest)
                oldest = c;
        }
    }
    if (live < options_.maxConnections && waiting < options_.maxPendingLogins)
        return true;
    if (!oldest)
        return false;
    oldest->evicted = true;
    if (oldest->fd >= 0)
        ::shutdown(oldest->fd, SHUT_RDWR);
    context_->Log("conexao " + std::to_string(oldest->number) +
                  ": fechada sem login para dar lugar a outra");
    return true;
}

void TUpdateServer::Serve(const std::shared_ptr<Connection>& connection, int number) {
    const std::string name = "conexao " + std::to_string(number) + ": ";
    context_->Log(name + "accepted");
    TServerSocketChannel socket(connection->fd, *connection->record);
    if (!options_.silent) {
        // Before login the connection is a stranger's: bounded in bytes and time.
        if (options_.maxLoginBytes > 0)
            socket.SetReadBudget(
                options_.maxLoginBytes + kLoginHandshakeAllowance,
                "mais de " + std::to_string(options_.maxLoginBytes) + " bytes antes do login");
        if (options_.loginTimeout.count() > 0)
            socket.SetReadDeadline(TServerSocketChannel::Clock::now() + options_.loginTimeout,
                                   "sem login em " + SecondsText(options_.loginTimeout));
        socket.SetWriteTimeout(options_.writeTimeout);
    }
    socket.OnRoundTrip([this, &name](std::int64_t count) {
        context_->Log(name + "ida e volta " + std::to_string(count));
    });
    bool loggedIn = false;  // this thread's own view, for the filters
    auto onLogin = [this, &connection, &socket, &loggedIn] {
        {
            std::lock_guard lock(mutex_);
            if (connection->evicted)
                return false;
            connection->loggedIn = true;
        }
        loggedIn = true;
        socket.ClearLimits();
        socket.SetReadTimeout(options_.idleTimeout);
        socket.SetWriteTimeout(options_.writeTimeout);
        return true;
    };
    try {
        if (options_.silent) {
            std::vector<std::uint8_t> buffer(65536);
            while (socket.Read(buffer) > 0) {
            }
        } else if (filters_ && filters_->Count() > 0) {
            // The filter channel answers the query and negotiates; the session sees plain bytes.
            // The filter query is counted as a message below whatever answers it.
            TTransportFilterFactory factory;
            factory.RegisterBuiltInFilters();
            if (options_.maxLoginBytes > 0) {
                const std::size_t bound = options_.maxLoginBytes + kLoginHandshakeAllowance;
                factory.RegisterFilter(FilterConstants::CompressionFilterId, [&loggedIn, bound] {
                    return std::make_unique<TLoginBoundCompressionFilter>(loggedIn, bound);
                });
            }
            TDBXFilterSocketChannel filtered(
                std::make_unique<TQueryCountingChannel>(socket, *context_, number), factory);
            {
                std::lock_guard lock(filtersMutex_);
                filtered.SetFilterList(filters_.get());
            }
            TServerSession session(filtered, *context_, number, false, &socket);
            session.OnLogin(onLogin);
            session.Run();
        } else {
            TQueryCountingChannel counted(socket, *context_, number);
            TServerSession session(counted, *context_, number, true, &socket);
            session.OnLogin(onLogin);
            session.Run();
        }
    } catch (const std::exception& e) {
        context_->Log(name + e.what());
    }
    if (!socket.Failure().empty())
        context_->Log(name + socket.Failure());
    // The last answers (a refused login's, an error reply that ends the connection) leave before
    // the close.
    socket.Flush();
    {
        std::lock_guard lock(mutex_);
        ::shutdown(connection->fd, SHUT_RDWR);
        ::close(connection->fd);
        connection->fd = -1;
    }
    const auto& record = *connection->record;
    context_->Log(name + std::to_string(record.RoundTrips()) + " idas e voltas, " +
                  std::to_string(record.Messages()) + " mensagens");
    context_->Log(name + "closed");
    connection->record->MarkClosed();
    connection->finished = true;
}

void TUpdateServer::Stop() {
    if (!started_)
        return;
    started_ = false;
    const char wake = 1;
    [[maybe_unused]] auto written = ::write(wake_[1], &wake, 1);
    acceptThread_.join();
    for (int fd : listeners_)
        ::close(fd);
    listeners_.clear();
    std::vector<std::shared_ptr<Connection>> running;
    {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_)
            if (c->fd >= 0)
                ::shutdown(c->fd, SHUT_RDWR);
        running.swap(connections_);
    }
    for (auto& c : running)
        c->thread.join();
    ::close(wake_[0]);
    ::close(wake_[1]);
    wake_[0] = wake_[1] = -1;
    const std::int64_t messages = context_->messages.load();
    context_->Log("stopped after " + std::to_string(messages) + " messages");
    if (!options_.messageCountFile.empty()) {
        std::FILE* file = std::fopen(options_.messageCountFile.c_str(), "w");
        if (file) {
            std::fprintf(file, "%lld\n", static_cast<long long>(messages));
            std::fclose(file);
        } else {
            context_->Log("cannot write " + options_.messageCountFile.string());
        }
    }
}

void TUpdateServer::CloseConnections() {
    std::lock_guard lock(mutex_);
    for (auto& c : connections_)
        if (c->fd >= 0)
            ::shutdown(c->fd, SHUT_RDWR);
}

std::size_t TUpdateServer::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

bool TUpdateServer::WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return accepted_.wait_for(lock, timeout, [&] { return records_.size() >= count; });
}

std::shared_ptr<TConnectionRecord> TUpdateServer::Record(std::size_t index) const {
    std::lock_guard lock(mutex_);
    return index < records_.size() ? records_[index] : nullptr;
}

std::vector<std::uint8_t> TUpdateServer::ReceivedBytes(std::size_t index) const {
    const auto record = Record(index);
    return record ? record->Bytes() : std::vector<std::uint8_t>{};
}

bool TUpdateServer::WaitConnectionClosed(std::size_t index,
                                         std::chrono::milliseconds timeout) const {
    const auto record = Record(index);
    return record && record->WaitClosed(timeout);
}

std::vector<std::u16string> TUpdateServer::Alerts() const {
    return store_ ? store_->Alerts() : std::vector<std::u16string>{};
}

int TUpdateServer::SendFileCalls() const {
    return context_ ? context_->sendFileCalls.load() : 0;
}

int TUpdateServer::Logins() const {
    return context_ ? context_->logins.load() : 0;
}

std::int64_t TUpdateServer::RoundTrips(std::size_t index) const {
    const auto record = Record(index);
    return record ? record->RoundTrips() : 0;
}

std::int64_t TUpdateServer::ConnectionMessages(std::size_t index) const {
    const auto record = Record(index);
    return record ? record->Messages() : 0;
}

std::int64_t TUpdateServer::MessageCount() const {
    return context_ ? context_->messages.load() : 0;
}

}  // namespace ab::server
