// Server-method commands against a scripted server: the worked PropertsFile exchange byte for
// byte, prepare-once, re-execution without a prepare, server errors, the command errors, the
// connection-closed state after a reconnect, and the echo call of the server-method component.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "ScriptedServer.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXWritableValue.h"
#include "platform/Text.h"
#include "transport/TDBXCommand.h"
#include "transport/TDBXConnection.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

using test::Handshake;
using test::ScriptedServer;
using test::Step;

std::string Raw(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

void Connect(TSQLConnection& conn, int port) {
    conn.SetDriverName(u"DataSnap");
    conn.Params().Lines() = {u"DriverName=DataSnap", u"HostName=127.0.0.1",
                             u"Port=" + IntToStr(port), u"Filters={}"};
    conn.SetConnected(true);
}

std::string AfterHandshake(const std::string& all) {
    const auto at = all.find(test::kMetadataClose);
    return at == std::string::npos ? all : all.substr(at + test::kMetadataClose.size());
}

void ExpectError(const std::function<void()>& f, int code, const std::u16string& message) {
    try {
        f();
        ADD_FAILURE() << "nothing raised";
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.ErrorCode(), code);
        EXPECT_EQ(e.Message(), message);
    }
}

const std::string kPrepare =
    R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.PropertsFile"]})";
const std::string kPrepareReply =
    R"({"result":[{"handle":[7]},{"parameters":[2,[26,0,1,0,0,"Arquivo",0,0,0],)"
    R"([26,0,4,0,0,"ReturnParameter",0,0,0]]}]})";

std::string ExecuteWith(const std::string& base64) {
    return R"({"method":"execute","params":[{"handle":[7]},{"data":[)" +
           std::to_string(base64.size() + 2) + "," + Raw({0x20 + int(base64.size())}) + base64 +
           Raw({0xC0}) + "]}]}";
}
std::string ReplyWith(const std::string& text) {
    return R"({"result":[{"data":[)" + std::to_string(text.size() + 2) + "," +
           Raw({0xC0, 0x20 + int(text.size())}) + text + "]}]}";
}

TEST(TDBXCommand, PropertsFileExchangeBytes) {
    auto steps = Handshake();
    steps.push_back({"PropertsFile\"]}", kPrepareReply});
    steps.push_back({"]}]}", ReplyWith("20151210083000;")});
    steps.push_back({"]}]}", ReplyWith("")});
    ScriptedServer server({steps});
    TSQLConnection conn;
    Connect(conn, server.Port());
    TDBXConnection* link = conn.GetDBXConnection();
    auto command = link->CreateCommand();
    EXPECT_EQ(command->GetCommandType(), u"Dbx.SQL");
    command->SetCommandType(u"DataSnap.ServerMethod");
    command->SetText(u"TZvServer.PropertsFile");
    EXPECT_EQ(command->GetParameters().Count(), 0);  // before the prepare
    command->Prepare();
    ExpectError([&] { command->Prepare(); }, 30, u"Command can only be prepared once");
    auto& params = command->GetParameters();
    ASSERT_EQ(params.Count(), 2);
    EXPECT_EQ(params.GetParameterByOrdinal(1).GetName(), u"ReturnParameter");
    ExpectError([&] { params.GetParameterByOrdinal(2); }, 8, u"Invalid Ordinal:  2");

    params.GetParameterByOrdinal(0).GetValue().SetWideString(u"YS50eHQ=");
    command->ExecuteUpdate();
    EXPECT_EQ(params.GetParameterByOrdinal(1).GetValue().GetWideString(), u"20151210083000;");
    // Second call: execute only, same handle, no parameters object.
    params.GetParameterByOrdinal(0).GetValue().SetWideString(u"Yi50eHQ=");
    command->ExecuteUpdate();
    EXPECT_EQ(params.GetParameterByOrdinal(1).GetValue().GetWideString(), u"");
    command.reset();  // command close
    EXPECT_EQ(link->CommandCount(), 0);
    conn.SetConnected(false);
    EXPECT_EQ(AfterHandshake(server.Received(0)), kPrepare + ExecuteWith("YS50eHQ=") +
                                                      ExecuteWith("Yi50eHQ=") +
                                                      R"({"method":"command_close","params":[7]})"
                                                      R"({"method":"disconnect","params":[7]})");
}

