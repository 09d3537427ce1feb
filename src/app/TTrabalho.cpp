// The hand-out of the walk's files and the work of one connection: its requests in flight, the
// answers read in order, the retry after a failed send, and leaving the run when its link fails.
#include <algorithm>

#include "app/AppConstants.h"
#include "app/DataPacketVariant.h"
#include "app/ExceptionText.h"
#include "app/TAtualizadorPartes.h"
#include "app/UFuncoes.h"
#include "packet/PacketConstants.h"
#include "packet/SendFileDataSet.h"
#include "platform/DateTime.h"
#include "platform/Exception.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "transport/TDBXConnection.h"

namespace ab {
namespace C = AppConstants;

namespace {

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

}  // namespace

// ---- the hand-out ----

TAtualizador::TDistribuidor::TDistribuidor(TAtualizador& run, std::vector<TItem> itens,
                                           int trabalhos)
    : run_(run), itens_(std::move(itens)), ativos_(trabalhos) {}

std::optional<TAtualizador::TItem> TAtualizador::TDistribuidor::Proximo(bool esperar) {
    std::unique_lock lock(mutex_);
    if (esperar) {
        ++esperando_;
        livre_.notify_all();
    }
    std::optional<TItem> item;
    for (;;) {
        if (parado_ || run_.abortado_)
            break;
        if (run_.Vista([](IMainView& v) { return v.CloseRequested(); })) {
            parado_ = true;
            break;
        }
        if (!perguntando_ && Disponivel()) {
            if (!devolvidos_.empty()) {
                item = std::move(devolvidos_.front());
                devolvidos_.pop_front();
            } else {
                item = std::move(itens_[proximo_++]);
            }
            break;
        }
        // Nothing now: the question's answer, or files a connection at work gives back, may
        // still come.
        if (!esperar || (!perguntando_ && ativos_ - esperando_ <= 0))
            break;
        livre_.wait(lock);
    }
    if (esperar) {
        --esperando_;
        livre_.notify_all();
    }
    if (item && item->Arquivo.Row < 0) {
        run_.Vista([&](IMainView& v) {
            item->Arquivo.Row = v.AddRow(item->Texto, IMainView::IconProcessing);
            v.ScrollToRow(item->Arquivo.Row);
            v.ProcessEvents();
        });
    }
    return item;
}

void TAtualizador::TDistribuidor::Sair() {
    std::lock_guard lock(mutex_);
    --ativos_;
    livre_.notify_all();
}

bool TAtualizador::TDistribuidor::Deixar(std::vector<TItem> itens) {
    std::lock_guard lock(mutex_);
    if (ativos_ <= 1)
        return false;
    --ativos_;
    for (TItem& item : itens) {
        const auto at = std::find_if(devolvidos_.begin(), devolvidos_.end(),
                                     [&](const TItem& d) { return d.Ordem > item.Ordem; });
        devolvidos_.insert(at, std::move(item));
    }
    livre_.notify_all();
    return true;
}

void TAtualizador::TDistribuidor::Parar() {
    std::lock_guard lock(mutex_);
    parado_ = true;
    livre_.notify_all();
}

bool TAtualizador::TDistribuidor::Continuar(const std::u16string& texto) {
    {
        std::unique_lock lock(mutex_);
        livre_.wait(lock, [&] { return !perguntando_; });
        if (parado_)
            return false;
        perguntando_ = true;
    }
    bool sim = false;
    try {
        sim = run_.view_.AskWarningYesNo(texto);
    } catch (...) {
        std::lock_guard lock(mutex_);
        perguntando_ = false;
        parado_ = true;
        livre_.notify_all();
        throw;
    }
    std::lock_guard lock(mutex_);
    perguntando_ = false;
    if (!sim)
        parado_ = true;
    livre_.notify_all();
    return sim;
}

bool TAtualizador::TDistribuidor::PodeEscrever(bool esperar) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (parado_ || run_.abortado_)
            return false;
        if (run_.Vista([](IMainView& v) { return v.CloseRequested(); })) {
            parado_ = true;
            livre_.notify_all();
            return false;
        }
        if (!perguntando_)
            return true;
        if (!esperar)
            return false;
        livre_.wait(lock);
    }
}

