// TAtualizador: the publishing run behind "Atualizar", written against IMainView so it runs and is
// tested without Qt. It owns the window's connection ConnBrevant and echo component FEchoString;
// the send-file record set stays the window's.
//
// One run: connect (the before-connect event takes the address and port from the view), probe the
// server kind with the echo, walk every file below the program folder, send what the server lacks
// or holds older, remove the test marker outside test mode, alert a parent server's clients, close
// the window. What the user's exclusions leave out is never opened nor asked about: each such
// entry is reported (TDesfecho::Excluido, the pattern as its reason) and counted.
//
// Server calls go through TZvServerClient. By default each connection keeps one proxy, so every
// method is prepared once per connection and then only executed; the proxy goes (closing its
// commands) when its connection closes. With ComandosEmCache off, every call gets a fresh proxy.
//
// With Conexoes > 1 the walk opens further connections, each on its own thread with its own record
// set, and hands them the files in walk order: rows appear in that order, each file's row shows its
// outcome when that file is done, one "Continuar?" is asked at a time (no new file is taken while
// it is open, while the files already in hand go on) and No stops every connection after its files
// in hand. The alert goes once, at the end, over a working connection (ConnBrevant when it works).
//
// Requests in flight (PedidosEmCurso N > 1, with cached commands): each connection keeps up to N
// requests written whose answers it has not read yet. The questions about its next files leave
// ahead, and so do a removal of the test marker and a send whose packet travels whole inside its
// request; a send the server must pull in segments leaves only when nothing else is in flight,
// and nothing follows it until its answer is in. Answers are read in the order the requests left,
// and each connection shows its files' verdicts and outcomes in the order it took them; the files
// in hand are those whose requests are on their way. A failed send closes the connection as
// always: the answers still owed are dropped, and their files are handled again from the start on
// the new connection (a file whose send had left and is then found current was sent by this run).
// The retry of a failed send travels alone: it waits for every answer owed, and nothing is written
// behind it until its answer is in, so a second failure asks "Continuar?" with nothing of its
// connection on the way. When the work ends with answers still owed (an error answer, an abort),
// the connection is closed before the run returns: no later run reads them. With N = 1 request and
// answer alternate, message for message as without.
//
// Failures stay with their connection when there are several: a connection that cannot connect
// at the start, whose reconnect after a failed send fails, or whose link breaks or passes a
// deadline, leaves the run (IMainView::ConnectionDropped says why). The file whose send failed
// gets the red cross ("Continuar?" as for any failed file); the files it had in hand whose answers
// had not come go back to the others, which handle them in its place. Only the last connection
// to leave ends the run as a single connection does: the error escapes it. A server's error answer
// (the link still up) ends the run at once, after the answers before it were applied.
//
// Local paths use '/'; destination names use '\' (the relative path with '/' turned into '\').
//
// A stop (No to "Continuar?", the view's CloseRequested(), Abort()) keeps every connection from
// writing any new request, at once; so does an open "Continuar?" until it is answered. The answers
// to requests already written are read, and a file whose bytes are travelling finishes; the other
// files in hand keep their rows as they are. After a close the run skips the alert and returns.
// Abort() (from any thread) ends every connection at once, for a close that cannot wait for a
// silent server.
//
// Threads and locks. The run's own thread works ConnBrevant's share of the walk; each further
// connection has a thread of its own, joined before the walk returns. Locks, in the order they may
// be taken (one on the left may be held while taking one on its right, never the other way):
//   TDistribuidor::mutex_  ->  vistaMutex_
// and, each taken alone: ligacoesMutex_, enderecoMutex_, partida_.mutex, erroMutex_; a TLigacao's
// proxy and connection are its own thread's until that thread is joined.
//   - TDistribuidor::mutex_: the files not yet taken or given back, who asks "Continuar?", whether
//     the walk stopped, how many connections work. Held while a file is taken and its row added.
//   - vistaMutex_: the calls into the view (one at a time, as IMainView asks) and resumo_. Never
//     held across a server call, a pause or "Continuar?", which is asked without it so the other
//     connections' events go on meanwhile (IMainView allows that).
//   - ligacoesMutex_: ligacoes_ and each connection's Geracao, read by Abort from any thread.
//   - enderecoMutex_: the address and port the last connect used, for messages.
//   - partida_.mutex: the hand-out the further connections wait for; erroMutex_: the first
//     error a connection's work raised.
// abortado_, FArquivoEmTeste, temMarcador_ and what the run found about the server
// (umPedidoPorVez_, buffer32_, bufferSondado_, sondandoBuffer_) are atomic; the memory of the
// servers has a lock of its own, taken alone. A TLigacao's Pedidos, Adiante and BufferKB are set by
// its connect, on its own thread. No lock is held across a blocking call.
// The bandwidth cap's lock (TLimiteDeBanda) is taken alone, inside a socket write, for its
// bookkeeping only: a connection waits for its turn without it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "app/IMainView.h"
#include "app/MemoriaDosServidores.h"
#include "app/Varredura.h"
#include "transport/TSQLConnection.h"
#include "transport/TSqlServerMethod.h"

