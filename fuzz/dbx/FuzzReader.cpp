// Fuzz target: server bytes read by the client -- prepare and execute replies with interleaved
// requests, error bodies, output values (segments included), and raw token reading. Every
// malformed input must end in an exception of the program's own hierarchy.
#include <cstdint>
#include <span>

#include "dbx/TDBXExecuteMessage.h"
#include "dbx/TDBXJSonClientInputConnectionHandler.h"
#include "dbx/TDBXJSonClientOutputConnectionHandler.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXStreamReader.h"
#include "dbx/TDBXWritableValue.h"
#include "platform/Exception.h"
#include "support/MemoryChannel.h"

namespace {

using namespace ab;

// Mode 0: a prepare, two executes and every value read, as a command would.
void Conversation(test::BufferChannel& channel) {
    TDBXJSonStreamWriter writer(&channel, 32768);
    TDBXJSonStreamReader reader(&channel, 512);
    writer.Open();
    reader.Open();
    TDBXJSonClientInputConnectionHandler input(reader, writer);
    TDBXJSonClientOutputConnectionHandler output(writer, input);
    TDBXRowBuffer row(writer.CalcRowBufferSize());
    row.SetClient(&writer, &reader);
    TDBXParameterList list;
    list.SetRowBuffer(&row);
    TDBXExecuteMessage m;
    m.CommandType = u"DataSnap.ServerMethod";
    m.CommandText = u"TZvServer.PropertsFile";
    m.Parameters = &list;
    m.ParameterBuffer = &row;
    output.DbxPrepare(m);
    m.Prepared = true;
    for (int round = 0; round < 2; ++round) {
        row.BeginExecution(m.CommandHandle);
        for (int i = 0; i < list.Count(); ++i) {
            TDBXWritableValue& v = list.GetParameterByOrdinal(i).GetValue();
            try {
                v.SetWideString(u"x");
            } catch (const Exception&) {
                v.SetNull();
            }
        }
        list.WriteValues();
        try {
            output.DbxExecute(m);
        } catch (const Exception&) {
        }
        if (m.Reader) {
            while (m.Reader->Next()) {
                for (int c = 0; c < m.Reader->ColumnCount(); ++c)
                    m.Reader->GetWideString(c);
            }
        }
        for (int i = 0; i < list.Count(); ++i) {
            TDBXWritableValue& v = list.GetParameterByOrdinal(i).GetValue();
            try {
                v.IsNull();
                v.GetStreamReader()->ReadAll();
            } catch (const Exception&) {
            }
        }
    }
}

// Mode 1: token-level reading steered by the input's own bytes.
void Tokens(test::BufferChannel& channel, std::span<const std::uint8_t> steer) {
    TDBXJSonStreamReader reader(&channel, 64);
    reader.Open();
    for (std::size_t i = 0; i < 4096; ++i) {
        switch (steer[i % steer.size()] % 9) {
            case 0:
                reader.Next();
                break;
            case 1:
                reader.ReadInt();
                break;
            case 2:
                reader.ReadLong();
                break;
            case 3:
                reader.ReadString();
                break;
            case 4:
                reader.SkipToEndOfObject();
                break;
            case 5:
                reader.SkipToEndOfArray();
                break;
            case 6:
                reader.NextResultObjectStart();
                break;
            case 7: {
                std::vector<std::uint8_t> block;
                reader.ReadDataBlock(block, 1 << 20);
                break;
            }
            default:
                reader.ReadBoolean();
                break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t mode = data[0];
    std::span<const std::uint8_t> rest(data + 1, size - 1);
    try {
        if (mode % 2 == 0) {
            test::BufferChannel channel({rest.begin(), rest.end()}, 1 + mode % 7);
            Conversation(channel);
        } else {
            const std::size_t steerLength = std::min<std::size_t>(rest.size(), 8);
            test::BufferChannel channel({rest.begin() + steerLength, rest.end()});
            Tokens(channel, rest.first(steerLength));
        }
    } catch (const ab::Exception&) {
    }
    return 0;
}
