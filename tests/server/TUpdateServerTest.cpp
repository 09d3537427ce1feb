// The update server over real loopback TCP, fed hand-written client bytes: the filter query and
// connect message of the run, the metadata query, prepare and execute of each server method with
// their golden rows, segment pulls of a large packet, error replies, fault injection, several
// connections, and what each connection received.
#include "server/TUpdateServer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/stat.h>

#include <ctime>
#include <fstream>
#include <thread>

#include "ServerMessages.h"
#include "ServerTestSupport.h"
#include "UpdateServerFixture.h"

namespace ab::server {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::Ascii;
using test::Bytes;
using test::Cat;
using test::Hex;
using test::RawClient;

using test::kExampleStamp;

using test::Base64;
using test::ConnectMessage;
using test::ErrorReply;
using test::Execute;
using test::kPassword;
using test::kPropertsFileParameters;
using test::kRemoveFileParameters;
using test::kSendFileParameters;
using test::Prepare;
using test::PrepareReply;
using test::Result;
using test::SendFileRow;
using test::StringField;

const std::string kRefusedLogin = ErrorReply(12, "Invalid username or password");

using test::ReadFile;

void SetMtime(const fs::path& p, int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d;
    tm.tm_hour = h, tm.tm_min = mi, tm.tm_sec = s, tm.tm_isdst = -1;
    const timespec t{std::mktime(&tm), 0};
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, 0), 0);
}

#define EXPECT_REPLY(client, expected)                       \
    do {                                                     \
        const Bytes expected_ = (expected);                  \
        EXPECT_EQ(client.Read(expected_.size()), expected_); \
    } while (0)

using UpdateServerTest = test::UpdateServerFixture;

TEST_F(UpdateServerTest, ConnectionOfTheRunAndThePropertsFileCall) {
    Start();
    fs::create_directories(Root());
    std::ofstream(Root() / "a.txt") << "x";
    SetMtime(Root() / "a.txt", 2015, 12, 10, 8, 30, 0);

    Bytes sent;
    RawClient c(port_);
    auto send = [&](const Bytes& b) {
        c.Send(b);
        sent.insert(sent.end(), b.begin(), b.end());
    };
    send(Hex("05 05 05 05 05"));
    EXPECT_EQ(c.Read(5), Hex("06 00 00 00 00"));
    send(Ascii(ConnectMessage(port_)));
    EXPECT_EQ(c.ReadText(38), "{\"result\":[1,\"AtualizadorServidor\",2]}");

    // Metadata query: a table whose first row holds the connection's columns.
    send(Ascii(
        R"({"method":"execute","params":[{"fields":[-1,false,"Dbx.MetaData","GetDatabase"]}]})"));
    const std::string table = c.ReadUntil("]}]}]}");
    EXPECT_TRUE(table.starts_with(
        R"({"result":[{"handle":[1]},{"table":[{"fields":[1,false,1,1,false]},{"columns":[15,["QuoteChar",26,)"))
        << table;
    for (const char* column :
         {"\"ProcedureQuoteChar\",26,", "\"MaxCommands\",6,", "\"SupportsTransactions\",4,",
          "\"SupportsNestedTransactions\",4,", "\"SupportsRowSetSize\",4,", "\"QuotePrefix\",26,",
          "\"QuoteSuffix\",26,", "\"SupportsSPReturnCode\",4,", "\"SupportsSchemas\",4,"})
        EXPECT_NE(table.find(column), std::string::npos) << column;
    EXPECT_REPLY(
        c, Cat({Ascii("{\"data\":[-19,"),
                Hex("21 22 21 22 60 20 20 20 21 22 21 22 20 20 20 60 20 20 20"), Ascii("]}")}));
    send(Ascii(R"({"method":"reader_close","params":[1,1]})"));
    send(Ascii(R"({"method":"command_close","params":[1]})"));

    // The worked call: prepare, execute with the ten-byte row, the 17-byte reply row.
    send(Ascii(Prepare("TZvServer.PropertsFile")));
    const std::string prepared = PrepareReply(2, kPropertsFileParameters);
    EXPECT_EQ(c.ReadText(prepared.size()), prepared);
    const Bytes row = Hex("28 59 53 35 30 65 48 51 3D C0");  // "YS50eHQ=", unset return
    send(Execute(2, row));
    EXPECT_REPLY(c, Result(Cat({Hex("C0 2F"), Ascii("20151210083000;")})));
    // Second call on the cached command: execute only; no copy gives an empty text.
    const Bytes noCopy = Hex("28 59 6D 49 75 64 48 68 30 C0");  // "YmIudHh0" = bb.txt
    send(Execute(2, noCopy));
    EXPECT_REPLY(c, Result(Hex("C0 20")));
    send(Ascii(R"({"method":"command_close","params":[2]})"));
    send(Ascii(R"({"method":"disconnect","params":[1]})"));
    EXPECT_TRUE(c.PeerClosed());
    ASSERT_TRUE(server_->WaitConnectionClosed(0, 5s));
    EXPECT_EQ(server_->ReceivedBytes(0), sent);
}

TEST_F(UpdateServerTest, SendFileInlineStoresTheWorkedPacket) {
    Start();
    RawClient c(port_);
    Login(c);
    const std::string prepared = PrepareReply(1, kSendFileParameters);
    EXPECT_EQ(PrepareText(c, "TZvServer.SendFile", prepared.size()), prepared);
    const Bytes row = SendFileRow(test::WorkedPacket());
    ASSERT_EQ(Bytes(row.begin(), row.begin() + 12), Hex("10 00 AE 03 A5 00 00 00 00 00 00 00"));
    c.Send(Execute(1, row));
    EXPECT_REPLY(c, Result(Hex("C0 C0 60")));
    EXPECT_EQ(ReadFile(Root() / "S01" / "a.txt"), Ascii("ABCDE"));

    // PropertsFile answers the packet's time stamp.
    EXPECT_EQ(
        PrepareText(c, "TZvServer.PropertsFile", PrepareReply(2, kPropertsFileParameters).size()),
        PrepareReply(2, kPropertsFileParameters));
    c.Send(Execute(2, Cat({StringField("UzAxXGEudHh0"), Hex("C0")})));  // S01\a.txt
    EXPECT_REPLY(c, Result(Cat({Hex("C0 2F"), Ascii("20151211103000;")})));
}

