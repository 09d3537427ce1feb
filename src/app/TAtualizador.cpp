// The publishing run.
#include "app/TAtualizador.h"

#include "app/TAtualizadorPartes.h"

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/AppConstants.h"
#include "app/ConnBrevant.h"
#include "app/DataPacketVariant.h"
#include "app/ExceptionText.h"
#include "app/Historico.h"
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
#include "transport/ESondaFalhou.h"
#include "transport/TLimiteDeBanda.h"
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

// A row names the file; an entry that is not published also says why.
std::u16string TextoDaLinha(const TEntradaVarredura::TTipo tipo, std::u16string_view local,
                            std::u16string_view motivo) {
    const bool pasta = local.ends_with(u'/');
    std::u16string texto =
        ReadableName(FilePart(pasta ? local.substr(0, local.size() - 1) : local));
    if (pasta)
        texto += u'/';
    if (tipo == TEntradaVarredura::TTipo::Excluido)
        texto += u" (" + Format(C::MsgExcluido, {motivo}) + u")";
    else if (tipo != TEntradaVarredura::TTipo::Arquivo)
        texto += u" (" + std::u16string(motivo) + u")";
    return texto;
}

// Why the server cannot hold `relativo` (a path below the published folder, '/' separated) as the
// one file it is on Linux: a '\\' would be a folder separator there, a control character is no
// name. Empty when it can.
std::u16string NomeRecusado(std::u16string_view relativo) {
    for (const char16_t c : relativo) {
        if (c == u'\\')
            return std::u16string(C::MsgNameBackslash);
        if (c < 0x20 || c == 0x7F) {
            static constexpr char16_t kHex[] = u"0123456789ABCDEF";
            std::u16string codigo = u"U+00";
            codigo += kHex[c >> 4];
            codigo += kHex[c & 0xF];
            return Format(C::MsgNameControl, {codigo});
        }
    }
    return {};
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

TZvServerClient* TAtualizador::ProxyEmCache(TLigacao& ligacao) {
    if (!opcoes_.ComandosEmCache)
        return nullptr;
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
    return ligacao.Proxy.get();
}

int ConexoesPara(int arquivos, std::uint64_t) {
    // One connection keeps a whole window of requests on their way; past one window a second
    // connection lets the server store files while the first waits (measured in the README).
    return arquivos > C::PadraoPedidosEmCurso ? 2 : 1;
}

bool PrecisaEnviar(const std::u16string& resposta, const std::u16string& nomeArquivo) {
    const std::u16string dtServidor = Trim(SubString(resposta, C::StampSeparator, 0));
    if (dtServidor.empty())
        return true;
    // The file as it is now: gone (or a folder) counts as not newer.
    const std::optional<TFileTimes> tempos = GetFileTimesIfFile(nomeArquivo);
    if (!tempos)
        return false;
    return FormatStamp14(FileTimeToDTime(tempos->LastWrite)) > dtServidor;
}

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
    opcoes_.Conexoes = std::max(0, opcoes_.Conexoes);
    conexoes_ = opcoes_.Conexoes;
    opcoes_.PedidosEmCurso = std::clamp(opcoes_.PedidosEmCurso, 1, 256);
    if (opcoes_.LimiteBandaKB > 0)
        limiteDeBanda_ = std::make_shared<TLimiteDeBanda>(
            static_cast<std::uint64_t>(opcoes_.LimiteBandaKB) * C::BytesPorKBDeBanda);
    ligacoes_.push_back(std::make_unique<TLigacao>(1, ConnBrevant_, cdsSendFile_));
    PrepararConexao(ConnBrevant_, 0);
    DesignEchoString(FEchoString_, ConnBrevant_);
}

