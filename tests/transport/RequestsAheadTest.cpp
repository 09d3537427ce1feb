// Requests written ahead, against the bundled update server over loopback TCP: an open whose
// connect message, metadata query and echo prepare leave in one write (same bytes, fewer round
// trips), the echo on both server kinds, error answers during the open, servers that cannot take
// requests ahead or stay silent failing the probe in time, an abort that is no probe failure;
// prepares taken apart; and the temporary read deadline on an open connection.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "BundledServer.h"
#include "dbx/TDBXError.h"
#include "platform/Text.h"
#include "transport/ESondaFalhou.h"
#include "transport/TDBXCommand.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using server::TServerKind;
using server::TServerOptions;
using test::Call;
using test::DesignUpdater;
using test::Occurrences;
using test::PropertsFile;
using test::Server;
using Clock = std::chrono::steady_clock;
using TMotivo = ESondaFalhou::TMotivo;

constexpr int kProbeMs = 300;
// Room for a loaded machine (sanitizers, two shared cores) beyond a deadline.
constexpr auto kSlack = 700ms;

const std::string kMetadataExecute =
    R"({"method":"execute","params":[{"fields":[-1,false,"Dbx.MetaData","GetDatabase"]}]})";
const std::string kEchoPrepare =
    R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.EchoString"]})";

// The window's echo component, bound to the connection before it opens.
struct EchoMethod {
    TSqlServerMethod method;
    EchoMethod(TSQLConnection& conn, bool prepareAtConnect) {
        method.SetSQLConnection(&conn);
        method.SetPrepararAoConectar(prepareAtConnect);
        method.SetServerMethodName(u"TZvServer.EchoString");
        auto& value = method.Params().CreateParam(TParamDataType::ftWideString, u"Value",
                                                  TParamType::ptInput);
        value.Precision = 2000;
        auto& result = method.Params().CreateParam(TParamDataType::ftWideString, u"ReturnParameter",
                                                   TParamType::ptResult);
        result.Precision = 2000;
        result.Size = 2000;
    }
    std::u16string operator()(const std::u16string& text) {
        method.Params().ParamByName(u"Value").SetAsWideString(text);
        method.ExecuteMethod();
        method.Close();
        return method.Params().ParamByName(u"ReturnParameter").AsWideString();
    }
};

void WriteAhead(TSQLConnection& conn, bool on, int probeMs = kProbeMs) {
    conn.SetPedidosAdiante(on);
    conn.SetPrazoDaSonda(probeMs);
}

// The bytes a connection received with its port (which differs from server to server) made
// neutral.
std::string WithoutPort(std::string bytes, std::uint16_t port) {
    const std::string field = "\"Port\":\"" + std::to_string(port) + "\"";
    const auto at = bytes.find(field);
    if (at != std::string::npos)
        bytes.replace(at, field.size(), "\"Port\":\"P\"");
    return bytes;
}

// The writes a client made through a filter: after the five-byte query each one is a frame, 0D and
// a 32-bit big-endian length before its bytes (the first one carries the filters' parameters).
// -1 when the bytes are not frames.
int Frames(const std::string& bytes) {
    int frames = 0;
    for (std::size_t at = 5; at < bytes.size(); ++frames) {
        if (bytes[at] != '\x0D' || at + 5 > bytes.size())
            return -1;
        std::size_t length = 0;
        for (int i = 1; i <= 4; ++i)
            length = length << 8 | static_cast<std::uint8_t>(bytes[at + i]);
        at += 5 + length;
    }
    return frames;
}

struct OpenRun {
    std::string bytes;
    std::int64_t roundTrips = 0;
};

// Connect, two echo calls, disconnect; what the server received and its round trips.
OpenRun EchoTwice(bool ahead, bool prepareAtConnect, const char* filters = "") {
    TServerOptions o;
    o.filters = filters;
    Server s(o);
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    WriteAhead(conn, ahead);
    EchoMethod echo(conn, prepareAtConnect);
    conn.SetConnected(true);
    EXPECT_EQ(echo(u"Atualização"), u"Atualização");
    EXPECT_EQ(echo(u"outra"), u"outra");
    conn.SetConnected(false);
    OpenRun run;
    run.bytes = WithoutPort(s.Received(0), s.port);
    run.roundTrips = s.server->RoundTrips(0);
    return run;
}

