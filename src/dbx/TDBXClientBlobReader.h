// TDBXClientBlobReader: serves a received field whose value continues on the server -- first the
// bytes held in the row, then one segment per client more-blob request, until the server marks the
// last segment (a count of 0 or less).
//
// Each request checks the execution's shared handle array first: -1 (command closed or executed
// again) fails with "Command closed or executed again" (code 4) before anything is written. A
// segment longer than the reader's MaxDataBlockSize fails with code 14. The writer and reader are
// the connection's and must outlive this object.
#pragma once

#include <memory>
#include <vector>

#include "dbx/TDBXStreamReader.h"

namespace ab {

class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;

class TDBXClientBlobReader : public TDBXStreamReader {
  public:
    struct Origin {
        std::shared_ptr<std::int32_t> commandHandle;
        std::int32_t blobHandle = 0;
        std::int64_t row = 0;
        std::int32_t ordinal = 0;
        bool parameterRow = true;
        std::int32_t rowHandle = 0;
    };

    TDBXClientBlobReader(std::vector<std::uint8_t> inlineBytes, TDBXJSonStreamWriter& writer,
                         TDBXJSonStreamReader& reader, Origin origin);

    std::size_t Read(std::span<std::uint8_t> dest) override;
    bool IsEos() override;
    int SegmentsFetched() const { return segments_; }

  private:
    void FetchSegment();

    std::vector<std::uint8_t> pending_;
    std::size_t pos_ = 0;
    TDBXJSonStreamWriter& writer_;
    TDBXJSonStreamReader& reader_;
    Origin origin_;
    bool finished_ = false;
    int segments_ = 0;
};

}  // namespace ab