TAtualizador::~TAtualizador() {
    JuntarOutras();
    // The connections close (and write) after this: no file's progress follows them any more.
    for (const auto& ligacao : ligacoes_)
        ligacao->Escritas->AoEscrever = nullptr;
}

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
    if (limiteDeBanda_) {
        // Called here with ligacoesMutex_ held, or before any other thread exists.
        connection.SetLimiteDeBanda(
            {limiteDeBanda_, [escritas = ligacoes_[index]->Escritas](std::size_t bytes) {
                 // On the connection's own thread, inside its write.
                 escritas->Bytes += bytes;
                 if (escritas->AoEscrever && !escritas->AoEscrever())
                     escritas->AoEscrever = nullptr;
             }});
    }
    connection.BeforeConnect = [this, index](TSQLConnection& c) {
        // A run being ended opens nothing more. The connection's abort signal is in place before
        // this runs, so an Abort either is seen here or ends the connect under way.
        if (abortado_)
            throw Exception(std::u16string(C::MsgRunAborted));
        std::u16string endereco;
        int porta = 0;
        Vista([&](IMainView& v) {
            endereco = Trim(v.EnderecoText());
            porta = v.PortaPosition();
        });
        if (abortado_)
            throw Exception(std::u16string(C::MsgRunAborted));
        {
            std::lock_guard lock(enderecoMutex_);
            endereco_ = endereco;
            porta_ = porta;
        }
        ConnBrevantBeforeConnect(c, endereco, porta);
        // What this run found, or what was remembered about this server, settles how it talks.
        const TModo modo = ModoPara(endereco, porta);
        c.SetPedidosAdiante(modo.Adiante);
        c.SetPrazoDaSonda(modo.Adiante ? static_cast<int>(C::PrazoDaSonda.count()) : 0);
        // In place when it is there already, so the property keeps its place in the message.
        c.Params().SetValue(TC::BufferKBSize, modo.BufferKB == TC::DefaultBufferKBSize
                                                  ? std::u16string()
                                                  : IntToStr(modo.BufferKB));
        TLigacao* ligacao;
        {
            std::lock_guard lock(ligacoesMutex_);
            ligacao = ligacoes_[index].get();
        }
        ligacao->Pedidos = modo.Pedidos;
        ligacao->Adiante = modo.Adiante;
        ligacao->BufferKB = modo.BufferKB;
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
    inicioNoRelogio_ = std::chrono::system_clock::now();
    servidorPai_.reset();
    conexoes_ = opcoes_.Conexoes;
    if (opcoes_.Historico) {
        Vista([this](IMainView& v) {
            enderecoDaExecucao_ = Trim(v.EnderecoText());
            portaDaExecucao_ = v.PortaPosition();
        });
    }
    abortado_ = false;
    auto terminar = [this] {
        resumo_.Segundos =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - inicio_).count();
        Registrar();
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

    conexoes_ = opcoes_.Conexoes;
    umPedidoPorVez_ = false;
    buffer32_ = false;
    bufferSondado_ = false;
    // The echo's prepare leaves with the first connect's messages.
    FEchoString_.SetPrepararAoConectar(opcoes_.Adiante);
    try {
        Conectar(ConnBrevant_);
    } catch (const std::exception& e) {
        if (abortado_) {
            resumo_.Fim = TResumo::TFim::Interrompida;
            return;
        }
        resumo_.Fim = TResumo::TFim::ServidorInvalido;
        resumo_.Erro = ApplicationErrorText(std::current_exception());
        if (const auto* dbx = dynamic_cast<const TDBXError*>(&e); dbx && IsDeadline(*dbx))
            resumo_.Erro =
                EsperaEsgotada(opcoes_.TempoConexaoMs, u"aguardando a conex\u00E3o e o login");
        Vista([](IMainView& v) { v.ShowMessage(std::u16string(C::MsgInvalidServer)); });
        return;
    }

    // The walk's further connections connect meanwhile; they stay open for the alert, and close
    // however the run leaves.
    struct TFecharOutras {
        TAtualizador& run;
        ~TFecharOutras() { run.FecharOutras(); }
    } fecharOutras{*this};
    AbrirOutras();

    Vista([](IMainView& v) {
        v.ClearRows();
        v.ShowPage(IMainView::Page::Progresso);
    });
    if (ConnBrevant_.GetConnected()) {
        ConectadoServidorBrevant = ConexaoZvPai();
        servidorPai_ = ConectadoServidorBrevant;
    }
    FEchoString_.SetPrepararAoConectar(false);

    EnviarAquivos();

    // A close asked for during the walk ends the run here: the window closes when it returns.
    if (Vista([](IMainView& v) { return v.CloseRequested(); }) || abortado_) {
        resumo_.Fim = TResumo::TFim::Interrompida;
        return;
    }
    if (ConectadoServidorBrevant && !opcoes_.Simular)
        Alertar();
    Vista([](IMainView& v) { v.SetAtualizarEnabled(true); });
    // A dry run leaves its verdicts on the screen.
    if (!opcoes_.Simular)
        Vista([](IMainView& v) { v.CloseWindow(); });
}

