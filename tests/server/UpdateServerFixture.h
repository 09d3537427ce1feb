// A fixture with an update server in-process on a free loopback port, its store in a temporary
// folder, and the client steps most tests begin with.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "ServerMessages.h"
#include "ServerTestSupport.h"
#include "server/TUpdateServer.h"

namespace ab::server::test {

// The five-byte filter query, answered with no filter.
inline void Handshake(RawClient& c) {
    c.Send(Hex("05 05 05 05 05"));
    ASSERT_EQ(c.Read(5), Hex("06 00 00 00 00"));
}

// Handshake and login of a client that does not check the connect reply's handle, then the
// prepare of one method (the connection's first command, handle 1).
inline void LoginAndPrepare(RawClient& c, std::uint16_t port, const std::string& method) {
    Handshake(c);
    c.Send(ConnectMessage(port));
    ASSERT_TRUE(c.ReadUntil("]}").starts_with(R"({"result":[)"));
    c.Send(Prepare(method));
    ASSERT_TRUE(c.ReadUntil("]]}]}").starts_with(R"({"result":[{"handle":[1]})"));
}

class UpdateServerFixture : public ::testing::Test {
  protected:
    std::uint16_t Start(TServerOptions o = {}) {
        o.port = 0;
        o.root = dir_.Path() / "root";
        o.keepReceived = true;
        server_ = std::make_unique<TUpdateServer>(o);
        port_ = server_->Start();
        return port_;
    }
    std::filesystem::path Root() const { return dir_.Path() / "root"; }

    // Filter query and connect message of the run; the connect reply is checked.
    void Login(RawClient& c, int expectedHandle = 1) {
        Handshake(c);
        c.Send(ConnectMessage(port_));
        const std::string reply =
            "{\"result\":[" + std::to_string(expectedHandle) + ",\"AtualizadorServidor\",2]}";
        ASSERT_EQ(c.ReadText(reply.size()), reply);
    }

    // Prepares a method and returns the reply text.
    std::string PrepareText(RawClient& c, const std::string& text, std::size_t replySize) {
        c.Send(Prepare(text));
        return c.ReadText(replySize);
    }

    TempDir dir_;
    std::unique_ptr<TUpdateServer> server_;
    std::uint16_t port_ = 0;
};

}  // namespace ab::server::test