// Each message leaves with the bytes it always had; only the echo's prepare moves, to right
// behind the metadata query, when it is asked for. Each step saves one round trip, and the
// second call prepares its own command as before.
TEST(RequestsAhead, OpenSendsTheSameBytesWithFewerRoundTrips) {
    const OpenRun today = EchoTwice(false, false);
    ASSERT_EQ(today.bytes.find(kMetadataExecute + kEchoPrepare), std::string::npos);
    std::string echoMoved = today.bytes;
    const auto prepareAt = echoMoved.find(kEchoPrepare);
    ASSERT_NE(prepareAt, std::string::npos);
    echoMoved.erase(prepareAt, kEchoPrepare.size());
    echoMoved.insert(echoMoved.find(kMetadataExecute) + kMetadataExecute.size(), kEchoPrepare);

    const struct {
        bool ahead, prepareAtConnect;
        const std::string& bytes;
        std::int64_t roundTripsSaved;
    } cases[] = {
        {false, true, today.bytes, 0},  // the component's wish needs the connection's switch
        {true, false, today.bytes, 1},
        {true, true, echoMoved, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ahead ? "ahead" : "one at a time") +
                     (c.prepareAtConnect ? ", echo prepared at connect" : ""));
        const OpenRun run = EchoTwice(c.ahead, c.prepareAtConnect);
        EXPECT_EQ(run.bytes, c.bytes);
        EXPECT_EQ(run.roundTrips, today.roundTrips - c.roundTripsSaved);
        EXPECT_EQ(Occurrences(run.bytes, kEchoPrepare), 2u);
    }
}

// Through a filter every write is a frame of its own: the metadata query leaves in the connect
// message's frame, and the echo's prepare with them when it is asked for.
TEST(RequestsAhead, ConnectMetadataAndPrepareLeaveInOneWrite) {
    const char* filters = R"({"PC1":{}})";
    const int today = Frames(EchoTwice(false, false, filters).bytes);
    ASSERT_GT(today, 0);
    EXPECT_EQ(Frames(EchoTwice(false, true, filters).bytes), today);
    EXPECT_EQ(Frames(EchoTwice(true, false, filters).bytes), today - 1);
    EXPECT_EQ(Frames(EchoTwice(true, true, filters).bytes), today - 2);
}

// On a client server the echo's prepare is answered with an error: the open succeeds and the
// first call raises that error, as the prepare in the call raises it without requests ahead; the
// connection stays usable, the next call prepares again, and a new open prepares again.
TEST(RequestsAhead, EchoPreparedAtConnectFailsInTheCallOnAClientServer) {
    std::optional<TDBXError> expected;
    for (const bool ahead : {false, true}) {
        SCOPED_TRACE(ahead ? "ahead" : "one at a time");
        TServerOptions o;
        o.kind = TServerKind::Cliente;
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        WriteAhead(conn, ahead);
        EchoMethod echo(conn, true);
        for (int open = 0; open < 2; ++open) {
            ASSERT_NO_THROW(conn.SetConnected(true));
            for (int call = 0; call < 2; ++call) {
                try {
                    echo(u"x");
                    ADD_FAILURE() << "the echo went through";
                } catch (const TDBXError& e) {
                    if (!expected)
                        expected = e;
                    EXPECT_EQ(e.ErrorCode(), expected->ErrorCode());
                    EXPECT_EQ(e.Message(), expected->Message());
                }
            }
            EXPECT_EQ(PropertsFile(*conn.GetDBXConnection(), u"TZvClienteServer.",
                                   u"bm9uZS50eHQuaHhm"),  // none.txt.hxf
                      u"");
            conn.SetConnected(false);
            EXPECT_EQ(Occurrences(s.Received(open), kEchoPrepare), 2u);
        }
    }
    ASSERT_TRUE(expected.has_value());
    EXPECT_EQ(expected->Message(), u"Server method not found: TZvServer.EchoString");
}

