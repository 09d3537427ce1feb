// TDBXStreamValue: a byte-stream value (Variant, BLOB, BYTES, VARBYTES, ...). Set from a variant
// (null, or a byte array served as 03 + 8-byte LE count + elements) or from plain bytes; either
// way the bytes are shared, never copied (an array's tail that is a byte source is read as it is
// sent), and each execution serves them from the start: the first part inline in the row, the
// rest from GetSegmentSource as the server asks for it.
#pragma once

#include <memory>

#include "dbx/TDBXMemoryStreamReader.h"
#include "dbx/TDBXWritableValue.h"
#include "dbx/TOleVariant.h"

namespace ab {

class TDBXStreamValue : public TDBXWritableValue {
  public:
    using TDBXWritableValue::TDBXWritableValue;

    void SetAsVariant(const TOleVariant& value) override;
    void SetDynamicBytes(std::vector<std::uint8_t> value) override;
    // The value set, or the value of the last reply (fetching its further segments as read).
    std::unique_ptr<TDBXStreamReader> GetStreamReader() override;
    TDBXStreamReader* GetSegmentSource() override { return source_.get(); }

  protected:
    void WriteField(TDBXRowBuffer& row) override;
    void ReadField(TDBXRowBuffer& row) override;
    void ReadNullField() override { fromRow_ = false; }

  private:
    std::unique_ptr<TDBXStreamReader> NewSource() const;

    TOleVariant variant_;
    std::shared_ptr<const std::vector<std::uint8_t>> bytes_;
    std::unique_ptr<TDBXStreamReader> source_;
    bool fromRow_ = false;
};

}  // namespace ab