void TAtualizador::Registrar() {
    if (!opcoes_.Historico)
        return;
    try {
        TExecucaoRegistrada e;
        e.Inicio = inicioNoRelogio_;
        e.Termino = std::chrono::system_clock::now();
        e.Pasta = dados_.ProgramFolder;
        e.Endereco = enderecoDaExecucao_;
        e.Porta = portaDaExecucao_;
        e.ServidorPai = servidorPai_;
        // What the run went by: the connections it chose, and what it found or remembered about
        // this server.
        e.Opcoes = opcoes_;
        e.Opcoes.Conexoes = conexoes_;
        const TModo modo = ModoPara(enderecoDaExecucao_, portaDaExecucao_);
        e.Opcoes.Adiante = modo.Adiante;
        e.Opcoes.PedidosEmCurso = modo.Pedidos;
        e.Opcoes.BufferKB = modo.BufferKB;
        e.Conservador = !opcoes_.Adiante;
        e.Resumo = resumo_;
        opcoes_.Historico->Registrar(e);
    } catch (...) {
        const std::u16string texto = ApplicationErrorText(std::current_exception());
        Vista([&](IMainView& v) { v.Aviso(texto); });
    }
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

std::vector<TAtualizador::TItem> TAtualizador::Listar(std::uint64_t& bytes, std::u16string& aviso) {
    const std::u16string programa = UpperCaseMesmo(dados_.ProgramPath);
    const std::u16string& pasta = dados_.ProgramFolder;
    const std::size_t tamanho = pasta.size();
    const std::u16string logo = UpperCaseMesmo(pasta + std::u16string(C::LogoFileName));

    std::vector<TItem> itens;
    bytes = 0;
    temMarcador_ = false;
    for (TEntradaVarredura& entrada : Varrer(pasta, leitor_, opcoes_.Exclusoes)) {
        using TTipo = TEntradaVarredura::TTipo;
        const std::u16string maiusculo = UpperCaseMesmo(entrada.Caminho);
        // Never published, so never reported as left out either.
        const bool arquivo = entrada.Tipo == TTipo::Arquivo || entrada.Tipo == TTipo::Excluido;
        if (arquivo && (maiusculo == logo || maiusculo == programa))
            continue;
        TItem item;
        item.Ordem = itens.size();
        item.Tipo = entrada.Tipo;
        item.EmTeste = entrada.Tipo == TTipo::Arquivo && FilePart(maiusculo) == C::TestMarkerName;
        if (item.EmTeste)
            temMarcador_ = true;
        // The server reads names in its code page: a name's bytes that are not UTF-8 go as the
        // characters that code page gives them.
        const std::u16string_view local =
            std::u16string_view(entrada.Caminho).substr(std::min(tamanho, entrada.Caminho.size()));
        // Said once, however many markers a pattern matched.
        if (item.EmTeste && !entrada.PadraoIgnorado.empty() && aviso.empty())
            aviso =
                Format(C::MsgMarcadorNaoExcluido, {entrada.PadraoIgnorado, ReadableName(local)});
        if (entrada.Tipo == TTipo::Arquivo)
            item.NomeRecusado = NomeRecusado(local);
        std::u16string relativo = ReadableName(local);
        std::replace(relativo.begin(), relativo.end(), u'/', u'\\');
        item.Arquivo.Destino = ArquivoPastaDestino(relativo);
        item.Arquivo.Tamanho = entrada.Tamanho;
        item.Arquivo.Motivo = std::move(entrada.Motivo);
        item.Arquivo.Local = std::move(entrada.Caminho);
        item.Texto = TextoDaLinha(item.Tipo, item.Arquivo.Local, item.Arquivo.Motivo);
        if (item.Tipo != TTipo::Excluido)
            bytes += item.Arquivo.Tamanho;
        itens.push_back(std::move(item));
    }
    return itens;
}

void TAtualizador::EnviarAquivos() {
    FArquivoEmTeste = false;
    std::uint64_t bytes = 0;
    std::u16string aviso;
    std::vector<TItem> itens = Listar(bytes, aviso);
    resumo_.Arquivos = static_cast<int>(itens.size());
    Vista([&](IMainView& v) { v.RunStarted(resumo_.Arquivos, bytes); });
    if (!aviso.empty())
        Vista([&](IMainView& v) { v.Aviso(aviso); });
    // Called on its own, the walk opens its further connections here.
    if (conexoes_ != 0 && outras_.empty() && semThread_.empty())
        AbrirOutras();

    // Connections left to the run: as many as the walk's size calls for, connecting now while the
    // first one starts.
    if (conexoes_ == 0) {
        // What was left out costs the server nothing.
        const auto excluidos = std::count_if(itens.begin(), itens.end(), [](const TItem& item) {
            return item.Tipo == TEntradaVarredura::TTipo::Excluido;
        });
        conexoes_ = ConexoesPara(resumo_.Arquivos - static_cast<int>(excluidos), bytes);
        AbrirOutras();
    }
    TDistribuidor distribuidor(*this, std::move(itens), conexoes_);
    // Every thread started is let go and joined, however this returns.
    struct TJuntar {
        TAtualizador& run;
        TDistribuidor& distribuidor;
        ~TJuntar() {
            if (std::uncaught_exceptions() > 0)
                distribuidor.Parar();
            run.JuntarOutras();
        }
    } juntar{*this, distribuidor};
    {
        std::lock_guard lock(erroMutex_);
        erroDoTrabalho_ = nullptr;
    }
    for (auto& [numero, falha] : semThread_)
        Perdida(distribuidor, numero, falha);
    semThread_.clear();
    {
        std::lock_guard lock(partida_.mutex);
        partida_.distribuidor = &distribuidor;
    }
    partida_.pronta.notify_all();
    Trabalhar(Principal(), distribuidor);
    JuntarOutras();
    std::lock_guard lock(erroMutex_);
    if (erroDoTrabalho_)
        std::rethrow_exception(std::exchange(erroDoTrabalho_, nullptr));
}

void TAtualizador::Trabalhar(TLigacao& ligacao, TDistribuidor& distribuidor) {
    try {
        TTrabalho(*this, ligacao, &distribuidor).Executar();
    } catch (...) {
        {
            std::lock_guard lock(erroMutex_);
            if (!erroDoTrabalho_)
                erroDoTrabalho_ = std::current_exception();
        }
        distribuidor.Parar();
    }
}

void TAtualizador::Perdida(TDistribuidor& distribuidor, int numero, std::exception_ptr falha) {
    // Ending the run on purpose is not a connection's failure.
    if (!abortado_) {
        const std::u16string motivo = ApplicationErrorText(falha);
        Vista([&](IMainView& v) { v.ConnectionDropped(numero, motivo); });
    }
    distribuidor.Sair();
}

void TAtualizador::AbrirOutras() {
    FecharOutras();
    for (int i = 1; i < conexoes_; ++i) {
        auto cds = std::make_unique<TClientDataSet>(std::u16string(kSendFileDataSetName));
        AddSendFileFields(*cds);
        cds->CreateDataSet();
        TLigacao* ligacao;
        {
            std::lock_guard lock(ligacoesMutex_);
            ligacoes_.push_back(std::make_unique<TLigacao>(
                i + 1, std::make_unique<TSQLConnection>(factory_), std::move(cds)));
            ligacao = ligacoes_.back().get();
            PrepararConexao(ligacao->Conn, ligacoes_.size() - 1);
        }
        try {
            outras_.emplace_back([this, ligacao] {
                // It connects while the run probes the server and lists the files, then waits
                // for the hand-out.
                std::exception_ptr falha;
                try {
                    Conectar(ligacao->Conn);
                } catch (...) {
                    falha = std::current_exception();
                }
                TDistribuidor* distribuidor;
                {
                    std::unique_lock lock(partida_.mutex);
                    partida_.pronta.wait(lock,
                                         [&] { return partida_.distribuidor || partida_.fim; });
                    distribuidor = partida_.distribuidor;
                }
                if (!distribuidor)
                    return;  // the run ended before its walk
                if (falha) {
                    // The other connections take its share of the files.
                    ligacao->Saiu = true;
                    Perdida(*distribuidor, ligacao->Numero, falha);
                    return;
                }
                Trabalhar(*ligacao, *distribuidor);
            });
        } catch (...) {
            // No thread for it (a process limit): the run goes on with the others.
            ligacao->Saiu = true;
            semThread_.emplace_back(ligacao->Numero, std::current_exception());
        }
    }
}

void TAtualizador::JuntarOutras() {
    {
        std::lock_guard lock(partida_.mutex);
        partida_.fim = true;
    }
    partida_.pronta.notify_all();
    for (std::thread& t : outras_) {
        if (t.joinable())
            t.join();
    }
    outras_.clear();
    semThread_.clear();
    std::lock_guard lock(partida_.mutex);
    partida_.distribuidor = nullptr;
    partida_.fim = false;
}

void TAtualizador::FecharOutras() {
    JuntarOutras();
    std::vector<std::unique_ptr<TLigacao>> outras;
    {
        std::lock_guard lock(ligacoesMutex_);
        if (ligacoes_.size() <= 1)
            return;
        outras.assign(std::make_move_iterator(ligacoes_.begin() + 1),
                      std::make_move_iterator(ligacoes_.end()));
        ligacoes_.resize(1);
    }
    for (auto& ligacao : outras) {
        // Its proxy closes its commands, then the connection says goodbye.
        ligacao->Proxy.reset();
        try {
            ligacao->Conn.SetConnected(false);
        } catch (const std::exception&) {
        }
    }
}

void TAtualizador::Concluir(const TItem& item, const TArquivoEvento& arquivo, int icone,
                            TDesfecho desfecho) {
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
        case TDesfecho::Excluido:
            ++resumo_.Excluidos;
            break;
    }
    view_.SetRowIcon(arquivo.Row, icone);
    view_.FileDone(arquivo, desfecho);
}

