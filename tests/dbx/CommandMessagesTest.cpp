// Command messages against canned server bytes: the traced PropertsFile call, prepare and execute
// reply forms, errors, interleaved requests, returned tables and client segment fetching.
#include "DbxTestSupport.h"
#include "dbx/DbxConstants.h"
#include "dbx/TDBXNextResultMessage.h"
#include "dbx/TDBXStreamReader.h"
#include "support/MemoryChannel.h"

namespace ab::test {
namespace {

using DT = TDBXDataTypes;

const std::string kPrepareRequest =
    R"({"method":"prepare","params":[-1,false,"DataSnap.ServerMethod","TZvServer.PropertsFile"]})";
const std::string kPrepareReply =
    R"({"result":[{"handle":[7]},{"parameters":[2,[26,0,1,0,0,"Arquivo",0,0,0],)"
    R"([26,0,4,0,0,"ReturnParameter",0,0,0]]}]})";

std::string ReplyRow(const Bytes& row) {
    return "{\"result\":[{\"data\":[" + std::to_string(row.size()) + "," + Str(row) + "]}]}";
}

std::string ExecuteRequest(const Bytes& row) {
    return "{\"method\":\"execute\",\"params\":[{\"handle\":[7]},{\"data\":[" +
           std::to_string(row.size()) + "," + Str(row) + "]}]}";
}

// A client over canned server bytes; what it writes is recorded.
struct Canned {
    explicit Canned(std::string server, std::size_t perRead = 0)
        : channel(B(server), perRead),
          client(&channel),
          command(client, u"DataSnap.ServerMethod", u"TZvServer.PropertsFile") {}
    std::string Written() const { return Str(channel.written); }
    BufferChannel channel;
    ClientSide client;
    TestCommand command;
};

void RunPropertsFileCalls(Canned& c) {
    c.command.Prepare();
    c.command.Value(0).SetWideString(u"YS50eHQ=");
    c.command.Execute();
    EXPECT_EQ(c.command.Value(1).GetWideString(), u"20151210083000;");
    c.command.Value(0).SetWideString(u"Yi50eHQ=");
    c.command.Execute();
    EXPECT_EQ(c.command.Value(1).GetWideString(), u"");
    c.command.Close();
}

TEST(CommandMessages, PropertsFileTracedEndToEnd) {
    const std::string server = kPrepareReply + ReplyRow(Cat({Hex("C0 2F"), B("20151210083000;")})) +
                               ReplyRow(Hex("C0 20"));
    const std::string expected = kPrepareRequest +
                                 ExecuteRequest(Hex("28 59 53 35 30 65 48 51 3D C0")) +
                                 ExecuteRequest(Cat({Hex("28"), B("Yi50eHQ="), Hex("C0")})) +
                                 R"({"method":"command_close","params":[7]})";
    for (std::size_t perRead : {0, 1, 7}) {
        Canned c(server, perRead);
        RunPropertsFileCalls(c);
        EXPECT_EQ(c.Written(), expected) << perRead;
    }
    // The reply created both parameters with the extended flag.
    Canned c(kPrepareReply);
    c.command.Prepare();
    ASSERT_EQ(c.command.Parameters().Count(), 2);
    const TDBXParameter& ret = c.command.Parameters().GetParameterByOrdinal(1);
    EXPECT_EQ(ret.GetName(), u"ReturnParameter");
    EXPECT_EQ(ret.GetParameterDirection(), TDBXParameterDirections::ReturnParameter);
    EXPECT_EQ(ret.GetValueTypeFlags(), 0x80);
    EXPECT_EQ(c.command.Row().CommandHandle(), 7);
    EXPECT_FALSE(c.command.Parameters().ParameterTypesChanged());
}

// Cut anywhere, the canned conversation ends in a TDBXError, never a crash or a hang.
TEST(CommandMessages, TruncatedConversationsFail) {
    const std::string server = kPrepareReply + ReplyRow(Cat({Hex("C0 2F"), B("20151210083000;")})) +
                               ReplyRow(Hex("C0 20"));
    for (std::size_t cut = 0; cut < server.size(); ++cut) {
        Canned c(server.substr(0, cut));
        EXPECT_EQ(CatchDbx([&] { RunPropertsFileCalls(c); }).ErrorCode(), 1) << cut;
    }
}

TEST(CommandMessages, PrepareReplyForms) {
    Canned c(R"({"result":[{"parameters":[1,[4,0,4,0,0,"R",0,0]]},{"fields":[1,true]},)"
             R"({"x":{"y":[1,"]}"]}},{"handle":[9]}]}  {"result":[{"handle":[3]}]})");
    c.command.Prepare();
    EXPECT_EQ(c.command.Handle(), 9);
    ASSERT_EQ(c.command.Parameters().Count(), 1);
    EXPECT_EQ(c.command.Parameters().GetParameterByOrdinal(0).GetDataType(), DT::BooleanType);
    // A list that already has parameters: entries are read and discarded.
    c.command.Prepare();
    EXPECT_EQ(c.command.Handle(), 3);
    EXPECT_EQ(c.command.Parameters().Count(), 1);