// ---- the work of one connection ----

TAtualizador::TTrabalho::TTrabalho(TAtualizador& run, TLigacao& ligacao,
                                   TDistribuidor* distribuidor)
    : run_(run), ligacao_(ligacao), distribuidor_(distribuidor) {}

void TAtualizador::TTrabalho::Executar() {
    // Whatever way it ends, the hand-out learns that this connection takes nothing more (a
    // connection that left the run has told it already).
    struct TFim {
        TTrabalho& t;
        ~TFim() {
            // No file's progress follows the connection's later writes (the alert, the close).
            t.ligacao_.Escritas->AoEscrever = nullptr;
            if (!t.deixou_)
                t.distribuidor_->Sair();
        }
    } fim{*this};
    try {
        for (;;) {
            Mostrar();
            Escrever();
            if (!emCurso_.empty()) {
                // Answers are read until half the window is free, so that the next requests
                // leave together.
                do {
                    Ler();
                } while (emCurso_.size() > JanelaMax() / 2);
                continue;
            }
            // Every answer is in. What is left in hand waits for an open question's answer, or
            // stays as it is once the walk stopped: nothing more leaves then.
            if (std::any_of(janela_.begin(), janela_.end(),
                            [](const TArquivo& a) { return a.Fase != TFase::Pronto; })) {
                if (!PodeEscrever(true))
                    break;
                continue;
            }
            if (!janela_.empty())
                continue;
            std::optional<TItem> item = distribuidor_->Proximo(true);
            if (!item)
                break;
            Tomar(std::move(*item));
        }
        // A file whose first attempt failed gets no second one once the walk stopped.
        for (TArquivo& a : janela_) {
            if (a.Fase == TFase::Enviar && a.Tentativas > 0)
                Falhou(a);
        }
        MostrarConcluidos();
    } catch (const TSaida&) {
        return;
    } catch (...) {
        FecharSeDever();
        // What was done before the error is shown as done.
        try {
            MostrarConcluidos();
        } catch (...) {
        }
        throw;
    }
}

bool TAtualizador::TTrabalho::EnviarSozinho(const TArquivoEvento& arquivo) {
    TItem item;
    item.Arquivo = arquivo;
    janela_.emplace_back(std::move(item));
    TArquivo& a = janela_.back();
    a.Fase = TFase::Enviar;
    while (a.Fase != TFase::Pronto) {
        if (a.Fase == TFase::Enviar)
            Escreve(a);
        if (!emCurso_.empty())
            Ler();
    }
    return a.Desfecho == TDesfecho::Enviado;
}

void TAtualizador::TTrabalho::Tomar(TItem item) {
    run_.FArquivoEmTeste = item.EmTeste;
    janela_.emplace_back(std::move(item));
    Recomecar(janela_.back());
}