TEST(TDBXCommand, ErrorsAndStates) {
    auto steps = Handshake();
    steps.push_back({"EchoString\"]}", R"({"result":[{"handle":[4]},{"parameters":[1,)"
                                       R"([26,0,1,0,0,"Value",0,0,0]]}]})"});
    steps.push_back({"]}]}", R"({"error":{"name":"EServer","code":55,"message":"boom"})"});
    steps.push_back({"]}]}", R"({"result":[]})"});
    ScriptedServer server({steps});
    TSQLConnection conn;
    Connect(conn, server.Port());
    auto command = conn.GetDBXConnection()->CreateCommand();
    command->SetCommandType(u"DataSnap.ServerMethod");
    ExpectError([&] { command->ExecuteUpdate(); }, 30, u"No statement to execute");
    command->SetText(std::u16string(u"TZvServer.EchoString\0junk", 25));
    command->Prepare();
    // An in parameter never set: nothing goes out.
    ExpectError([&] { command->ExecuteUpdate(); }, 11, u"Parameter not set for column number 0");
    command->GetParameters().GetParameterByOrdinal(0).GetValue().SetWideString(u"x");
    ExpectError([&] { command->ExecuteUpdate(); }, 55, u"boom");
    EXPECT_TRUE(command->IsPrepared());
    command->ExecuteUpdate();  // the reply after an error reply is read from the right place
    EXPECT_EQ(command->GetRowsAffected(), -1);
    // A connection closed under a cached command: it closes, then refuses further use.
    conn.SetConnected(false);
    EXPECT_TRUE(command->IsConnectionClosed());
    ExpectError([&] { command->ExecuteUpdate(); }, 30, u"Operation failed.  Connection was closed");
    ExpectError([&] { command->Prepare(); }, 30, u"Operation failed.  Connection was closed");
    command.reset();  // freeing it is still fine
    const std::string row = Raw({0x21, 'x'});
    EXPECT_EQ(
        AfterHandshake(server.Received(0)),
        R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.EchoString"]})"
        R"({"method":"execute","params":[{"handle":[4]},{"data":[2,)" +
            row + "]}]}" + R"({"method":"execute","params":[{"handle":[4]},{"data":[2,)" + row +
            "]}]}" +
            R"({"method":"command_close","params":[4]}{"method":"disconnect","params":[7]})");
}

TEST(TDBXCommand, ReconnectLeavesCachedCommandsClosed) {
    auto first = Handshake(R"({"result":[1,"S"]})");
    first.push_back({"PropertsFile\"]}", kPrepareReply});
    ScriptedServer server({first, Handshake(R"({"result":[2,"S"]})")});
    TSQLConnection conn;
    Connect(conn, server.Port());
    auto cached = conn.GetDBXConnection()->CreateCommand();
    cached->SetCommandType(u"DataSnap.ServerMethod");
    cached->SetText(u"TZvServer.PropertsFile");
    cached->Prepare();
    auto neverPrepared = conn.GetDBXConnection()->CreateCommand();
    conn.SetConnected(false);
    conn.SetConnected(true);
    ExpectError([&] { cached->GetParameters(); }, 30, u"Operation failed.  Connection was closed");
    cached.reset();
    neverPrepared.reset();
    conn.SetConnected(false);
    // The old connection: the command's close before the disconnect with the old handle.
    EXPECT_EQ(AfterHandshake(server.Received(0)), kPrepare +
                                                      R"({"method":"command_close","params":[7]})"
                                                      R"({"method":"disconnect","params":[1]})");
    EXPECT_EQ(AfterHandshake(server.Received(1)), R"({"method":"disconnect","params":[2]})");
}

TEST(TSqlServerMethod, EchoSendsPrepareExecuteWithParametersAndClose) {
    auto steps = Handshake();
    steps.push_back({"EchoString\"]}", R"({"result":[{"handle":[4]},{"parameters":[2,)"
                                       R"([26,0,1,0,0,"Value",0,0,0],)"
                                       R"([26,0,4,2000,0,"ReturnParameter",0,0,0]]}]})"});
    steps.push_back({"]}]}", R"({"result":[{"data":[7,)" + Raw({0xC0, 0x25}) + "Hello]}]}"});
    steps.push_back(
        {"EchoString\"]}", R"({"error":{"name":"E","code":2,"message":"no such method"})"});
    ScriptedServer server({steps});
    TSQLConnection conn;
    TSqlServerMethod echo;
    try {
        echo.ExecuteMethod();
        ADD_FAILURE();
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), u"SQLConnection property required for this operation");
    }
    Connect(conn, server.Port());
    echo.SetSQLConnection(&conn);
    echo.SetServerMethodName(u"TZvServer.EchoString");
    auto& value =
        echo.Params().CreateParam(TParamDataType::ftWideString, u"Value", TParamType::ptInput);
    value.Precision = 2000;
    auto& ret = echo.Params().CreateParam(TParamDataType::ftWideString, u"ReturnParameter",
                                          TParamType::ptResult);
    ret.Precision = 2000;
    ret.Size = 2000;
    value.SetAsWideString(u"Hello");
    echo.ExecuteMethod();
    echo.Close();
    EXPECT_EQ(ret.AsWideString(), u"Hello");
    ExpectError([&] { echo.ExecuteMethod(); }, 2, u"no such method");
    conn.SetConnected(false);
    EXPECT_EQ(
        AfterHandshake(server.Received(0)),
        R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.EchoString"]})"
        R"({"method":"execute","params":[{"handle":[4]},{"parameters":[2,)"
        R"([26,0,1,0,0,"Value",0,12,128],[26,0,4,2000,0,"ReturnParameter",0,0,128]]},{"data":[7,)" +
            Raw({0x25}) + "Hello" + Raw({0xC0}) + "]}]}" +
            R"({"method":"command_close","params":[4]})"
            R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.EchoString"]})"
            R"({"method":"disconnect","params":[7]})");
}

