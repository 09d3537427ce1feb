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
    : run_(run),
      ligacao_(ligacao),
      distribuidor_(distribuidor),
      // A fresh command must hear its prepare's answer before it executes: nothing goes ahead.
      janelaMax_(run.opcoes_.ComandosEmCache
                     ? static_cast<std::size_t>(std::max(1, run.opcoes_.PedidosEmCurso))
                     : 1) {}

void TAtualizador::TTrabalho::Executar() {
    // Whatever way it ends, the hand-out learns that this connection takes nothing more (a
    // connection that left the run has told it already).
    struct TFim {
        TTrabalho& t;
        ~TFim() {
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
                } while (emCurso_.size() > janelaMax_ / 2);
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
    // Nothing to ask the server about: the row says why, and the walk goes on.
    if (a.Item.Tipo == TTipo::Ignorado)
        return Pronto(a, TDesfecho::Ignorado, IMainView::IconIgnored);
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
    // second failure asks "Continuar?" with nothing else of this connection on its way.
    if (std::any_of(emCurso_.begin(), emCurso_.end(), [](const TPedido& p) {
            return p.Tipo == TTipoPedido::Envio && p.Arquivo->Tentativas > 0;
        }))
        return;
    while (emCurso_.size() < janelaMax_) {
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
            if (janela_.size() >= janelaMax_)
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
                emCurso_.push_back(std::move(pedido));
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
                emCurso_.push_back(std::move(pedido));
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
        emCurso_.push_back(std::move(pedido));
        a.Fase = TFase::Enviando;
    } catch (...) {
        ResultadoDoEnvio(a, false, ApplicationErrorText(std::current_exception()));
    }
    return true;
}

void TAtualizador::TTrabalho::Ler() {
    TPedido pedido = std::move(emCurso_.front());
    emCurso_.pop_front();
    TArquivo& a = *pedido.Arquivo;
    switch (pedido.Tipo) {
        case TTipoPedido::Consulta: {
            std::u16string resposta;
            try {
                resposta =
                    run_.ComPrazo(u"PropertsFile", [&] { return pedido.Proxy->PropertsFileEnd(); });
            } catch (...) {
                FalhaDaLigacao();
            }
            AplicarConsulta(a, resposta);
            break;
        }
        case TTipoPedido::Remocao:
            try {
                run_.ComPrazo(u"RemoveFile", [&] { return pedido.Proxy->RemoveFileEnd(); });
            } catch (...) {
                FalhaDaLigacao();
            }
            Pronto(a, TDesfecho::Removido, IMainView::IconDone);
            break;
        case TTipoPedido::Envio:
            ResultadoDoEnvio(a, [&] {
                return run_.ComPrazo(u"SendFile", [&] { return pedido.Proxy->SendFileEnd(); });
            });
            break;
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

void TAtualizador::TTrabalho::Reconectar(TArquivo& a) {
    // The answers still owed go with the connection: their files start again on the new one.
    for (TPedido& pedido : emCurso_) {
        if (pedido.Arquivo == &a)
            continue;
        pedido.Arquivo->Item.EnvioEscrito |= pedido.Tipo == TTipoPedido::Envio;
        Recomecar(*pedido.Arquivo);
    }
    emCurso_.clear();
    ligacao_.Conn.SetConnected(false);
    // A run being ended does not reconnect.
    if (run_.abortado_)
        throw Exception(std::u16string(C::MsgRunAborted));
    run_.pausa_(C::ReconnectPause);
    try {
        ligacao_.Conn.SetConnected(true);
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
    if (desfecho != TDesfecho::Falhou && desfecho != TDesfecho::Ignorado)
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
    return DataPacketVariant(cds, [this, arquivo, ultimo = std::chrono::steady_clock::time_point{}](
                                      std::uint64_t enviados) mutable {
        const auto agora = std::chrono::steady_clock::now();
        if (agora - ultimo < C::ProgressInterval && enviados < arquivo.Tamanho)
            return;
        ultimo = agora;
        run_.Vista([&](IMainView& v) { v.FileProgress(arquivo, enviados); });
    });
}

}  // namespace ab