namespace ab {

class TClientDataSet;
class TDBXConnectionFactory;
class THistorico;
class TLimiteDeBanda;
class TZvServerClient;

// Program state fixed at start-up.
struct TDadosPrograma {
    std::u16string ProgramPath;    // argument 0
    std::u16string ProgramFolder;  // its folder, ending in '/'
    std::u16string Sistema;        // "S" + system code + "\"
    bool VersaoPraTeste = false;
};

// How a run talks to the server. The defaults of this struct are the conservative choice: the
// messages the servers have always seen, one at a time, except that commands are prepared once per
// connection. The program's own defaults (TConfiguracao) are faster.
struct TOpcoesExecucao {
    // Connections; 0: chosen once the walk is listed (ConexoesPara).
    int Conexoes = 1;
    bool ComandosEmCache = true;
    // Requests a connection may have written before reading their answers (with cached commands
    // only: a fresh command must hear its prepare's answer before it can execute).
    int PedidosEmCurso = 1;
    int BufferKB = 32;       // BufferKBSize; 32 sends no property (the size servers assume)
    int TempoConexaoMs = 0;  // ConnectTimeout (TCP connect and login); 0: none
    int TempoLeituraMs = 0;  // CommunicationTimeout (every later answer and write); 0: none
    bool Simular = false;    // ask about every file, move none, alert nobody
    // Requests written ahead also where nothing waits for their answers: the metadata query and
    // the echo's prepare behind the connect message, every method's prepare in one write. The
    // first requests written ahead, and the first send in blocks larger than 32 KB, are probes:
    // a server that cannot take them makes the connection start again the plain way, and is
    // remembered in `Memoria`.
    bool Adiante = false;
    // Given by the user: what was remembered about a server does not change them.
    bool PedidosFixos = false;
    bool BufferFixo = false;
    // Where servers that cannot keep up are remembered (nothing is, when null).
    std::shared_ptr<TMemoriaDosServidores> Memoria;
    // The entries the user leaves out: never opened nor asked about, each reported and counted.
    TExclusoes Exclusoes;
    // Where each run leaves its line (nothing is written, when null).
    std::shared_ptr<THistorico> Historico;
    // The most KB (1000 bytes) written to the server per second, over every connection together,
    // with a burst of at most one second's worth; 0: no cap.
    int LimiteBandaKB = 0;
};

// How many connections a run whose walk lists `arquivos` entries of `bytes` in all opens, when the
// settings leave it to the run.
int ConexoesPara(int arquivos, std::uint64_t bytes);

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
    class TTrabalho;

