// The server-method component: calls one server method by name through a fresh command on each
// ExecuteMethod -- prepare (without parameters), the parameters mapped from Params by ordinal,
// execute, output and result values copied back, command close.
//
// With SetPrepararAoConectar(true), and while its connection writes requests ahead
// (TSQLConnection::SetPedidosAdiante), each open writes the method's prepare right behind the
// metadata query; the first ExecuteMethod after that open uses the command so prepared instead of
// preparing one, and raises the error the server answered that prepare with, if any. Later calls,
// and calls after a name change, prepare their own.
#pragma once

#include <cstdint>
#include <string>

#include "transport/TParams.h"

namespace ab {

class TSQLConnection;

class TSqlServerMethod {
  public:
    TSqlServerMethod() = default;
    ~TSqlServerMethod();
    TSqlServerMethod(const TSqlServerMethod&) = delete;
    TSqlServerMethod& operator=(const TSqlServerMethod&) = delete;

    TSQLConnection* GetSQLConnection() const { return connection_; }
    void SetSQLConnection(TSQLConnection* connection);
    const std::u16string& GetServerMethodName() const { return serverMethodName_; }
    void SetServerMethodName(std::u16string name) { serverMethodName_ = std::move(name); }
    TParams& Params() { return params_; }
    bool GetPrepararAoConectar() const { return prepararAoConectar_; }
    void SetPrepararAoConectar(bool on);

    // EDBXComponentError "SQLConnection property required for this operation" without a connection
    // (a closed connection is opened first); the command's and the server's errors pass on.
    void ExecuteMethod();
    // Nothing stays open between calls; kept for the component's contract.
    void Close() {}
    std::int64_t GetRowsAffected() const { return rowsAffected_; }

  private:
    TSQLConnection* connection_ = nullptr;
    std::u16string serverMethodName_;
    TParams params_;
    std::int64_t rowsAffected_ = -1;
    bool prepararAoConectar_ = false;
};

}  // namespace ab
