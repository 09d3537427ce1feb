// TDBXClientBlobReader: inline bytes, then segments fetched with client more-blob requests.
#include "dbx/TDBXClientBlobReader.h"

#include <algorithm>
#include <cstring>

#include "dbx/DbxConstants.h"
#include "dbx/TDBXError.h"
#include "dbx/TDBXJSonStreamReader.h"
#include "dbx/TDBXJSonStreamWriter.h"

namespace ab {

TDBXClientBlobReader::TDBXClientBlobReader(std::vector<std::uint8_t> inlineBytes,
                                           TDBXJSonStreamWriter& writer,
                                           TDBXJSonStreamReader& reader, Origin origin)
    : pending_(std::move(inlineBytes)),
      writer_(writer),
      reader_(reader),
      origin_(std::move(origin)) {}

void TDBXClientBlobReader::FetchSegment() {
    const std::int32_t handle = origin_.commandHandle ? *origin_.commandHandle : -1;
    if (handle == -1)
        throw TDBXError(TDBXErrorCodes::InvalidHandle, u"Command closed or executed again");
    writer_.WriteClientMoreBlobObject(handle, origin_.blobHandle, origin_.row, origin_.ordinal,
                                      origin_.parameterRow, origin_.rowHandle);
    pending_.clear();
    pos_ = 0;
    reader_.NextResultObjectStart();
    reader_.Next(TDBXTokens::TokenArrayStart);
    const std::int32_t count = reader_.ReadDataBlock(pending_);
    reader_.Next(TDBXTokens::TokenArrayEnd);
    reader_.Next(TDBXTokens::TokenObjectEnd);
    ++segments_;
    if (count <= 0)
        finished_ = true;
}

std::size_t TDBXClientBlobReader::Read(std::span<std::uint8_t> dest) {
    while (pos_ == pending_.size()) {
        if (finished_)
            return 0;
        FetchSegment();
    }
    const std::size_t n = std::min(dest.size(), pending_.size() - pos_);
    std::memcpy(dest.data(), pending_.data() + pos_, n);
    pos_ += n;
    return n;
}

bool TDBXClientBlobReader::IsEos() {
    while (pos_ == pending_.size()) {
        if (finished_)
            return true;
        FetchSegment();
    }
    return false;
}

}  // namespace ab