void TAtualizador::TTrabalho::Recomecar(TArquivo& a) {
    using TTipo = TEntradaVarredura::TTipo;
    const bool simular = run_.opcoes_.Simular;
    a.Veredito.reset();
    a.Pacote.reset();
    SoltarProgresso(a);
    // Nothing to ask the server about: the row says why, and the walk goes on.
    if (a.Item.Tipo == TTipo::Ignorado)
        return Pronto(a, TDesfecho::Ignorado, IMainView::IconIgnored);
    if (a.Item.Tipo == TTipo::Excluido)
        return Pronto(a, TDesfecho::Excluido, IMainView::IconIgnored);
    if (a.Item.Tipo == TTipo::PastaFalhou)
        return Pronto(a, TDesfecho::Falhou, IMainView::IconFailed);
    // The server would store it as another file: it fails here, as a failed send does.
    if (!a.Item.NomeRecusado.empty()) {
        a.Item.Arquivo.Motivo = a.Item.NomeRecusado;
        return Falhou(a);
    }
    if (a.Item.EmTeste && !run_.dados_.VersaoPraTeste) {
        a.Veredito = TVeredito::Remover;
        if (simular)
            return Pronto(a, TDesfecho::Removeria, IMainView::IconProcessing);
        a.Fase = TFase::Remover;
        return;
    }
    // The marker in a test build is always sent, without asking.
    if (a.Item.EmTeste) {
        a.Veredito = TVeredito::Enviar;
        if (simular)
            return Pronto(a, TDesfecho::Enviaria, IMainView::IconProcessing);
        a.Fase = TFase::Enviar;
        return;
    }
    a.Fase = TFase::Consultar;
}

void TAtualizador::TTrabalho::Escrever() {
    // A retry travels alone: nothing is written behind it until its answer is in, so that a
    // second failure asks "Continuar?" with nothing else of this connection on its way. So does
    // the send that probes the larger blocks.
    if (sonda_ == TSonda::Buffer ||
        std::any_of(emCurso_.begin(), emCurso_.end(), [](const TPedido& p) {
            return p.Tipo == TTipoPedido::Envio && p.Arquivo->Tentativas > 0;
        }))
        return;
    while (emCurso_.size() < JanelaMax()) {
        // A stop, or a question open on any connection: nothing new leaves.
        if (!PodeEscrever())
            return;
        bool antesProntos = true;  // every file before `proximo` is done
        auto proximo = janela_.begin();
        for (; proximo != janela_.end(); ++proximo) {
            if (proximo->Fase == TFase::Consultar || proximo->Fase == TFase::Remover ||
                proximo->Fase == TFase::Enviar)
                break;
            antesProntos = antesProntos && proximo->Fase == TFase::Pronto;
        }
        if (proximo == janela_.end()) {
            if (janela_.size() >= JanelaMax())
                return;
            std::optional<TItem> item = distribuidor_->Proximo(false);
            if (!item)
                return;
            Tomar(std::move(*item));
            continue;
        }
        if (proximo->Fase == TFase::Enviar && proximo->Tentativas > 0) {
            // The retry waits for the files before it and for every answer owed; then it goes,
            // and nothing after it.
            if (!emCurso_.empty() || !antesProntos)
                return;
            Escreve(*proximo);
            return;
        }
        if (emCurso_.empty())
            PrepararJuntos();
        if (!Escreve(*proximo))
            return;
    }
}

bool TAtualizador::TTrabalho::Preparado(std::u16string_view metodo) {
    TZvServerClient* proxy = run_.ProxyEmCache(ligacao_);
    return proxy == nullptr || proxy->Prepared(metodo);
}

TAtualizador::TTrabalho::TPedido TAtualizador::TTrabalho::NovoPedido(TArquivo& a,
                                                                     TTipoPedido tipo) {
    TPedido pedido{&a, tipo, nullptr, run_.ProxyEmCache(ligacao_)};
    if (pedido.Proxy == nullptr) {
        pedido.Proprio = std::make_unique<TZvServerClient>(ligacao_.Conn.GetDBXConnection());
        pedido.Proxy = pedido.Proprio.get();
    }
    return pedido;
}