TEST_F(UpdateServerTest, LargePacketIsPulledInSegments) {
    Start();
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    // A 5,000,000-byte packet: 30717 value bytes inline, then 151 blocks of 32747 and 24495.
    const Bytes content = test::RandomBytes(5000000 - 151 - 11, 7);
    const Bytes value =
        test::VariantBytes(test::MakePacket("S01\\big.bin", kExampleStamp, content));
    ASSERT_EQ(value.size(), 5000009u);
    const Bytes inlineRow =
        Cat({Hex("50 77 FD"), Bytes(value.begin(), value.begin() + 30717), Hex("60 C0")});
    ASSERT_EQ(inlineRow.size(), 30722u);
    c.Send(Execute(1, inlineRow));
    std::size_t offset = 30717;
    int requests = 0;
    for (;;) {
        const std::string request = c.ReadUntil("]}");
        if (request != "{\"more_blob\":[1,1,0,0,0]}") {
            EXPECT_EQ(request, "{\"result\":[{\"data\":[3,\xC0\xC0\x60]}");
            EXPECT_EQ(c.ReadText(2), "]}");
            break;
        }
        ++requests;
        const std::size_t n = std::min<std::size_t>(32747, value.size() - offset);
        const bool last = offset + n == value.size();
        std::string count =
            std::to_string(last ? -static_cast<long long>(n) : static_cast<long long>(n));
        count.resize(9, ' ');
        c.Send(Cat({Ascii("{\"data\":[" + count + ","),
                    Bytes(value.begin() + static_cast<std::ptrdiff_t>(offset),
                          value.begin() + static_cast<std::ptrdiff_t>(offset + n)),
                    Ascii("]}")}));
        offset += n;
    }
    EXPECT_EQ(requests, 152);
    EXPECT_EQ(ReadFile(Root() / "S01" / "big.bin"), content);
}

// Answers every pull with the next blockSize bytes of the value (the last block negative) until
// the result arrives; returns the number of pulls and leaves the result read.
int AnswerPulls(RawClient& c, const Bytes& value, std::size_t offset, std::size_t blockSize,
                const std::string& pull = "{\"more_blob\":[1,1,0,0,0]}") {
    int pulls = 0;
    std::string request;
    while ((request = c.ReadUntil("]}")) == pull) {
        ++pulls;
        const std::size_t n = std::min(blockSize, value.size() - offset);
        const bool last = offset + n == value.size();
        std::string count =
            std::to_string(last ? -static_cast<long long>(n) : static_cast<long long>(n));
        count.resize(std::max<std::size_t>(count.size(), 9), ' ');
        c.Send(Cat({Ascii("{\"data\":[" + count + ","),
                    Bytes(value.begin() + static_cast<std::ptrdiff_t>(offset),
                          value.begin() + static_cast<std::ptrdiff_t>(offset + n)),
                    Ascii("]}")}));
        offset += n;
    }
    EXPECT_EQ(request, "{\"result\":[{\"data\":[3,\xC0\xC0\x60]}");
    EXPECT_EQ(c.ReadText(2), "]}");
    return pulls;
}

TEST_F(UpdateServerTest, SegmentsOfAnyLengthAreReadWhateverTheBufferSize) {
    Start();
    const Bytes content = test::RandomBytes(3'500'000, 11);
    const Bytes value =
        test::VariantBytes(test::MakePacket("S01\\any.bin", kExampleStamp, content));
    const struct {
        const char* kb;  // the connect message's BufferKBSize, or none
        std::size_t block;
    } cases[] = {{nullptr, 1048555},  // larger than the server's 32 KB
                 {"1", 5000},         // larger than a 1 KB buffer
                 {"1024", 32747},     // smaller than the buffer
                 {"1024", 3'000'000}};
    int handle = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.block);
        RawClient k(port_);
        k.Send(Hex("05 05 05 05 05"));
        ASSERT_EQ(k.Read(5), Hex("06 00 00 00 00"));
        std::string connect = ConnectMessage(port_);
        if (c.kb)
            connect.insert(connect.find("[{") + 2,
                           "\"BufferKBSize\":\"" + std::string(c.kb) + "\",");
        k.Send(connect);
        const std::string reply = "{\"result\":[" + std::to_string(handle++) + ",";
        ASSERT_EQ(k.ReadUntil("]}").substr(0, reply.size()), reply);
        PrepareText(k, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
        k.Send(Execute(
            1, Cat({Hex("50 04 00"), Bytes(value.begin(), value.begin() + 1024), Hex("60 C0")})));
        const std::size_t pulls = static_cast<std::size_t>(AnswerPulls(k, value, 1024, c.block));
        EXPECT_EQ(pulls, (value.size() - 1024 + c.block - 1) / c.block);
        EXPECT_EQ(ReadFile(Root() / "S01" / "any.bin"), content);
        std::filesystem::remove(Root() / "S01" / "any.bin");
    }
}