    // Text out/return parameters of size 0 take their precision as size; unknown types fail
    // only once the reply is read.
    Canned t(R"({"result":[{"parameters":[2,[26,0,4,2000,0,"R",0,0,0],[24,0,1,0,0,"T",0,8,0]]}]})"
             R"({"result":[{"handle":[1]}]})");
    EXPECT_EQ(CatchDbx([&] { t.command.Prepare(); }).Message(), u"Unexpected data type 24");
    EXPECT_EQ(t.command.Parameters().GetParameterByOrdinal(0).GetSize(), 2000);
    t.command.Prepare();
    EXPECT_EQ(t.command.Handle(), 1);

    Canned empty(R"({"result":[]})");
    EXPECT_EQ(CatchDbx([&] { empty.command.Prepare(); }).ErrorCode(), 2);
}

TEST(CommandMessages, ExecuteReplyForms) {
    Canned c(kPrepareReply + ReplyRow(Cat({Hex("C0 21"), B("A")})) + R"({"result":[]})" +
             R"({"result":[{"x":[1]},{"rows":[5]},{"session":[true,2,"s"]},{"handle":[7]}]})" +
             R"({"error":{"name":"EZv","code":77,"message":"falhou"})" +
             R"(   {"result":[{"rows":[1]}]})");
    c.command.Prepare();
    c.command.Value(0).SetWideString(u"a");
    c.command.Execute();
    EXPECT_EQ(c.command.Value(1).GetWideString(), u"A");
    // No members: rows affected -1, the row and the values unchanged.
    c.command.Execute();
    EXPECT_EQ(c.command.LastExecute().RowsAffected, -1);
    EXPECT_EQ(c.command.Value(1).GetWideString(), u"A");
    c.command.Execute();
    EXPECT_EQ(c.command.LastExecute().RowsAffected, 5);
    EXPECT_EQ(c.command.LastExecute().IsolationLevel, 2);
    const TDBXError e = CatchDbx([&] { c.command.Execute(); });
    EXPECT_EQ(e.ErrorCode(), 77);
    EXPECT_EQ(e.Message(), u"falhou");
    c.command.Execute();  // the next reply starts right after the error's inner brace
    EXPECT_EQ(c.command.LastExecute().RowsAffected, 1);
}

TEST(CommandMessages, OutputValuesNeedAParameterRow) {
    BufferChannel channel(B(ReplyRow(Hex("C0")) + R"({"result":[{"rows":[2]}]})"));
    ClientSide client(&channel);
    TDBXParameterList list;
    TDBXParameter& ret = list.AddParameter();
    ret.SetDataType(DT::BooleanType);
    ret.SetParameterDirection(TDBXParameterDirections::ReturnParameter);
    TDBXExecuteMessage m;
    m.Prepared = true;
    m.CommandHandle = 4;
    m.Parameters = &list;
    const TDBXError e = CatchDbx([&] { client.output.DbxExecute(m); });
    EXPECT_EQ(e.ErrorCode(), 30);
    EXPECT_EQ(e.Message(), u"Commands with output values must be prepared");
    client.output.DbxExecute(m);
    EXPECT_EQ(m.RowsAffected, 2);
}

