// The publishing run.
#include "app/TAtualizador.h"

#include <algorithm>
#include <condition_variable>
#include <optional>
#include <thread>
#include <vector>

#include "app/AppConstants.h"
#include "app/ConnBrevant.h"
#include "app/DataPacketVariant.h"
#include "app/ExceptionText.h"
#include "app/TZvServerClient.h"
#include "app/UFuncoes.h"
#include "app/Varredura.h"
#include "dbx/TDBXError.h"
#include "dbx/TOleVariant.h"
#include "packet/PacketConstants.h"
#include "packet/SendFileDataSet.h"
#include "packet/TClientDataSet.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/TestEnvironment.h"
#include "platform/Text.h"
#include "transport/TransportConstants.h"

namespace ab {
namespace C = AppConstants;
namespace TC = TransportConstants;

namespace {

// The part after the last '/'.
std::u16string_view FilePart(std::u16string_view path) {
    const auto slash = path.rfind(u'/');
    return slash == std::u16string_view::npos ? path : path.substr(slash + 1);
}

// Every "\\" becomes "\", left to right in one pass (three in a row become two).
std::u16string SingleBackslashes(std::u16string_view name) {
    std::u16string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
        out.push_back(name[i]);
        if (name[i] == u'\\' && i + 1 < name.size() && name[i + 1] == u'\\')
            ++i;
    }
    return out;
}

bool IsDeadline(const TDBXError& e) {
    return e.Message() == TC::ErrConnectionTimeout || e.Message() == TC::ErrCommunicationTimeout;
}

std::uint64_t SizeOf(const std::u16string& path) {
    return FileSize(path).value_or(0);
}

// A row names the file; an entry that is not published also says why.
std::u16string TextoDaLinha(const TEntradaVarredura::TTipo tipo, std::u16string_view local,
                            std::u16string_view motivo) {
    const bool pasta = local.ends_with(u'/');
    std::u16string texto =
        ReadableName(FilePart(pasta ? local.substr(0, local.size() - 1) : local));
    if (pasta)
        texto += u'/';
    if (tipo != TEntradaVarredura::TTipo::Arquivo)
        texto += u" (" + std::u16string(motivo) + u")";
    return texto;
}

}  // namespace

int TResumo::CodigoSaida() const {
    switch (Fim) {
        case TFim::Recusada:
            return 1;
        case TFim::ServidorInvalido:
            return 2;
        case TFim::Interrompida:
            return 4;
        case TFim::Erro:
            return 5;
        case TFim::Concluida:
            break;
    }
    return Falhas > 0 ? 3 : 0;
}

// One connection of the run with what goes with it: the record set its packets are built in and,
// when commands are cached, the proxy that holds them for the life of the connection.
struct TAtualizador::TLigacao {
    TLigacao(TSQLConnection& conn, TClientDataSet& cds) : Conn(conn), Cds(cds) {}
    TLigacao(std::unique_ptr<TSQLConnection> conn, std::unique_ptr<TClientDataSet> cds)
        : Conn(*conn), Cds(*cds), ConnPropria(std::move(conn)), CdsProprio(std::move(cds)) {}

    TSQLConnection& Conn;
    TClientDataSet& Cds;
    std::unique_ptr<TSQLConnection> ConnPropria;
    std::unique_ptr<TClientDataSet> CdsProprio;
    // Declared after the connection: it goes first, closing its commands on a live link.
    std::unique_ptr<TZvServerClient> Proxy;
    // Opened connections so far; a proxy from an earlier one is stale (its commands were closed).
    std::uint64_t Geracao = 0;
    std::uint64_t GeracaoProxy = 0;
};

struct TAtualizador::TItem {
    TEntradaVarredura::TTipo Tipo = TEntradaVarredura::TTipo::Arquivo;
    TArquivoEvento Arquivo;
    std::u16string Texto;  // its row's text
    bool EmTeste = false;
};

template <class F>
auto TAtualizador::Chamar(TLigacao& ligacao, std::u16string_view oQue, F&& call) {
    try {
        if (!opcoes_.ComandosEmCache) {
            TZvServerClient proxy(ligacao.Conn.GetDBXConnection());
            return call(proxy);
        }
        std::uint64_t geracao;
        {
            std::lock_guard lock(ligacoesMutex_);
            geracao = ligacao.Geracao;
        }
        if (!ligacao.Proxy || ligacao.GeracaoProxy != geracao) {
            // The stale proxy's commands were closed with their connection: freeing them sends
            // nothing.
            ligacao.Proxy.reset();
            ligacao.Proxy = std::make_unique<TZvServerClient>(ligacao.Conn.GetDBXConnection());
            ligacao.GeracaoProxy = geracao;
        }
        return call(*ligacao.Proxy);
    } catch (const TDBXError& e) {
        if (IsDeadline(e))
            throw Exception(
                EsperaEsgotada(opcoes_.TempoLeituraMs, u"a resposta de " + std::u16string(oQue)));
        throw;
    }
}

