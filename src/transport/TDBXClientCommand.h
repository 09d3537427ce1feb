// The command that talks to the server: prepare, execute (serving the server's segment requests
// while the reply is read), command close. It owns its parameter list and parameter row buffer
// and the table reader of its last query. Its handle is -1 until a reply assigns one.
#pragma once

#include <cstdint>
#include <memory>

#include "dbx/TDBXExecuteMessage.h"
#include "dbx/TDBXParameterList.h"
#include "dbx/TDBXRowBuffer.h"
#include "transport/TDBXCommand.h"

namespace ab {

class TDBXClientConnection;
class TDBXJSonStreamReader;
class TDBXJSonStreamWriter;

class TDBXClientCommand : public TDBXCommand {
  public:
    explicit TDBXClientCommand(TDBXClientConnection& connection);
    ~TDBXClientCommand() override;

    // Keeps only the part before the first character with code 0.
    void SetText(std::u16string_view text) override;
    std::int64_t GetRowsAffected() override { return rowsAffected_; }
    std::int32_t GetCommandHandle() const { return commandHandle_; }
    TDBXRowBuffer* GetParameterRowBuffer() const { return rowBuffer_.get(); }
    std::size_t FirstParameterInlineLimit() const override;

  protected:
    void DerivedOpen() override;
    void DerivedClose() override;
    void DerivedBeginPrepare(bool flush) override;
    void DerivedFinishPrepare() override;
    void DerivedExecuteUpdate() override;
    void DerivedBeginExecute(bool flush) override;
    void DerivedFinishExecuteUpdate() override;
    TDBXJSonReader* DerivedExecuteQuery() override;
    TDBXJSonReader* DerivedFinishExecuteQuery() override;
    TDBXParameterList& DerivedGetParameters() override { return parameters_; }
    void CloseLastReader() override;

  private:
    TDBXClientConnection& Connection() const;
    TDBXRowBuffer& RowBuffer();
    // The request of an execution, then its reply.
    void WriteExecute(bool flush = true);
    void ReadExecuteReply();

    TDBXJSonStreamWriter* writer_ = nullptr;
    TDBXJSonStreamReader* reader_ = nullptr;
    std::int32_t connectionHandle_ = -1;
    std::int32_t commandHandle_ = -1;
    std::unique_ptr<TDBXRowBuffer> rowBuffer_;
    TDBXParameterList parameters_;
    TDBXExecuteMessage message_;
    std::unique_ptr<TDBXJSonReader> lastReader_;
    std::int64_t rowsAffected_ = -1;
};

}  // namespace ab
