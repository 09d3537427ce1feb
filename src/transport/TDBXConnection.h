// The abstract DBX connection: owns its property list, opens and closes through the derived
// class, creates morphic commands and keeps the list of commands created on it so that closing
// the connection closes them first.
//
// Open sets the open flag, runs DerivedOpen and then the database metadata query; any failure on
// the way closes the connection (DerivedClose decides what reaches the server) and passes the
// error on. A connection is never reopened.
//
// A connection whose link broke reports IsConnectionLost; closing it writes nothing more.
//
// Requests written ahead at the open (SetPedidosAdiante, off by default): the connect message, the
// metadata query and the prepares asked for with PrepararAoAbrir leave in one write, and their
// replies are read in that order; each message's bytes are those of an open without it, and a
// server's error answer is raised as it would be there. Replies owed to requests written behind
// another are read under the probe deadline (SetPrazoDaSonda); when the link closes, a read fails
// or that deadline passes while they are owed, the open ends the link and raises ESondaFalhou.
// An abort from another thread is never taken for a probe failure.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transport/TDBXDatabaseMetaData.h"
#include "transport/TDBXProperties.h"
#include "transport/TLimiteDeBanda.h"

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
    // The cap on the bytes this connection writes, shared with others (none without a bucket);
    // set before Open.
    void SetLimiteDeBanda(TLimiteDaConexao limite) { limiteDeBanda_ = std::move(limite); }
    const TLimiteDaConexao& GetLimiteDeBanda() const { return limiteDeBanda_; }

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

    // Requests written ahead at the open; set before Open. A switch of this program, never a
    // connection property: the properties travel in the connect message.
    void SetPedidosAdiante(bool on) { pedidosAdiante_ = on; }
    bool GetPedidosAdiante() const { return pedidosAdiante_; }
    // The probe deadline of an open with requests written ahead, in milliseconds (0: none, the
    // configured deadlines alone apply); set before Open.
    void SetPrazoDaSonda(int milliseconds) { prazoDaSonda_ = milliseconds > 0 ? milliseconds : 0; }
    int GetPrazoDaSonda() const { return prazoDaSonda_; }
    // Before Open: a server-method command for `metodo` prepared in the open's write, for `dono`
    // to take. Only with requests written ahead; ignored otherwise.
    void PrepararAoAbrir(const void* dono, std::u16string metodo);
    // After Open: the command prepared for `dono` in the open's write, handed over once, or
    // nullptr (none asked, requests ahead off, already taken). When the server answered that
    // prepare with an error, the error is raised here instead, once, just as the prepare would
    // have raised it. One prepared for another method is closed and nullptr returned.
    std::unique_ptr<TDBXCommand> TomarPreparado(const void* dono, std::u16string_view metodo);
    // A read deadline switched on and off on an open connection (0 or less: off), also before
    // Open: each read is bounded by it, or by "ConnectTimeout" / "CommunicationTimeout" when that
    // is shorter, and it passes with their error ("Communication timeout error" once the
    // handshake was answered). With no deadline configured it is the only one.
    virtual void SetPrazoDeLeituraTemporario(int milliseconds) = 0;
    virtual int GetPrazoDeLeituraTemporario() const = 0;

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

    // What PrepararAoAbrir asked for; the open with requests ahead fills Comando, and Erro when
    // the server answered the prepare with an error.
    struct TPreparoAoAbrir {
        const void* Dono = nullptr;
        std::u16string Metodo;
        std::unique_ptr<TDBXCommand> Comando;
        std::exception_ptr Erro;
    };
    std::vector<TPreparoAoAbrir>& PreparosAoAbrir() { return preparos_; }

  private:
    TDBXDriver& driver_;
    std::unique_ptr<TDBXProperties> properties_;
    std::vector<TDBXCommand*> commands_;
    std::unique_ptr<TDBXDatabaseMetaData> metaData_;
    std::shared_ptr<TDBXAbortSignal> abortSignal_;
    TLimiteDaConexao limiteDeBanda_;
    std::vector<TPreparoAoAbrir> preparos_;
    bool pedidosAdiante_ = false;
    int prazoDaSonda_ = 0;
    bool open_ = false;
    int isolationLevel_ = 0;
};

}  // namespace ab