bool TAtualizador::TTrabalho::Escreve(TArquivo& a) {
    const TArquivoEvento& arquivo = a.Item.Arquivo;
    switch (a.Fase) {
        case TFase::Consultar: {
            // A command's first use reads its prepare's answer: nothing may be owed before it.
            if (!emCurso_.empty() && !Preparado(C::PropertsFileMethod))
                return false;
            std::u16string nome = arquivo.Destino;
            if (!ConectadoServidorBrevant)
                nome += C::ClientNameSuffix;
            try {
                TPedido pedido = NovoPedido(a, TTipoPedido::Consulta);
                run_.ComPrazo(u"PropertsFile", [&] {
                    pedido.Proxy->PropertsFileBegin(EncoderBase64(nome), Sozinho());
                });
                Enfileirar(std::move(pedido));
            } catch (...) {
                FalhaDaLigacao();
            }
            a.Fase = TFase::Consultando;
            return true;
        }
        case TFase::Remover: {
            if (!emCurso_.empty() && !Preparado(C::RemoveFileMethod))
                return false;
            try {
                TPedido pedido = NovoPedido(a, TTipoPedido::Remocao);
                run_.ComPrazo(u"RemoveFile",
                              [&] { pedido.Proxy->RemoveFileBegin(arquivo.Destino, Sozinho()); });
                Enfileirar(std::move(pedido));
            } catch (...) {
                FalhaDaLigacao();
            }
            a.Fase = TFase::Removendo;
            return true;
        }
        case TFase::Enviar:
            return EscreveEnvio(a);
        default:
            return true;
    }
}

bool TAtualizador::TTrabalho::EscreveEnvio(TArquivo& a) {
    if (!emCurso_.empty() && !Preparado(C::SendFileMethod))
        return false;
    // Its verdict goes before its bytes.
    Mostrar();
    if (!a.Pacote) {
        try {
            a.Pacote = MontarPacote(a.Item.Arquivo);
        } catch (...) {
            ResultadoDoEnvio(a, false, ApplicationErrorText(std::current_exception()));
            return true;
        }
    }
    // The first send in blocks over 32 KB shows whether the server honours them: it goes alone,
    // under its probe's deadline (one connection makes it).
    if (run_.opcoes_.Adiante && !run_.opcoes_.BufferFixo &&
        ligacao_.BufferKB > TransportConstants::DefaultBufferKBSize &&
        a.Item.Arquivo.Tamanho > C::MaiorPacoteEm32KB && !run_.bufferSondado_) {
        if (!emCurso_.empty())
            return false;
        if (!run_.sondandoBuffer_.exchange(true)) {
            sondaBuffer_ = &a;
            ArmarSonda(TSonda::Buffer, C::PrazoDaSondaDeBuffer);
        }
    }
    TZvServerClient* emCache = run_.ProxyEmCache(ligacao_);
    const bool inteiro = emCache && emCache->SendFileTravelsInline(*a.Pacote);
    if (!inteiro) {
        // The server pulls it in segments, answered from this command's values: alone on the
        // connection, nothing before it and nothing after it until its answer is in.
        if (!emCurso_.empty())
            return false;
        const TOleVariant dados = std::move(*a.Pacote);
        a.Pacote.reset();
        ResultadoDoEnvio(a, [&] {
            return run_.Chamar(ligacao_, u"SendFile",
                               [&](TZvServerClient& proxy) { return proxy.SendFile(dados, true); });
        });
        return true;
    }
    try {
        TPedido pedido = NovoPedido(a, TTipoPedido::Envio);
        const TOleVariant dados = std::move(*a.Pacote);
        a.Pacote.reset();
        run_.ComPrazo(u"SendFile", [&] { pedido.Proxy->SendFileBegin(dados, true, Sozinho()); });
        Enfileirar(std::move(pedido));
        a.Fase = TFase::Enviando;
    } catch (...) {
        if (!FalhouNaSonda(&a))
            ResultadoDoEnvio(a, false, ApplicationErrorText(std::current_exception()));
    }
    return true;
}

