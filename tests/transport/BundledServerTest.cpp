// The connection and the server-method commands against the bundled update server over loopback
// TCP: the bytes the server received, reply forms, refused logins, metadata, the echo probe on
// both server kinds, the publishing calls with a 5,000,000-byte file, reconnecting after a drop,
// a lost connection noticed, a server error that is not a loss, a silent server, Abort from
// another thread, and disconnecting after the server went away.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

#include "BundledServer.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXFileByteSource.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXWritableValue.h"
#include "dbx/TOleVariant.h"
#include "packet/SendFileDataSet.h"
#include "platform/DateTime.h"
#include "platform/EReadError.h"
#include "platform/TLocalFile.h"
#include "platform/Text.h"
#include "server/TUpdateServer.h"
#include "transport/ESocketError.h"
#include "transport/TDBXClientConnection.h"
#include "transport/TDBXCommand.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using server::TServerKind;
using server::TServerOptions;
using server::TUpdateServer;
using test::Bytes;
using test::Call;
using test::DesignUpdater;
using test::Occurrences;
using test::PropertsFile;
using test::Server;
using test::TempDir;

bool BoolCall(TDBXConnection& link, const std::u16string& method, const std::u16string& arg) {
    return Call(
        link, method,
        [&](TDBXParameterList& p) { p.GetParameterByOrdinal(0).GetValue().SetWideString(arg); },
        [](TDBXParameterList& p) { return p.GetParameterByOrdinal(1).GetValue().GetBoolean(); });
}

bool SendFile(TDBXConnection& link, const std::u16string& prefix, Bytes packet) {
    return Call(
        link, prefix + u"SendFile",
        [&](TDBXParameterList& p) {
            p.GetParameterByOrdinal(0).GetValue().SetAsVariant(
                TOleVariant::ByteArray(std::move(packet)));
            p.GetParameterByOrdinal(1).GetValue().SetBoolean(true);
        },
        [](TDBXParameterList& p) { return p.GetParameterByOrdinal(2).GetValue().GetBoolean(); });
}

// A one-row data packet from the record set, as the publishing run builds it.
// The send-file record set holding one row: the name, a fixed stamp and the file's content, loaded
// whole or left in the file.
void FillSendFileSet(TClientDataSet& ds, const std::u16string& name, const fs::path& file,
                     bool deferred) {
    auto fields = AddSendFileFields(ds);
    ds.CreateDataSet();
    ds.Append();
    fields.Nome.SetAsString(name);
    fields.DataHora.SetAsDateTime(EncodeDateTime({2015, 12, 10, 8, 30, 0, 0}));
    if (deferred)
        fields.Arquivo.LoadFromFileDeferred(FromUtf8(file.string()));
    else
        fields.Arquivo.LoadFromFile(FromUtf8(file.string()));
    ds.Post();
}

Bytes Packet(const std::u16string& name, const Bytes& content, const fs::path& scratch) {
    const fs::path file = scratch / "content.bin";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    TClientDataSet ds{std::u16string(kSendFileDataSetName)};
    FillSendFileSet(ds, name, file, false);
    return ds.Data();
}

Bytes RandomBytes(std::size_t n) {
    std::mt19937 rng(1234);
    Bytes b(n);
    for (auto& x : b)
        x = static_cast<std::uint8_t>(rng());
    return b;
}

Bytes ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::u16string Echo(TSQLConnection& conn, const std::u16string& text) {
    TSqlServerMethod echo;
    echo.SetSQLConnection(&conn);
    echo.SetServerMethodName(u"TZvServer.EchoString");
    auto& value =
        echo.Params().CreateParam(TParamDataType::ftWideString, u"Value", TParamType::ptInput);
    value.Precision = 2000;
    auto& ret = echo.Params().CreateParam(TParamDataType::ftWideString, u"ReturnParameter",
                                          TParamType::ptResult);
    ret.Precision = 2000;
    ret.Size = 2000;
    value.SetAsWideString(text);
    echo.ExecuteMethod();
    echo.Close();
    return ret.AsWideString();
}

