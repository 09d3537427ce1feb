// The server-method proxy against the bundled update server: the missing-link error, the class
// prefix taken from ConectadoServidorBrevant, commands prepared once and closed in their declared
// order, nothing closed for methods never called, SendFile's boolean both ways, errors unchanged.
#include <gtest/gtest.h>

#include <latch>
#include <regex>
#include <thread>

#include "RunFixture.h"
#include "app/ConnBrevant.h"
#include "app/TZvServerClient.h"
#include "app/UFuncoes.h"
#include "dbx/TDBXError.h"
#include "dbx/TOleVariant.h"
#include "transport/TSQLConnection.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;
using server::TServerKind;
using server::TServerOptions;

// ConnBrevant as the window designs it, opened on the server.
struct Linked {
    explicit Linked(TServerOptions o = {}) : s(std::move(o)) {
        DesignConnBrevant(conn);
        conn.BeforeConnect = [port = s.port](TSQLConnection& c) {
            ConnBrevantBeforeConnect(c, u"127.0.0.1", port);
        };
        conn.SetConnected(true);
    }
    // Closes the connection and returns what the server received on it.
    std::string Finish() {
        conn.SetConnected(false);
        s.server->WaitConnectionClosed(0, 10s);
        const Bytes b = s.server->ReceivedBytes(0);
        return std::string(b.begin(), b.end());
    }
    ServerUnderTest s;
    TSQLConnection conn;
};

std::size_t Count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// Command texts in the order their prepare messages were sent.
std::vector<std::string> Prepared(const std::string& received) {
    static const std::regex prepare(
        R"re(\{"method":"prepare","params":\[-?\d+,\w+,"[^"]*","([^"]*)")re");
    std::vector<std::string> out;
    for (std::sregex_iterator it(received.begin(), received.end(), prepare), end; it != end; ++it)
        out.push_back((*it)[1]);
    return out;
}

// Handles closed after the first prepare (before it only the connection's metadata query closes).
std::vector<int> Closed(const std::string& received) {
    static const std::regex close(R"re(\{"method":"command_close","params":\[(\d+)\]\})re");
    const auto first = received.find(R"("method":"prepare")");
    if (first == std::string::npos)
        return {};
    std::vector<int> out;
    for (std::sregex_iterator
             it(received.begin() + static_cast<std::ptrdiff_t>(first), received.end(), close),
         end;
         it != end; ++it)
        out.push_back(std::stoi((*it)[1]));
    return out;
}

TEST(TZvServerClient, RefusesAMissingLink) {
    try {
        TZvServerClient proxy(nullptr);
        FAIL() << "constructed";
    } catch (const EInvalidOperation& e) {
        EXPECT_EQ(e.Message(),
                  u"Connection cannot be nil.  Make sure the connection has been opened.");
    }
    TSQLConnection closed;
    EXPECT_THROW(TZvServerClient{closed.GetDBXConnection()}, EInvalidOperation);
}

TEST(TZvServerClient, ClassPrefixFollowsTheFlagWhenTheCommandIsCreated) {
    for (bool parent : {true, false}) {
        TServerOptions o;
        o.kind = parent ? TServerKind::Pai : TServerKind::Cliente;
        Linked l(o);
        ConectadoServidorBrevant = parent;
        {
            TZvServerClient proxy(l.conn.GetDBXConnection());
            EXPECT_EQ(proxy.PropertsFile(EncoderBase64(u"S01\\nada.txt")), u"");
            ConectadoServidorBrevant = !parent;  // a cached command keeps its class
            EXPECT_EQ(proxy.PropertsFile(EncoderBase64(u"S01\\nada.txt")), u"");
        }
        EXPECT_EQ(Prepared(l.Finish()),
                  std::vector<std::string>{parent ? "TZvServer.PropertsFile"
                                                  : "TZvClienteServer.PropertsFile"});
    }
    ConectadoServidorBrevant = false;
}