TEST(CommandMessages, InterleavedRequests) {
    Canned c(kPrepareReply + R"({"metadata":[7,{"a":1}]})" + R"({"next":[3,0,7]})" +
             R"({"callback":[9,[0,1,"x"]]})" + R"({"callback":[3,x]!]})" +
             R"({"more_blob":[7,1,0,1,0]})" + R"({"result":[]})" +
             R"({"metadata":[3,abc]}{"more_blob":[7,2,0,9]}{"result":[{"rows":[4]}]})" +
             R"({"result":[{"rows":[6]}]})");
    c.command.Prepare();
    c.command.Value(0).SetWideString(u"a");
    c.command.Execute();
    ASSERT_TRUE(c.client.input.InvocationMetadata().has_value());
    EXPECT_EQ(c.client.input.InvocationMetadata()->ToAscii(), R"({"a":1})");
    const std::string written = c.Written();
    const std::string answers =
        written.substr(kPrepareRequest.size() + ExecuteRequest(Hex("21 61 C0")).size());
    EXPECT_EQ(answers,
              std::string(R"({"data":[0,]})") +
                  R"({"error":{"name":"TDBXError","code":0,"message":"A callback parameter cannot )"
                  R"(be found at the provided index"})" +
                  R"({"error":{"name":"TDBXError","code":0,"message":"Callback input argument )"
                  R"(cannot be parsed properly. This is due to a parser error or the server )"
                  R"(side-serialization"})" +
                  R"({"data":[0        ,]})");
    // A metadata value that does not parse fails once the reply has been read to its end.
    const TDBXError e = CatchDbx([&] { c.command.Execute(); });
    EXPECT_EQ(e.ErrorCode(), 29);
    EXPECT_EQ(e.Message(), u"Cannot parse properly the metadata value");
    c.command.Execute();
    EXPECT_EQ(c.command.LastExecute().RowsAffected, 6);
}

TEST(CommandMessages, ReturnedTable) {
    const std::string table =
        R"({"result":[{"table":[{"fields":[5,false,3,1,false]},)"
        R"({"columns":[2,["QuoteChar",26,0,1,0,2,0],["MaxCommands",6,0,0,0,4,1,1]]}]}]})";
    const Bytes block1 = Hex("21 22 61 05 21 27 62 01 00");
    const Bytes block2 = Hex("20 C0");
    const std::string server = table + "{\"data\":[" + std::to_string(block1.size()) + "," +
                               Str(block1) + "]}" + "{\"data\":[-2," + Str(block2) + "]}";
    BufferChannel channel(B(server));
    ClientSide client(&channel);
    TestCommand command(client, u"Dbx.MetaData", u"GetDatabase");
    command.Execute();
    std::unique_ptr<TDBXJSonReader> reader = std::move(command.LastExecute().Reader);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->ColumnCount(), 2);
    EXPECT_EQ(reader->GetOrdinal(u"MaxCommands"), 1);
    EXPECT_EQ(reader->GetOrdinal(u"Nope"), -1);
    EXPECT_EQ(reader->GetValueType(0).GetValueTypeFlags(), 0x80);
    EXPECT_EQ(reader->GetValueType(1).GetValueTypeFlags(), 0x82);
    EXPECT_EQ(reader->GetValueType(1).GetParameterDirection(), 1);
    EXPECT_TRUE(reader->GetValueType(0).IsReadOnly());
    ASSERT_TRUE(reader->Next());
    EXPECT_EQ(reader->GetWideString(0), u"\"");
    EXPECT_EQ(reader->GetInt32(1), 5);
    ASSERT_TRUE(reader->Next());
    EXPECT_EQ(reader->GetWideString(0), u"'");
    EXPECT_EQ(reader->GetInt32(1), 256);
    ASSERT_TRUE(reader->Next());  // asks for the next block
    EXPECT_EQ(reader->GetWideString(0), u"");
    EXPECT_TRUE(reader->IsNull(1));
    EXPECT_FALSE(reader->Next());
    reader->Close();
    reader->Close();
    EXPECT_EQ(
        Str(channel.written),
        R"({"method":"execute","params":[{"fields":[-1,false,"Dbx.MetaData","GetDatabase"]}]})"
        R"({"method":"next","params":[3,2,5]})"
        R"({"method":"reader_close","params":[3,5]})");

    // A row that runs past its block fails.
    BufferChannel bad(B(table + "{\"data\":[-3,\x21\x22\x61]}"));
    ClientSide badClient(&bad);
    TestCommand badCommand(badClient, u"Dbx.MetaData", u"GetDatabase");
    badCommand.Execute();
    EXPECT_EQ(CatchDbx([&] { badCommand.LastExecute().Reader->Next(); }).ErrorCode(),
              TDBXErrorCodes::InvalidLength);
}