TEST(BundledServer, HandshakeBytesAsReceivedAndReplyForms) {
    for (int version : {2, -1}) {
        TServerOptions o;
        o.protocolVersion = version;
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        auto* link = static_cast<TDBXClientConnection*>(conn.GetDBXConnection());
        ASSERT_NE(link, nullptr);
        EXPECT_GE(link->GetConnectionHandle(), 0);
        EXPECT_EQ(conn.GetProductName(), u"AtualizadorServidor");
        EXPECT_EQ(link->GetProtocolVersion(), version < 0 ? 0 : version);
        ASSERT_NE(link->GetDatabaseMetaData(), nullptr);
        const std::int32_t handle = link->GetConnectionHandle();
        conn.SetConnected(false);
        const std::string got = s.Received(0);
        const std::string expectedStart =
            std::string(5, '\x05') +
            R"({"method":"connect","params":[{"DriverUnit":"Data.DBXDataSnap",)"
            R"("CommunicationProtocol":"tcp/ip","DatasnapContext":"datasnap/",)"
            R"("DriverAssemblyLoader":"Loader.Assembly,Version=1.0.0.0","DriverName":"DataSnap",)"
            R"("HostName":"127.0.0.1","Port":")" +
            std::to_string(s.port) +
            R"(","Filters":"{}","DSProxyPort":"8080","DSAuthenticationPassword":")" +
            ToUtf8(server::DefaultPassword()) +
            R"(","DSAuthenticationUser":"Atualizador"}]})"
            R"({"method":"execute","params":[{"fields":[-1,false,"Dbx.MetaData","GetDatabase"]}]})";
        EXPECT_EQ(got.substr(0, expectedStart.size()), expectedStart);
        const std::string disconnect =
            R"({"method":"disconnect","params":[)" + std::to_string(handle) + "]}";
        ASSERT_GE(got.size(), disconnect.size());
        EXPECT_EQ(got.substr(got.size() - disconnect.size()), disconnect);
    }
}

TEST(BundledServer, RefusedLoginClosesWithoutDisconnect) {
    TServerOptions o;
    o.refuseLogin = true;
    Server s(o);
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    try {
        conn.SetConnected(true);
        FAIL() << "connected";
    } catch (const TDBXError& e) {
        EXPECT_FALSE(e.Message().empty());
    }
    EXPECT_FALSE(conn.GetConnected());
    EXPECT_TRUE(s.server->WaitConnectionClosed(0, 10s));
    EXPECT_EQ(s.Received(0).find("disconnect"), std::string::npos);
}

TEST(BundledServer, EchoTellsTheServerKindApart) {
    {
        Server s;
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        EXPECT_EQ(Echo(conn, u"Atualização"), u"Atualização");
    }
    {
        TServerOptions o;
        o.kind = TServerKind::Cliente;
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        EXPECT_THROW(Echo(conn, u"x"), TDBXError);
        // The connection stays usable after the failed probe.
        EXPECT_EQ(PropertsFile(*conn.GetDBXConnection(), u"TZvClienteServer.",
                               u"bm9uZS50eHQuaHhm"),  // none.txt.hxf
                  u"");
    }
}