// Requests in flight: the client writes several executes before reading any answer. Each must be
// answered as if it had come alone, in the order written: a PropertsFile after the SendFile of the
// same name sees the stored copy, a second removal finds nothing. The batch is larger than the
// server's 32 KB read buffer, so requests straddle its reads. A send the server pulls in segments
// goes alone, after the answers before it were read, and a batch after it is served in step.
TEST_F(UpdateServerTest, RequestsInFlightAreAnsweredInOrder) {
    Start();
    fs::create_directories(Root() / "S01");
    std::ofstream(Root() / "S01" / "velho.txt") << "v";
    SetMtime(Root() / "S01" / "velho.txt", 2015, 12, 10, 8, 30, 0);
    fs::create_directories(Root() / "Scripts" / "S01");
    std::ofstream(Root() / "Scripts" / "S01" / "EM_TESTE.SQL") << "x";

    RawClient c(port_);
    Login(c);
    const struct {
        const char* method;
        const std::string& parameters;
    } prepares[] = {{"PropertsFile", kPropertsFileParameters},
                    {"SendFile", kSendFileParameters},
                    {"RemoveFile", kRemoveFileParameters}};
    int handle = 0;
    for (const auto& p : prepares) {
        const std::string reply = PrepareReply(++handle, p.parameters);
        ASSERT_EQ(PrepareText(c, "TZvServer." + std::string(p.method), reply.size()), reply);
    }
    std::int64_t messages = 2 + 3;

    const Bytes stamped = Result(Cat({Hex("C0 2F"), Ascii("20151211103000;")}));
    const Bytes none = Result(Hex("C0 20"));
    const Bytes stored = Result(Hex("C0 C0 60"));
    auto propertsFile = [](const std::string& name) {
        return Execute(1, Cat({StringField(Base64(name)), Hex("C0")}));
    };
    const Bytes removeMarker =
        Execute(3, Cat({StringField("Scripts\\S01\\EM_TESTE.SQL"), Hex("C0")}));
    std::vector<Bytes> contents;
    std::size_t batchBytes = 0;
    // Writes a batch whole, then reads its answers one by one.
    auto batch = [&](const std::vector<std::pair<Bytes, Bytes>>& requests) {
        Bytes all;
        for (const auto& r : requests)
            all.insert(all.end(), r.first.begin(), r.first.end());
        batchBytes = all.size();
        c.Send(all);
        messages += static_cast<std::int64_t>(requests.size());
        for (std::size_t i = 0; i < requests.size(); ++i)
            ASSERT_EQ(c.Read(requests[i].second.size()), requests[i].second) << "answer " << i;
    };

    std::vector<std::pair<Bytes, Bytes>> first = {
        {propertsFile("S01\\velho.txt"), Result(Cat({Hex("C0 2F"), Ascii("20151210083000;")}))},
        {propertsFile("S01\\nada.txt"), none},
        {removeMarker, Result(Hex("C0 60"))},
        {removeMarker, Result(Hex("C0 20"))},
    };
    for (int i = 0; i < 10; ++i) {
        const std::string name = "S01\\novo" + std::to_string(i) + ".bin";
        contents.push_back(test::RandomBytes(3000 * static_cast<std::size_t>(i) + 1, 40 + i));
        first.push_back({propertsFile(name), none});
        first.push_back(
            {Execute(2, SendFileRow(test::MakePacket(name, kExampleStamp, contents.back()))),
             stored});
        first.push_back({propertsFile(name), stamped});
    }
    batch(first);
    EXPECT_GT(batchBytes, 4u * 32768);

    // The pulled send: 20 value bytes in the request, the rest in 32,747-byte blocks.
    const Bytes big = test::RandomBytes(100000, 50);
    const Bytes value = test::VariantBytes(test::MakePacket("S01\\grande.bin", kExampleStamp, big));
    c.Send(
        Execute(2, Cat({Hex("50 00 14"), Bytes(value.begin(), value.begin() + 20), Hex("60 C0")})));
    const int pulls = AnswerPulls(c, value, 20, 32747, "{\"more_blob\":[2,1,0,0,0]}");
    messages += 1 + pulls;
    EXPECT_EQ(pulls, 4);

    batch({{propertsFile("S01\\grande.bin"), stamped},
           {propertsFile("S01\\novo9.bin"), stamped},
           {removeMarker, Result(Hex("C0 20"))}});
    c.Send(R"({"method":"disconnect","params":[1]})");
    ++messages;
    EXPECT_TRUE(c.ClosedWithoutAnswer());
    ASSERT_TRUE(server_->WaitConnectionClosed(0, 5s));

    // Each request counted once, each data block too.
    EXPECT_EQ(server_->MessageCount(), messages);
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(ReadFile(Root() / "S01" / ("novo" + std::to_string(i) + ".bin")), contents[i]);
    EXPECT_EQ(ReadFile(Root() / "S01" / "grande.bin"), big);
    EXPECT_FALSE(fs::exists(Root() / "Scripts" / "S01" / "EM_TESTE.SQL"));
}

// The server holds its answers until it would wait for the client, so none may stay behind: each
// request written alone is answered while the client writes nothing more, by kind (a stored copy
// or none, a fixed answer, an error reply), and the same requests written at once are all answered,
// in order.
TEST_F(UpdateServerTest, EachAnswerLeavesBeforeTheServerWaitsForMore) {
    Start();
    fs::create_directories(Root() / "S01");
    std::ofstream(Root() / "S01" / "velho.txt") << "v";
    SetMtime(Root() / "S01" / "velho.txt", 2015, 12, 10, 8, 30, 0);
    RawClient c(port_);
    Login(c);
    const std::string prepared = PrepareReply(1, kPropertsFileParameters);
    ASSERT_EQ(PrepareText(c, "TZvServer.PropertsFile", prepared.size()), prepared);
    auto propertsFile = [](const std::string& name) {
        return Execute(1, Cat({StringField(Base64(name)), Hex("C0")}));
    };
    const struct {
        const char* what;
        Bytes request, answer;
    } cases[] = {
        {"a stored copy", propertsFile("S01\\velho.txt"),
         Result(Cat({Hex("C0 2F"), Ascii("20151210083000;")}))},
        {"no copy", propertsFile("S01\\nada.txt"), Result(Hex("C0 20"))},
        {"a refused name", propertsFile("S01\\..\\x"),
         Ascii(ErrorReply(9, "Destination name refused (relative part): S01\\\\..\\\\x"))},
        {"a fixed answer", Ascii(R"({"method":"next_result","params":[1]})"),
         Ascii("{\"result\":[false,-1,false,-1]}")},
        {"an unknown handle", Execute(9, Hex("C0 C0")),
         Ascii(ErrorReply(24, "Unknown command handle 9"))},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        c.Send(k.request);
        EXPECT_EQ(c.Read(k.answer.size(), 3s), k.answer);
    }
    for (int round = 0; round < 2; ++round) {
        Bytes burst;
        for (int i = 0; i < 8; ++i)
            for (const auto& k : cases)
                burst.insert(burst.end(), k.request.begin(), k.request.end());
        c.Send(burst);
        for (int i = 0; i < 8; ++i)
            for (const auto& k : cases)
                ASSERT_EQ(c.Read(k.answer.size(), 3s), k.answer) << k.what << " " << i;
    }
    c.Send(R"({"method":"disconnect","params":[1]})");
    EXPECT_TRUE(c.ClosedWithoutAnswer());
}

