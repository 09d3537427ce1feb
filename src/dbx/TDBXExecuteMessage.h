// TDBXExecuteMessage: the execute request's inputs and the reply's outputs (see
// TDBXPrepareMessage.h for the whole set of message objects).
#pragma once

#include <cstdint>
#include <memory>

#include "dbx/TDBXJSonReader.h"
#include "dbx/TDBXPrepareMessage.h"

namespace ab {

class TDBXExecuteMessage : public TDBXPrepareMessage {
  public:
    // Prepared: {"handle":[h]} form; not prepared: {"fields":[h,false,"type","text"]} form.
    bool Prepared = false;

    // Out. -1 when the reply gives none.
    std::int64_t RowsAffected = -1;
    std::int32_t IsolationLevel = -1;
    // A table the reply returned, with its first block of rows already read.
    std::unique_ptr<TDBXJSonReader> Reader;

    // Clears the out fields before a request.
    void ResetResults() {
        RowsAffected = -1;
        IsolationLevel = -1;
        Reader.reset();
    }
};

}  // namespace ab
