// The connection component's connect and disconnect sequences.
#include "transport/TSQLConnection.h"

#include "transport/EDBXComponentError.h"
#include "transport/TDBXAbortSignal.h"
#include "transport/TDBXConnection.h"
#include "transport/TDBXConnectionFactory.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = TransportConstants;

TSQLConnection::TSQLConnection(TDBXConnectionFactory* factory)
    : factory_(factory ? factory : &TDBXConnectionFactory::Instance()) {}

TSQLConnection::~TSQLConnection() {
    try {
        SetConnected(false);
    } catch (...) {
    }
}

bool TSQLConnection::GetConnected() const {
    return connection_ && state_ != State::Closed && state_ != State::Connecting &&
           state_ != State::Disconnecting && !connection_->IsConnectionLost();
}

bool TSQLConnection::IsConnectionLost() const {
    return connection_ && state_ == State::Open && connection_->IsConnectionLost();
}

void TSQLConnection::SetConnected(bool connected) {
    // The dead connection's socket is terminated, so its disconnect sequence writes nothing.
    if (IsConnectionLost())
        DoDisconnect();
    if (connected && !GetConnected() && state_ == State::Closed)
        DoConnect();
    else if (!connected && GetConnected())
        DoDisconnect();
}

TDBXProperties TSQLConnection::BuildConnectionProperties() {
    TDBXProperties list;
    list.AddProperties(params_);
    if (!list.HasName(C::DriverName))
        list.Add(C::DriverName, driverName_);
    if (driverName_.empty())
        throw EDBXComponentError(C::ErrMissingDriverName);
    // Login values: the driver's defaults with the parameters merged in. No login dialog runs.
    TDBXProperties login = factory_->GetDriverProperties(driverName_);
    login.MergeProperties(params_);
    const std::u16string password = login.GetValue(C::Password);
    loginUserName_ = login.GetValue(C::UserName);
    const std::u16string database = login.GetValue(C::Database);
    if (database != list.GetValue(C::Database))
        list.SetValue(C::Database, database);
    if (!loginUserName_.empty())
        list.SetValue(C::UserName, loginUserName_);
    if (!password.empty())
        list.SetValue(C::Password, password);
    return list;
}

void TSQLConnection::DoConnect() {
    // The signal is in place before the before-connect event: an Abort from now on ends the
    // connect, and one made earlier is for the event to see.
    auto signal = std::make_shared<TDBXAbortSignal>();
    {
        std::lock_guard lock(abortMutex_);
        abortSignal_ = signal;
    }
    try {
        if (BeforeConnect)
            BeforeConnect(*this);
        TDBXProperties list = BuildConnectionProperties();
        state_ = State::Connecting;
        connection_ = factory_->GetConnection(list, signal, [this](TDBXConnection& c) {
            c.SetPedidosAdiante(pedidosAdiante_);
            c.SetPrazoDaSonda(prazoDaSonda_);
            c.SetLimiteDeBanda(limiteDeBanda_);
            if (!pedidosAdiante_)
                return;
            for (const auto& [owner, metodo] : preparos_) {
                std::u16string nome = metodo();
                if (!nome.empty())
                    c.PrepararAoAbrir(owner, std::move(nome));
            }
        });
        productName_ = connection_->GetProductName();
    } catch (...) {
        connection_.reset();
        ForgetAbortSignal();
        state_ = State::Closed;
        throw;
    }
    state_ = State::Open;
    if (AfterConnect)
        AfterConnect(*this);
}

void TSQLConnection::DoDisconnect() {
    if (BeforeDisconnect)
        BeforeDisconnect(*this);
    state_ = State::Disconnecting;
    try {
        const auto clients = clients_;
        for (const auto& [owner, close] : clients)
            close();
    } catch (...) {
        connection_.reset();
        ForgetAbortSignal();
        state_ = State::Closed;
        throw;
    }
    connection_.reset();  // closes first: commands, then the disconnect message
    ForgetAbortSignal();
    state_ = State::Closed;
    if (AfterDisconnect)
        AfterDisconnect(*this);
}

void TSQLConnection::Abort() {
    std::shared_ptr<TDBXAbortSignal> signal;
    {
        std::lock_guard lock(abortMutex_);
        signal = abortSignal_;
    }
    if (signal)
        signal->Abort();
}

void TSQLConnection::ForgetAbortSignal() {
    std::lock_guard lock(abortMutex_);
    abortSignal_.reset();
}

void TSQLConnection::RegisterClient(std::function<void()> close, const void* owner) {
    clients_.emplace_back(owner, std::move(close));
}

void TSQLConnection::UnregisterClient(const void* owner) {
    std::erase_if(clients_, [&](const auto& c) { return c.first == owner; });
    SetPreparoAoConectar(owner, nullptr);
}

void TSQLConnection::SetPreparoAoConectar(const void* owner,
                                          std::function<std::u16string()> metodo) {
    std::erase_if(preparos_, [&](const auto& p) { return p.first == owner; });
    if (metodo)
        preparos_.emplace_back(owner, std::move(metodo));
}

}  // namespace ab