    void Executar();
    TLigacao& Principal();
    void PrepararConexao(TSQLConnection& connection, std::size_t index);
    // The walk's entries with their destinations, rows' texts and sizes (`bytes`: of the files
    // to publish). `aviso`: what to tell the user when a pattern matched the test marker.
    std::vector<TItem> Listar(std::uint64_t& bytes, std::u16string& aviso);
    // The alert over ConnBrevant, or over another connection when ConnBrevant left the run.
    void Alertar();
    // Opens the connection; an open whose requests written ahead went unanswered opens again the
    // plain way, the server found and remembered (Recuar).
    void Conectar(TSQLConnection& connection);
    // This run found a server that cannot keep up: every later connect of the run goes without
    // it, the user is told once, and the server is remembered.
    void Recuar(TLimite limite, const std::u16string& motivo);
    // How a connect to this server goes: what was found in this run, else what was remembered
    // (unless the user fixed it), else the options.
    struct TModo {
        bool Adiante;
        int Pedidos;
        int BufferKB;
    };
    TModo ModoPara(std::u16string_view endereco, int porta) const;
    // The walk's further connections: each connects on a thread of its own while ConnBrevant
    // probes the server and the walk lists the files, then waits for the hand-out (partida_) and
    // works its share. JuntarOutras lets them go (with no hand-out when none came) and joins them;
    // FecharOutras also closes them and forgets them.
    void AbrirOutras();
    void JuntarOutras();
    void FecharOutras();
    void Trabalhar(TLigacao& ligacao, TDistribuidor& distribuidor);
    // A further connection that could not connect or have a thread: reported, and it takes no
    // file.
    void Perdida(TDistribuidor& distribuidor, int numero, std::exception_ptr falha);
    // Leaves the run's line in the history, when there is one; a history that cannot be written
    // is a notice, never the run's failure.
    void Registrar();
    // Records an entry's outcome in the summary and shows it.
    void Concluir(const TItem& item, const TArquivoEvento& arquivo, int icone, TDesfecho desfecho);
    // The connection's proxy: its cached one (made again after a reconnect), or nullptr when
    // commands are not cached.
    TZvServerClient* ProxyEmCache(TLigacao& ligacao);
    // Runs `call` on the connection's proxy (cached or fresh); a deadline that passed becomes an
    // error naming the server and what the run was waiting for.
    template <class F>
    auto Chamar(TLigacao& ligacao, std::u16string_view oQue, F&& call);
    // Runs `f`; a deadline that passes in it becomes the error that names the server.
    template <class F>
    auto ComPrazo(std::u16string_view oQue, F&& f);
    // "O servidor H:P não respondeu em N s (`oQue`)": what the run was waiting for or sending.
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
    // This run's connections: the setting's, or (0) chosen once the walk is listed. The run's
    // thread alone uses it.
    int conexoes_ = 1;
    TLeitorDePastas leitor_;
    std::atomic<bool> FArquivoEmTeste{false};
    std::mutex vistaMutex_;
    TResumo resumo_;
    std::chrono::steady_clock::time_point inicio_;
    // For the history: when the run began, the server it was pointed at, and its kind once the
    // echo told it. The run's thread alone uses them.
    std::chrono::system_clock::time_point inicioNoRelogio_;
    std::u16string enderecoDaExecucao_;
    int portaDaExecucao_ = 0;
    std::optional<bool> servidorPai_;
    std::atomic<bool> abortado_{false};
    // What this run found about the server (from any connection's thread): it reads no request
    // written behind another, or no block over 32 KB; and whether a send in larger blocks went
    // through already (the block-size probe is made once).
    std::atomic<bool> umPedidoPorVez_{false};
    std::atomic<bool> buffer32_{false};
    std::atomic<bool> bufferSondado_{false};
    std::atomic<bool> sondandoBuffer_{false};  // a connection is making that probe
    // The walk holds the test marker (its removal is prepared with the rest).
    std::atomic<bool> temMarcador_{false};
    // The address and port the last connect used, for messages.
    mutable std::mutex enderecoMutex_;
    std::u16string endereco_;
    int porta_ = 0;
    // Declared before the echo component, which must go first (it unregisters from the link).
    TSQLConnection ConnBrevant_;
    TSqlServerMethod FEchoString_;
    // ConnBrevant's entry first; the walk's further connections join while it runs. Declared
    // last: their proxies close their commands before the connections go.
    std::mutex ligacoesMutex_;
    std::vector<std::unique_ptr<TLigacao>> ligacoes_;
    // The further connections' threads (the run's thread alone touches the list), those that
    // got none, and what the connections' work raised first.
    std::vector<std::thread> outras_;
    std::vector<std::pair<int, std::exception_ptr>> semThread_;
    struct TPartida {
        std::mutex mutex;
        std::condition_variable pronta;
        TDistribuidor* distribuidor = nullptr;  // the walk's hand-out, once it exists
        bool fim = false;                       // no hand-out will come
    } partida_;
    std::mutex erroMutex_;
    std::exception_ptr erroDoTrabalho_;
    // The bandwidth cap every connection of every run of this engine writes within (none when
    // null); made before any connection, so the first run starts with nothing saved up.
    std::shared_ptr<TLimiteDeBanda> limiteDeBanda_;
};

}  // namespace ab