// One message of a scripted publish and the reply it gets (empty: none).
struct ScriptStep {
    std::string what;
    Bytes send;
    Bytes reply;
};

// The run's messages on one connection, for the given server kind: handshake, connect, metadata
// query and its closes, PropertsFile, a SendFile with two segments, command close, disconnect.
// The metadata reply is learned from a clean run (empty here).
std::vector<ScriptStep> PublishScript(std::uint16_t port, TServerKind kind, const Bytes& value) {
    const std::string prefix = kind == TServerKind::Pai ? "TZvServer." : "TZvClienteServer.";
    const std::string asked = kind == TServerKind::Pai ? "UzAxXGEudHh0" : "UzAxXGEudHh0Lmh4Zg==";
    const std::string pull = "{\"more_blob\":[3,1,0,0,0]}";
    const std::size_t first = 3000;
    const std::size_t rest = value.size() - 20 - first;
    return {
        {"filter query", Hex("05 05 05 05 05"), Hex("06 00 00 00 00")},
        {"connect", Ascii(ConnectMessage(port)),
         Ascii("{\"result\":[1,\"AtualizadorServidor\",2]}")},
        {"metadata",
         Ascii(
             R"({"method":"execute","params":[{"fields":[-1,false,"Dbx.MetaData","GetDatabase"]}]})"),
         {}},
        {"reader_close", Ascii(R"({"method":"reader_close","params":[1,1]})"), {}},
        {"command_close", Ascii(R"({"method":"command_close","params":[1]})"), {}},
        {"prepare", Ascii(Prepare(prefix + "PropertsFile")),
         Ascii(PrepareReply(2, kPropertsFileParameters))},
        {"execute", Execute(2, Cat({StringField(asked), Hex("C0")})), Result(Hex("C0 20"))},
        {"command_close", Ascii(R"({"method":"command_close","params":[2]})"), {}},
        {"prepare", Ascii(Prepare(prefix + "SendFile")),
         Ascii(PrepareReply(3, kSendFileParameters))},
        {"execute",
         Execute(3, Cat({Hex("50 00 14"), Bytes(value.begin(), value.begin() + 20), Hex("60 C0")})),
         Ascii(pull)},
        {"data block",
         Cat({Ascii("{\"data\":[" + std::to_string(first) + ","),
              Bytes(value.begin() + 20, value.begin() + 20 + first), Ascii("]}")}),
         Ascii(pull)},
        {"last data block",
         Cat({Ascii("{\"data\":[-" + std::to_string(rest) + ","),
              Bytes(value.begin() + 20 + first, value.end()), Ascii("]}")}),
         Result(Hex("C0 C0 60"))},
        {"command_close", Ascii(R"({"method":"command_close","params":[3]})"), {}},
        {"disconnect", Ascii(R"({"method":"disconnect","params":[1]})"), {}},
    };
}

std::vector<std::string> StoredFiles(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root))
        if (!e.is_directory())
            files.push_back(fs::relative(e.path(), root).string());
    return files;
}

TEST_F(UpdateServerTest, MessageFaultsStrikeTheKthMessageOfAPublish) {
    const Bytes content = test::RandomBytes(5000, 21);
    const Bytes value = test::VariantBytes(test::MakePacket("S01\\a.txt", kExampleStamp, content));
    const Bytes vendor = Ascii(R"({"method":"vendor_property","params":["x"]})");
    for (const TServerKind kind : {TServerKind::Pai, TServerKind::Cliente}) {
        // A clean run: every reply as scripted, 14 messages, the file stored.
        TServerOptions clean;
        clean.kind = kind;
        Start(clean);
        std::vector<ScriptStep> script = PublishScript(port_, kind, value);
        Bytes metadataReply;
        {
            RawClient c(port_);
            for (auto& step : script) {
                c.Send(step.send);
                if (step.what == "metadata") {
                    const std::string table = c.ReadUntil("]}]}]}");
                    step.reply = metadataReply = Cat({Ascii(table), c.Read(34)});
                } else {
                    EXPECT_EQ(c.Read(step.reply.size()), step.reply) << step.what;
                }
            }
            EXPECT_TRUE(c.ClosedWithoutAnswer());
        }
        ASSERT_TRUE(server_->WaitConnectionClosed(0, 5s));
        EXPECT_EQ(server_->MessageCount(), static_cast<std::int64_t>(script.size()));
        EXPECT_EQ(ReadFile(Root() / "S01" / "a.txt"), content);
        server_->Stop();
        fs::remove_all(Root());

        for (std::size_t k = 1; k <= script.size(); ++k) {
            for (const bool drop : {true, false}) {
                SCOPED_TRACE((kind == TServerKind::Pai ? "pai, " : "cliente, ") +
                             std::string(drop ? "drop" : "error") + " at message " +
                             std::to_string(k) + " (" + script[k - 1].what + ")");
                TServerOptions o;
                o.kind = kind;
                (drop ? o.dropAtMessage : o.errorAtMessage) = static_cast<std::int64_t>(k);
                Start(o);
                script = PublishScript(port_, kind, value);  // the port changed
                script[2].reply = metadataReply;
                RawClient c(port_);
                Bytes sent;
                for (std::size_t i = 0; i < k; ++i) {
                    c.Send(script[i].send);
                    sent.insert(sent.end(), script[i].send.begin(), script[i].send.end());
                    if (i + 1 < k) {
                        EXPECT_EQ(c.Read(script[i].reply.size()), script[i].reply)
                            << script[i].what;
                    }
                }
                if (drop) {
                    EXPECT_TRUE(c.ClosedWithoutAnswer());
                    ASSERT_TRUE(server_->WaitConnectionClosed(0, 5s));
                } else {
                    const std::string error =
                        ErrorReply(101, "Falha injetada na mensagem " + std::to_string(k));
                    EXPECT_EQ(c.ReadText(error.size()), error);
                }
                // Exactly the first k messages were received and counted.
                EXPECT_EQ(server_->ReceivedBytes(0), sent);
                EXPECT_EQ(server_->MessageCount(), static_cast<std::int64_t>(k));
                if (!drop && k == 1) {
                    EXPECT_TRUE(c.ClosedWithoutAnswer());  // no handshake can follow
                } else if (!drop && k > 2) {
                    // The connection stays in step and goes on.
                    c.Send(vendor);
                    EXPECT_EQ(c.ReadText(15), R"({"result":[""]})");
                }
                // The file is stored only when the fault came after its last segment.
                const bool stored = k > 12;
                EXPECT_EQ(StoredFiles(Root()), stored ? std::vector<std::string>{"S01/a.txt"}
                                                      : std::vector<std::string>{});
                server_->Stop();
                fs::remove_all(Root());
            }
        }
    }
}

