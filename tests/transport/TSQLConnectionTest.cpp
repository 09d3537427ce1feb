// Connection component and client connection against a scripted server over loopback TCP: the
// property list order, the exact handshake bytes, reply forms, refusals, vendor properties,
// disconnect, reconnect, timeouts, and a call or connect ended from another thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <optional>
#include <thread>

#include "FullBacklogListener.h"
#include "ScriptedServer.h"
#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/EDBXComponentError.h"
#include "transport/ESocketError.h"
#include "transport/TDBXClientConnection.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXConnectionFactory.h"
#include "transport/TSQLConnection.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

using test::Handshake;
using test::ScriptedServer;
using test::Step;

const char16_t kLoader[] =
    u"Loader.Assembly,Version=1.0.0.0,Culture=neutral,PublicKeyToken=0123456789abcdef";
const char16_t kPassword[] = u"0123456789ABCDEF0123456789ABCDEF";

// The designed parameter list and the before-connect event of the updater's window.
void Design(TSQLConnection& conn, int port, std::u16string host = u"127.0.0.1") {
    conn.SetDriverName(u"DataSnap");
    conn.SetConnectionName(u"DataSnapCONNECTION");
    auto& p = conn.Params();
    p.Lines() = {u"DriverUnit=Data.DBXDataSnap",
                 u"CommunicationProtocol=tcp/ip",
                 u"DatasnapContext=datasnap/",
                 std::u16string(u"DriverAssemblyLoader=") + kLoader,
                 u"DriverName=DataSnap",
                 u"HostName=localhost",
                 u"port=211",
                 u"Filters={}",
                 u"DSProxyPort=8080",
                 u"DSAuthenticationPassword=" + std::u16string(68, u'A'),
                 u"DSAuthenticationUser=designer"};
    conn.BeforeConnect = [port, host](TSQLConnection& c) {
        c.Params().SetValue(u"HostName", Trim(host));
        c.Params().SetValue(u"Port", IntToStr(port));
        c.Params().SetValue(u"DSAuthenticationUser", u"Atualizador");
        c.Params().SetValue(u"DSAuthenticationPassword", kPassword);
    };
}

std::string ConnectMessage(int port, const std::string& hostPairLast = "") {
    std::string m = R"({"method":"connect","params":[{"DriverUnit":"Data.DBXDataSnap",)"
                    R"("CommunicationProtocol":"tcp/ip","DatasnapContext":"datasnap/",)"
                    R"("DriverAssemblyLoader":")" +
                    ToUtf8(kLoader) + R"(","DriverName":"DataSnap",)";
    if (hostPairLast.empty())
        m += R"("HostName":"127.0.0.1",)";
    m += R"("Port":")" + std::to_string(port) +
         R"(","Filters":"{}","DSProxyPort":"8080","DSAuthenticationPassword":")" +
         ToUtf8(kPassword) + R"(","DSAuthenticationUser":"Atualizador")" + hostPairLast + "}]}";
    return m;
}

template <class E>
E Raised(const std::function<void()>& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "nothing raised";
    return E(0, u"");
}