void TAtualizador::TTrabalho::Ler() {
    TPedido pedido = std::move(emCurso_.front());
    emCurso_.pop_front();
    TArquivo& a = *pedido.Arquivo;
    // An answer to a request written behind another: the server takes requests ahead.
    const auto sondaPassou = [&] {
        if (sonda_ == TSonda::Pedidos && pedido.Adiante) {
            DesarmarSonda();
            ligacao_.Sondada = true;
        }
    };
    switch (pedido.Tipo) {
        case TTipoPedido::Consulta: {
            std::u16string resposta;
            try {
                resposta =
                    run_.ComPrazo(u"PropertsFile", [&] { return pedido.Proxy->PropertsFileEnd(); });
            } catch (...) {
                if (FalhouNaSonda(&a))
                    return;
                FalhaDaLigacao();
            }
            sondaPassou();
            AplicarConsulta(a, resposta);
            break;
        }
        case TTipoPedido::Remocao:
            try {
                run_.ComPrazo(u"RemoveFile", [&] { return pedido.Proxy->RemoveFileEnd(); });
            } catch (...) {
                if (FalhouNaSonda(&a))
                    return;
                FalhaDaLigacao();
            }
            sondaPassou();
            Pronto(a, TDesfecho::Removido, IMainView::IconDone);
            break;
        case TTipoPedido::Envio:
            ResultadoDoEnvio(a, [&] {
                const bool enviado =
                    run_.ComPrazo(u"SendFile", [&] { return pedido.Proxy->SendFileEnd(); });
                sondaPassou();
                return enviado;
            });
            break;
    }
}

void TAtualizador::TTrabalho::Enfileirar(TPedido pedido) {
    pedido.Adiante = !emCurso_.empty();
    // The first request written ahead on a connection is a probe, when the run may find out.
    if (pedido.Adiante && run_.opcoes_.Adiante && !run_.opcoes_.PedidosFixos && !ligacao_.Sondada &&
        sonda_ == TSonda::Nenhuma)
        ArmarSonda(TSonda::Pedidos, C::PrazoDaSonda);
    emCurso_.push_back(std::move(pedido));
}

void TAtualizador::TTrabalho::ArmarSonda(TSonda sonda, std::chrono::milliseconds prazo) {
    sonda_ = sonda;
    ligacao_.Conn.GetDBXConnection()->SetPrazoDeLeituraTemporario(static_cast<int>(prazo.count()));
}

void TAtualizador::TTrabalho::DesarmarSonda() {
    if (sonda_ == TSonda::Buffer)
        run_.bufferSondado_ = true;
    sonda_ = TSonda::Nenhuma;
    sondaBuffer_ = nullptr;
    if (ligacao_.Conn.GetConnected())
        ligacao_.Conn.GetDBXConnection()->SetPrazoDeLeituraTemporario(0);
}

bool TAtualizador::TTrabalho::FalhouNaSonda(TArquivo* tambem) {
    // Requests ahead: only a link that went down under them (an error answer is an answer).
    // Larger blocks: the probing send failing at all, answered or not.
    const bool buffer = sonda_ == TSonda::Buffer && sondaBuffer_ == tambem;
    if (!buffer && (sonda_ != TSonda::Pedidos || ligacao_.Conn.GetConnected()))
        return false;
    const std::u16string motivo = ApplicationErrorText(std::current_exception());
    sonda_ = TSonda::Nenhuma;
    sondaBuffer_ = nullptr;
    if (buffer)
        run_.sondandoBuffer_ = false;
    run_.Recuar(buffer ? TLimite::Buffer32 : TLimite::UmPedidoPorVez, motivo);
    if (tambem) {
        tambem->Item.EnvioEscrito |= tambem->Fase == TFase::Enviando;
        Recomecar(*tambem);
        // The probing send goes again in 32 KB blocks, as a first attempt.
        if (buffer) {
            tambem->Veredito = TVeredito::Enviar;
            tambem->Fase = TFase::Enviar;
        }
    }
    RecomecarPendentes(tambem);
    ligacao_.Conn.SetConnected(false);
    if (run_.abortado_)
        throw Exception(std::u16string(C::MsgRunAborted));
    run_.Conectar(ligacao_.Conn);
    return true;
}