TEST_F(UpdateServerTest, MessagesAreCountedAcrossConnections) {
    TServerOptions o;
    o.dropAtMessage = 4;
    o.errorAtMessage = 6;
    Start(o);
    RawClient a(port_);
    Login(a, 1);  // messages 1 and 2
    RawClient b(port_);
    b.Send(Hex("05 05 05 05 05"));  // 3
    EXPECT_EQ(b.Read(5), Hex("06 00 00 00 00"));
    b.Send(ConnectMessage(port_));  // 4: dropped
    EXPECT_TRUE(b.ClosedWithoutAnswer());
    a.Send(R"({"method":"vendor_property","params":["x"]})");  // 5
    EXPECT_EQ(a.ReadText(15), R"({"result":[""]})");
    const std::string error = ErrorReply(101, "Falha injetada na mensagem 6");
    EXPECT_EQ(PrepareText(a, "TZvServer.PropertsFile", error.size()), error);  // 6
    // Faults strike once: message 7 is served.
    const std::string prepared = PrepareReply(1, kPropertsFileParameters);
    EXPECT_EQ(PrepareText(a, "TZvServer.PropertsFile", prepared.size()), prepared);
    EXPECT_EQ(server_->MessageCount(), 7);
}

TEST_F(UpdateServerTest, MessageCountIsWrittenOnStop) {
    TServerOptions o;
    o.messageCountFile = dir_.Path() / "mensagens.txt";
    Start(o);
    {
        RawClient c(port_);
        Login(c);
        c.Send(R"({"method":"disconnect","params":[1]})");
        EXPECT_TRUE(c.ClosedWithoutAnswer());
    }
    server_->Stop();
    std::ifstream in(dir_.Path() / "mensagens.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "3\n");
}

TEST_F(UpdateServerTest, EchoOnAParentServerAndItsRefusalOnAClientServer) {
    Start();
    RawClient c(port_);
    Login(c);
    const std::string prepared =
        "{\"result\":[{\"handle\":[1]},{\"parameters\":[2,[26,0,1,2000,0,\"Value\",0,0,0],"
        "[26,0,4,2000,0,\"ReturnParameter\",0,0,0]]}]}";
    EXPECT_EQ(PrepareText(c, "TZvServer.EchoString", prepared.size()), prepared);
    // The echo component sends its parameters object before the row.
    const Bytes row = Cat({StringField("QnJldmFudA=="), Hex("C0")});
    c.Send(Cat({Ascii("{\"method\":\"execute\",\"params\":[{\"handle\":[1]},{\"parameters\":[2,"
                      "[26,0,1,2000,0,\"Value\",0,26,0],[26,0,4,2000,0,\"ReturnParameter\",0,"
                      "2000,0]]},{\"data\":[14,"),
                row, Ascii("]}]}")}));
    EXPECT_REPLY(c, Result(Cat({Hex("C0 2C"), Ascii("QnJldmFudA==")})));
    c.Send(R"({"method":"command_close","params":[1]})");
    server_->Stop();

    TServerOptions client;
    client.kind = TServerKind::Cliente;
    Start(client);
    RawClient k(port_);
    Login(k);
    const std::string refused = ErrorReply(24, "Server method not found: TZvServer.EchoString");
    EXPECT_EQ(PrepareText(k, "TZvServer.EchoString", refused.size()), refused);
    // The connection goes on: the client class answers.
    const std::string ok = PrepareReply(1, kPropertsFileParameters);
    EXPECT_EQ(PrepareText(k, "TZvClienteServer.PropertsFile", ok.size()), ok);
}

TEST_F(UpdateServerTest, ClientServerAnswersNamesAskedWithTheSuffix) {
    TServerOptions o;
    o.kind = TServerKind::Cliente;
    Start(o);
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvClienteServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    c.Send(Execute(1, SendFileRow(test::WorkedPacket())));
    EXPECT_REPLY(c, Result(Hex("C0 C0 60")));
    PrepareText(c, "TZvClienteServer.PropertsFile",
                PrepareReply(2, kPropertsFileParameters).size());
    c.Send(Execute(2, Cat({StringField("UzAxXGEudHh0Lmh4Zg=="), Hex("C0")})));  // S01\a.txt.hxf
    EXPECT_REPLY(c, Result(Cat({Hex("C0 2F"), Ascii("20151211103000;")})));
    // The parent class is not served here.
    const std::string refused = ErrorReply(24, "Server method not found: TZvServer.SendFile");
    EXPECT_EQ(PrepareText(c, "TZvServer.SendFile", refused.size()), refused);
}

TEST_F(UpdateServerTest, RemoveFileAndAlerts) {
    Start();
    fs::create_directories(Root() / "Scripts" / "S01");
    std::ofstream(Root() / "Scripts" / "S01" / "EM_TESTE.SQL") << "x";
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.RemoveFile", PrepareReply(1, kRemoveFileParameters).size());
    const Bytes row = Cat({StringField("Scripts\\S01\\EM_TESTE.SQL"), Hex("C0")});
    ASSERT_EQ(row[0], 0x38);
    c.Send(Execute(1, row));
    EXPECT_REPLY(c, Result(Hex("C0 60")));
    EXPECT_FALSE(fs::exists(Root() / "Scripts" / "S01" / "EM_TESTE.SQL"));
    c.Send(Execute(1, row));
    EXPECT_REPLY(c, Result(Hex("C0 20")));

    PrepareText(c, "TZvServer.AlertarZvClientes",
                PrepareReply(2,
                             "{\"parameters\":[2,[26,0,1,0,0,\"Alerta\",0,0,0],[4,0,4,0,0,"
                             "\"ReturnParameter\",0,0,0]]}")
                    .size());
    c.Send(Execute(2, Cat({StringField("Atualizacao"), Hex("C0")})));
    EXPECT_REPLY(c, Result(Hex("C0 60")));
    EXPECT_EQ(server_->Alerts(), std::vector<std::u16string>{u"Atualizacao"});
    EXPECT_TRUE(fs::exists(Root() / ".alertas.log"));
}

TEST_F(UpdateServerTest, RefusedLoginIsAnErrorReplyAndTheConnectionCloses) {
    Start();
    {
        RawClient c(port_);
        c.Send(Hex("05 05 05 05 05"));
        ASSERT_EQ(c.Read(5), Hex("06 00 00 00 00"));
        c.Send(ConnectMessage(port_, "00000000000000000000000000000000"));
        EXPECT_EQ(c.ReadText(kRefusedLogin.size()), kRefusedLogin);
        EXPECT_TRUE(c.PeerClosed());
    }
    {
        RawClient c(port_);
        c.Send(Hex("05 05 05 05 05"));
        c.Read(5);
        c.Send(ConnectMessage(port_, kPassword, "Outro"));
        EXPECT_EQ(c.ReadText(kRefusedLogin.size()), kRefusedLogin);
        EXPECT_TRUE(c.PeerClosed());
    }
    {
        // The digest compares without regard to the hex digits' case.
        RawClient c(port_);
        c.Send(Hex("05 05 05 05 05"));
        c.Read(5);
        c.Send(ConnectMessage(port_, "6485b9b5c668be12667e6690be732c1f"));
        EXPECT_EQ(c.ReadText(11), "{\"result\":[");
    }
    server_->Stop();

    TServerOptions o;
    o.refuseLogin = true;
    Start(o);
    RawClient c(port_);
    c.Send(Hex("05 05 05 05 05"));
    c.Read(5);
    c.Send(ConnectMessage(port_));
    EXPECT_EQ(c.ReadText(kRefusedLogin.size()), kRefusedLogin);
    EXPECT_TRUE(c.PeerClosed());
}

TEST_F(UpdateServerTest, ReplyWithoutProtocolVersionAndOtherProductName) {
    TServerOptions o;
    o.protocolVersion = -1;
    o.productName = u"Servidor";
    Start(o);
    RawClient c(port_);
    c.Send(Hex("05 05 05 05 05"));
    c.Read(5);
    c.Send(ConnectMessage(port_));
    EXPECT_EQ(c.ReadText(25), "{\"result\":[1,\"Servidor\"]}");
    EXPECT_TRUE(c.Quiet(100ms));
}

TEST_F(UpdateServerTest, RefusedPacketsAndNamesAreErrorRepliesAndTheConnectionGoesOn) {
    Start();
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    Bytes bad = test::WorkedPacket();
    bad[0] = 0x97;
    const std::string badSignature = ErrorReply(9, "Invalid data packet: bad signature");
    c.Send(Execute(1, SendFileRow(bad)));
    EXPECT_EQ(c.ReadText(badSignature.size()), badSignature);

    const std::string escape =
        ErrorReply(9, "Destination name refused (relative part): ..\\\\..\\\\fora.txt");
    c.Send(Execute(1, SendFileRow(test::MakePacket("..\\..\\fora.txt", kExampleStamp, {1}))));
    EXPECT_EQ(c.ReadText(escape.size()), escape);
    EXPECT_FALSE(fs::exists(dir_.Path() / "fora.txt"));

    // A row that does not fit the method.
    const std::string mismatch = ErrorReply(9, "Parameter row does not match SendFile");
    c.Send(Execute(1, Hex("60 C0")));
    EXPECT_EQ(c.ReadText(mismatch.size()), mismatch);
    // A handle the server never gave.
    const std::string unknown = ErrorReply(24, "Unknown command handle 9");
    c.Send(Execute(9, Hex("C0")));
    EXPECT_EQ(c.ReadText(unknown.size()), unknown);
    // An unknown request.
    const std::string request = ErrorReply(24, "Unknown request: txbegin");
    c.Send(R"({"method":"txbegin","params":[1,{"a":[true,null]}]})");
    EXPECT_EQ(c.ReadText(request.size()), request);

    c.Send(Execute(1, SendFileRow(test::WorkedPacket())));
    EXPECT_REPLY(c, Result(Hex("C0 C0 60")));
    // Nothing but the stored file was left behind.
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(Root()))
        names.push_back(fs::relative(e.path(), Root()).string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"S01", "S01/a.txt"}));
}