TEST(TSQLConnection, PropertyListOrderAndDriverDefaults) {
    TSQLConnection conn;
    Design(conn, 3000);
    conn.BeforeConnect(conn);
    TDBXProperties list =
        TDBXConnectionFactory::Instance().CompleteProperties(conn.BuildConnectionProperties());
    const std::vector<std::u16string> expected{
        u"DriverUnit=Data.DBXDataSnap",
        u"CommunicationProtocol=tcp/ip",
        u"DatasnapContext=datasnap/",
        std::u16string(u"DriverAssemblyLoader=") + kLoader,
        u"DriverName=DataSnap",
        u"HostName=127.0.0.1",
        u"Port=3000",
        u"Filters={}",
        u"DSProxyPort=8080",
        std::u16string(u"DSAuthenticationPassword=") + kPassword,
        u"DSAuthenticationUser=Atualizador"};
    EXPECT_EQ(list.Lines(), expected);
    EXPECT_EQ(list.GetValue(u"DriverAssemblyLoader"), kLoader);

    // An empty address deletes HostName; the default loopback line is appended at the end.
    conn.Params().SetValue(u"HostName", u"");
    list = TDBXConnectionFactory::Instance().CompleteProperties(conn.BuildConnectionProperties());
    EXPECT_EQ(list.Lines().back(), u"HostName=localhost");
    EXPECT_EQ(list.Count(), 11);

    // A list without DriverName gets the component's; the other defaults fill in at the end.
    TSQLConnection bare;
    bare.SetDriverName(u"datasnap");
    bare.Params().Lines() = {u"Port=1"};
    list = TDBXConnectionFactory::Instance().CompleteProperties(bare.BuildConnectionProperties());
    EXPECT_EQ(list.Lines(), (std::vector<std::u16string>{
                                u"Port=1", u"DriverName=datasnap", u"DriverUnit=Data.DbxDatasnap",
                                u"HostName=localhost", u"CommunicationProtocol=tcp/ip", u"Filters=",
                                u"DatasnapContext=datasnap/"}));
}

TEST(TSQLConnection, DriverErrorsLeaveTheComponentClosed) {
    TSQLConnection conn;
    conn.Params().Lines() = {u"HostName=x"};
    try {
        conn.SetConnected(true);
        FAIL();
    } catch (const EDBXComponentError& e) {
        EXPECT_EQ(e.Message(), u"Missing DriverName property");
    }
    EXPECT_EQ(conn.Params().Lines(), (std::vector<std::u16string>{u"HostName=x"}));
    conn.SetDriverName(u"Nothing");
    const auto e = Raised<TDBXError>([&] { conn.SetConnected(true); });
    EXPECT_EQ(e.ErrorCode(), 22);
    EXPECT_EQ(e.Message(), u"Unknown driver:  Nothing");
    EXPECT_FALSE(conn.GetConnected());
    EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
}

TEST(TSQLConnection, ConnectAndDisconnectBytes) {
    ScriptedServer server({Handshake(R"({"result":[7,"Server",2,"extra",{"x":[1]}]})")});
    TSQLConnection conn;
    Design(conn, server.Port(), u"  127.0.0.1 ");
    int before = 0;
    conn.BeforeConnect = [inner = conn.BeforeConnect, &before](TSQLConnection& c) {
        ++before;
        inner(c);
    };
    conn.SetConnected(true);
    conn.SetConnected(true);  // already connected: nothing happens
    EXPECT_EQ(before, 1);
    ASSERT_TRUE(conn.GetConnected());
    EXPECT_EQ(conn.GetProductName(), u"Server");
    auto* link = static_cast<TDBXClientConnection*>(conn.GetDBXConnection());
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->GetConnectionHandle(), 7);
    EXPECT_EQ(link->GetProtocolVersion(), 2);
    EXPECT_EQ(link->GetBufferSize(), 32768);
    ASSERT_NE(link->GetDatabaseMetaData(), nullptr);
    EXPECT_EQ(link->GetDatabaseMetaData()->QuoteChar, u"\"");
    EXPECT_EQ(link->GetDatabaseMetaData()->MaxCommands, 5);
    EXPECT_TRUE(link->GetDatabaseMetaData()->SupportsRowSetSize);
    EXPECT_FALSE(link->GetDatabaseMetaData()->SupportsTransactions);
    EXPECT_EQ(link->GetDatabaseMetaData()->MetaDataVersion, u"3.0");
    EXPECT_EQ(link->CommandCount(), 0);
    conn.SetConnected(false);
    EXPECT_FALSE(conn.GetConnected());
    EXPECT_EQ(conn.GetDBXConnection(), nullptr);
    EXPECT_EQ(server.Received(0), test::kQuery + ConnectMessage(server.Port()) +
                                      test::kMetadataRequest + test::kMetadataClose +
                                      R"({"method":"disconnect","params":[7]})");
}

