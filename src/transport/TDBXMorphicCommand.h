// The command a connection hands out: records type, text, row-set size and maximum blob size and
// forwards the work to a delegate command that the connection's driver creates when the command
// is first opened (dropped again when the command type changes).
#pragma once

#include <memory>

#include "transport/TDBXCommand.h"

namespace ab {

class TDBXMorphicCommand : public TDBXCommand {
  public:
    explicit TDBXMorphicCommand(TDBXConnection& connection);
    ~TDBXMorphicCommand() override;

    void SetCommandType(std::u16string_view type) override;
    void SetText(std::u16string_view text) override;
    std::int64_t GetRowsAffected() override;
    std::size_t FirstParameterInlineLimit() const override;
    void DetachConnection() override;

    TDBXCommand* GetDelegate() const { return delegate_.get(); }

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
    TDBXParameterList& DerivedGetParameters() override;
    void CloseLastReader() override;

  private:
    std::unique_ptr<TDBXCommand> delegate_;
};

}  // namespace ab