TEST_F(UpdateServerTest, UnreadableRequestsEndTheConnectionWithAnErrorReply) {
    Start();
    {
        RawClient c(port_);
        c.Send(Hex("05 05 05 05 05"));
        c.Read(5);
        c.Send(Prepare("TZvServer.PropertsFile"));  // before connect
        EXPECT_EQ(c.ReadText(11), "{\"error\":{\"");
        c.ReadUntil("}");
        EXPECT_TRUE(c.PeerClosed());
    }
    {
        RawClient c(port_);
        Login(c, 1);
        c.Send("{\"method\":\"execute\",\"params\":[{\"handle\":[1]},{\"data\":[99999999999,");
        EXPECT_EQ(c.ReadText(11), "{\"error\":{\"");
        c.ReadUntil("}");
        EXPECT_TRUE(c.PeerClosed());
    }
    // The server keeps serving.
    RawClient c(port_);
    Login(c, 2);
}

TEST_F(UpdateServerTest, SendFileFaultsErrorThenFalseThenStored) {
    TServerOptions o;
    o.sendFileErrorFirst = 1;
    o.sendFileFalseFirst = 1;
    Start(o);
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    const std::string injected = ErrorReply(101, "SendFile failed (fault injection)");
    c.Send(Execute(1, SendFileRow(test::WorkedPacket())));
    EXPECT_EQ(c.ReadText(injected.size()), injected);
    c.Send(Execute(1, SendFileRow(test::WorkedPacket())));
    EXPECT_REPLY(c, Result(Hex("C0 C0 20")));
    EXPECT_FALSE(fs::exists(Root() / "S01" / "a.txt"));
    c.Send(Execute(1, SendFileRow(test::WorkedPacket())));
    EXPECT_REPLY(c, Result(Hex("C0 C0 60")));
    EXPECT_TRUE(fs::exists(Root() / "S01" / "a.txt"));
    EXPECT_EQ(server_->SendFileCalls(), 3);
}