TEST(TSQLConnection, ReplyFormsAndVendorProperties) {
    // Protocol version 0: vendor properties are empty and nothing is sent.
    {
        ScriptedServer server({Handshake(R"({"result":[7,"Server"]})")});
        TSQLConnection conn;
        Design(conn, server.Port());
        conn.SetConnected(true);
        auto* link = static_cast<TDBXClientConnection*>(conn.GetDBXConnection());
        EXPECT_EQ(link->GetProtocolVersion(), 0);
        EXPECT_EQ(link->GetVendorProperty(u"Version"), u"");
        conn.SetConnected(false);
        const std::string got = server.Received(0);
        EXPECT_EQ(got.find("vendor_property"), std::string::npos);
    }
    // Version 2: one request per name, repeats answered from the cache.
    {
        auto steps = Handshake(R"({"result":[7,"Server",2]})");
        steps.push_back({R"(["Version"]})", R"({"result":["1.0"]})"});
        steps.push_back({R"(["Other"]})", R"({"result":[""]})"});
        ScriptedServer server({steps});
        TSQLConnection conn;
        Design(conn, server.Port());
        conn.SetConnected(true);
        auto* link = conn.GetDBXConnection();
        EXPECT_EQ(link->GetVendorProperty(u"Version"), u"1.0");
        EXPECT_EQ(link->GetVendorProperty(u"version"), u"1.0");
        EXPECT_EQ(link->GetVendorProperty(u"Other"), u"");
        EXPECT_EQ(link->GetVendorProperty(u"Other"), u"");
        conn.SetConnected(false);
        const std::string got = server.Received(0);
        EXPECT_NE(got.find(R"({"method":"vendor_property","params":["Version"]})"
                           R"({"method":"vendor_property","params":["Other"]})"
                           R"({"method":"disconnect","params":[7]})"),
                  std::string::npos);
    }
}

TEST(TSQLConnection, RefusedConnectsLeaveNothingOpen) {
    struct Case {
        const char* name;
        std::string reply;
        int code;
        std::u16string message;
    } cases[] = {
        {"space before the handle", R"({"result":[ 7,"Server"]})", 2, u""},
        {"bad credentials",
         R"({"error":{"name":"TDBXError","code":12,"message":"Invalid user or password"})", 12,
         u"Invalid user or password"},
        {"error without code or message", R"({"error":{"name":"E"})", 2, u"unknown error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({{{"", test::kNoFilter}, {"}]}", c.reply}}});
        TSQLConnection conn;
        Design(conn, server.Port());
        const auto e = Raised<TDBXError>([&] { conn.SetConnected(true); });
        EXPECT_EQ(e.ErrorCode(), c.code);
        if (!c.message.empty()) {
            EXPECT_EQ(e.Message(), c.message);
        }
        EXPECT_FALSE(conn.GetConnected());
        EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
        // The TCP connection is closed and no disconnect was sent.
        EXPECT_EQ(server.Received(0), test::kQuery + ConnectMessage(server.Port()));
        // The before-connect changes stay.
        EXPECT_EQ(conn.Params().GetValue(u"DSAuthenticationUser"), u"Atualizador");
    }
}

TEST(TSQLConnection, FailedMetadataQuerySendsTheDisconnect) {
    ScriptedServer server(
        {{{"", test::kNoFilter},
          {"}]}", R"({"result":[9,"S"]})"},
          {"]}]}", R"({"error":{"name":"E","code":101,"message":"no metadata"})"}}});
    TSQLConnection conn;
    Design(conn, server.Port());
    const auto e = Raised<TDBXError>([&] { conn.SetConnected(true); });
    EXPECT_EQ(e.ErrorCode(), 101);
    EXPECT_EQ(e.Message(), u"no metadata");
    EXPECT_FALSE(conn.GetConnected());
    EXPECT_EQ(server.Received(0), test::kQuery + ConnectMessage(server.Port()) +
                                      test::kMetadataRequest +
                                      R"({"method":"disconnect","params":[9]})");
}

