// The connection component: a parameter list, a driver name, the connect and disconnect events,
// and the current connection. Setting it connected builds the connection's property list from the
// parameter list and has the connection factory open a new connection; setting it disconnected
// closes the components that use it and frees the connection (which sends the disconnect).
//
// Any failure while connecting leaves no connection behind and the component closed; the error
// passes on unchanged. Changes that the before-connect event made to the parameter list stay.
//
// Proxies take the link with GetDBXConnection() at every call, so a reconnect gives later calls
// the new connection.
//
// A connection whose link broke (the server closed it, a read or write failed, a deadline passed,
// Abort) no longer counts as connected. The next SetConnected, either way, first drops it with the
// disconnect sequence, which writes nothing more to the dead socket; SetConnected(true) then runs
// the whole connect sequence again. A server's error answer leaves the connection as it is.
//
// Requests written ahead at the open (SetPedidosAdiante, off by default; see TDBXConnection.h):
// each connect hands the switch, the probe deadline and the prepares the components asked for
// (SetPreparoAoConectar) to the connection it opens. An open whose probe failed raises
// ESondaFalhou and leaves the component closed, as any failed connect does.
//
// Thread safety: Abort may be called from any thread; everything else belongs to one thread. A
// connect's abort signal is in place before its before-connect event runs, so an Abort made
// during the event ends the connect that follows; one made before the event is for the event to
// notice (the component remembers no abort between connects).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "transport/TDBXProperties.h"
#include "transport/TLimiteDeBanda.h"

namespace ab {

class TDBXAbortSignal;
class TDBXConnection;
class TDBXConnectionFactory;

class TSQLConnection {
  public:
    enum class State { Closed, Connecting, Open, Disconnecting };
    using Event = std::function<void(TSQLConnection&)>;

    explicit TSQLConnection(TDBXConnectionFactory* factory = nullptr);
    ~TSQLConnection();
    TSQLConnection(const TSQLConnection&) = delete;
    TSQLConnection& operator=(const TSQLConnection&) = delete;

    TDBXProperties& Params() { return params_; }
    const TDBXProperties& Params() const { return params_; }
    const std::u16string& GetDriverName() const { return driverName_; }
    void SetDriverName(std::u16string name) { driverName_ = std::move(name); }
    const std::u16string& GetConnectionName() const { return connectionName_; }
    void SetConnectionName(std::u16string name) { connectionName_ = std::move(name); }
    bool GetLoginPrompt() const { return loginPrompt_; }
    void SetLoginPrompt(bool prompt) { loginPrompt_ = prompt; }

    Event BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;

    // For the connects to come: requests written ahead at the open, and their probe deadline in
    // milliseconds (0: none). A switch of this program, never a connection property.
    void SetPedidosAdiante(bool on) { pedidosAdiante_ = on; }
    bool GetPedidosAdiante() const { return pedidosAdiante_; }
    void SetPrazoDaSonda(int milliseconds) { prazoDaSonda_ = milliseconds > 0 ? milliseconds : 0; }
    int GetPrazoDaSonda() const { return prazoDaSonda_; }
    // For the connects to come: the cap on the bytes written, shared with other connections (none
    // without a bucket).
    void SetLimiteDeBanda(TLimiteDaConexao limite) { limiteDeBanda_ = std::move(limite); }
    // A server method `owner` wants prepared in the open's write while requests ahead are on;
    // `metodo` gives its name at each connect (an empty name asks for nothing). An empty function
    // withdraws the request; UnregisterClient withdraws it too.
    void SetPreparoAoConectar(const void* owner, std::function<std::u16string()> metodo);

    // true: the connect sequence (nothing when already connected); false: the disconnect sequence
    // (nothing when not connected). Either way a lost connection is dropped first.
    void SetConnected(bool connected);
    // True with an open connection whose link is not lost. A lost connection stays in the Open
    // state until the next SetConnected drops it.
    bool GetConnected() const;
    // Any thread: ends the current connection, or the connect in progress, at once. A connect,
    // read or write blocked in the owner's thread fails promptly with an error; the connection
    // then counts as lost, and dropping it writes nothing more. Does nothing without a connection
    // or connect in progress.
    void Abort();
    void Open() { SetConnected(true); }
    void Close() { SetConnected(false); }
    State GetState() const { return state_; }

    // The current connection, or nullptr when not connected.
    TDBXConnection* GetDBXConnection() const {
        return GetConnected() ? connection_.get() : nullptr;
    }
    const std::u16string& GetProductName() const { return productName_; }
    // The login user name ("User_Name" of the driver defaults merged with the parameters).
    const std::u16string& GetUserName() const { return loginUserName_; }

    // The property list a connect would hand to the factory (steps before the factory).
    TDBXProperties BuildConnectionProperties();

    // Components bound to this connection are closed when it disconnects.
    void RegisterClient(std::function<void()> close, const void* owner);
    void UnregisterClient(const void* owner);

  private:
    void DoConnect();
    void DoDisconnect();
    bool IsConnectionLost() const;
    void ForgetAbortSignal();

    TDBXConnectionFactory* factory_;
    TDBXProperties params_;
    std::u16string driverName_;
    std::u16string connectionName_;
    bool loginPrompt_ = false;
    std::unique_ptr<TDBXConnection> connection_;
    State state_ = State::Closed;
    std::u16string productName_;
    std::u16string loginUserName_;
    std::vector<std::pair<const void*, std::function<void()>>> clients_;
    std::vector<std::pair<const void*, std::function<std::u16string()>>> preparos_;
    bool pedidosAdiante_ = false;
    int prazoDaSonda_ = 0;
    TLimiteDaConexao limiteDeBanda_;
    // The signal of the current connection or connect in progress; Abort reads it from any thread.
    std::mutex abortMutex_;
    std::shared_ptr<TDBXAbortSignal> abortSignal_;
};

}  // namespace ab