TEST(BundledServer, PublishingCallsWithAFiveMillionByteFile) {
    Server s;
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    TDBXConnection& link = *conn.GetDBXConnection();
    const std::u16string prefix = u"TZvServer.";
    const std::u16string name64 = u"UzAxXGJpZy5iaW4=";  // S01\big.bin
    EXPECT_EQ(PropertsFile(link, prefix, name64), u"");

    const Bytes content = RandomBytes(5'000'000);
    EXPECT_TRUE(SendFile(link, prefix, Packet(u"S01\\big.bin", content, s.root.Path())));
    const fs::path stored = s.options.root / "S01" / "big.bin";
    ASSERT_TRUE(fs::exists(stored));
    EXPECT_TRUE(ReadFile(stored) == content);
    const std::u16string stamp = PropertsFile(link, prefix, name64);
    EXPECT_EQ(stamp.substr(0, stamp.find(u';')), u"20151210083000");

    EXPECT_TRUE(BoolCall(link, prefix + u"RemoveFile", u"S01\\big.bin"));
    EXPECT_FALSE(fs::exists(stored));
    BoolCall(link, prefix + u"AlertarZvClientes", u"Atualizacao");
    EXPECT_EQ(s.server->Alerts(), (std::vector<std::u16string>{u"Atualizacao"}));
    EXPECT_EQ(link.CommandCount(), 0);
    conn.SetConnected(false);
}

// The counts of the data blocks in a connection's bytes, in order: each {"data":[ count, then
// the count's bytes skipped unread (padding after the count allowed).
std::vector<std::int64_t> DataBlockCounts(const std::string& wire) {
    static const std::string kStart = "{\"data\":[";
    std::vector<std::int64_t> counts;
    for (std::size_t at = wire.find(kStart); at != std::string::npos; at = wire.find(kStart, at)) {
        at += kStart.size();
        std::size_t end = at;
        while (end < wire.size() && wire[end] != ',')
            ++end;
        const std::int64_t count = std::stoll(wire.substr(at, end - at));
        counts.push_back(count);
        at = end + 1 + static_cast<std::size_t>(count < 0 ? -count : count);
    }
    return counts;
}

// What the client writer makes of one byte-array argument with buffers of bufferBytes: the
// execute's row (the first part inline behind its 3-byte header, the flag, the unset return),
// then one block per pull, each taking the whole buffer but for its 21 bytes of framing, the
// last one negative.
std::vector<std::int64_t> ExpectedBlocks(std::size_t valueBytes, std::size_t bufferBytes) {
    const std::size_t inlineBytes = std::min<std::size_t>(bufferBytes - 2048 - 3, 65535);
    const std::size_t block = bufferBytes - 21;
    std::vector<std::int64_t> counts{static_cast<std::int64_t>(3 + inlineBytes + 2)};
    for (std::size_t left = valueBytes - inlineBytes; left > 0;) {
        const std::size_t n = std::min(left, block);
        left -= n;
        counts.push_back(left == 0 ? -static_cast<std::int64_t>(n) : static_cast<std::int64_t>(n));
    }
    return counts;
}

TEST(BundledServer, SegmentBlocksFollowTheClientBufferSize) {
    // A packet of exactly 5,000,000 bytes: the argument (with its 9-byte prefix) is 5,000,009.
    const std::u16string name = u"S01\\big.bin";
    TempDir scratch;
    const std::size_t head = Packet(name, Bytes{1}, scratch.Path()).size() - 1;
    const Bytes content = RandomBytes(5'000'000 - head);
    const Bytes packet = Packet(name, content, scratch.Path());
    ASSERT_EQ(packet.size(), 5'000'000u);

    // Without the property the buffers hold 32 KB: 30717 inline, 151 x 32747 and 24495.
    std::vector<std::int64_t> golden{30722};
    golden.insert(golden.end(), 151, 32747);
    golden.push_back(-24495);
    ASSERT_EQ(ExpectedBlocks(5'000'009, 32768), golden);

    const struct {
        const char16_t* kb;  // nullptr: no BufferKBSize line
        std::size_t bufferBytes;
    } cases[] = {{nullptr, 32768}, {u"1024", 1 << 20}, {u"64", 65536}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kb ? ToUtf8(c.kb) : "absent");
        Server s;
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        if (c.kb)
            conn.Params().Add(u"BufferKBSize", c.kb);
        conn.SetConnected(true);
        EXPECT_TRUE(SendFile(*conn.GetDBXConnection(), u"TZvServer.", packet));
        conn.SetConnected(false);
        EXPECT_TRUE(ReadFile(s.options.root / "S01" / "big.bin") == content);
        std::vector<std::int64_t> counts = DataBlockCounts(s.Received(0));
        ASSERT_FALSE(counts.empty());
        EXPECT_EQ(counts, ExpectedBlocks(5'000'009, c.bufferBytes));
    }
}