TEST(CommandMessages, NextResult) {
    BufferChannel channel(B(
        R"({"result":[true,3,false,0]}{"table":[{"fields":[5,false]},{"columns":[1,["A",4,0,0,0,1,0]]}]})"
        R"({"data":[-1,`]})"
        R"({"result":[false,-1,false,-1]})"));
    ClientSide client(&channel);
    TDBXNextResultMessage m;
    m.CommandHandle = 5;
    client.output.DbxNextResult(m);
    EXPECT_TRUE(m.HasResult);
    EXPECT_EQ(m.RowsAffected, 3);
    ASSERT_TRUE(m.Reader);
    ASSERT_TRUE(m.Reader->Next());
    EXPECT_TRUE(m.Reader->GetBoolean(0));
    client.output.DbxNextResult(m);
    EXPECT_FALSE(m.HasResult);
    EXPECT_FALSE(m.Reader);
    EXPECT_EQ(Str(channel.written),
              R"({"method":"next_result","params":[5]}{"method":"next_result","params":[5]})");
}

// Output values that arrive in segments are fetched with client more-blob requests.
TEST(CommandMessages, ClientFetchesFurtherSegments) {
    Canned c(kPrepareReply + ReplyRow(Cat({Hex("C0 50 00 03"), B("abc")})) +
             R"({"result":[{"data":[3  ,def]}]})" + R"({"result":[{"data":[-2,gh]}]})" +
             R"({"result":[{"data":[2,ij]}]})" + R"({"error":{"code":8,"message":"gone"})");
    c.command.Prepare();
    c.command.Value(0).SetWideString(u"a");
    c.command.Execute();
    EXPECT_EQ(c.command.Value(1).GetWideString(), u"abcdefgh");
    const std::string request = R"({"method":"more_blob","params":[7,1,0,1,true,0]})";
    EXPECT_EQ(c.Written().substr(c.Written().size() - 2 * request.size()), request + request);
    // The value is read once per reply; a server error while fetching reaches the caller.
    c.command.Row().IncrementGeneration();
    EXPECT_EQ(CatchDbx([&] { c.command.Value(1).GetWideString(); }).Message(), u"gone");
}

TEST(CommandMessages, BlobReadersOfAFinishedExecutionFail) {
    const std::string prepare =
        R"({"result":[{"handle":[7]},{"parameters":[1,[3,0,4,0,0,"R",0,0,0]]}]})";
    Canned c(prepare + ReplyRow(Hex("50 00 01 41")) + R"({"result":[]})");
    c.command.Prepare();
    c.command.Execute();
    auto stream = c.command.Value(0).GetStreamReader();
    std::uint8_t byte;
    EXPECT_EQ(stream->Read(std::span(&byte, 1)), 1u);  // the inline byte
    c.command.Execute();
    const std::size_t before = c.channel.written.size();
    const TDBXError e = CatchDbx([&] { stream->Read(std::span(&byte, 1)); });
    EXPECT_EQ(e.ErrorCode(), 4);
    EXPECT_EQ(e.Message(), u"Command closed or executed again");
    EXPECT_EQ(c.channel.written.size(), before);  // nothing was sent
}

}  // namespace
}  // namespace ab::test