void TAtualizador::Alertar() {
    // Over ConnBrevant; over another connection of the walk when ConnBrevant left the run.
    TLigacao* pela = &Principal();
    if (pela->Saiu || !pela->Conn.GetConnected()) {
        std::lock_guard lock(ligacoesMutex_);
        for (const auto& ligacao : ligacoes_) {
            if (!ligacao->Saiu && ligacao->Conn.GetConnected()) {
                pela = ligacao.get();
                break;
            }
        }
    }
    Chamar(*pela, u"AlertarZvClientes",
           [&](TZvServerClient& proxy) { return proxy.AlertarZvClientes(C::AlertText); });
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
    if (FArquivoEmTeste)
        return true;
    std::u16string nome = nomeDestino;
    if (!ConectadoServidorBrevant)
        nome += C::ClientNameSuffix;
    const std::u16string resposta =
        Chamar(Principal(), u"PropertsFile",
               [&](TZvServerClient& proxy) { return proxy.PropertsFile(EncoderBase64(nome)); });
    return PrecisaEnviar(resposta, nomeArquivo);
}

bool TAtualizador::SendFile(const std::u16string& nomeArquivo, const std::u16string& nomeDestino) {
    TArquivoEvento arquivo;
    arquivo.Local = nomeArquivo;
    arquivo.Destino = nomeDestino;
    return TTrabalho(*this, Principal(), nullptr).EnviarSozinho(arquivo);
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
    return u"O servidor " + Servidor() + u" n\u00E3o respondeu em " + prazo + u" (" +
           std::u16string(oQue) + u")";
}