// A server's error answer during the open is no probe failure: the refused login and an error
// in place of the metadata answer are raised as they are without requests ahead, and the
// disconnect goes out only once the connection had a handle.
TEST(RequestsAhead, ErrorAnswersDuringTheOpenAreRaisedAsTheyAre) {
    const struct {
        const char* name;
        void (*fault)(TServerOptions&);
        const char16_t* message;
        bool disconnects;
    } cases[] = {
        {"login refused", [](TServerOptions& o) { o.refuseLogin = true; },
         u"Invalid username or password", false},
        {"metadata query answered with an error", [](TServerOptions& o) { o.errorAtMessage = 3; },
         u"Falha injetada na mensagem 3", true},
    };
    for (const auto& c : cases) {
        std::optional<TDBXError> errors[2];
        for (const bool ahead : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (ahead ? ", ahead" : ", one at a time"));
            TServerOptions o;
            c.fault(o);
            Server s(o);
            TSQLConnection conn;
            DesignUpdater(conn, s.port);
            WriteAhead(conn, ahead);
            EchoMethod echo(conn, true);
            try {
                conn.SetConnected(true);
                ADD_FAILURE() << "connected";
            } catch (const TDBXError& e) {
                errors[ahead] = e;
            }
            EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
            const std::string received = s.Received(0);
            EXPECT_EQ(received.find("disconnect") != std::string::npos, c.disconnects);
            // Ahead, the metadata query and the echo's prepare had left with the connect message.
            EXPECT_EQ(received.find(kMetadataExecute + kEchoPrepare) != std::string::npos, ahead);
        }
        ASSERT_TRUE(errors[0] && errors[1]);
        EXPECT_EQ(errors[1]->ErrorCode(), errors[0]->ErrorCode());
        EXPECT_EQ(errors[0]->Message(), c.message);
        EXPECT_EQ(errors[1]->Message(), c.message);
    }
}

// Servers that cannot take requests ahead, and servers that fall silent at one of the replies
// owed: the open raises ESondaFalhou within the probe deadline, ends the link and leaves the
// component closed. Against the servers that do answer one request at a time, an open without
// requests ahead then works.
TEST(RequestsAhead, ProbeFailsInTimeAgainstServersThatCannotTakeThem) {
    const struct {
        const char* name;
        void (*fault)(TServerOptions&);
        TMotivo motivo;
        bool answersOneAtATime;
    } cases[] = {
        {"drops requests ahead", [](TServerOptions& o) { o.dropRequestsAhead = true; },
         TMotivo::PrazoEsgotado, true},
        {"closes on requests ahead", [](TServerOptions& o) { o.closeOnRequestsAhead = true; },
         TMotivo::ConexaoFechada, true},
        {"silent from the connect message", [](TServerOptions& o) { o.silentFromMessage = 2; },
         TMotivo::PrazoEsgotado, false},
        {"silent from the echo's prepare", [](TServerOptions& o) { o.silentFromMessage = 4; },
         TMotivo::PrazoEsgotado, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TServerOptions o;
        c.fault(o);
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        WriteAhead(conn, true);
        EchoMethod echo(conn, true);
        const auto start = Clock::now();
        try {
            conn.SetConnected(true);
            ADD_FAILURE() << "connected";
        } catch (const ESondaFalhou& e) {
            EXPECT_EQ(e.Motivo(), c.motivo);
            EXPECT_FALSE(e.ErroOriginal().empty());
            EXPECT_NE(e.Message().find(e.ErroOriginal()), std::u16string::npos);
            if (c.motivo == TMotivo::PrazoEsgotado) {
                EXPECT_EQ(e.ErroOriginal(), TransportConstants::ErrCommunicationTimeout);
                EXPECT_NE(e.Message().find(u"300 ms"), std::u16string::npos);
            }
        }
        const auto took = Clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(kProbeMs) + kSlack);
        if (c.motivo == TMotivo::PrazoEsgotado) {
            EXPECT_GE(took, std::chrono::milliseconds(kProbeMs) - 20ms);
        }
        EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
        EXPECT_TRUE(s.server->WaitConnectionClosed(0, 10s));
        if (!c.answersOneAtATime)
            continue;
        WriteAhead(conn, false);
        conn.SetConnected(true);
        EXPECT_EQ(echo(u"um a um"), u"um a um");
        conn.SetConnected(false);
    }
}

