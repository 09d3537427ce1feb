// Helpers for the codec tests: byte strings, hex, and a minimal command that drives the message
// handlers the way the transport's command does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TDBXError.h"
#include "dbx/TDBXExecuteMessage.h"
#include "dbx/TDBXJSonClientInputConnectionHandler.h"
#include "dbx/TDBXJSonClientOutputConnectionHandler.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXPrepareMessage.h"
#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXWritableValue.h"

namespace ab::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes B(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

// "28 43 3A" -> bytes.
inline Bytes Hex(std::string_view hex) {
    Bytes out;
    int high = -1;
    for (const char c : hex) {
        int v;
        if (c >= '0' && c <= '9')
            v = c - '0';
        else if (c >= 'A' && c <= 'F')
            v = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            v = c - 'a' + 10;
        else
            continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i)
            out.push_back(' ');
        out.push_back(digits[bytes[i] >> 4]);
        out.push_back(digits[bytes[i] & 15]);
    }
    return out;
}

inline Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

inline std::string Str(std::span<const std::uint8_t> bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Runs f and returns the TDBXError it raises (fails the test when it raises none).
template <typename F>
TDBXError CatchDbx(F&& f) {
    try {
        f();
    } catch (const TDBXError& e) {
        return e;
    }
    ADD_FAILURE() << "no TDBXError raised";
    return TDBXError(-1, u"none");
}

// One connection's codec objects over a channel.
struct ClientSide {
    explicit ClientSide(TDbxChannel* channel, int bufferSize = 32768)
        : writer(channel, bufferSize),
          reader(channel, bufferSize),
          input(reader, writer),
          output(writer, input) {
        writer.Open();
        reader.Open();
    }
    TDBXJSonStreamWriter writer;
    TDBXJSonStreamReader reader;
    TDBXJSonClientInputConnectionHandler input;
    TDBXJSonClientOutputConnectionHandler output;
};

// A minimal command: prepare, execute (with the row of its parameters), close.
class TestCommand {
  public:
    TestCommand(ClientSide& client, std::u16string type, std::u16string text)
        : client_(client),
          type_(std::move(type)),
          text_(std::move(text)),
          row_(client.writer.CalcRowBufferSize()) {
        row_.SetClient(&client.writer, &client.reader);
        list_.SetRowBuffer(&row_);
    }

    void Prepare() {
        TDBXPrepareMessage m;
        Fill(m);
        client_.output.DbxPrepare(m);
        handle_ = m.CommandHandle;
        prepared_ = true;
    }

    void Execute() {
        if (list_.Count() > 0 && !prepared_)
            Prepare();
        row_.BeginExecution(handle_);
        if (list_.Count() > 0)
            list_.WriteValues();
        execute_.Prepared = prepared_;
        Fill(execute_);
        client_.output.DbxExecute(execute_);
        handle_ = execute_.CommandHandle;
    }

    void Close() {
        if (handle_ >= 0)
            client_.writer.WriteCommandCloseObject(handle_);
        row_.InvalidateHandle();
        handle_ = -1;
        prepared_ = false;
        list_.Clear();
    }

    TDBXWritableValue& Value(int ordinal) {
        return list_.GetParameterByOrdinal(ordinal).GetValue();
    }
    TDBXParameterList& Parameters() { return list_; }
    TDBXRowBuffer& Row() { return row_; }
    TDBXExecuteMessage& LastExecute() { return execute_; }
    std::int32_t Handle() const { return handle_; }

  private:
    void Fill(TDBXPrepareMessage& m) {
        m.CommandHandle = handle_;
        m.CommandType = type_;
        m.CommandText = text_;
        m.Parameters = &list_;
        m.ParameterBuffer = &row_;
    }

    ClientSide& client_;
    std::u16string type_;
    std::u16string text_;
    TDBXRowBuffer row_;
    TDBXParameterList list_;
    TDBXExecuteMessage execute_;
    std::int32_t handle_ = -1;
    bool prepared_ = false;
};

}  // namespace ab::test
