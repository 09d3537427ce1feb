// The parts of a publishing run that TAtualizador.h keeps private: a connection with what goes
// with it, a file of the walk, the hand-out of the files to the connections, and the work of one
// connection (its requests in flight, its answers, its retries). Used by TAtualizador.cpp and
// TTrabalho.cpp only.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/AppConstants.h"
#include "app/ExceptionText.h"
#include "app/TAtualizador.h"
#include "app/TZvServerClient.h"
#include "dbx/TDBXError.h"
#include "dbx/TOleVariant.h"
#include "packet/TClientDataSet.h"
#include "platform/Exception.h"
#include "transport/TransportConstants.h"

namespace ab {

// Whether the file must be sent, given the server's answer about its copy ("stamp;..."): when the
// server has none, or the local file's last-write stamp is strictly newer (to the second).
bool PrecisaEnviar(const std::u16string& resposta, const std::u16string& nomeArquivo);

// One connection of the run with what goes with it: the record set its packets are built in and,
// when commands are cached, the proxy that holds them for the life of the connection.
struct TAtualizador::TLigacao {
    TLigacao(int numero, TSQLConnection& conn, TClientDataSet& cds)
        : Numero(numero), Conn(conn), Cds(cds) {}
    TLigacao(int numero, std::unique_ptr<TSQLConnection> conn, std::unique_ptr<TClientDataSet> cds)
        : Numero(numero),
          Conn(*conn),
          Cds(*cds),
          ConnPropria(std::move(conn)),
          CdsProprio(std::move(cds)) {}

    int Numero;  // from 1, ConnBrevant's
    TSQLConnection& Conn;
    TClientDataSet& Cds;
    std::unique_ptr<TSQLConnection> ConnPropria;
    std::unique_ptr<TClientDataSet> CdsProprio;
    // Declared after the connection: it goes first, closing its commands on a live link.
    std::unique_ptr<TZvServerClient> Proxy;
    // Opened connections so far (under ligacoesMutex_); a proxy from an earlier one is stale (its
    // commands were closed).
    std::uint64_t Geracao = 0;
    std::uint64_t GeracaoProxy = 0;
    // How its current connection talks, settled by each connect (its own thread's): requests in
    // flight, and whether requests are written ahead where nothing waits for their answers.
    int Pedidos = 1;
    bool Adiante = false;
    int BufferKB = 32;
    // Its requests written ahead were answered once: the server takes them.
    bool Sondada = false;
    // The connection (its Geracao) whose proxy had its methods prepared in one write.
    std::uint64_t GeracaoPreparada = 0;
    // It left the run (its thread's own).
    bool Saiu = false;
    // Under a bandwidth cap (its thread's own): the bytes its connections wrote so far, and the
    // file whose content follows them, on the row `Linha` (false: it is done following). Shared
    // with the connection, which closes after the run's parts are gone.
    struct TEscritas {
        std::uint64_t Bytes = 0;
        std::function<bool()> AoEscrever;
        int Linha = -1;
    };
    std::shared_ptr<TEscritas> Escritas = std::make_shared<TEscritas>();
};

// An entry of the walk, as a connection takes it.
struct TAtualizador::TItem {
    std::size_t Ordem = 0;  // its place in the walk
    TEntradaVarredura::TTipo Tipo = TEntradaVarredura::TTipo::Arquivo;
    TArquivoEvento Arquivo;  // Row is -1 until its row is added
    std::u16string Texto;    // its row's text
    bool EmTeste = false;
    // Why the server would read its name as another file (a '\\' or a control character); such
    // a file fails without a request.
    std::u16string NomeRecusado;
    // Its send was written on a connection that dropped before the answer came: the server may
    // have stored it, so finding it current afterwards means it was sent.
    bool EnvioEscrito = false;
    bool VereditoMostrado = false;
};

// Hands the walk's files to the connections in walk order, adding each file's row as it is first
// taken, so rows keep the walk's order whichever connection handles them. Files a leaving
// connection gives back go first, with the rows they have.
class TAtualizador::TDistribuidor {
  public:
    TDistribuidor(TAtualizador& run, std::vector<TItem> itens, int trabalhos);

