// TDBXJSonStreamReader: pulls bytes from the channel into a read buffer and offers token-level
// reading (next token, expected token, numbers, strings, booleans, raw bytes, skipping).
//
// Calling protocol: construct on a channel with the buffer size in bytes (0 means 8192), Open, then
// read tokens in the order a message lays them out. The "current byte" is the last one consumed:
// Next consumes one token (for a number only its first byte, so numbers are read with ReadInt /
// ReadLong directly after the token before them, never after Next). ReadDataBytes copies raw bytes
// that start right after the current byte. The reader asks the channel for bytes only when it needs
// one it does not hold, and then blocks inside the channel.
//
// Errors: every syntax fault raises TDBXError code 2 with the texts below (the rest of the buffer
// is discarded first); a channel read returning 0 or less raises TDBXError code 1 "Read error"; an
// error reply from the peer is raised as TDBXError with the peer's code and message. A data-store
// header with flag 0 raises a plain Exception "Server uses unsupported streaming protocol".
//
// Lengths from the wire never size an allocation: ReadDataBlock grows its destination as bytes
// actually arrive and refuses blocks longer than the limit given.
//
// Returned string views / spans are valid until the next call on the reader. Not thread-safe.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TBufferDeBytes.h"
#include "dbx/TDbxChannel.h"

namespace ab {

class TDBXJSonStreamReader {
  public:
    static constexpr int DefaultBufferSize = 8192;
    // Largest data block the codec accepts into memory (rows, table blocks, segments).
    static constexpr std::int64_t MaxDataBlockSize = 64 * 1024 * 1024;

    TDBXJSonStreamReader(TDbxChannel* channel, int bufferSize);

    void Open();
    void Close() {}
    bool IsConnectionLost() const { return channel_ && channel_->IsConnectionLost(); }
    int BufferSize() const { return bufferSize_; }

    // Tokens.
    int Next();
    void Next(int expected);
    void NextValueSeparator();
    int Token() const { return token_; }

    // Numbers that start at the very next byte: + - . 0-9 E e are collected; only the digits count
    // (so "1.5" reads 15); an empty number is 0 when the stopping byte is ']', else an error.
    std::int32_t ReadInt();
    std::int16_t ReadShort() { return static_cast<std::int16_t>(ReadInt()); }
    std::int64_t ReadLong();
    bool ReadBoolean();
    // The string that starts at the current token (or after the next '"' when the current token is
    // not an opening quote).
    const std::u16string& ReadString();
    int ReadStringCode();
    const std::u16string& GetStringValue() const { return stringValue_; }
    bool GetBooleanValue() const { return booleanValue_; }

    // Copies exactly dest.size() raw bytes that start right after the current byte.
    void ReadDataBytes(std::span<std::uint8_t> dest);
    // Consumes count raw bytes without keeping them.
    void SkipDataBytes(std::int64_t count);

    void SkipToEndOfObject();
    void SkipToEndOfArray();

    // Consumes a reply's start up to and including the ':' after "result"; raises the peer's error
    // when the reply is an error.
    void NextResultObjectStart();
    // The start of an object a peer sends on its own (an execute reply's interleaved requests, the
    // result): skips white space and data-store headers, requires '{' and the key's opening quote
    // and reads the key; returns its code (the key itself via GetStringValue). The ':' is left.
    int NextObjectKey();
    // After the key "error": reads the error object and raises it.
    [[noreturn]] void ReadErrorBody();
    // NextResultObjectStart, '[', ReadInt, SkipToEndOfObject.
    std::int32_t ReadIntResultObject();

    // Data blocks: {"data":[n,<|n| bytes>]}. ReadDataObjectStart consumes up to the comma (a
    // leading error object is raised) and returns n; after |n| raw bytes ReadDataObjectEnd consumes
    // "]}". ReadDataBlock does the three steps, appending the bytes to dest as they arrive; it
    // fails with TDBXError code 14 when |n| exceeds maxBytes.
    std::int32_t ReadDataObjectStart();
    void ReadDataObjectEnd();
    std::int32_t ReadDataBlock(std::vector<std::uint8_t>& dest,
                               std::int64_t maxBytes = MaxDataBlockSize);
    // Reads |count| raw bytes (after the comma) onto dest's end, growing it as bytes arrive.
    void AppendDataBytes(std::vector<std::uint8_t>& dest, std::int64_t count);
    void AppendDataBytes(TBufferDeBytes& dest, std::int64_t count);

    bool HasMoreBytes() const { return pos_ < last_; }
    std::int32_t ReadByte() { return 0; }
    float ReadFloat() { return 0; }
    double ReadDouble() { return 0; }

    // Raises the three syntax errors (code 2) after discarding the rest of the buffer.
    [[noreturn]] void FailUnexpectedToken(int expected, int found);
    [[noreturn]] void FailExpectedWord(std::u16string_view word);
    [[noreturn]] void FailUnexpectedByte();

  private:
    template <class Bytes>
    void AppendTo(Bytes& dest, std::int64_t count);
    void SkipToClose(int open, int close);
    // The next byte, consumed. Fills the buffer when needed.
    std::uint8_t Take() {
        if (pos_ >= last_)
            Fill();
        return buffer_[static_cast<std::size_t>(++pos_)];
    }
    // The next byte without consuming it.
    std::uint8_t Peek() {
        if (pos_ >= last_)
            Fill();
        return buffer_[static_cast<std::size_t>(pos_ + 1)];
    }
    void Fill();
    void SkipToObjectStart();
    std::uint8_t SkipWhiteSpace();  // returns the next non-space byte, unconsumed
    void ExpectWord(std::string_view rest, std::u16string_view word);
    std::uint64_t ReadNumber(bool& negative);
    void ReadStringBody();
    int ClassifyByte(std::uint8_t byte) const;
    std::u16string Dump() const;

    TDbxChannel* channel_;
    int bufferSize_;
    TBufferDeBytes buffer_;
    int pos_ = -1;   // FReadPosition: index of the last byte consumed
    int last_ = -1;  // FReadLastPosition: index of the last valid byte
    int token_ = 0;
    bool booleanValue_ = false;
    std::u16string stringValue_;
};

}  // namespace ab