TEST(TZvServerClient, PreparesOnceAndClosesInDeclaredOrder) {
    Linked l;
    ConectadoServidorBrevant = true;
    WriteText(l.s.Store() / "S01" / "a.txt", "stored");
    {
        TZvServerClient proxy(l.conn.GetDBXConnection());
        const std::u16string a = EncoderBase64(u"S01\\a.txt");
        EXPECT_EQ(SubString(proxy.PropertsFile(a), u";", 0).size(), 14u);
        EXPECT_EQ(proxy.PropertsFile(EncoderBase64(u"S01\\b.txt")), u"");
        EXPECT_EQ(proxy.DataHoraBrevant().size(), 14u);
        EXPECT_TRUE(proxy.RemoveFile(u"S01\\a.txt"));
        EXPECT_FALSE(proxy.RemoveFile(u"S01\\a.txt"));
        EXPECT_TRUE(proxy.AlertarZvClientes(u"Atualizacao"));
    }
    const std::string received = l.Finish();
    EXPECT_EQ(Prepared(received),
              (std::vector<std::string>{"TZvServer.PropertsFile", "TZvServer.DataHoraBrevant",
                                        "TZvServer.RemoveFile", "TZvServer.AlertarZvClientes"}));
    EXPECT_EQ(Count(received, R"("method":"execute")"), 1u + 6u);  // the metadata query too
    // Handles were given in prepare order; the closes follow the declaration order:
    // AlertarZvClientes, DataHoraBrevant, RemoveFile, PropertsFile.
    const std::vector<int> closed = Closed(received);
    ASSERT_EQ(closed.size(), 4u);
    std::vector<int> byPrepare = closed;
    std::sort(byPrepare.begin(), byPrepare.end());
    EXPECT_EQ(closed, (std::vector<int>{byPrepare[3], byPrepare[1], byPrepare[2], byPrepare[0]}));
    EXPECT_FALSE(fs::exists(l.s.Store() / "S01" / "a.txt"));
    EXPECT_EQ(l.s.server->Alerts(), std::vector<std::u16string>{u"Atualizacao"});
    ConectadoServidorBrevant = false;
}

TEST(TZvServerClient, ProxyWithoutCallsClosesNothing) {
    Linked l;
    { TZvServerClient proxy(l.conn.GetDBXConnection()); }
    const std::string received = l.Finish();
    EXPECT_TRUE(Prepared(received).empty());
    EXPECT_EQ(Count(received, R"("method":"command_close")"), 1u);  // the metadata query's
}

TEST(TZvServerClient, SendFileReturnsTheServersBoolean) {
    TServerOptions o;
    o.sendFileFalseFirst = 1;
    Linked l(o);
    ConectadoServidorBrevant = true;
    RunUnderTest r(l.s.port);
    WriteText(r.Pacote() / "a.txt", "content");
    r.cds.EmptyDataSet();
    r.cds.Append();
    r.cds.FieldByName(u"Nome").SetAsString(u"S01\\a.txt");
    r.cds.FieldByName(u"DataHora")
        .SetAsDateTime(
            GetDateFile(FromUtf8((r.Pacote() / "a.txt").string()), TTipoDateFile::TdfModificao));
    r.cds.FieldByName(u"Arquivo").LoadFromFile(FromUtf8((r.Pacote() / "a.txt").string()));
    r.cds.Post();
    const TOleVariant dados = TOleVariant::ByteArray(r.cds.Data());
    {
        TZvServerClient proxy(l.conn.GetDBXConnection());
        EXPECT_FALSE(proxy.SendFile(dados, true));
        EXPECT_TRUE(proxy.SendFile(dados, true));
    }
    const std::string received = l.Finish();
    EXPECT_EQ(Prepared(received), std::vector<std::string>{"TZvServer.SendFile"});
    EXPECT_EQ(ReadBytes(l.s.Store() / "S01" / "a.txt"), ReadBytes(r.Pacote() / "a.txt"));
    EXPECT_EQ(MTime(l.s.Store() / "S01" / "a.txt"), kStamp);
    ConectadoServidorBrevant = false;
}

