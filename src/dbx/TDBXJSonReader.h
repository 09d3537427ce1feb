// TDBXJSonReader: the client side of a table the server returned -- its column descriptions, its
// rows arriving in data blocks, the next-rows requests and the reader close.
//
// Calling protocol: the input connection handler builds it from the reply's table member
// (ReadTable, positioned after the member's ':') and, once the reply's closing brace is consumed,
// reads the first block of rows (ReadFirstBlock). The owner then calls Next() to move to each row
// (false after the last row of the last block; when a block that was not the last is used up, Next
// sends {"method":"next","params":[rowHandle,position,commandHandle]} and reads the next block)
// and reads the current row's fields by ordinal (GetOrdinal finds a column by name). Close sends
// {"method":"reader_close",...} once; the destructor sends nothing. The writer and reader are the
// connection's and must outlive this object; like every request, Next and Close may only run
// while no other request of the connection is outstanding.
//
// Each block is bounded by the reader's MaxDataBlockSize; a row that runs past its block, or whose
// fields take no bytes while bytes are left, raises TDBXError.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbx/TDBXRowBuffer.h"
#include "dbx/TDBXValueType.h"

namespace ab {

class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;
class TDBXStreamReader;

class TDBXJSonReader {
  public:
    struct Fields {
        std::int32_t commandHandle = -1;
        bool updateable = false;
        std::int32_t rowHandle = 0;
        std::int32_t numberFormat = 1;
        bool valueTypeFlags = false;  // the columns' flags are value-type flags as they stand
    };

    TDBXJSonReader(TDBXJSonStreamWriter& writer, TDBXJSonStreamReader& reader, Fields fields,
                   std::vector<TDBXValueType> columns);

    // Reads a table member's value [{"fields":[...]},{"columns":[n,...]}] (after its ':').
    static std::unique_ptr<TDBXJSonReader> ReadTable(TDBXJSonStreamWriter& writer,
                                                     TDBXJSonStreamReader& reader);
    // Reads the {"data":[n,<|n| bytes>]} block that follows the reply.
    void ReadFirstBlock() { ReadBlock(); }

    const Fields& GetFields() const { return fields_; }
    int ColumnCount() const { return static_cast<int>(columns_.size()); }
    const TDBXValueType& GetValueType(int ordinal) const;
    // -1 when no column has that name.
    int GetOrdinal(std::u16string_view name) const;

    bool Next();
    // Index of the current row from 0 (-1 before the first Next).
    std::int64_t RowNumber() const { return rowNumber_; }

    bool IsNull(int ordinal);
    std::u16string GetWideString(int ordinal);
    bool GetBoolean(int ordinal);
    std::int32_t GetInt32(int ordinal);
    std::int64_t GetInt64(int ordinal);
    double GetDouble(int ordinal);
    std::unique_ptr<TDBXStreamReader> GetStream(int ordinal);

    void Close();
    bool IsClosed() const { return closed_; }

  private:
    void ReadBlock();
    TDBXRowBuffer& Field(int ordinal);

    TDBXJSonStreamWriter& writer_;
    TDBXJSonStreamReader& reader_;
    Fields fields_;
    std::vector<TDBXValueType> columns_;
    TDBXRowBuffer rows_{0};
    std::size_t nextRowAt_ = 0;
    bool lastBlock_ = true;
    bool onRow_ = false;
    bool closed_ = false;
    std::int64_t rowNumber_ = -1;
};

}  // namespace ab
