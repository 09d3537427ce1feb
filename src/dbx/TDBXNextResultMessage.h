// TDBXNextResultMessage: the next-result request and its reply (see TDBXPrepareMessage.h).
#pragma once

#include <cstdint>
#include <memory>

#include "dbx/TDBXJSonReader.h"

namespace ab {

class TDBXNextResultMessage {
  public:
    std::int32_t CommandHandle = -1;

    // Out.
    bool HasResult = false;
    std::int64_t RowsAffected = -1;
    bool Updateable = false;
    std::unique_ptr<TDBXJSonReader> Reader;
};

}  // namespace ab