void TAtualizador::TTrabalho::PrepararJuntos() {
    TZvServerClient* proxy = run_.ProxyEmCache(ligacao_);
    if (!proxy || !ligacao_.Adiante || ligacao_.GeracaoPreparada == ligacao_.GeracaoProxy)
        return;
    ligacao_.GeracaoPreparada = ligacao_.GeracaoProxy;
    // What this connection may call: the alert only on the run's own connection, which sends it.
    std::vector<std::u16string_view> metodos = {C::PropertsFileMethod};
    if (!run_.opcoes_.Simular) {
        metodos.push_back(C::SendFileMethod);
        if (run_.temMarcador_ && !run_.dados_.VersaoPraTeste)
            metodos.push_back(C::RemoveFileMethod);
        if (&ligacao_ == &run_.Principal() && ConectadoServidorBrevant)
            metodos.push_back(C::AlertarZvClientesMethod);
    }
    try {
        run_.ComPrazo(u"prepare", [&] { proxy->PrepararJuntos(metodos); });
    } catch (...) {
        if (FalhouNaSonda(nullptr))
            return;
        FalhaDaLigacao();
    }
}

void TAtualizador::TTrabalho::AplicarConsulta(TArquivo& a, const std::u16string& resposta) {
    if (!PrecisaEnviar(resposta, a.Item.Arquivo.Local)) {
        // Its send left before the connection dropped and the server took it: it was ours.
        if (a.Item.EnvioEscrito) {
            a.Veredito = TVeredito::Enviar;
            return Pronto(a, TDesfecho::Enviado, IMainView::IconDone);
        }
        a.Veredito = TVeredito::Atual;
        return Pronto(a, TDesfecho::Atual, IMainView::IconDone);
    }
    a.Veredito = TVeredito::Enviar;
    if (run_.opcoes_.Simular)
        return Pronto(a, TDesfecho::Enviaria, IMainView::IconProcessing);
    a.Fase = TFase::Enviar;
}

void TAtualizador::TTrabalho::ResultadoDoEnvio(TArquivo& a, bool enviado, std::u16string motivo) {
    SoltarProgresso(a);
    // An answer came: the server takes the larger blocks, whatever it said about the file.
    if (sonda_ == TSonda::Buffer && sondaBuffer_ == &a) {
        DesarmarSonda();
        run_.sondandoBuffer_ = false;
    }
    if (enviado)
        return Pronto(a, TDesfecho::Enviado, IMainView::IconDone);
    a.Item.Arquivo.Motivo = std::move(motivo);
    a.Pacote.reset();
    ++a.Tentativas;
    // The packet's 4-byte length cannot carry it: the refusal is local, and no new connection
    // could change it.
    if (FileSize(a.Item.Arquivo.Local).value_or(0) > dsMaxBlobLength)
        return Falhou(a);
    Reconectar(a);
    if (a.Tentativas < C::SendAttempts)
        a.Fase = TFase::Enviar;
    else
        Falhou(a);
}

void TAtualizador::TTrabalho::RecomecarPendentes(const TArquivo* exceto) {
    for (TPedido& pedido : emCurso_) {
        if (pedido.Arquivo == exceto)
            continue;
        pedido.Arquivo->Item.EnvioEscrito |= pedido.Tipo == TTipoPedido::Envio;
        Recomecar(*pedido.Arquivo);
    }
    emCurso_.clear();
}

void TAtualizador::TTrabalho::Reconectar(TArquivo& a) {
    // The answers still owed go with the connection: their files start again on the new one.
    RecomecarPendentes(&a);
    if (sonda_ != TSonda::Nenhuma) {
        if (sonda_ == TSonda::Buffer)
            run_.sondandoBuffer_ = false;
        sonda_ = TSonda::Nenhuma;
        sondaBuffer_ = nullptr;
    }
    ligacao_.Conn.SetConnected(false);
    // A run being ended does not reconnect.
    if (run_.abortado_)
        throw Exception(std::u16string(C::MsgRunAborted));
    run_.pausa_(C::ReconnectPause);
    try {
        run_.Conectar(ligacao_.Conn);
    } catch (...) {
        // The others go on; this file failed here.
        if (!distribuidor_ || run_.abortado_ ||
            !Sair(ApplicationErrorText(std::current_exception()), &a))
            throw;
    }
}

