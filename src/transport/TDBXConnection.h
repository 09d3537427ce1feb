// The abstract DBX connection: owns its property list, opens and closes through the derived
// class, creates morphic commands and keeps the list of commands created on it so that closing
// the connection closes them first.
//
// Open sets the open flag, runs DerivedOpen and then the database metadata query; any failure on
// the way closes the connection (DerivedClose decides what reaches the server) and passes the
// error on. A connection is never reopened.
//
// A connection whose link broke reports IsConnectionLost; closing it writes nothing more.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/TDBXDatabaseMetaData.h"
#include "transport/TDBXProperties.h"

namespace ab {

class TDBXAbortSignal;
class TDBXCommand;
class TDBXDriver;

class TDBXConnection {
  public:
    TDBXConnection(TDBXDriver& driver, std::unique_ptr<TDBXProperties> properties);
    // Closes when open (errors swallowed) and detaches every command still registered.
    virtual ~TDBXConnection();
    TDBXConnection(const TDBXConnection&) = delete;
    TDBXConnection& operator=(const TDBXConnection&) = delete;

    void Open();
    // Closes every registered command, then DerivedClose; does nothing when not open.
    void Close();
    bool IsOpen() const { return open_; }
    // True once the link to the server broke: the peer closed it, a read or write failed, a
    // deadline passed or the abort signal ended it. A server's error answer does not count.
    virtual bool IsConnectionLost() const { return false; }

    // The signal that ends this connection from another thread; set before Open.
    void SetAbortSignal(std::shared_ptr<TDBXAbortSignal> signal) {
        abortSignal_ = std::move(signal);
    }
    const std::shared_ptr<TDBXAbortSignal>& GetAbortSignal() const { return abortSignal_; }

    TDBXProperties& GetConnectionProperties() { return *properties_; }
    TDBXDriver& GetDriver() { return driver_; }
    // A new morphic command of type "Dbx.SQL", registered on this connection. The caller owns it;
    // destroying it closes it and removes it from the list.
    std::unique_ptr<TDBXCommand> CreateCommand();
    std::vector<std::u16string> GetCommandTypes() { return DerivedGetCommandTypes(); }
    // Filled by the metadata query; nullptr while there is none.
    const TDBXDatabaseMetaData* GetDatabaseMetaData() const { return metaData_.get(); }

    virtual std::u16string GetProductName() = 0;
    virtual std::u16string GetVendorProperty(std::u16string_view name) = 0;

    int GetIsolationLevel() const { return isolationLevel_; }
    void SetIsolationLevel(int level) { isolationLevel_ = level; }

    // Bookkeeping used by commands.
    void AddCommand(TDBXCommand* command);
    void RemoveCommand(TDBXCommand* command);
    int CommandCount() const { return static_cast<int>(commands_.size()); }

  protected:
    virtual void DerivedOpen() = 0;
    // Must not raise: the close always completes.
    virtual void DerivedClose() = 0;
    virtual std::vector<std::u16string> DerivedGetCommandTypes() = 0;
    // Runs the metadata query and returns its result (nullptr when the driver has none).
    virtual std::unique_ptr<TDBXDatabaseMetaData> ReadDatabaseMetaData() { return nullptr; }

  private:
    TDBXDriver& driver_;
    std::unique_ptr<TDBXProperties> properties_;
    std::vector<TDBXCommand*> commands_;
    std::unique_ptr<TDBXDatabaseMetaData> metaData_;
    std::shared_ptr<TDBXAbortSignal> abortSignal_;
    bool open_ = false;
    int isolationLevel_ = 0;
};

}  // namespace ab