// Hands the walk's files to the connections in list order, adding each file's row as it is taken,
// so rows keep the walk's order whichever connection handles them.
class TAtualizador::TDistribuidor {
  public:
    TDistribuidor(TAtualizador& run, std::vector<TItem> itens)
        : run_(run), itens_(std::move(itens)) {}

    // The next file, its row added; nothing once the walk is done or stopped, or the window was
    // asked to close.
    std::optional<TItem> Proximo() {
        std::unique_lock lock(mutex_);
        livre_.wait(lock, [&] { return !perguntando_; });
        if (parado_ || run_.abortado_ || proximo_ >= itens_.size())
            return std::nullopt;
        if (run_.Vista([](IMainView& v) { return v.CloseRequested(); })) {
            parado_ = true;
            return std::nullopt;
        }
        TItem item = itens_[proximo_++];
        run_.Vista([&](IMainView& v) {
            item.Arquivo.Row = v.AddRow(item.Texto, IMainView::IconProcessing);
            v.ScrollToRow(item.Arquivo.Row);
            v.ProcessEvents();
        });
        return item;
    }

    void Parar() {
        std::lock_guard lock(mutex_);
        parado_ = true;
        livre_.notify_all();
    }

    // "Continuar?", one at a time, with no file taken while it is open. No stops the walk; once
    // stopped, nobody is asked again.
    bool Continuar(const std::u16string& texto) {
        std::lock_guard pergunta(perguntaMutex_);
        {
            std::lock_guard lock(mutex_);
            if (parado_)
                return false;
            perguntando_ = true;
        }
        const bool sim = run_.Vista([&](IMainView& v) { return v.AskWarningYesNo(texto); });
        std::lock_guard lock(mutex_);
        perguntando_ = false;
        if (!sim)
            parado_ = true;
        livre_.notify_all();
        return sim;
    }

  private:
    TAtualizador& run_;
    std::vector<TItem> itens_;
    std::mutex mutex_;
    std::mutex perguntaMutex_;
    std::condition_variable livre_;
    std::size_t proximo_ = 0;
    bool perguntando_ = false;
    bool parado_ = false;
};

TAtualizador::TAtualizador(IMainView& view, TClientDataSet& cdsSendFile, TDadosPrograma dados,
                           TPausa pausa, TDBXConnectionFactory* factory, TOpcoesExecucao opcoes,
                           TLeitorDePastas leitor)
    : view_(view),
      cdsSendFile_(cdsSendFile),
      dados_(std::move(dados)),
      pausa_(std::move(pausa)),
      factory_(factory),
      opcoes_(opcoes),
      leitor_(leitor ? std::move(leitor) : TLeitorDePastas(ListDirectory)),
      ConnBrevant_(factory) {
    if (!pausa_)
        pausa_ = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    opcoes_.Conexoes = std::max(1, opcoes_.Conexoes);
    ligacoes_.push_back(std::make_unique<TLigacao>(ConnBrevant_, cdsSendFile_));
    PrepararConexao(ConnBrevant_, 0);
    DesignEchoString(FEchoString_, ConnBrevant_);
}

TAtualizador::~TAtualizador() = default;

TAtualizador::TLigacao& TAtualizador::Principal() {
    return *ligacoes_.front();
}

void TAtualizador::PrepararConexao(TSQLConnection& connection, std::size_t index) {
    DesignConnBrevant(connection);
    // Only what differs from the designed list is added, so a default run connects as always.
    auto& params = connection.Params();
    if (opcoes_.BufferKB != TC::DefaultBufferKBSize)
        params.SetValue(TC::BufferKBSize, IntToStr(opcoes_.BufferKB));
    if (opcoes_.TempoConexaoMs > 0)
        params.SetValue(TC::ConnectTimeout, IntToStr(opcoes_.TempoConexaoMs));
    if (opcoes_.TempoLeituraMs > 0)
        params.SetValue(TC::CommunicationTimeout, IntToStr(opcoes_.TempoLeituraMs));
    connection.BeforeConnect = [this](TSQLConnection& c) {
        // A run being ended opens nothing more.
        if (abortado_)
            throw Exception(std::u16string(C::MsgRunAborted));
        Vista([&](IMainView& v) {
            endereco_ = Trim(v.EnderecoText());
            porta_ = v.PortaPosition();
        });
        ConnBrevantBeforeConnect(c, endereco_, porta_);
    };
    connection.AfterConnect = [this, index](TSQLConnection&) {
        std::lock_guard lock(ligacoesMutex_);
        ++ligacoes_[index]->Geracao;
    };
}