TEST_F(UpdateServerTest, OlderPacketIsKeptOutWhenAskedToCheck) {
    Start();
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    c.Send(Execute(1, SendFileRow(test::WorkedPacket())));
    EXPECT_REPLY(c, Result(Hex("C0 C0 60")));
    const Bytes older = test::MakePacket("S01\\a.txt", kExampleStamp - 1000, Ascii("old"));
    c.Send(Execute(1, SendFileRow(older)));
    EXPECT_REPLY(c, Result(Hex("C0 C0 20")));
    EXPECT_EQ(ReadFile(Root() / "S01" / "a.txt"), Ascii("ABCDE"));
    c.Send(Execute(1, SendFileRow(older, false)));
    EXPECT_REPLY(c, Result(Hex("C0 C0 60")));
    EXPECT_EQ(ReadFile(Root() / "S01" / "a.txt"), Ascii("old"));
}

TEST_F(UpdateServerTest, DropInTheMiddleOfASegmentPullLeavesNoFile) {
    TServerOptions o;
    o.dropInPullFirst = 1;
    Start(o);
    const Bytes value = test::VariantBytes(
        test::MakePacket("S01\\big.bin", kExampleStamp, test::RandomBytes(100000, 3)));
    const Bytes row =
        Cat({Hex("50 77 FD"), Bytes(value.begin(), value.begin() + 30717), Hex("60 C0")});
    {
        RawClient c(port_);
        Login(c);
        PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
        c.Send(Execute(1, row));
        EXPECT_EQ(c.ReadUntil("]}"), "{\"more_blob\":[1,1,0,0,0]}");
        c.Send(Cat(
            {Ascii("{\"data\":[32747    ,"), Bytes(value.begin() + 30717, value.begin() + 40000)}));
        EXPECT_TRUE(c.PeerClosed());
    }
    // Neither the file nor a temporary part of it is left.
    ASSERT_TRUE(server_->WaitConnectionClosed(0, 5s));
    for (const auto& e : fs::recursive_directory_iterator(Root()))
        EXPECT_TRUE(e.is_directory()) << e.path();
    // The next connection gets its file through.
    RawClient c(port_);
    Login(c, 2);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    c.Send(Execute(1, row));
    std::size_t offset = 30717;
    std::string request;
    while ((request = c.ReadUntil("]}")) == "{\"more_blob\":[1,1,0,0,0]}") {
        const std::size_t n = std::min<std::size_t>(32747, value.size() - offset);
        std::string count = std::to_string(offset + n == value.size() ? -static_cast<long long>(n)
                                                                      : static_cast<long long>(n));
        count.resize(9, ' ');
        c.Send(Cat({Ascii("{\"data\":[" + count + ","),
                    Bytes(value.begin() + static_cast<std::ptrdiff_t>(offset),
                          value.begin() + static_cast<std::ptrdiff_t>(offset + n)),
                    Ascii("]}")}));
        offset += n;
    }
    EXPECT_EQ(request, "{\"result\":[{\"data\":[3,\xC0\xC0\x60]}");
    EXPECT_EQ(c.ReadText(2), "]}");
    EXPECT_EQ(fs::file_size(Root() / "S01" / "big.bin"), 100000u);
}

TEST_F(UpdateServerTest, ValueOverTheLimitIsRefusedWithoutReceivingIt) {
    TServerOptions o;
    o.maxValueBytes = 50000;
    Start(o);
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    // The byte array announces 10 MB; the server stops after the first row.
    Bytes value = test::VariantBytes(Bytes(100, 0));
    value[3] = 0x98;  // count 0x980064
    const Bytes row =
        Cat({Hex("50 00 6D"), Bytes(value.begin(), value.begin() + 109), Hex("60 C0")});
    c.Send(Execute(1, row));
    const std::string refused = ErrorReply(9, "Value too large (limit 50000 bytes)");
    EXPECT_EQ(c.ReadText(refused.size()), refused);
}