// An abort from another thread while replies ahead are owed (no probe deadline, so only the abort
// ends the wait) is raised as an abort always is, never as a probe failure.
TEST(RequestsAhead, AnAbortIsNoProbeFailure) {
    TServerOptions o;
    o.dropRequestsAhead = true;
    Server s(o);
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    WriteAhead(conn, true, 0);
    std::thread aborter([&] {
        s.server->WaitForConnections(1, 10s);
        std::this_thread::sleep_for(200ms);
        conn.Abort();
    });
    try {
        conn.SetConnected(true);
        ADD_FAILURE() << "connected";
    } catch (const ESondaFalhou& e) {
        ADD_FAILURE() << "probe failure: " << e.what();
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.Message(), u"Read error");
    }
    aborter.join();
    EXPECT_EQ(conn.GetState(), TSQLConnection::State::Closed);
}

std::unique_ptr<TDBXCommand> ServerMethod(TDBXConnection& link, const std::u16string& name) {
    auto command = link.CreateCommand();
    command->SetCommandType(u"DataSnap.ServerMethod");
    command->SetText(name);
    return command;
}

std::u16string Execute(TDBXCommand& command, const std::u16string& argument) {
    TDBXParameterList& p = command.GetParameters();
    p.GetParameterByOrdinal(0).GetValue().SetWideString(argument);
    command.ExecuteUpdate();
    return p.GetParameterByOrdinal(1).GetValue().GetWideString();
}

// Three prepares in one write then their three replies: one round trip where three prepares one
// after the other take three, the same bytes, and commands that work. A server error answer in
// the middle is raised by its own FinishPrepare and the replies after it still pair up.
TEST(RequestsAhead, PreparesTakenApartShareOneRoundTrip) {
    const std::u16string methods[] = {u"TZvServer.EchoString", u"TZvServer.PropertsFile",
                                      u"TZvServer.EchoString"};
    std::string bytes[2];
    std::int64_t roundTrips[2];
    for (const bool apart : {false, true}) {
        SCOPED_TRACE(apart ? "taken apart" : "one after the other");
        Server s;
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        conn.SetConnected(true);
        TDBXConnection& link = *conn.GetDBXConnection();
        std::vector<std::unique_ptr<TDBXCommand>> commands;
        for (const auto& m : methods)
            commands.push_back(ServerMethod(link, m));
        for (auto& command : commands) {
            if (apart)
                command->BeginPrepare(false);
            else
                command->Prepare();
        }
        if (apart) {
            for (auto& command : commands) {
                EXPECT_TRUE(command->IsPreparing());
                command->FinishPrepare();
            }
        }
        for (auto& command : commands)
            EXPECT_TRUE(command->IsPrepared());
        EXPECT_EQ(Execute(*commands[0], u"primeiro"), u"primeiro");
        EXPECT_EQ(Execute(*commands[1], u"bm9uZS50eHQ="), u"");  // none.txt
        EXPECT_EQ(Execute(*commands[2], u"terceiro"), u"terceiro");
        commands.clear();
        conn.SetConnected(false);
        bytes[apart] = WithoutPort(s.Received(0), s.port);
        roundTrips[apart] = s.server->RoundTrips(0);
    }
    EXPECT_EQ(bytes[1], bytes[0]);
    EXPECT_EQ(roundTrips[1], roundTrips[0] - 2);

    Server s;
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    TDBXConnection& link = *conn.GetDBXConnection();
    auto first = ServerMethod(link, u"TZvServer.EchoString");
    auto missing = ServerMethod(link, u"TZvServer.Nenhum");
    auto last = ServerMethod(link, u"TZvServer.EchoString");
    for (auto* command : {first.get(), missing.get(), last.get()})
        command->BeginPrepare(false);
    first->FinishPrepare();
    try {
        missing->FinishPrepare();
        ADD_FAILURE() << "prepared";
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.Message(), u"Server method not found: TZvServer.Nenhum");
    }
    EXPECT_FALSE(missing->IsPrepared());
    EXPECT_FALSE(missing->IsPreparing());
    last->FinishPrepare();
    EXPECT_EQ(Execute(*last, u"depois do erro"), u"depois do erro");
    EXPECT_EQ(Execute(*first, u"antes do erro"), u"antes do erro");
    EXPECT_TRUE(conn.GetConnected());
}

