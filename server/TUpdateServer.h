// The bundled update server: listens on TCP (IPv4 and IPv6 loopback by default), serves each
// connection on its own thread with a TServerSession, and stops cleanly. Usable in-process by
// tests: Start() returns the bound port; the record of each connection's received bytes, the
// alerts, the message count and the store are reachable from here. Stop writes the message count
// to TServerOptions::messageCountFile when one is named.
//
//   TServerOptions o; o.port = 0; o.root = dir; o.keepReceived = true;
//   TUpdateServer server(o);
//   const std::uint16_t port = server.Start();
//   ... connect to 127.0.0.1:port ...
//   server.WaitConnectionClosed(0, 5s); auto bytes = server.ReceivedBytes(0);
//   server.Stop();
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Exception.h"
#include "server/TServerOptions.h"

namespace ab {
class TTransportFilterCollection;
}

namespace ab::server {

class TFileStore;
class TConnectionRecord;
struct TServerContext;

// Start-up failures: the store, the listening socket, the filters.
class EServerError : public Exception {
  public:
    using Exception::Exception;
    const char* ClassName() const noexcept override { return "EServerError"; }
};

class TUpdateServer {
  public:
    explicit TUpdateServer(TServerOptions options);
    ~TUpdateServer();
    TUpdateServer(const TUpdateServer&) = delete;
    TUpdateServer& operator=(const TUpdateServer&) = delete;

    // Binds and starts accepting; returns the port. EServerError when it cannot.
    std::uint16_t Start();
    // Closes the listening sockets and every connection, and waits for their threads.
    void Stop();

    // Closes every open connection (as a server going away would) and keeps listening.
    void CloseConnections();

    std::uint16_t Port() const { return port_; }
    const TServerOptions& Options() const { return options_; }

    // Connections accepted so far; index 0 is the first.
    std::size_t ConnectionCount() const;
    bool WaitForConnections(std::size_t count, std::chrono::milliseconds timeout) const;
    // The bytes connection `index` received so far (empty unless keepReceived is set).
    std::vector<std::uint8_t> ReceivedBytes(std::size_t index) const;
    // true once the server has closed connection `index` (its session ended).
    bool WaitConnectionClosed(std::size_t index, std::chrono::milliseconds timeout) const;
    // Alerts received, in order.
    std::vector<std::u16string> Alerts() const;
    // SendFile executions so far, the injected failures included.
    int SendFileCalls() const;
    // Logins accepted or refused by the refuse-after count so far (0 without that knob).
    int Logins() const;
    // Messages received so far from every connection (see TServerOptions::dropAtMessage).
    std::int64_t MessageCount() const;
    // Round trips of connection `index` so far (see TServerSocketChannel), and the messages it
    // received.
    std::int64_t RoundTrips(std::size_t index) const;
    std::int64_t ConnectionMessages(std::size_t index) const;

  private:
    struct Connection;
    void AcceptLoop();
    void Serve(const std::shared_ptr<Connection>& connection, int number);
    // With the server's mutex held, before a connection is accepted: true when it may be served,
    // after closing the oldest connection not logged in when needed.
    bool MakeRoom();
    void Bind();
    std::shared_ptr<TConnectionRecord> Record(std::size_t index) const;

    TServerOptions options_;
    std::unique_ptr<TFileStore> store_;
    std::unique_ptr<TServerContext> context_;
    // The filters every connection announces (none when empty); cloned per connection.
    std::unique_ptr<TTransportFilterCollection> filters_;
    std::mutex filtersMutex_;
    std::vector<int> listeners_;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread acceptThread_;
    bool started_ = false;

    mutable std::mutex mutex_;
    mutable std::condition_variable accepted_;
    std::vector<std::shared_ptr<Connection>> connections_;
    std::vector<std::shared_ptr<TConnectionRecord>> records_;
};

}  // namespace ab::server
