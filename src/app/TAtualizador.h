// TAtualizador: the publishing run behind "Atualizar", written against IMainView so it runs and is
// tested without Qt. It owns the window's connection ConnBrevant and echo component FEchoString;
// the send-file record set stays the window's.
//
// One run: connect (the before-connect event takes the address and port from the view), probe the
// server kind with the echo, walk every file below the program folder, send what the server lacks
// or holds older, remove the test marker outside test mode, alert a parent server's clients, close
// the window.
//
// Server calls go through TZvServerClient. By default each connection keeps one proxy, so every
// method is prepared once per connection and then only executed; the proxy goes (closing its
// commands) when its connection closes. With ComandosEmCache off, every call gets a fresh proxy.
//
// With Conexoes > 1 the walk opens further connections, each on its own thread with its own record
// set, and hands them the files in walk order: rows appear in that order, each file's row shows its
// outcome when that file is done, one "Continuar?" is asked at a time (no new file is taken while
// it is open) and No stops every connection after its file in hand. The alert goes once, over
// ConnBrevant. The view is called from those threads one call at a time.
//
// Local paths use '/'; destination names use '\' (the relative path with '/' turned into '\').
//
// Closing the window during a run: the view reports CloseRequested(). The run finishes the files
// in hand, then stops the walk, skips the alert and returns. Abort() (from any thread) ends every
// connection at once, for a close that cannot wait for a silent server.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "app/IMainView.h"
#include "app/Varredura.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab {

class TClientDataSet;
class TDBXConnectionFactory;
class TZvServerClient;

// Program state fixed at start-up.
struct TDadosPrograma {
    std::u16string ProgramPath;    // argument 0
    std::u16string ProgramFolder;  // its folder, ending in '/'
    std::u16string Sistema;        // "S" + system code + "\"
    bool VersaoPraTeste = false;
};

// How a run talks to the server. The defaults give the messages the servers have always seen,
// except that commands are prepared once per connection.
struct TOpcoesExecucao {
    int Conexoes = 1;
    bool ComandosEmCache = true;
    int BufferKB = 32;       // BufferKBSize; 32 sends no property (the size servers assume)
    int TempoConexaoMs = 0;  // ConnectTimeout (TCP connect and login); 0: none
    int TempoLeituraMs = 0;  // CommunicationTimeout (every later answer); 0: none
    bool Simular = false;    // ask about every file, move none, alert nobody
};

class TAtualizador {
  public:
    using TPausa = std::function<void(std::chrono::milliseconds)>;

    // `cdsSendFile` must carry the three send-file fields and be created by the window. `pausa`
    // waits between closing and reopening after a failed send (a real sleep when empty).
    // `leitor` reads the folders of the walk (ListDirectory when empty).
    TAtualizador(IMainView& view, TClientDataSet& cdsSendFile, TDadosPrograma dados,
                 TPausa pausa = {}, TDBXConnectionFactory* factory = nullptr,
                 TOpcoesExecucao opcoes = {}, TLeitorDePastas leitor = {});
    ~TAtualizador();
    TAtualizador(const TAtualizador&) = delete;
    TAtualizador& operator=(const TAtualizador&) = delete;

    // The whole run. Errors of the walk and the alert escape to the caller (the window's general
    // error handler); "Atualizar" is enabled again however the run ends. RunEnded is the last
    // event either way.
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

    // Ends every connection of the run now, from any thread: a call blocked on the server fails at
    // once and the run stops after it.
    void Abort();

    // The last run's counts and how it ended.
    const TResumo& Resumo() const { return resumo_; }

    bool ArquivoEmTeste() const { return FArquivoEmTeste; }
    bool VersaoPraTeste() const { return dados_.VersaoPraTeste; }
    const std::u16string& Sistema() const { return dados_.Sistema; }
    const TOpcoesExecucao& Opcoes() const { return opcoes_; }

    TSQLConnection& ConnBrevant() { return ConnBrevant_; }
    TSqlServerMethod& FEchoString() { return FEchoString_; }

  private:
    struct TLigacao;
    struct TItem;
    class TDistribuidor;

    void Executar();
    TLigacao& Principal();
    void PrepararConexao(TSQLConnection& connection, std::size_t index);
    void Trabalhar(TLigacao& ligacao, TDistribuidor& distribuidor);
    void ProcessarArquivo(TLigacao& ligacao, TDistribuidor& distribuidor, const TItem& item);
    bool Precisa(TLigacao& ligacao, bool emTeste, const std::u16string& nomeArquivo,
                 const std::u16string& nomeDestino);
    // At most two attempts; `motivo`, when given, gets why the last one failed.
    bool Enviar(TLigacao& ligacao, const TArquivoEvento& arquivo, std::u16string* motivo);
    // Runs `call` on the connection's proxy (cached or fresh); a deadline that passed becomes an
    // error naming the server and what the run was waiting for.
    template <class F>
    auto Chamar(TLigacao& ligacao, std::u16string_view oQue, F&& call);
    // "O servidor H:P não respondeu em N s (aguardando ...)".
    std::u16string EsperaEsgotada(int ms, std::u16string_view oQue) const;
    std::u16string Servidor() const;

    // The view, one caller at a time.
    template <class F>
    auto Vista(F&& f) {
        std::lock_guard lock(vistaMutex_);
        return f(view_);
    }

    IMainView& view_;
    TClientDataSet& cdsSendFile_;
    TDadosPrograma dados_;
    TPausa pausa_;
    TDBXConnectionFactory* factory_;
    TOpcoesExecucao opcoes_;
    TLeitorDePastas leitor_;
    std::atomic<bool> FArquivoEmTeste{false};
    std::recursive_mutex vistaMutex_;
    TResumo resumo_;
    std::chrono::steady_clock::time_point inicio_;
    std::atomic<bool> abortado_{false};
    // The address and port the last connect used, for messages.
    std::u16string endereco_;
    int porta_ = 0;
    // Declared before the echo component, which must go first (it unregisters from the link).
    TSQLConnection ConnBrevant_;
    TSqlServerMethod FEchoString_;
    // ConnBrevant's entry first; the walk's further connections join while it runs. Declared
    // last: their proxies close their commands before the connections go.
    std::mutex ligacoesMutex_;
    std::vector<std::unique_ptr<TLigacao>> ligacoes_;
};

}  // namespace ab
