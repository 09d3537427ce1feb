// TAtualizador: the publishing run behind "Atualizar", written against IMainView so it runs and is
// tested without Qt. It owns the window's connection ConnBrevant and echo component FEchoString;
// the send-file record set stays the window's.
//
// One run: connect (the before-connect event takes the address and port from the view), probe the
// server kind with the echo, walk every file below the program folder, send what the server lacks
// or holds older, remove the test marker outside test mode, alert a parent server's clients, close
// the window. Every server call goes through a fresh TZvServerClient on the current link.
//
// Local paths use '/'; destination names use '\' (the relative path with '/' turned into '\').
//
// Closing the window during a run: the window defers the close (CloseRequested()). The run
// finishes the file in hand, then stops the walk, skips the alert and returns; the window closes
// after that, so the record set is never emptied under a send.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "app/IMainView.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab {

class TClientDataSet;
class TDBXConnectionFactory;

// Program state fixed at start-up.
struct TDadosPrograma {
    std::u16string ProgramPath;    // argument 0
    std::u16string ProgramFolder;  // its folder, ending in '/'
    std::u16string Sistema;        // "S" + system code + "\"
    bool VersaoPraTeste = false;
};

class TAtualizador {
  public:
    using TPausa = std::function<void(std::chrono::milliseconds)>;

    // `cdsSendFile` must carry the three send-file fields and be created by the window. `pausa`
    // waits between closing and reopening after a failed send (a real sleep when empty).
    TAtualizador(IMainView& view, TClientDataSet& cdsSendFile, TDadosPrograma dados,
                 TPausa pausa = {}, TDBXConnectionFactory* factory = nullptr);
    TAtualizador(const TAtualizador&) = delete;
    TAtualizador& operator=(const TAtualizador&) = delete;

    // The whole run. Errors of the walk and the alert escape to the caller (the window's general
    // error handler); "Atualizar" is enabled again however the run ends.
    void btn_AtualizarClick();
    // true when the parent server's echo could be called.
    bool ConexaoZvPai();
    void EnviarAquivos();
    bool PrecisaAtualizarArquivo(const std::u16string& nomeArquivo,
                                 const std::u16string& nomeDestino);
    // Destination of a relative path written with '\'.
    std::u16string ArquivoPastaDestino(std::u16string_view arquivo) const;
    static std::u16string ArquivoPastaDestino(std::u16string_view arquivo,
                                              std::u16string_view sistema);
    bool SendFile(const std::u16string& nomeArquivo, const std::u16string& nomeDestino);
    bool RemoveArquivo(const std::u16string& nomeArquivo);
    bool AlertarZvClientes();

    bool ArquivoEmTeste() const { return FArquivoEmTeste; }
    bool VersaoPraTeste() const { return dados_.VersaoPraTeste; }
    const std::u16string& Sistema() const { return dados_.Sistema; }

    TSQLConnection& ConnBrevant() { return ConnBrevant_; }
    TSqlServerMethod& FEchoString() { return FEchoString_; }

  private:
    IMainView& view_;
    TClientDataSet& cdsSendFile_;
    TDadosPrograma dados_;
    TPausa pausa_;
    bool FArquivoEmTeste = false;
    // Declared before the echo component, which must go first (it unregisters from the link).
    TSQLConnection ConnBrevant_;
    TSqlServerMethod FEchoString_;
};

}  // namespace ab