// A server that stops reading in the middle of a call's request: the request's write fails after
// "CommunicationTimeout" without progress, and the caller of the server method gets the layer's
// error as it was raised (through the writer, the filter channel and the command), not a read
// error or nothing. The connection is lost afterwards.
TEST(TSqlServerMethod, ARequestTheServerNeverTakesFailsWithTheWriteTimeout) {
    std::atomic<bool> done{false};
    test::ScriptedPeer peer([&](test::PeerConnection& c, int) {
        // A fixed 256 KB instead of a buffer that grows to the system's limit (tens of MB).
        const int rcvbuf = 128 << 10;
        ::setsockopt(c.Fd(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
        for (const Step& step : Handshake()) {
            step.until.empty() ? c.Receive(5) : c.ReceiveUntil(step.until);
            c.Send(step.reply);
        }
        c.ReceiveUntil("EchoString\"]}");
        c.Send(R"({"result":[{"handle":[4]},{"parameters":[2,[26,0,1,0,0,"Value",0,0,0],)"
               R"([26,0,4,2000,0,"ReturnParameter",0,0,0]]}]})");
        // The execute holds the value's first 64 KB; the server asks for the next block, which
        // is as large as the client's buffer, and never reads again.
        // Read in large pieces: byte by byte, a slow machine could miss the client's deadline.
        std::string execute;
        while (!execute.ends_with("]}]}") && execute.size() < (1u << 20)) {
            const std::string piece = c.Receive(1 << 16, 50);
            if (piece.empty() && done)
                break;
            execute += piece;
        }
        c.Send(R"({"more_blob":[4,1,0,0,0]})");
        for (int i = 0; i < 1000 && !done; ++i)
            std::this_thread::sleep_for(10ms);
    });
    TSQLConnection conn;
    conn.SetDriverName(u"DataSnap");
    conn.Params().Lines() = {u"DriverName=DataSnap",           u"HostName=127.0.0.1",
                             u"Port=" + IntToStr(peer.Port()), u"Filters={}",
                             u"CommunicationTimeout=1500",     u"BufferKBSize=16384"};
    conn.SetConnected(true);
    TSqlServerMethod echo;
    echo.SetSQLConnection(&conn);
    echo.SetServerMethodName(u"TZvServer.EchoString");
    // Blocks of 16 MB: far more than the socket buffers hold.
    auto& value = echo.Params().CreateParam(TParamDataType::ftBlob, u"Value", TParamType::ptInput);
    echo.Params().CreateParam(TParamDataType::ftWideString, u"ReturnParameter",
                              TParamType::ptResult);
    value.SetAsBlob(std::vector<std::uint8_t>(16u << 20, 'x'));
    const auto start = std::chrono::steady_clock::now();
    try {
        echo.ExecuteMethod();
        ADD_FAILURE() << "the call ended";
    } catch (const TDBXError& e) {
        EXPECT_EQ(e.ErrorCode(), 0);
        EXPECT_EQ(e.Message(), u"Write timeout error");
    } catch (const Exception& e) {
        ADD_FAILURE() << e.ClassName() << ": " << ToUtf8(e.Message());
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    done = true;
    // The deadline leaves room for a loaded machine to read the execute and ask for the block.
    EXPECT_GE(ms, 1400);
    EXPECT_LT(ms, 10000);
    EXPECT_FALSE(conn.GetConnected());
}

}  // namespace
}  // namespace ab