TEST(TSQLConnection, DisconnectAfterTheServerClosedAndReconnect) {
    // The server closes once the connect is complete, metadata close included: the client has
    // nothing to read or write until the disconnect, so it cannot have noticed.
    auto first = Handshake(R"({"result":[1,"S"]})");
    first.push_back({R"("params":[3]})", "", true});
    ScriptedServer server({first, Handshake(R"({"result":[2,"S"]})")});
    TSQLConnection conn;
    Design(conn, server.Port());
    conn.SetConnected(true);
    auto* old = conn.GetDBXConnection();
    ASSERT_NE(old, nullptr);
    EXPECT_NO_THROW(conn.SetConnected(false));  // the disconnect cannot be delivered: ignored
    EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
    conn.SetConnected(true);
    ASSERT_TRUE(conn.GetConnected());
    EXPECT_EQ(static_cast<TDBXClientConnection*>(conn.GetDBXConnection())->GetConnectionHandle(),
              2);
    conn.SetConnected(false);
    EXPECT_EQ(server.Connections(), 2);
    EXPECT_EQ(server.Received(1), test::kQuery + ConnectMessage(server.Port()) +
                                      test::kMetadataRequest + test::kMetadataClose +
                                      R"({"method":"disconnect","params":[2]})");
}

TEST(TSQLConnection, SilentServerWithConnectTimeout) {
    ScriptedServer server({std::vector<Step>{Step{"", ""}}});
    TSQLConnection conn;
    Design(conn, server.Port());
    conn.Params().Add(u"ConnectTimeout", u"500");
    const auto start = std::chrono::steady_clock::now();
    const auto e = Raised<TDBXError>([&] { conn.SetConnected(true); });
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    EXPECT_EQ(e.ErrorCode(), 0);
    EXPECT_EQ(e.Message(), u"Connection timeout error");
    EXPECT_GE(ms, 450);
    EXPECT_LT(ms, 5000);
    EXPECT_FALSE(conn.GetConnected());
}

TEST(TSQLConnection, BufferSizeFromBufferKBSize) {
    struct Case {
        const char16_t* value;
        int bytes;
    } cases[] = {{u"", 32768}, {u"0", 32768}, {u"-4", 32768}, {u"64", 65536}};
    for (const auto& c : cases) {
        ScriptedServer server({Handshake()});
        TSQLConnection conn;
        Design(conn, server.Port());
        conn.Params().SetValue(u"BufferKBSize", c.value);
        conn.SetConnected(true);
        EXPECT_EQ(static_cast<TDBXClientConnection*>(conn.GetDBXConnection())->GetBufferSize(),
                  c.bytes);
        conn.SetConnected(false);
    }
}