TEST_F(UpdateServerTest, NameRefusedInTheFirstSegmentEndsThePull) {
    Start();
    RawClient c(port_);
    Login(c);
    PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
    const Bytes value = test::VariantBytes(
        test::MakePacket("..\\fora.bin", kExampleStamp, test::RandomBytes(100000, 9)));
    // Only 20 bytes inline: the head arrives with the first segment.
    c.Send(
        Execute(1, Cat({Hex("50 00 14"), Bytes(value.begin(), value.begin() + 20), Hex("60 C0")})));
    EXPECT_EQ(c.ReadUntil("]}"), "{\"more_blob\":[1,1,0,0,0]}");
    c.Send(Cat({Ascii("{\"data\":[32747    ,"),
                Bytes(value.begin() + 20, value.begin() + 20 + 32747), Ascii("]}")}));
    const std::string refused =
        ErrorReply(9, "Destination name refused (relative part): ..\\\\fora.bin");
    EXPECT_EQ(c.ReadText(refused.size()), refused);
    // In step: the next request is served.
    const std::string prepared = PrepareReply(2, kPropertsFileParameters);
    EXPECT_EQ(PrepareText(c, "TZvServer.PropertsFile", prepared.size()), prepared);
    EXPECT_FALSE(fs::exists(dir_.Path() / "fora.bin"));
}

// Once the server asked for the Nth segment block of the connection's SendFile calls (here the
// first block of the second call) it reads nothing more and answers nothing, yet keeps the
// connection up: the client's close, or the server's stop, ends it, and the unfinished file is
// not stored.
TEST_F(UpdateServerTest, StoppingToReadAtABlockKeepsTheConnectionUpUnread) {
    for (const bool serverStops : {false, true}) {
        SCOPED_TRACE(serverStops ? "the server stops" : "the client closes");
        TServerOptions o;
        o.stopReadingAtBlock = 2;
        Start(o);
        RawClient c(port_);
        Login(c);
        PrepareText(c, "TZvServer.SendFile", PrepareReply(1, kSendFileParameters).size());
        // 30717 value bytes inline and the rest in one block.
        auto send = [&](const char* name) {
            const Bytes value = test::VariantBytes(
                test::MakePacket(name, kExampleStamp, test::RandomBytes(31000, 4)));
            c.Send(Execute(1, Cat({Hex("50 77 FD"), Bytes(value.begin(), value.begin() + 30717),
                                   Hex("60 C0")})));
            return value;
        };
        const Bytes first = send("S01\\a.bin");
        EXPECT_EQ(AnswerPulls(c, first, 30717, 32747), 1);
        const Bytes second = send("S01\\b.bin");
        EXPECT_EQ(c.ReadUntil("]}"), "{\"more_blob\":[1,2,0,0,0]}");  // the command's 2nd value
        const std::size_t received = server_->ReceivedBytes(0).size();
        c.Send(Cat({Ascii("{\"data\":[-" + std::to_string(second.size() - 30717) + ","),
                    Bytes(second.begin() + 30717, second.end()), Ascii("]}")}));
        EXPECT_TRUE(c.Quiet(300ms));  // no answer and no close
        EXPECT_EQ(server_->ReceivedBytes(0).size(), received);
        if (serverStops) {
            server_->Stop();
            EXPECT_TRUE(c.PeerClosed());
        } else {
            c.Close();
            EXPECT_TRUE(server_->WaitConnectionClosed(0, 5s));
        }
        server_.reset();
        EXPECT_TRUE(fs::exists(Root() / "S01" / "a.bin"));
        EXPECT_FALSE(fs::exists(Root() / "S01" / "b.bin"));
        fs::remove_all(Root());
    }
}

TEST_F(UpdateServerTest, SilentServerAnswersNothing) {
    TServerOptions o;
    o.silent = true;
    Start(o);
    RawClient c(port_);
    c.Send(Hex("05 05 05 05 05"));
    EXPECT_TRUE(c.Quiet(300ms));
    for (int i = 0; i < 500 && server_->ReceivedBytes(0).size() < 5; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(server_->ReceivedBytes(0), Hex("05 05 05 05 05"));
    server_->Stop();  // returns although the connection is still open
    EXPECT_TRUE(c.PeerClosed());
}

TEST_F(UpdateServerTest, SeveralConnectionsAtOnceOverBothFamilies) {
    Start();
    RawClient a(port_);
    RawClient b(port_, true);
    Login(a, 1);
    Login(b, 2);
    RawClient garbage(port_);
    garbage.Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(garbage.PeerClosed());
    const std::string prepared = PrepareReply(1, kPropertsFileParameters);
    a.Send(Prepare("TZvServer.PropertsFile"));
    b.Send(Prepare("TZvServer.PropertsFile"));
    EXPECT_EQ(b.ReadText(prepared.size()), prepared);
    EXPECT_EQ(a.ReadText(prepared.size()), prepared);
    // A request that is not a filter query is served on a channel without filters.
    RawClient direct(port_);
    direct.Send(ConnectMessage(port_));
    EXPECT_EQ(direct.ReadText(38), "{\"result\":[3,\"AtualizadorServidor\",2]}");
    EXPECT_EQ(server_->ConnectionCount(), 4u);
}

TEST_F(UpdateServerTest, CloseConnectionsDropsThemAndKeepsListening) {
    Start();
    RawClient a(port_);
    Login(a, 1);
    server_->CloseConnections();
    EXPECT_TRUE(a.PeerClosed());
    EXPECT_TRUE(server_->WaitConnectionClosed(0, 5s));
    RawClient b(port_);
    Login(b, 2);
}

TEST_F(UpdateServerTest, ReceivedBytesAreWrittenPerConnection) {
    TServerOptions o;
    o.receivedDir = dir_.Path();
    Start(o);
    {
        RawClient c(port_);
        Login(c);
    }
    ASSERT_TRUE(server_->WaitConnectionClosed(0, 5s));
    EXPECT_EQ(ReadFile(dir_.Path() / "conexao-1.bin"), server_->ReceivedBytes(0));
    EXPECT_EQ(ReadFile(dir_.Path() / "conexao-1.bin"),
              Cat({Hex("05 05 05 05 05"), Ascii(ConnectMessage(port_))}));
}

}  // namespace
}  // namespace ab::server