std::u16string TAtualizador::Servidor() const {
    std::lock_guard lock(enderecoMutex_);
    return endereco_ + u":" + IntToStr(porta_);
}

TAtualizador::TModo TAtualizador::ModoPara(std::u16string_view endereco, int porta) const {
    const TLimitesDoServidor lembrado =
        opcoes_.Memoria ? opcoes_.Memoria->Consultar(endereco, porta) : TLimitesDoServidor{};
    const bool umPorVez = umPedidoPorVez_ || lembrado.UmPedidoPorVez;
    const bool blocos32 = (buffer32_ || lembrado.Buffer32) && !opcoes_.BufferFixo;
    TModo modo;
    // What the run writes ahead of its own accord stops at once; a value the user gave stays.
    modo.Adiante = opcoes_.Adiante && !umPorVez;
    modo.Pedidos = umPorVez && !opcoes_.PedidosFixos ? 1 : opcoes_.PedidosEmCurso;
    modo.BufferKB = blocos32 ? TC::DefaultBufferKBSize : opcoes_.BufferKB;
    return modo;
}

void TAtualizador::Conectar(TSQLConnection& connection) {
    try {
        connection.SetConnected(true);
    } catch (const ESondaFalhou& e) {
        Recuar(TLimite::UmPedidoPorVez, e.Message());
        connection.SetConnected(true);
    }
}

