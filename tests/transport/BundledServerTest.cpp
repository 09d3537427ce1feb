// The connection and the server-method commands against the bundled update server over loopback
// TCP: the bytes the server received, reply forms, refused logins, metadata, the echo probe on
// both server kinds, the publishing calls with a 5,000,000-byte file, reconnecting after a drop,
// a silent server, and disconnecting after the server went away.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>

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
using Bytes = std::vector<std::uint8_t>;

class TempDir {
  public:
    TempDir() {
        path_ = fs::temp_directory_path() /
                ("ab-transport-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++));
        fs::create_directories(path_);
    }
    ~TempDir() { fs::remove_all(path_); }
    const fs::path& Path() const { return path_; }

  private:
    static inline int counter_ = 0;
    fs::path path_;
};

struct Server {
    explicit Server(TServerOptions o = {}) : options(Prepare(std::move(o), root.Path())) {
        server = std::make_unique<TUpdateServer>(options);
        port = server->Start();
    }
    static TServerOptions Prepare(TServerOptions o, const fs::path& root) {
        o.port = 0;
        o.address = "127.0.0.1";
        o.root = root / "armazem";
        o.keepReceived = true;
        return o;
    }
    std::string Received(std::size_t i) {
        server->WaitConnectionClosed(i, 10s);
        const Bytes b = server->ReceivedBytes(i);
        return std::string(b.begin(), b.end());
    }
    TempDir root;
    TServerOptions options;
    std::unique_ptr<TUpdateServer> server;
    std::uint16_t port = 0;
};

// The updater's designed list and before-connect event.
void Design(TSQLConnection& conn, int port) {
    conn.SetDriverName(u"DataSnap");
    conn.Params().Lines() = {u"DriverUnit=Data.DBXDataSnap",
                             u"CommunicationProtocol=tcp/ip",
                             u"DatasnapContext=datasnap/",
                             u"DriverAssemblyLoader=Loader.Assembly,Version=1.0.0.0",
                             u"DriverName=DataSnap",
                             u"HostName=localhost",
                             u"port=211",
                             u"Filters={}",
                             u"DSProxyPort=8080",
                             u"DSAuthenticationPassword=design",
                             u"DSAuthenticationUser=design"};
    conn.BeforeConnect = [port](TSQLConnection& c) {
        c.Params().SetValue(u"HostName", u"127.0.0.1");
        c.Params().SetValue(u"Port", IntToStr(port));
        c.Params().SetValue(u"DSAuthenticationUser", server::DefaultUser());
        c.Params().SetValue(u"DSAuthenticationPassword", server::DefaultPassword());
    };
}

// What the proxy does for one call: a fresh command, prepared, executed once, freed.
template <class SetInputs, class ReadResult>
auto Call(TDBXConnection& link, const std::u16string& method, SetInputs set, ReadResult read) {
    auto command = link.CreateCommand();
    command->SetCommandType(u"DataSnap.ServerMethod");
    command->SetText(method);
    command->Prepare();
    set(command->GetParameters());
    command->ExecuteUpdate();
    return read(command->GetParameters());
}

std::u16string PropertsFile(TDBXConnection& link, const std::u16string& prefix,
                            const std::u16string& base64) {
    return Call(
        link, prefix + u"PropertsFile",
        [&](TDBXParameterList& p) { p.GetParameterByOrdinal(0).GetValue().SetWideString(base64); },
        [](TDBXParameterList& p) { return p.GetParameterByOrdinal(1).GetValue().GetWideString(); });
}

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
Bytes Packet(const std::u16string& name, const Bytes& content, const fs::path& scratch) {
    const fs::path file = scratch / "content.bin";
    {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    TClientDataSet ds{std::u16string(kSendFileDataSetName)};
    auto fields = AddSendFileFields(ds);
    ds.CreateDataSet();
    ds.Append();
    fields.Nome.SetAsString(name);
    fields.DataHora.SetAsDateTime(EncodeDateTime({2015, 12, 10, 8, 30, 0, 0}));
    fields.Arquivo.LoadFromFile(FromUtf8(file.string()));
    ds.Post();
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
        Design(conn, s.port);
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
    Design(conn, s.port);
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
        Design(conn, s.port);
        conn.SetConnected(true);
        EXPECT_EQ(Echo(conn, u"Atualização"), u"Atualização");
    }
    {
        TServerOptions o;
        o.kind = TServerKind::Cliente;
        Server s(o);
        TSQLConnection conn;
        Design(conn, s.port);
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
    Design(conn, s.port);
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

TEST(BundledServer, ReconnectAfterTheServerDropsTheConnection) {
    TServerOptions o;
    o.dropInPullFirst = 1;
    Server s(o);
    TSQLConnection conn;
    Design(conn, s.port);
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

// The packet as the publishing run builds it now: the record set's head, the content left in the
// file and read from it while the server pulls the packet.
TOleVariant StreamedPacket(const std::u16string& name, const fs::path& file) {
    TClientDataSet ds{std::u16string(kSendFileDataSetName)};
    auto fields = AddSendFileFields(ds);
    ds.CreateDataSet();
    ds.Append();
    fields.Nome.SetAsString(name);
    fields.DataHora.SetAsDateTime(EncodeDateTime({2015, 12, 10, 8, 30, 0, 0}));
    fields.Arquivo.LoadFromFileDeferred(FromUtf8(file.string()));
    ds.Post();
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

std::size_t Occurrences(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
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
        Design(conn, s.port);
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
        Design(conn, s.port);
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
        Design(conn, s.port);
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
        Design(conn, s.port);
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
    Design(conn, s.port);
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