// A prepare taken apart refuses what would mix up the replies: finishing what was not begun,
// beginning twice, executing before the reply was read. None of them writes anything, so the
// reply owed is still read in its place afterwards.
TEST(RequestsAhead, APrepareTakenApartRefusesMisuse) {
    namespace TC = TransportConstants;
    Server s;
    TSQLConnection conn;
    DesignUpdater(conn, s.port);
    conn.SetConnected(true);
    TDBXConnection& link = *conn.GetDBXConnection();
    auto command = ServerMethod(link, u"TZvServer.EchoString");
    const struct {
        const char* name;
        void (*misuse)(TDBXCommand&);
        const char16_t* message;
    } cases[] = {
        {"finish without begin", [](TDBXCommand& c) { c.FinishPrepare(); }, TC::ErrNoPrepareOwed},
        {"begin twice", [](TDBXCommand& c) { c.BeginPrepare(); }, TC::ErrPreparedOnce},
        {"prepare while owed", [](TDBXCommand& c) { c.Prepare(); }, TC::ErrPreparedOnce},
        {"execute while owed", [](TDBXCommand& c) { c.ExecuteUpdate(); }, TC::ErrPrepareReplyOwed},
        {"begin execute while owed", [](TDBXCommand& c) { c.BeginExecuteUpdate(); },
         TC::ErrPrepareReplyOwed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!command->IsPreparing() && std::string_view(c.name) != "finish without begin")
            command->BeginPrepare(false);
        try {
            c.misuse(*command);
            ADD_FAILURE() << "accepted";
        } catch (const TDBXError& e) {
            EXPECT_EQ(e.ErrorCode(), 30);
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    command->FinishPrepare();
    EXPECT_EQ(Execute(*command, u"em ordem"), u"em ordem");
}

// The temporary read deadline ends a read from a server that went silent, alone or with a
// configured deadline (the shorter one applies), and once cleared reads wait again as long as the
// server keeps the link (here until an abort ends the wait).
TEST(RequestsAhead, TemporaryReadDeadlineEndsAReadInTime) {
    const struct {
        const char16_t* communicationTimeout;
        int temporaryMs;
        bool clearedAfterwards;
        std::chrono::milliseconds ends;  // about when the read ends
    } cases[] = {
        {u"", 300, false, 300ms},
        {u"5000", 300, false, 300ms},
        {u"300", 5000, false, 300ms},
        {u"", 300, true, 700ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(ToUtf8(c.communicationTimeout) + " / " + std::to_string(c.temporaryMs) +
                     (c.clearedAfterwards ? " cleared" : ""));
        TServerOptions o;
        o.silentFromMessage = 6;  // the first request after the open
        Server s(o);
        TSQLConnection conn;
        DesignUpdater(conn, s.port);
        if (*c.communicationTimeout)
            conn.Params().Add(u"CommunicationTimeout", c.communicationTimeout);
        conn.SetConnected(true);
        TDBXConnection& link = *conn.GetDBXConnection();
        link.SetPrazoDeLeituraTemporario(c.temporaryMs);
        EXPECT_EQ(link.GetPrazoDeLeituraTemporario(), c.temporaryMs);
        if (c.clearedAfterwards)
            link.SetPrazoDeLeituraTemporario(0);
        const auto start = Clock::now();
        std::thread aborter;
        if (c.clearedAfterwards) {
            aborter = std::thread([&] {
                std::this_thread::sleep_until(start + c.ends);
                conn.Abort();
            });
        }
        try {
            PropertsFile(link, u"TZvServer.", u"eC50eHQ=");
            ADD_FAILURE() << "answered";
        } catch (const TDBXError& e) {
            EXPECT_EQ(e.Message(), c.clearedAfterwards
                                       ? u"Read error"
                                       : TransportConstants::ErrCommunicationTimeout);
        }
        const auto took = Clock::now() - start;
        if (aborter.joinable())
            aborter.join();
        EXPECT_GE(took, c.ends - 20ms);
        EXPECT_LT(took, c.ends + kSlack);
        EXPECT_FALSE(conn.GetConnected());
    }
}

}  // namespace
}  // namespace ab