    // The next file, its row added; nothing once the walk is done or stopped or the window was
    // asked to close, and nothing while "Continuar?" is open. With `esperar` (a connection with
    // nothing in hand) it waits for the question's answer, and for the files a connection still
    // at work may give back; without, it answers at once.
    std::optional<TItem> Proximo(bool esperar);
    // A connection is done (it will take nothing more).
    void Sair();
    // A connection whose link failed leaves the run and gives its files back in one step, unless
    // no other connection is at work: false then, nothing changes, and its failure ends the run.
    bool Deixar(std::vector<TItem> itens);
    // No further file is handed out.
    void Parar();
    // "Continuar?", one at a time; no file is taken and no request written while it is open. No
    // stops the walk; once stopped, nobody is asked again. Asked without any lock: the other
    // connections' events go on meanwhile.
    bool Continuar(const std::u16string& texto);
    // Whether a connection may write a new request: never once the walk stopped (No, a close, an
    // abort), and not while "Continuar?" is open. With `esperar` an open question is waited out.
    bool PodeEscrever(bool esperar);

  private:
    bool Disponivel() const { return !devolvidos_.empty() || proximo_ < itens_.size(); }

    TAtualizador& run_;
    std::mutex mutex_;
    std::condition_variable livre_;
    std::vector<TItem> itens_;      // the walk
    std::size_t proximo_ = 0;       // the first not taken yet
    std::deque<TItem> devolvidos_;  // given back, in walk order
    int ativos_;                    // connections that may still take or give back files
    int esperando_ = 0;             // of those, waiting in Proximo with nothing in hand
    bool perguntando_ = false;
    bool parado_ = false;
};

// The work of one connection over its share of the walk, on the thread that owns the connection.
// Up to `PedidosEmCurso` requests are written ahead; see TAtualizador.h for the rules.
class TAtualizador::TTrabalho {
  public:
    // Without a distributor it serves the public SendFile: no question, and a failure to
    // reconnect escapes.
    TTrabalho(TAtualizador& run, TLigacao& ligacao, TDistribuidor* distribuidor);

    // Until the walk has nothing more for it, or it left the run. Raises what escapes the run.
    void Executar();
    // One file, at most two attempts.
    bool EnviarSozinho(const TArquivoEvento& arquivo);

  private:
    enum class TFase { Consultar, Consultando, Remover, Removendo, Enviar, Enviando, Pronto };
    struct TArquivo {
        explicit TArquivo(TItem item) : Item(std::move(item)) {}
        TItem Item;
        TFase Fase = TFase::Consultar;
        std::optional<TVeredito> Veredito;
        TDesfecho Desfecho = TDesfecho::Atual;
        int Icone = IMainView::IconDone;
        int Tentativas = 0;      // failed send attempts
        bool Perguntar = false;  // failed: "Continuar?" once its outcome is shown
        std::optional<TOleVariant> Pacote;
    };
    enum class TTipoPedido { Consulta, Remocao, Envio };
    struct TPedido {
        TArquivo* Arquivo;
        TTipoPedido Tipo;
        std::unique_ptr<TZvServerClient> Proprio;  // a fresh proxy when commands are not cached
        TZvServerClient* Proxy = nullptr;
        bool Adiante = false;  // written while another's answer was owed
    };
    // Thrown to leave the run after the files were given back.
    struct TSaida {};

