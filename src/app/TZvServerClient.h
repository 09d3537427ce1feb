// TZvServerClient: the typed proxy of the update server's methods. Each method builds its command
// on first use (type "DataSnap.ServerMethod", text = class prefix + method name, prepared once),
// sets the inputs by ordinal, executes and reads the result by ordinal. The class prefix comes from
// ConectadoServidorBrevant when the command is created. Errors pass to the caller unchanged.
//
// Also the process-wide flag ConectadoServidorBrevant: true while the run talks to a parent server.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ab {

class TDBXCommand;
class TDBXConnection;
class TJSONValue;
class TOleVariant;

// true: every proxy command addresses "TZvServer.<method>"; false: "TZvClienteServer.<method>".
extern bool ConectadoServidorBrevant;

class TZvServerClient {
  public:
    // EInvalidOperation "Connection cannot be nil.  Make sure the connection has been opened."
    // without a link. The link is not owned.
    explicit TZvServerClient(TDBXConnection* dbxConnection, bool instanceOwner = true);
    // Frees the commands in their declaration order; each sends its command close.
    ~TZvServerClient();
    TZvServerClient(const TZvServerClient&) = delete;
    TZvServerClient& operator=(const TZvServerClient&) = delete;

    // The stored copy's "stamp;..." for a Base64 destination name (empty when none).
    std::u16string PropertsFile(std::u16string_view arquivo);
    // The data packet as a byte-array variant; true when the server accepted the file.
    bool SendFile(const TOleVariant& dados, bool checarMaisAtual);
    bool RemoveFile(std::u16string_view arquivo);
    bool AlertarZvClientes(std::u16string_view alerta);
    std::u16string DataHoraBrevant();

    // Requests in flight: each *Begin writes its request at once, the matching *End reads its
    // reply; replies are read in the order the requests left. A command not prepared yet is
    // prepared by its *Begin, which reads the prepare's answer: it must be called with no reply
    // owed. A SendFile whose packet does not travel whole inline (see SendFileTravelsInline) must
    // have no other request in flight, before or after it, until its reply was read.
    // With `enviar` false a request may wait in the connection's buffer for the ones after it
    // (an *End sends what waits first).
    void PropertsFileBegin(std::u16string_view arquivo, bool enviar = true);
    std::u16string PropertsFileEnd();
    void SendFileBegin(const TOleVariant& dados, bool checarMaisAtual, bool enviar = true);
    bool SendFileEnd();
    void RemoveFileBegin(std::u16string_view arquivo, bool enviar = true);
    bool RemoveFileEnd();
    // Whether the method's command is prepared on this proxy (so that its *Begin reads nothing).
    bool Prepared(std::u16string_view method) const;
    // The methods not prepared yet, prepared with their requests in one write and their replies
    // read in order; nothing may be owed before. A method the server answers with an error stays
    // unprepared (its first call meets the error); a failed link raises.
    void PrepararJuntos(const std::vector<std::u16string_view>& methods);
    // Whether the packet travels whole inside the SendFile request, with nothing for the server
    // to pull; false while the command is not prepared.
    bool SendFileTravelsInline(const TOleVariant& dados) const;
    // The sender travels as an already marshalled JSON value; nullptr sends null.
    void DSServerModuleCreate(const TJSONValue* sender);
    void DSServerModuleDestroy(const TJSONValue* sender);

    bool InstanceOwner() const { return FInstanceOwner; }

  private:
    std::unique_ptr<TDBXCommand> NewCommand(std::u16string_view method) const;
    TDBXCommand& Command(std::unique_ptr<TDBXCommand>& slot, std::u16string_view method);
    const std::unique_ptr<TDBXCommand>* Slot(std::u16string_view method) const;
    void ModuleCall(std::unique_ptr<TDBXCommand>& slot, std::u16string_view method,
                    const TJSONValue* sender);

    TDBXConnection* FDBXConnection;
    bool FInstanceOwner;
    std::unique_ptr<TDBXCommand> FDSServerModuleCreateCommand;
    std::unique_ptr<TDBXCommand> FDSServerModuleDestroyCommand;
    std::unique_ptr<TDBXCommand> FAlertarZvClientesCommand;
    std::unique_ptr<TDBXCommand> FDataHoraBrevantCommand;
    std::unique_ptr<TDBXCommand> FRemoveFileCommand;
    std::unique_ptr<TDBXCommand> FSendFileCommand;
    std::unique_ptr<TDBXCommand> FPropertsFileCommand;
};

}  // namespace ab