void TAtualizador::btn_AtualizarClick() {
    resumo_ = TResumo{};
    resumo_.Simulada = opcoes_.Simular;
    inicio_ = std::chrono::steady_clock::now();
    abortado_ = false;
    auto terminar = [this] {
        resumo_.Segundos =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio_).count();
        Vista([&](IMainView& v) { v.RunEnded(resumo_); });
    };
    try {
        Executar();
    } catch (...) {
        resumo_.Erro = ApplicationErrorText(std::current_exception());
        // A run ended on purpose reports how it stopped; the connection's error is its echo.
        if (abortado_) {
            resumo_.Fim = TResumo::TFim::Interrompida;
            terminar();
            return;
        }
        resumo_.Fim = TResumo::TFim::Erro;
        terminar();
        throw;
    }
    terminar();
}

// The run itself; btn_AtualizarClick frames it with the summary and the end event.
void TAtualizador::Executar() {
    if (dados_.VersaoPraTeste &&
        IsProductionServer(Vista([](IMainView& v) { return v.EnderecoText(); }))) {
        Vista([](IMainView& v) { v.ShowWarning(std::u16string(C::MsgTestVersionServer)); });
        resumo_.Fim = TResumo::TFim::Recusada;
        return;
    }
    ConectadoServidorBrevant = false;

    Vista([](IMainView& v) { v.SetAtualizarEnabled(false); });
    // Re-enables "Atualizar" however the run leaves.
    struct TReenable {
        TAtualizador& run;
        ~TReenable() {
            run.Vista([](IMainView& v) { v.SetAtualizarEnabled(true); });
        }
    } reenable{*this};

    try {
        ConnBrevant_.SetConnected(true);
    } catch (const std::exception& e) {
        if (abortado_) {
            resumo_.Fim = TResumo::TFim::Interrompida;
            return;
        }
        resumo_.Fim = TResumo::TFim::ServidorInvalido;
        resumo_.Erro = ApplicationErrorText(std::current_exception());
        if (const auto* dbx = dynamic_cast<const TDBXError*>(&e); dbx && IsDeadline(*dbx))
            resumo_.Erro = EsperaEsgotada(opcoes_.TempoConexaoMs, u"a conex\u00E3o e o login");
        Vista([](IMainView& v) { v.ShowMessage(std::u16string(C::MsgInvalidServer)); });
        return;
    }

    Vista([](IMainView& v) {
        v.ClearRows();
        v.ShowPage(IMainView::Page::Progresso);
    });
    if (ConnBrevant_.GetConnected())
        ConectadoServidorBrevant = ConexaoZvPai();

    EnviarAquivos();

    // A close asked for during the walk ends the run here: the window closes when it returns.
    if (Vista([](IMainView& v) { return v.CloseRequested(); }) || abortado_) {
        resumo_.Fim = TResumo::TFim::Interrompida;
        return;
    }
    if (ConectadoServidorBrevant && !opcoes_.Simular)
        AlertarZvClientes();
    Vista([](IMainView& v) { v.SetAtualizarEnabled(true); });
    // A dry run leaves its verdicts on the screen.
    if (!opcoes_.Simular)
        Vista([](IMainView& v) { v.CloseWindow(); });
}