    // Whether a new request may leave now (not once the walk stopped, nor while a question is
    // open); a file sent on its own always may.
    bool PodeEscrever(bool esperar = false) {
        return !distribuidor_ || distribuidor_->PodeEscrever(esperar);
    }
    void Tomar(TItem item);
    // The file's first step: what it is, whether the server is asked about it.
    void Recomecar(TArquivo& a);
    void Escrever();
    // false when the request must wait for an empty connection.
    bool Escreve(TArquivo& a);
    bool EscreveEnvio(TArquivo& a);
    void Ler();
    void AplicarConsulta(TArquivo& a, const std::u16string& resposta);
    void ResultadoDoEnvio(TArquivo& a, bool enviado, std::u16string motivo);
    // The outcome of `enviar` (the server's answer to a send): refused or raised, with why.
    template <class F>
    void ResultadoDoEnvio(TArquivo& a, F&& enviar) {
        bool enviado = false;
        std::u16string motivo;
        try {
            enviado = enviar();
            if (!enviado)
                motivo = std::u16string(AppConstants::MsgServerRefused);
        } catch (...) {
            if (FalhouNaSonda(&a))
                return;
            motivo = ApplicationErrorText(std::current_exception());
        }
        ResultadoDoEnvio(a, enviado, std::move(motivo));
    }
    void Reconectar(TArquivo& a);
    // The answers owed go with the connection: their files start again on the next one (a send
    // among them may have been stored).
    void RecomecarPendentes(const TArquivo* exceto);
    // Probes. The first request written ahead on a connection, and the first send in blocks
    // larger than 32 KB in the run, are read under a short deadline; a link that fails then is a
    // server that cannot take them: the run goes on the plain way from a new connection.
    enum class TSonda { Nenhuma, Pedidos, Buffer };
    void ArmarSonda(TSonda sonda, std::chrono::milliseconds prazo);
    void DesarmarSonda();
    // Into the requests owed, marked as written ahead when another's answer is owed.
    void Enfileirar(TPedido pedido);
    // Inside a catch block: true when what failed was a probe (the link went down under it);
    // the connection was then opened again the plain way and the owed files restarted.
    bool FalhouNaSonda(TArquivo* tambem);
    // Every method this connection will call prepared in one write, before its first request.
    void PrepararJuntos();
    // A request other than a send failed (inside a catch block): the run ends, or the connection
    // leaves it.
    [[noreturn]] void FalhaDaLigacao();
    // Leaves the run with the files in hand given back (`falhado`, when given, counts as failed
    // here): throws TSaida; false when it is the last connection at work, nothing changed.
    bool Sair(const std::u16string& motivo, TArquivo* falhado);
    void Pronto(TArquivo& a, TDesfecho desfecho, int icone);
    void Falhou(TArquivo& a);
    // Verdicts and outcomes in the order the files were taken; "Continuar?" after a failed one.
    void Mostrar(bool perguntar = true);
    // When the work ends with files left in hand (a stop, an error): the outcomes that are known
    // are shown, the others' rows are left as they are.
    void MostrarConcluidos();
    // Answers still owed when the work ends would be read as the next run's: the connection goes.
    void FecharSeDever();
    bool Preparado(std::u16string_view metodo);
    // One request at a time: each leaves as soon as it is written. With several in flight they
    // wait in the connection's buffer and leave together when an answer is awaited.
    bool Sozinho() const { return JanelaMax() == 1; }
    // Requests in flight on the current connection (a fresh command must hear its prepare's
    // answer before it executes: nothing goes ahead without cached commands).
    std::size_t JanelaMax() const {
        return run_.opcoes_.ComandosEmCache
                   ? static_cast<std::size_t>(std::max(1, ligacao_.Pedidos))
                   : 1;
    }
    TPedido NovoPedido(TArquivo& a, TTipoPedido tipo);
    TOleVariant MontarPacote(const TArquivoEvento& arquivo);
    // The file's send is over or starts again: its progress no longer follows the connection's
    // writes.
    void SoltarProgresso(const TArquivo& a);

    TAtualizador& run_;
    TLigacao& ligacao_;
    TDistribuidor* distribuidor_;
    std::deque<TArquivo> janela_;  // files in hand, in the order taken
    std::deque<TPedido> emCurso_;  // requests written, answers owed, in the order written
    bool deixou_ = false;          // it left the run (the hand-out knows)
    // A probe is under way: the requests ahead's (the first answer to one written ahead ends it),
    // or the first large send's (its answer ends it).
    TSonda sonda_ = TSonda::Nenhuma;
    TArquivo* sondaBuffer_ = nullptr;  // the send the block-size probe waits on
};

// A deadline passed: waiting for the connection or an answer, or for room to write.
inline bool IsDeadline(const TDBXError& e) {
    namespace TC = TransportConstants;
    return e.Message() == TC::ErrConnectionTimeout || e.Message() == TC::ErrCommunicationTimeout ||
           e.Message() == TC::ErrWriteTimeout;
}

template <class F>
auto TAtualizador::ComPrazo(std::u16string_view oQue, F&& f) {
    try {
        return f();
    } catch (const TDBXError& e) {
        if (!IsDeadline(e))
            throw;
        // A peer that stops reading: the request could not leave in time.
        const bool escrevendo = e.Message() == TransportConstants::ErrWriteTimeout;
        throw Exception(EsperaEsgotada(
            opcoes_.TempoLeituraMs,
            (escrevendo ? u"enviando " : u"aguardando a resposta de ") + std::u16string(oQue)));
    }
}

template <class F>
auto TAtualizador::Chamar(TLigacao& ligacao, std::u16string_view oQue, F&& call) {
    return ComPrazo(oQue, [&] {
        if (TZvServerClient* proxy = ProxyEmCache(ligacao))
            return call(*proxy);
        TZvServerClient proxy(ligacao.Conn.GetDBXConnection());
        return call(proxy);
    });
}

}  // namespace ab