// A publish on one connection: connect, PropertsFile, SendFile, disconnect. Returns the first
// error (its step and text; step 4 and no text when everything went through).
struct PublishOutcome {
    int step = 4;
    std::optional<std::int32_t> code;  // a TDBXError's
    std::u16string message;
};

PublishOutcome Publish(Server& s, TServerKind kind, const Bytes& packet,
                       std::int64_t* countAfterSend = nullptr) {
    const std::u16string prefix = kind == TServerKind::Pai ? u"TZvServer." : u"TZvClienteServer.";
    const std::u16string asked = kind == TServerKind::Pai ? u"UzAxXGEudHh0"  // S01\a.txt
                                                          : u"UzAxXGEudHh0Lmh4Zg==";
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    PublishOutcome out;
    out.step = 0;
    try {
        conn.SetConnected(true);
        out.step = 1;
        PropertsFile(*conn.GetDBXConnection(), prefix, asked);
        out.step = 2;
        EXPECT_TRUE(SendFile(*conn.GetDBXConnection(), prefix, packet));
        if (countAfterSend)
            *countAfterSend = s.server->MessageCount();
        out.step = 3;
        conn.SetConnected(false);
        out.step = 4;
    } catch (const TDBXError& e) {
        out.code = e.ErrorCode();
        out.message = e.Message();
    } catch (const Exception& e) {
        out.message = e.Message();
    }
    conn.SetConnected(false);
    s.server->WaitConnectionClosed(0, 10s);
    return out;
}