void TAtualizador::TTrabalho::FalhaDaLigacao() {
    // A server's error answer leaves the link up: it ends the run, as it always did; so does any
    // failure of the last connection at work.
    if (!ligacao_.Conn.GetConnected() && distribuidor_ && !run_.abortado_)
        Sair(ApplicationErrorText(std::current_exception()), nullptr);  // throws when it left
    throw;
}

bool TAtualizador::TTrabalho::Sair(const std::u16string& motivo, TArquivo* falhado) {
    // The files whose answers had not come go to the others in the same step that this
    // connection stops counting, so no waiting connection leaves before they are there.
    std::vector<TItem> devolver;
    for (const TPedido& pedido : emCurso_)
        pedido.Arquivo->Item.EnvioEscrito |= pedido.Tipo == TTipoPedido::Envio;
    for (const TArquivo& a : janela_) {
        if (a.Fase != TFase::Pronto && &a != falhado)
            devolver.push_back(a.Item);
    }
    if (!distribuidor_->Deixar(std::move(devolver)))
        return false;
    deixou_ = true;
    ligacao_.Saiu = true;
    emCurso_.clear();
    if (falhado)
        Falhou(*falhado);
    // What was done is shown.
    std::erase_if(janela_, [](const TArquivo& a) { return a.Fase != TFase::Pronto; });
    run_.Vista([&](IMainView& v) { v.ConnectionDropped(ligacao_.Numero, motivo); });
    Mostrar();
    throw TSaida{};
}

void TAtualizador::TTrabalho::Pronto(TArquivo& a, TDesfecho desfecho, int icone) {
    a.Fase = TFase::Pronto;
    a.Desfecho = desfecho;
    a.Icone = icone;
    a.Pacote.reset();
    // A reason belongs to a failure or a passed-over entry; a retry that succeeded has none.
    if (desfecho != TDesfecho::Falhou && desfecho != TDesfecho::Ignorado &&
        desfecho != TDesfecho::Excluido)
        a.Item.Arquivo.Motivo.clear();
}

void TAtualizador::TTrabalho::Falhou(TArquivo& a) {
    Pronto(a, TDesfecho::Falhou, IMainView::IconFailed);
    a.Perguntar = true;
}

void TAtualizador::TTrabalho::Mostrar(bool perguntar) {
    // A file sent on its own has no row.
    if (!distribuidor_)
        return;
    for (TArquivo& a : janela_) {
        if (!a.Veredito) {
            if (a.Fase == TFase::Pronto)
                continue;
            break;
        }
        if (!a.Item.VereditoMostrado) {
            a.Item.VereditoMostrado = true;
            run_.Vista([&](IMainView& v) { v.FileVerdict(a.Item.Arquivo, *a.Veredito); });
        }
    }
    while (!janela_.empty() && janela_.front().Fase == TFase::Pronto) {
        TArquivo a = std::move(janela_.front());
        janela_.pop_front();
        run_.Concluir(a.Item, a.Item.Arquivo, a.Icone, a.Desfecho);
        if (!a.Perguntar || !perguntar)
            continue;
        // Nobody is left to answer the question once the window was asked to close.
        if (run_.Vista([](IMainView& v) { return v.CloseRequested(); }) || run_.abortado_) {
            distribuidor_->Parar();
            continue;
        }
        if (!distribuidor_->Continuar(std::u16string(C::MsgSendFailed) +
                                      ReadableName(a.Item.Arquivo.Local) + u"\r\n" + u"\r\n" +
                                      std::u16string(C::MsgContinue))) {
            std::lock_guard lock(run_.vistaMutex_);
            run_.resumo_.ParadaPeloUsuario = true;
        }
    }
}