void TAtualizador::Recuar(TLimite limite, const std::u16string& motivo) {
    const bool pedidos = limite == TLimite::UmPedidoPorVez;
    // Said once a run, whichever connection found it first.
    if ((pedidos ? umPedidoPorVez_ : buffer32_).exchange(true))
        return;
    std::u16string endereco;
    int porta;
    {
        std::lock_guard lock(enderecoMutex_);
        endereco = endereco_;
        porta = porta_;
    }
    std::u16string lembrado;
    if (opcoes_.Memoria) {
        try {
            if (const auto ate = opcoes_.Memoria->Lembrar(endereco, porta, limite)) {
                // The date as people here write it, in local time.
                const std::time_t t = std::chrono::system_clock::to_time_t(*ate);
                std::tm tm{};
                localtime_r(&t, &tm);
                char data[16];
                std::strftime(data, sizeof data, "%d/%m/%Y", &tm);
                lembrado = Format(C::MsgLembrado, {FromUtf8(data)});
            }
        } catch (const Exception& e) {
            Vista([&](IMainView& v) { v.Aviso(e.Message()); });
        }
    }
    const std::u16string texto = Format(pedidos ? C::MsgSemPedidosAdiante : C::MsgSemBlocosMaiores,
                                        {Servidor(), IntToStr(opcoes_.BufferKB), motivo}) +
                                 lembrado;
    Vista([&](IMainView& v) { v.Aviso(texto); });
}

void TAtualizador::Abort() {
    abortado_ = true;
    std::lock_guard lock(ligacoesMutex_);
    for (const auto& ligacao : ligacoes_)
        ligacao->Conn.Abort();
}

}  // namespace ab