// Four connections, each on its own thread with its own connection component, record set and
// proxies, publish different files to one server at the same time: a large file (pulled in
// segments) and a small one each. Every stored file equals its source, time stamp included.
TEST(TZvServerClient, FourConnectionsPublishAtOnce) {
    constexpr int kClients = 4;
    ServerUnderTest s;
    TempDir sources("fontes");
    ConectadoServidorBrevant = true;  // read by every proxy, written by none while they run
    struct File {
        std::u16string name;
        fs::path source;
    };
    std::vector<std::vector<File>> files(kClients);
    for (int i = 0; i < kClients; ++i) {
        for (const auto& [tag, size] :
             {std::pair{"grande", 3'000'000 + 1001 * i}, std::pair{"pequeno", 2000 + 7 * i}}) {
            const std::string name = "c" + std::to_string(i) + "-" + tag + ".bin";
            const fs::path source = sources.Path() / name;
            WriteFile(source, Pattern(static_cast<std::size_t>(size), 100u + i));
            files[static_cast<std::size_t>(i)].push_back({u"S01\\" + FromUtf8(name), source});
        }
    }
    std::vector<std::string> failures(kClients);
    std::latch connected(kClients);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i] {
            std::string& failure = failures[static_cast<std::size_t>(i)];
            bool arrived = false;
            try {
                TSQLConnection conn;
                DesignConnBrevant(conn);
                conn.BeforeConnect = [port = s.port](TSQLConnection& c) {
                    ConnBrevantBeforeConnect(c, u"127.0.0.1", port);
                };
                conn.SetConnected(true);
                connected.arrive_and_wait();  // every connection open before any file goes
                arrived = true;
                TClientDataSet cds{std::u16string(kSendFileDataSetName)};
                AddSendFileFields(cds);
                cds.CreateDataSet();
                for (const File& f : files[static_cast<std::size_t>(i)]) {
                    const std::u16string source = FromUtf8(f.source.string());
                    TZvServerClient proxy(conn.GetDBXConnection());
                    if (!proxy.PropertsFile(EncoderBase64(f.name)).empty())
                        failure += "a copy existed before; ";
                    cds.EmptyDataSet();
                    cds.Append();
                    cds.FieldByName(u"Nome").SetAsString(f.name);
                    cds.FieldByName(u"DataHora")
                        .SetAsDateTime(GetDateFile(source, TTipoDateFile::TdfModificao));
                    cds.FieldByName(u"Arquivo").LoadFromFile(source);
                    cds.Post();
                    if (!proxy.SendFile(TOleVariant::ByteArray(cds.Data()), true))
                        failure += "SendFile answered false; ";
                    if (proxy.PropertsFile(EncoderBase64(f.name)).empty())
                        failure += "no stamp after the send; ";
                }
                conn.SetConnected(false);
            } catch (const Exception& e) {
                failure += ToUtf8(e.Message());
            }
            if (!arrived)
                connected.count_down();
        });
    }
    for (auto& t : threads)
        t.join();
    ConectadoServidorBrevant = false;
    for (int i = 0; i < kClients; ++i)
        EXPECT_EQ(failures[static_cast<std::size_t>(i)], "") << "client " << i;
    EXPECT_EQ(s.server->ConnectionCount(), static_cast<std::size_t>(kClients));
    for (const auto& own : files) {
        for (const File& f : own) {
            const fs::path stored = s.Store() / "S01" / f.source.filename();
            EXPECT_TRUE(ReadBytes(stored) == ReadBytes(f.source)) << stored;
            EXPECT_EQ(MTime(stored), kStamp) << stored;
        }
    }
}

TEST(TZvServerClient, ServerErrorsPassUnchanged) {
    Linked l;
    ConectadoServidorBrevant = true;
    TZvServerClient proxy(l.conn.GetDBXConnection());
    try {
        proxy.DSServerModuleCreate(nullptr);
        FAIL() << "the server has no such method";
    } catch (const TDBXError& e) {
        EXPECT_FALSE(e.Message().empty());
    }
    ConectadoServidorBrevant = false;
}

}  // namespace
}  // namespace ab::testing