void TAtualizador::TTrabalho::MostrarConcluidos() {
    Mostrar(false);
    if (!distribuidor_)
        return;
    for (TArquivo& a : janela_) {
        if (a.Fase == TFase::Pronto)
            run_.Concluir(a.Item, a.Item.Arquivo, a.Icone, a.Desfecho);
    }
    janela_.clear();
}

void TAtualizador::TTrabalho::FecharSeDever() {
    if (emCurso_.empty())
        return;
    emCurso_.clear();
    // Already failing: a close that fails too adds nothing to the error on its way.
    try {
        ligacao_.Conn.SetConnected(false);
    } catch (...) {
    }
}

TOleVariant TAtualizador::TTrabalho::MontarPacote(const TArquivoEvento& arquivo) {
    // Only the destination name is a '\' path here; a local Linux file name may hold backslashes
    // of its own.
    const std::u16string destino = SingleBackslashes(arquivo.Destino);
    const TDateTime dataArquivo = GetDateFile(arquivo.Local, TTipoDateFile::TdfModificao);
    TClientDataSet& cds = ligacao_.Cds;
    cds.EmptyDataSet();
    cds.Append();
    cds.FieldByName(kFieldNome).SetAsString(destino);
    cds.FieldByName(kFieldDataHora).SetAsDateTime(dataArquivo);
    // The content stays in the file and is read from it while it travels, so a large file is
    // never held in memory.
    cds.FieldByName(kFieldArquivo).LoadFromFileDeferred(arquivo.Local);
    cds.Post();
    // About 30 progress events a second, and the last one always.
    struct TEstado {
        std::chrono::steady_clock::time_point Ultimo;
        std::uint64_t Lidos = 0;
        std::uint64_t Base = 0;  // the connection's bytes written at the first read
        bool Lido = false;
    };
    auto estado = std::make_shared<TEstado>();
    // It holds the run, not this work: a connection's writes may outlive the work.
    auto mostrar = [&run = run_, arquivo, estado](std::uint64_t enviados) {
        const auto agora = std::chrono::steady_clock::now();
        if (agora - estado->Ultimo < C::ProgressInterval && enviados < arquivo.Tamanho)
            return;
        estado->Ultimo = agora;
        run.Vista([&](IMainView& v) { v.FileProgress(arquivo, enviados); });
    };
    if (!run_.limiteDeBanda_)
        return DataPacketVariant(cds, mostrar);
    // Under a bandwidth cap a block read waits its turn before it leaves, which at a low cap may
    // take many seconds: the progress follows the bytes the connection writes from the file's
    // first read on (its request's few other bytes among them), never past what was read.
    return DataPacketVariant(
        cds, [escritas = ligacao_.Escritas, arquivo, estado, mostrar](std::uint64_t lidos) {
            estado->Lidos = lidos;
            if (!estado->Lido) {
                estado->Lido = true;
                estado->Base = escritas->Bytes;
                escritas->Linha = arquivo.Row;
                // Kept inside what it reads, so it holds no reference to it.
                escritas->AoEscrever = [e = escritas.get(), arquivo, estado, mostrar] {
                    const std::uint64_t enviados = std::min(estado->Lidos, e->Bytes - estado->Base);
                    mostrar(enviados);
                    return enviados < arquivo.Tamanho;
                };
            }
            mostrar(std::min(lidos, escritas->Bytes - estado->Base));
        });
}

void TAtualizador::TTrabalho::SoltarProgresso(const TArquivo& a) {
    if (ligacao_.Escritas->AoEscrever && ligacao_.Escritas->Linha == a.Item.Arquivo.Row)
        ligacao_.Escritas->AoEscrever = nullptr;
}

}  // namespace ab