// For every message of a publish (the client's real stack, with and without filters, on both
// server kinds): an error reply in its place reaches the client as the server's error, the
// connection dropped after it fails the call in progress, and the file is stored only when the
// fault came after its last segment.
TEST(BundledServer, MessageFaultsAtEveryMessageOfAPublish) {
    TempDir scratch;
    const Bytes content = RandomBytes(100'000);
    const Bytes packet = Packet(u"S01\\a.txt", content, scratch.Path());
    const struct {
        TServerKind kind;
        const char* filters;
    } configs[] = {
        {TServerKind::Pai, ""}, {TServerKind::Cliente, ""}, {TServerKind::Pai, R"({"PC1":{}})"}};
    for (const auto& config : configs) {
        TServerOptions o;
        o.kind = config.kind;
        o.filters = config.filters;
        std::int64_t total = 0, afterSend = 0;
        {
            Server s(o);
            const PublishOutcome clean = Publish(s, config.kind, packet, &afterSend);
            ASSERT_EQ(clean.step, 4) << ToUtf8(clean.message);
            total = s.server->MessageCount();
        }
        // Handshake 5, PropertsFile 3, SendFile: prepare, execute, 3 blocks, close; disconnect.
        ASSERT_EQ(total, 15);
        // The SendFile's command close leaves without a reply, so the count read when the call
        // returns may or may not include it; its last block is message 13 either way.
        ASSERT_GE(afterSend, 13);
        ASSERT_LE(afterSend, 14);
        afterSend = 13;
        for (std::int64_t k = 1; k <= total; ++k) {
            for (const bool drop : {false, true}) {
                SCOPED_TRACE(std::string(config.kind == TServerKind::Pai ? "pai " : "cliente ") +
                             config.filters + (drop ? " drop at " : " error at ") +
                             std::to_string(k));
                TServerOptions f = o;
                (drop ? f.dropAtMessage : f.errorAtMessage) = k;
                Server s(f);
                const PublishOutcome run = Publish(s, config.kind, packet);
                const fs::path stored = s.options.root / "S01" / "a.txt";
                if (k > afterSend) {
                    // The command close and the disconnect are not answered: nobody notices.
                    EXPECT_EQ(run.step, 4) << ToUtf8(run.message);
                    EXPECT_TRUE(ReadFile(stored) == content);
                    continue;
                }
                EXPECT_LT(run.step, 3);
                EXPECT_FALSE(fs::exists(stored));
                if (!drop && k > 1) {
                    EXPECT_EQ(run.code, 101);
                    EXPECT_EQ(ToUtf8(run.message),
                              "Falha injetada na mensagem " + std::to_string(k));
                }
            }
        }
    }
}

TEST(BundledServer, ReconnectAfterTheServerDropsTheConnection) {
    TServerOptions o;
    o.dropInPullFirst = 1;
    Server s(o);
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    const Bytes content = RandomBytes(200'000);
    const Bytes packet = Packet(u"S01\\again.bin", content, s.root.Path());
    EXPECT_ANY_THROW(SendFile(*conn.GetDBXConnection(), u"TZvServer.", packet));
    conn.SetConnected(false);
    std::this_thread::sleep_for(100ms);
    conn.SetConnected(true);
    EXPECT_TRUE(SendFile(*conn.GetDBXConnection(), u"TZvServer.", packet));
    EXPECT_TRUE(ReadFile(s.options.root / "S01" / "again.bin") == content);
    conn.SetConnected(false);
    EXPECT_EQ(s.server->ConnectionCount(), 2u);
}

// However the link goes (the server drops it in a segment pull, or closes it between calls), the
// failing call notices: the component no longer counts as connected, and the next
// SetConnected(true) runs the whole connect sequence again, before-connect event included.
TEST(BundledServer, ALostConnectionIsNoticedAndTheNextConnectStartsAfresh) {
    const Bytes content = RandomBytes(200'000);
    for (const bool dropInPull : {true, false}) {
        SCOPED_TRACE(dropInPull ? "dropped in a segment pull" : "closed between calls");
        TServerOptions o;
        o.dropInPullFirst = dropInPull ? 1 : 0;
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        int before = 0;
        conn.BeforeConnect = [inner = conn.BeforeConnect, &before](TSQLConnection& c) {
            ++before;
            inner(c);
        };
        conn.SetConnected(true);
        const Bytes packet = Packet(u"S01\\lost.bin", content, s.root.Path());
        if (dropInPull) {
            EXPECT_ANY_THROW(SendFile(*conn.GetDBXConnection(), u"TZvServer.", packet));
        } else {
            s.server->CloseConnections();
            EXPECT_TRUE(s.server->WaitConnectionClosed(0, 10s));
            EXPECT_ANY_THROW(PropertsFile(*conn.GetDBXConnection(), u"TZvServer.", u"eC50eHQ="));
        }
        EXPECT_FALSE(conn.GetConnected());
        EXPECT_EQ(conn.GetDBXConnection(), nullptr);

        conn.SetConnected(true);
        EXPECT_EQ(before, 2);
        ASSERT_TRUE(conn.GetConnected());
        EXPECT_TRUE(SendFile(*conn.GetDBXConnection(), u"TZvServer.", packet));
        EXPECT_TRUE(ReadFile(s.options.root / "S01" / "lost.bin") == content);
        conn.SetConnected(false);
        EXPECT_EQ(s.server->ConnectionCount(), 2u);
    }
}

// A server that went away for good: the call fails, the connection counts as lost, and the next
// connect fails as any connect to nobody does, leaving the component closed.
TEST(BundledServer, AStoppedServerIsNoticedAndTheReconnectFailsCleanly) {
    Server s;
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    s.server->Stop();
    EXPECT_ANY_THROW(PropertsFile(*conn.GetDBXConnection(), u"TZvServer.", u"eC50eHQ="));
    EXPECT_FALSE(conn.GetConnected());
    EXPECT_THROW(conn.SetConnected(true), ESocketError);
    EXPECT_FALSE(conn.GetConnected());
    EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
    EXPECT_NO_THROW(conn.SetConnected(false));
}

// A server's error answer is no loss: the link stays, opening it again does nothing, and the next
// call travels on the same connection.
TEST(BundledServer, AServerErrorAnswerLeavesTheConnectionUp) {
    TServerOptions o;
    o.sendFileErrorFirst = 1;
    Server s(o);
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    TDBXConnection* link = conn.GetDBXConnection();
    const Bytes packet = Packet(u"S01\\erro.bin", RandomBytes(1000), s.root.Path());
    EXPECT_THROW(SendFile(*link, u"TZvServer.", packet), TDBXError);
    EXPECT_TRUE(conn.GetConnected());
    conn.SetConnected(true);
    EXPECT_EQ(conn.GetDBXConnection(), link);
    EXPECT_TRUE(SendFile(*link, u"TZvServer.", packet));
    conn.SetConnected(false);
    EXPECT_EQ(s.server->ConnectionCount(), 1u);
}

// Abort from another thread ends a connect waiting for the silent server's handshake answer at
// once, with or without "ConnectTimeout"; only the filter query ever left.
TEST(BundledServer, AbortEndsAConnectWaitingOnASilentServer) {
    for (const char16_t* connectTimeout : {u"", u"5000"}) {
        SCOPED_TRACE(ToUtf8(connectTimeout));
        TServerOptions o;
        o.silent = true;
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.Params().Add(u"ConnectTimeout", connectTimeout);
        std::optional<TDBXError> error;
        std::atomic<bool> returned{false};
        std::thread connecting([&] {
            try {
                conn.SetConnected(true);
            } catch (const TDBXError& e) {
                error = e;
            }
            returned = true;
        });
        ASSERT_TRUE(s.server->WaitForConnections(1, 10s));
        std::this_thread::sleep_for(200ms);
        EXPECT_FALSE(returned) << "did not block";
        const auto start = std::chrono::steady_clock::now();
        conn.Abort();
        connecting.join();
        EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->ErrorCode(), 1);
        EXPECT_EQ(error->Message(), u"Read error");
        EXPECT_FALSE(conn.GetConnected());
        EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
        EXPECT_EQ(s.Received(0), std::string(5, '\x05'));
    }
}

// Abort of an idle, healthy connection: it counts as lost at once, closing it sends no disconnect,
// and connecting again works. With nothing to end, Abort does nothing.
TEST(BundledServer, AbortOfAnIdleConnectionDropsItWithoutADisconnect) {
    Server s;
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.Abort();
    conn.SetConnected(true);
    ASSERT_TRUE(conn.GetConnected());
    conn.Abort();
    EXPECT_FALSE(conn.GetConnected());
    conn.SetConnected(false);
    EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
    EXPECT_EQ(s.Received(0).find("disconnect"), std::string::npos);
    conn.SetConnected(true);
    EXPECT_EQ(PropertsFile(*conn.GetDBXConnection(), u"TZvServer.", u"eC50eHQ="), u"");
    conn.SetConnected(false);
    EXPECT_NE(s.Received(1).find("disconnect"), std::string::npos);
}

// The packet as the publishing run builds it now: the record set's head, the content left in the
// file and read from it while the server pulls the packet.
TOleVariant StreamedPacket(const std::u16string& name, const fs::path& file) {
    TClientDataSet ds{std::u16string(kSendFileDataSetName)};
    FillSendFileSet(ds, name, file, true);
    auto parts = ds.DataParts();
    return TOleVariant::ByteArray(std::move(parts.Head),
                                  std::make_shared<const TDBXFileByteSource>(parts.File));
}

bool SendVariant(TDBXConnection& link, const TOleVariant& packet) {
    return Call(
        link, u"TZvServer.SendFile",
        [&](TDBXParameterList& p) {
            p.GetParameterByOrdinal(0).GetValue().SetAsVariant(packet);
            p.GetParameterByOrdinal(1).GetValue().SetBoolean(true);
        },
        [](TDBXParameterList& p) { return p.GetParameterByOrdinal(2).GetValue().GetBoolean(); });
}

void WriteFile(const fs::path& p, const Bytes& content) {
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(content.data()),
               static_cast<std::streamsize>(content.size()));
}

// Regular files anywhere in the store, temporary ones included.
std::vector<fs::path> StoreFiles(const fs::path& root) {
    std::vector<fs::path> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (e.is_regular_file())
            files.push_back(fs::relative(e.path(), root));
    return files;
}

// A file of about 5,000,000 bytes read from disk while the server pulls it: from the SendFile
// prepare on, the server receives exactly the bytes of the packet sent from memory, and stores
// the same file. The content is sized for a packet of 5,000,000 bytes (151 bytes of head and the
// 11-byte name before it), whose split is known: 30717 inline, 151 blocks of 32747, one of 24495.
TEST(BundledServer, StreamedFileSendsTheSameBytesAsThePacketInMemory) {
    const Bytes content = RandomBytes(5'000'000 - 151 - 11);
    std::string sent[2];
    for (int streamed = 0; streamed < 2; ++streamed) {
        SCOPED_TRACE(streamed ? "streamed" : "in memory");
        Server s;
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        TDBXConnection& link = *conn.GetDBXConnection();
        const fs::path file = s.root.Path() / "big.bin";
        WriteFile(file, content);
        EXPECT_TRUE(streamed ? SendVariant(link, StreamedPacket(u"S01\\big.bin", file))
                             : SendFile(link, u"TZvServer.",
                                        Packet(u"S01\\big.bin", content, s.root.Path())));
        conn.SetConnected(false);
        EXPECT_TRUE(ReadFile(s.options.root / "S01" / "big.bin") == content);
        const std::string got = s.Received(0);
        const auto at = got.find(
            R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.SendFile"]})");
        ASSERT_NE(at, std::string::npos);
        sent[streamed] = got.substr(at);
    }
    EXPECT_EQ(Occurrences(sent[1], "{\"data\":[30722,"), 1u);
    EXPECT_EQ(Occurrences(sent[1], "{\"data\":[32747    ,"), 151u);
    EXPECT_EQ(Occurrences(sent[1], "{\"data\":[-24495   ,"), 1u);
    EXPECT_EQ(sent[1].size(), sent[0].size());
    EXPECT_TRUE(sent[1] == sent[0]);
}

// A file that changes while the server pulls it is never stored: the send fails with an error
// naming the file before its last bytes leave, the link ends after the last whole block, and the
// server leaves no temporary file behind. A new connection then sends the file, unchanged since.
TEST(BundledServer, FileChangedDuringItsSendIsNeverStored) {
    enum Change { Grow, Shrink, RewriteTimeSetBack };
    for (Change change : {Grow, Shrink, RewriteTimeSetBack}) {
        SCOPED_TRACE(change);
        TempDir local;
        const fs::path file = local.Path() / "torn.bin";
        const Bytes content = RandomBytes(1'000'000);
        WriteFile(file, content);
        const timespec old[2] = {{1'000'000'000, 0}, {1'000'000'000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
        bool armed = true;
        TServerOptions o;
        o.beforeSegmentRequest = [&](int request) {
            if (!armed || request != 3)
                return;
            armed = false;
            switch (change) {
                case Grow:
                    std::ofstream(file, std::ios::binary | std::ios::app) << "x";
                    break;
                case Shrink:
                    fs::resize_file(file, 500'000);
                    break;
                case RewriteTimeSetBack:
                    std::fstream(file, std::ios::binary | std::ios::in | std::ios::out) << "torn";
                    utimensat(AT_FDCWD, file.c_str(), old, 0);
                    break;
            }
        };
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        const TOleVariant packet = StreamedPacket(u"S01\\torn.bin", file);
        // A later clock tick than the open, for the status-change time to move.
        std::this_thread::sleep_for(20ms);
        try {
            SendVariant(*conn.GetDBXConnection(), packet);
            ADD_FAILURE() << "sent";
        } catch (const EReadError& e) {
            EXPECT_EQ(e.Message(),
                      u"File \"" + FromUtf8(file.string()) + u"\" changed while it was being sent");
        }
        ASSERT_TRUE(s.server->WaitConnectionClosed(0, 10s));
        EXPECT_TRUE(StoreFiles(s.options.root).empty());
        // What arrived ends with a whole block.
        const std::string got = s.Received(0);
        const auto last = got.rfind("{\"data\":[");
        ASSERT_NE(last, std::string::npos);
        EXPECT_EQ(got.substr(last, 19), "{\"data\":[32747    ,");
        EXPECT_EQ(got.size(), last + 19 + 32747 + 2);

        conn.SetConnected(false);
        conn.SetConnected(true);
        const Bytes now = ReadFile(file);
        EXPECT_TRUE(SendVariant(*conn.GetDBXConnection(), StreamedPacket(u"S01\\torn.bin", file)));
        conn.SetConnected(false);
        EXPECT_TRUE(ReadFile(s.options.root / "S01" / "torn.bin") == now);
        EXPECT_EQ(StoreFiles(s.options.root), std::vector<fs::path>{fs::path("S01") / "torn.bin"});
    }
}

TEST(BundledServer, SilentServerTimesOutAndDroppedServerDisconnectsQuietly) {
    {
        TServerOptions o;
        o.silent = true;
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.Params().Add(u"ConnectTimeout", u"500");
        try {
            conn.SetConnected(true);
            FAIL() << "connected";
        } catch (const TDBXError& e) {
            EXPECT_EQ(e.Message(), u"Connection timeout error");
        }
        EXPECT_FALSE(conn.GetConnected());
    }
    {
        Server s;
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        s.server->Stop();  // the server closes first
        EXPECT_NO_THROW(conn.SetConnected(false));
        EXPECT_FALSE(conn.GetConnected());
    }
}

}  // namespace
}  // namespace ab

namespace ab {
namespace {

// The whole client stack with the built-in filters registered at start-up: a server announcing
// filters has them adopted, and a file travels intact.
class BundledServerFilters : public ::testing::TestWithParam<const char*> {};

TEST_P(BundledServerFilters, PublishingCallsThroughAdoptedFilters) {
    TServerOptions o;
    o.filters = GetParam();
    Server s(o);
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    TDBXConnection& link = *conn.GetDBXConnection();
    const Bytes content = RandomBytes(5'000'000);
    EXPECT_TRUE(SendFile(link, u"TZvServer.", Packet(u"S01\\f.bin", content, s.root.Path())));
    EXPECT_TRUE(ReadFile(s.options.root / "S01" / "f.bin") == content);
    const std::u16string stamp = PropertsFile(link, u"TZvServer.", u"UzAxXGYuYmlu");  // S01\f.bin
    EXPECT_EQ(stamp.substr(0, 14), u"20151210083000");
    conn.SetConnected(false);
    // With the cipher, nothing the server received reads as plain JSON.
    if (std::string_view(GetParam()).find("PC1") != std::string_view::npos) {
        EXPECT_EQ(s.Received(0).find("\"method\""), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Filters, BundledServerFilters,
                         ::testing::Values(R"({"ZLibCompression":{"CompressMoreThan":"100"}})",
                                           R"({"PC1":{}})", R"({"RSA":{},"PC1":{}})",
                                           R"({"RSA":{},"PC1":{},"ZLibCompression":{}})"));

}  // namespace
}  // namespace ab