long long MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// A server that goes silent after the connect: the call waiting for its answer ends by Abort from
// another thread or by "CommunicationTimeout". The connection is then lost: dropping it writes
// nothing more (no command close, no disconnect), and the next connect runs the whole sequence on
// a new TCP connection.
TEST(TSQLConnection, ACallOnASilentServerEndsByAbortOrCommunicationTimeout) {
    const std::string prepare =
        R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.PropertsFile"]})";
    struct Case {
        const char* name;
        const char16_t* communicationTimeout;
        int code;
        std::u16string message;
    } cases[] = {
        {"abort", nullptr, 1, u"Read error"},
        {"communication timeout", u"300", 0, u"Communication timeout error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto silent = Handshake(R"({"result":[1,"S"]})");
        silent.push_back({"PropertsFile\"]}", ""});
        ScriptedServer server({silent, Handshake(R"({"result":[2,"S"]})")});
        TSQLConnection conn;
        Design(conn, server.Port());
        int before = 0;
        conn.BeforeConnect = [inner = conn.BeforeConnect, &before](TSQLConnection& cn) {
            ++before;
            inner(cn);
        };
        if (c.communicationTimeout)
            conn.Params().Add(u"CommunicationTimeout", c.communicationTimeout);
        conn.SetConnected(true);

        std::optional<TDBXError> error;
        std::atomic<bool> returned{false};
        const auto start = std::chrono::steady_clock::now();
        std::thread call([&, link = conn.GetDBXConnection()] {
            try {
                auto command = link->CreateCommand();
                command->SetCommandType(u"DataSnap.ServerMethod");
                command->SetText(u"TZvServer.PropertsFile");
                command->Prepare();
            } catch (const TDBXError& e) {
                error = e;
            }
            returned = true;
        });
        auto ended = start;
        if (!c.communicationTimeout) {
            std::this_thread::sleep_for(200ms);
            EXPECT_FALSE(returned) << "did not block";
            ended = std::chrono::steady_clock::now();
            conn.Abort();
        }
        call.join();
        const long long ms = MillisecondsSince(ended);
        if (c.communicationTimeout) {
            EXPECT_GE(ms, 280);
            EXPECT_LT(ms, 2000);
        } else {
            EXPECT_LT(ms, 500);
        }
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->ErrorCode(), c.code);
        EXPECT_EQ(error->Message(), c.message);

        EXPECT_FALSE(conn.GetConnected());
        EXPECT_EQ(conn.GetDBXConnection(), nullptr);
        conn.SetConnected(true);
        EXPECT_EQ(before, 2);
        ASSERT_TRUE(conn.GetConnected());
        EXPECT_EQ(
            static_cast<TDBXClientConnection*>(conn.GetDBXConnection())->GetConnectionHandle(), 2);
        conn.SetConnected(false);
        std::string connect = ConnectMessage(server.Port());
        if (c.communicationTimeout)
            connect.insert(connect.size() - 3, R"(,"CommunicationTimeout":"300")");
        const std::string opening =
            test::kQuery + connect + test::kMetadataRequest + test::kMetadataClose;
        EXPECT_EQ(server.Received(0), opening + prepare);
        EXPECT_EQ(server.Received(1), opening + R"({"method":"disconnect","params":[2]})");
    }
}

// A connect whose SYNs go unanswered: "ConnectTimeout" ends it with the first read's error, and
// Abort from another thread ends it promptly with or without that deadline.
TEST(TSQLConnection, ATcpConnectEndsByConnectTimeoutOrAbort) {
    test::FullBacklogListener swallower;
    if (!swallower.Hangs())
        GTEST_SKIP() << "this kernel answers a connect to a full accept queue at once";
    struct Case {
        const char* name;
        const char16_t* connectTimeout;
        bool abort;
    } cases[] = {
        {"connect timeout", u"300", false},
        {"abort, connect without a deadline", nullptr, true},
        {"abort, connect with a deadline", u"10000", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TSQLConnection conn;
        Design(conn, swallower.Port());
        if (c.connectTimeout)
            conn.Params().Add(u"ConnectTimeout", c.connectTimeout);
        std::exception_ptr error;
        std::atomic<bool> returned{false};
        const auto start = std::chrono::steady_clock::now();
        std::thread connecting([&] {
            try {
                conn.SetConnected(true);
            } catch (...) {
                error = std::current_exception();
            }
            returned = true;
        });
        auto ended = start;
        if (c.abort) {
            std::this_thread::sleep_for(200ms);
            EXPECT_FALSE(returned) << "did not block";
            ended = std::chrono::steady_clock::now();
            conn.Abort();
        }
        connecting.join();
        const long long ms = MillisecondsSince(ended);
        ASSERT_TRUE(error);
        if (c.abort) {
            EXPECT_LT(ms, 500);
            const auto e = Raised<ESocketError>([&] { std::rethrow_exception(error); });
            EXPECT_EQ(e.LastError(), ECONNABORTED);
        } else {
            EXPECT_GE(ms, 280);
            EXPECT_LT(ms, 1000);
            const auto e = Raised<TDBXError>([&] { std::rethrow_exception(error); });
            EXPECT_EQ(e.ErrorCode(), 0);
            EXPECT_EQ(e.Message(), u"Connection timeout error");
        }
        EXPECT_FALSE(conn.GetConnected());
        EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
    }
}

}  // namespace
}  // namespace ab
