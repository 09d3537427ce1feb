// The message objects a command fills before a request and reads after the reply. One object per
// kind is reused by a connection; the command fills the "in" fields, the output handler writes the
// request from them and the input handler stores the reply into the "out" fields.
//
//   TDBXPrepareMessage    in: CommandHandle, CommandType, CommandText, Parameters, ParameterBuffer
//                         out: CommandHandle (adopted from the reply; also stored into the row
//                              buffer's handle array), Parameters (filled when it was empty)
//   TDBXExecuteMessage    in: the prepare fields plus Prepared (and the row written into
//                              ParameterBuffer); out: CommandHandle, RowsAffected, IsolationLevel,
//                              Reader (a returned table), the reply row in ParameterBuffer
//   TDBXNextResultMessage in: CommandHandle; out: RowsAffected, Updateable, Reader
//
// Parameters and ParameterBuffer belong to the command; the message only points at them.
#pragma once

#include <cstdint>
#include <string>

namespace ab {

class TDBXParameterList;
class TDBXRowBuffer;

class TDBXPrepareMessage {
  public:
    virtual ~TDBXPrepareMessage() = default;

    std::int32_t CommandHandle = -1;
    std::u16string CommandType;
    std::u16string CommandText;
    // The command's parameter list (may be null for a command without one).
    TDBXParameterList* Parameters = nullptr;
    // The command's parameter row buffer: values of parameters the reply creates live on it.
    TDBXRowBuffer* ParameterBuffer = nullptr;
};

}  // namespace ab