bool TAtualizador::ConexaoZvPai() {
    try {
        FEchoString_.Params()
            .ParamByName(C::EchoValueParam)
            .SetAsWideString(EncoderBase64(C::EchoProbeText));
        FEchoString_.ExecuteMethod();
        FEchoString_.Close();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void TAtualizador::EnviarAquivos() {
    FArquivoEmTeste = false;
    const std::u16string programa = UpperCaseMesmo(dados_.ProgramPath);
    const std::u16string& pasta = dados_.ProgramFolder;
    const std::size_t tamanho = pasta.size();
    const std::u16string logo = UpperCaseMesmo(pasta + std::u16string(C::LogoFileName));

    std::vector<TItem> itens;
    std::uint64_t bytes = 0;
    for (TEntradaVarredura& entrada : Varrer(pasta, leitor_)) {
        using TTipo = TEntradaVarredura::TTipo;
        const std::u16string maiusculo = UpperCaseMesmo(entrada.Caminho);
        if (entrada.Tipo == TTipo::Arquivo && (maiusculo == logo || maiusculo == programa))
            continue;
        TItem item;
        item.Tipo = entrada.Tipo;
        item.EmTeste = entrada.Tipo == TTipo::Arquivo && FilePart(maiusculo) == C::TestMarkerName;
        // The server reads names in its code page: a name's bytes that are not UTF-8 go as the
        // characters that code page gives them.
        std::u16string relativo = ReadableName(
            std::u16string_view(entrada.Caminho).substr(std::min(tamanho, entrada.Caminho.size())));
        std::replace(relativo.begin(), relativo.end(), u'/', u'\\');
        item.Arquivo.Destino = ArquivoPastaDestino(relativo);
        item.Arquivo.Tamanho = entrada.Tipo == TTipo::Arquivo ? SizeOf(entrada.Caminho) : 0;
        item.Arquivo.Motivo = std::move(entrada.Motivo);
        item.Arquivo.Local = std::move(entrada.Caminho);
        item.Texto = TextoDaLinha(item.Tipo, item.Arquivo.Local, item.Arquivo.Motivo);
        bytes += item.Arquivo.Tamanho;
        itens.push_back(std::move(item));
    }
    resumo_.Arquivos = static_cast<int>(itens.size());
    Vista([&](IMainView& v) { v.RunStarted(resumo_.Arquivos, bytes); });

    TDistribuidor distribuidor(*this, std::move(itens));
    std::mutex erroMutex;
    std::exception_ptr erro;
    auto trabalhar = [&](TLigacao& ligacao) {
        try {
            Trabalhar(ligacao, distribuidor);
        } catch (...) {
            std::lock_guard lock(erroMutex);
            if (!erro)
                erro = std::current_exception();
            distribuidor.Parar();
        }
    };

    std::vector<std::thread> outras;
    for (int i = 1; i < opcoes_.Conexoes; ++i) {
        auto cds = std::make_unique<TClientDataSet>(std::u16string(kSendFileDataSetName));
        AddSendFileFields(*cds);
        cds->CreateDataSet();
        TLigacao* ligacao;
        {
            std::lock_guard lock(ligacoesMutex_);
            ligacoes_.push_back(std::make_unique<TLigacao>(
                std::make_unique<TSQLConnection>(factory_), std::move(cds)));
            ligacao = ligacoes_.back().get();
            PrepararConexao(ligacao->Conn, ligacoes_.size() - 1);
        }
        outras.emplace_back([&, ligacao] {
            try {
                ligacao->Conn.SetConnected(true);
            } catch (const std::exception&) {
                // The other connections take its share of the files.
                return;
            }
            trabalhar(*ligacao);
            // Its proxy closes its commands, then the connection says goodbye.
            ligacao->Proxy.reset();
            try {
                ligacao->Conn.SetConnected(false);
            } catch (const std::exception&) {
            }
        });
    }
    trabalhar(Principal());
    for (std::thread& t : outras)
        t.join();
    {
        std::lock_guard lock(ligacoesMutex_);
        ligacoes_.resize(1);
    }
    if (erro)
        std::rethrow_exception(erro);
}

void TAtualizador::Trabalhar(TLigacao& ligacao, TDistribuidor& distribuidor) {
    while (std::optional<TItem> item = distribuidor.Proximo())
        ProcessarArquivo(ligacao, distribuidor, *item);
}

void TAtualizador::ProcessarArquivo(TLigacao& ligacao, TDistribuidor& distribuidor,
                                    const TItem& item) {
    TArquivoEvento arquivo = item.Arquivo;
    FArquivoEmTeste = item.EmTeste;
    auto concluir = [&](int icon, TDesfecho desfecho) {
        std::lock_guard lock(vistaMutex_);
        if (item.Tipo == TEntradaVarredura::TTipo::Arquivo)
            ++resumo_.Verificados;
        switch (desfecho) {
            case TDesfecho::Enviado:
                ++resumo_.Enviados;
                resumo_.BytesEnviados += arquivo.Tamanho;
                break;
            case TDesfecho::Atual:
                ++resumo_.Atuais;
                break;
            case TDesfecho::Removido:
                ++resumo_.Removidos;
                break;
            case TDesfecho::Falhou:
                ++resumo_.Falhas;
                resumo_.Falhados.push_back(arquivo.Local);
                break;
            case TDesfecho::Enviaria:
                ++resumo_.Enviaria;
                break;
            case TDesfecho::Removeria:
                ++resumo_.Removeria;
                break;
            case TDesfecho::Ignorado:
                ++resumo_.Ignorados;
                break;
        }
        view_.SetRowIcon(arquivo.Row, icon);
        view_.FileDone(arquivo, desfecho);
    };
    auto veredito = [&](TVeredito v) {
        Vista([&](IMainView& view) { view.FileVerdict(arquivo, v); });
    };

    // Nothing to ask the server about: the row says why, and the walk goes on.
    if (item.Tipo == TEntradaVarredura::TTipo::Ignorado) {
        concluir(IMainView::IconIgnored, TDesfecho::Ignorado);
        return;
    }
    if (item.Tipo == TEntradaVarredura::TTipo::PastaFalhou) {
        concluir(IMainView::IconFailed, TDesfecho::Falhou);
        return;
    }
    if (item.EmTeste && !dados_.VersaoPraTeste) {
        veredito(TVeredito::Remover);
        if (opcoes_.Simular) {
            concluir(IMainView::IconProcessing, TDesfecho::Removeria);
            return;
        }
        Chamar(ligacao, u"RemoveFile",
               [&](TZvServerClient& proxy) { return proxy.RemoveFile(arquivo.Destino); });
        concluir(IMainView::IconDone, TDesfecho::Removido);
        return;
    }
    if (!Precisa(ligacao, item.EmTeste, arquivo.Local, arquivo.Destino)) {
        veredito(TVeredito::Atual);
        concluir(IMainView::IconDone, TDesfecho::Atual);
        return;
    }
    veredito(TVeredito::Enviar);
    if (opcoes_.Simular) {
        concluir(IMainView::IconProcessing, TDesfecho::Enviaria);
        return;
    }
    if (Enviar(ligacao, arquivo, &arquivo.Motivo)) {
        concluir(IMainView::IconDone, TDesfecho::Enviado);
        return;
    }
    concluir(IMainView::IconFailed, TDesfecho::Falhou);
    // Nobody is left to answer the question once the window was asked to close.
    if (Vista([](IMainView& v) { return v.CloseRequested(); }) || abortado_) {
        distribuidor.Parar();
        return;
    }
    if (!distribuidor.Continuar(std::u16string(C::MsgSendFailed) + ReadableName(arquivo.Local) +
                                u"\r\n" + u"\r\n" + std::u16string(C::MsgContinue))) {
        std::lock_guard lock(vistaMutex_);
        resumo_.ParadaPeloUsuario = true;
    }
}

std::u16string TAtualizador::ArquivoPastaDestino(std::u16string_view arquivo) const {
    return ArquivoPastaDestino(arquivo, dados_.Sistema);
}

std::u16string TAtualizador::ArquivoPastaDestino(std::u16string_view arquivo,
                                                 std::u16string_view sistema) {
    const auto barra = arquivo.rfind(u'\\');
    const std::u16string pasta = AsciiUpper(
        barra == std::u16string_view::npos ? std::u16string_view{} : arquivo.substr(0, barra + 1));
    auto inserir = [&](std::size_t n) {
        return std::u16string(arquivo.substr(0, n)) + std::u16string(sistema) +
               std::u16string(arquivo.substr(n));
    };
    if (pasta.starts_with(C::ScriptsFolder))
        return inserir(C::ScriptsFolder.size());
    if (pasta.starts_with(C::ArquivosFolder))
        return inserir(C::ArquivosFolder.size());
    if (pasta.starts_with(C::PadraoFolder))
        return std::u16string(arquivo);
    return inserir(0);
}

bool TAtualizador::PrecisaAtualizarArquivo(const std::u16string& nomeArquivo,
                                           const std::u16string& nomeDestino) {
    return Precisa(Principal(), FArquivoEmTeste, nomeArquivo, nomeDestino);
}

bool TAtualizador::Precisa(TLigacao& ligacao, bool emTeste, const std::u16string& nomeArquivo,
                           const std::u16string& nomeDestino) {
    if (emTeste)
        return true;
    std::u16string nome = nomeDestino;
    if (!ConectadoServidorBrevant)
        nome += C::ClientNameSuffix;
    const std::u16string resposta = Chamar(ligacao, u"PropertsFile", [&](TZvServerClient& proxy) {
        return proxy.PropertsFile(EncoderBase64(nome));
    });
    const std::u16string dtServidor = Trim(SubString(resposta, C::StampSeparator, 0));
    if (dtServidor.empty())
        return true;
    if (!FileExists(nomeArquivo))
        return false;
    const std::u16string dtLocal =
        FormatStamp14(GetDateFile(nomeArquivo, TTipoDateFile::TdfModificao));
    return dtLocal > dtServidor;
}

bool TAtualizador::SendFile(const std::u16string& nomeArquivo, const std::u16string& nomeDestino) {
    TArquivoEvento arquivo;
    arquivo.Local = nomeArquivo;
    arquivo.Destino = nomeDestino;
    return Enviar(Principal(), arquivo, nullptr);
}

bool TAtualizador::Enviar(TLigacao& ligacao, const TArquivoEvento& arquivo,
                          std::u16string* motivo) {
    // The packet's 4-byte length cannot carry it: the refusal is local, and no new connection
    // could change it.
    const bool grandeDemais = FileSize(arquivo.Local).value_or(0) > dsMaxBlobLength;
    int erro = 0;
    bool enviado = false;
    do {
        try {
            // Only the destination name is a '\' path here; a local Linux file name may hold
            // backslashes of its own.
            const std::u16string destino = SingleBackslashes(arquivo.Destino);
            const TDateTime dataArquivo = GetDateFile(arquivo.Local, TTipoDateFile::TdfModificao);
            TClientDataSet& cds = ligacao.Cds;
            cds.EmptyDataSet();
            cds.Append();
            cds.FieldByName(kFieldNome).SetAsString(destino);
            cds.FieldByName(kFieldDataHora).SetAsDateTime(dataArquivo);
            // The content stays in the file and is read from it while the server pulls the
            // packet, so a large file is never held in memory.
            cds.FieldByName(kFieldArquivo).LoadFromFileDeferred(arquivo.Local);
            cds.Post();
            // About 30 progress events a second, and the last one always.
            std::chrono::steady_clock::time_point ultimo{};
            const TOleVariant dados = DataPacketVariant(cds, [&](std::uint64_t enviados) {
                const auto agora = std::chrono::steady_clock::now();
                if (agora - ultimo < C::ProgressInterval && enviados < arquivo.Tamanho)
                    return;
                ultimo = agora;
                Vista([&](IMainView& v) { v.FileProgress(arquivo, enviados); });
            });
            enviado = Chamar(ligacao, u"SendFile",
                             [&](TZvServerClient& proxy) { return proxy.SendFile(dados, true); });
            if (!enviado && motivo)
                *motivo = std::u16string(C::MsgServerRefused);
        } catch (const std::exception&) {
            enviado = false;
            if (motivo)
                *motivo = ApplicationErrorText(std::current_exception());
        }
        if (!enviado && grandeDemais)
            break;
        if (!enviado) {
            ++erro;
            ligacao.Conn.SetConnected(false);
            // A run being ended does not reconnect.
            if (abortado_)
                throw Exception(std::u16string(C::MsgRunAborted));
            pausa_(C::ReconnectPause);
            ligacao.Conn.SetConnected(true);
        }
    } while (!enviado && erro < C::SendAttempts);
    return enviado;
}

bool TAtualizador::RemoveArquivo(const std::u16string& nomeArquivo) {
    return Chamar(Principal(), u"RemoveFile",
                  [&](TZvServerClient& proxy) { return proxy.RemoveFile(nomeArquivo); });
}

bool TAtualizador::AlertarZvClientes() {
    Chamar(Principal(), u"AlertarZvClientes",
           [&](TZvServerClient& proxy) { return proxy.AlertarZvClientes(C::AlertText); });
    return true;
}

std::u16string TAtualizador::EsperaEsgotada(int ms, std::u16string_view oQue) const {
    const std::u16string prazo =
        ms % 1000 == 0 ? IntToStr(ms / 1000) + u" s" : IntToStr(ms) + u" ms";
    return u"O servidor " + Servidor() + u" n\u00E3o respondeu em " + prazo + u" (aguardando " +
           std::u16string(oQue) + u")";
}

std::u16string TAtualizador::Servidor() const {
    return endereco_ + u":" + IntToStr(porta_);
}

void TAtualizador::Abort() {
    abortado_ = true;
    std::lock_guard lock(ligacoesMutex_);
    for (const auto& ligacao : ligacoes_)
        ligacao->Conn.Abort();
}

}  // namespace ab
