// The run's view across threads: a queue applied on the GUI thread in timed batches.
#include "gui/TQueuedView.h"

#include <QThread>
#include <algorithm>

#include "gui/QueuedCall.h"

namespace ab {

TQueuedView::TQueuedView(IMainView& target, IViewBatch* batch) : target_(target), batch_(batch) {
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { Flush(); });
}

TQueuedView::~TQueuedView() {
    Shutdown();
}

bool TQueuedView::NaThreadDaJanela() const {
    return QThread::currentThread() == thread();
}

bool TQueuedView::Enfileirar(TItem item, bool agora) {
    const bool espera = item.Espera != nullptr;
    agora = agora || espera;
    bool acordar = agora;
    {
        // The closed check and the enqueue are one step: a Shutdown between them would find the
        // queue empty and leave a late item, and its caller, waiting for nobody.
        std::lock_guard lock(mutex_);
        if (fechado_)
            return false;
        fila_.push_back(std::move(item));
        if (espera)
            ++esperando_;
        if (!agendado_) {
            agendado_ = true;
            acordar = true;
        }
    }
    if (acordar)
        Acordar(agora);
    return true;
}

void TQueuedView::Acordar(bool agora) {
    QueueCall(this, [this, agora] { Aplicar(agora); });
}

void TQueuedView::Aplicar(bool agora) {
    if (agora) {
        Flush();
        return;
    }
    if (timer_.isActive())
        return;
    const auto desde = std::chrono::steady_clock::now() - ultimoLote_;
    const auto espera = std::chrono::duration_cast<std::chrono::milliseconds>(kIntervalo - desde);
    timer_.start(std::max(espera, std::chrono::milliseconds(0)));
}

bool TQueuedView::Post(std::function<void()> f) {
    return Enfileirar({std::move(f), nullptr});
}

bool TQueuedView::Call(std::function<void()> f) {
    if (NaThreadDaJanela()) {
        if (IsShutDown())
            return false;
        Flush();
        f();
        return true;
    }
    auto espera = std::make_shared<TEspera>();
    if (!Enfileirar({std::move(f), espera}))
        return false;
    std::unique_lock lock(mutex_);
    respondido_.wait(lock, [&] { return espera->Feito; });
    --esperando_;
    if (espera->Erro)
        std::rethrow_exception(espera->Erro);
    return espera->Executado;
}

void TQueuedView::Executar(TItem& item) {
    std::exception_ptr erro;
    try {
        item.Funcao();
    } catch (...) {
        erro = std::current_exception();
    }
    if (item.Espera) {
        {
            std::lock_guard lock(mutex_);
            item.Espera->Executado = true;
            item.Espera->Erro = erro;
            item.Espera->Feito = true;
        }
        respondido_.notify_all();
    } else if (erro) {
        // Nobody waits for a queued change: its error reaches the application as any other.
        std::rethrow_exception(erro);
    }
}

void TQueuedView::Flush() {
    // A batch is applied once at a time; but while a box waits for its answer, what was queued
    // after it (the other connections' progress) is applied from the box's own event loop, so
    // the window keeps showing the transfers that go on meanwhile.
    if (aplicando_)
        return;
    aplicando_ = true;
    std::size_t n;
    {
        std::lock_guard lock(mutex_);
        n = fila_.size();
        agendado_ = false;
    }
    ultimoLote_ = std::chrono::steady_clock::now();
    struct TLote {
        IViewBatch* batch;
        bool aberto = false;
        void Abrir() {
            if (batch && !aberto)
                batch->BeginBatch();
            aberto = true;
        }
        void Fechar() {
            if (batch && aberto)
                batch->EndBatch();
            aberto = false;
        }
        ~TLote() { Fechar(); }
    } lote{batch_};
    struct TFim {
        bool& aplicando;
        ~TFim() { aplicando = false; }
    } fim{aplicando_};

    lote.Abrir();
    for (; n > 0; --n) {
        TItem item;
        {
            std::lock_guard lock(mutex_);
            if (fila_.empty())
                break;
            item = std::move(fila_.front());
            fila_.pop_front();
        }
        if (item.Espera) {
            // Everything before the question shows before its box.
            lote.Fechar();
            aplicando_ = false;
            Executar(item);
            aplicando_ = true;
            lote.Abrir();
        } else {
            Executar(item);
        }
    }
    lote.Fechar();
    aplicando_ = false;

    bool resto, pergunta;
    {
        std::lock_guard lock(mutex_);
        resto = !fila_.empty() && !fechado_;
        pergunta = esperando_ > 0;
        if (resto)
            agendado_ = true;
    }
    if (resto)
        Acordar(pergunta);
}

void TQueuedView::Shutdown() {
    std::deque<TItem> descartados;
    {
        std::lock_guard lock(mutex_);
        fechado_ = true;
        descartados.swap(fila_);
        for (TItem& item : descartados) {
            if (item.Espera)
                item.Espera->Feito = true;
        }
    }
    respondido_.notify_all();
    timer_.stop();
}

bool TQueuedView::IsShutDown() const {
    std::lock_guard lock(mutex_);
    return fechado_;
}

std::u16string TQueuedView::EnderecoText() {
    std::u16string endereco;
    if (!Call([&] { endereco = target_.EnderecoText(); })) {
        std::lock_guard lock(mutex_);
        return endereco_;
    }
    std::lock_guard lock(mutex_);
    endereco_ = endereco;
    return endereco;
}

int TQueuedView::PortaPosition() {
    int porta = 0;
    if (!Call([&] { porta = target_.PortaPosition(); })) {
        std::lock_guard lock(mutex_);
        return porta_;
    }
    std::lock_guard lock(mutex_);
    porta_ = porta;
    return porta;
}

int TQueuedView::AddRow(const std::u16string& text, int icon) {
    int row;
    {
        std::lock_guard lock(mutex_);
        row = proximaLinha_++;
    }
    Post([this, text, icon] { target_.AddRow(text, icon); });
    return row;
}

void TQueuedView::SetRowIcon(int row, int icon) {
    Post([this, row, icon] { target_.SetRowIcon(row, icon); });
}

void TQueuedView::ScrollToRow(int row) {
    Post([this, row] { target_.ScrollToRow(row); });
}

void TQueuedView::ClearRows() {
    {
        std::lock_guard lock(mutex_);
        proximaLinha_ = 0;
    }
    Post([this] { target_.ClearRows(); });
}

void TQueuedView::ShowWarning(const std::u16string& text) {
    Call([&] { target_.ShowWarning(text); });
}

bool TQueuedView::AskWarningYesNo(const std::u16string& text) {
    bool sim = false;
    Call([&] { sim = target_.AskWarningYesNo(text); });
    return sim;
}

void TQueuedView::ShowError(const std::u16string& text) {
    Call([&] { target_.ShowError(text); });
}

void TQueuedView::ShowMessage(const std::u16string& text) {
    Call([&] { target_.ShowMessage(text); });
}

void TQueuedView::SetAtualizarEnabled(bool enabled) {
    Post([this, enabled] { target_.SetAtualizarEnabled(enabled); });
}

void TQueuedView::ShowPage(Page page) {
    Post([this, page] { target_.ShowPage(page); });
}

void TQueuedView::CloseWindow() {
    // The run's last word: the window closes now, not a batch later.
    Enfileirar({[this] { target_.CloseWindow(); }, nullptr}, true);
}

bool TQueuedView::CloseRequested() {
    return IsShutDown() || target_.CloseRequested();
}

void TQueuedView::RunStarted(int arquivos, std::uint64_t bytes) {
    Post([this, arquivos, bytes] { target_.RunStarted(arquivos, bytes); });
}

void TQueuedView::FileVerdict(const TArquivoEvento& arquivo, TVeredito veredito) {
    Post([this, arquivo, veredito] { target_.FileVerdict(arquivo, veredito); });
}

void TQueuedView::FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) {
    Post([this, arquivo, enviados] { target_.FileProgress(arquivo, enviados); });
}

void TQueuedView::FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) {
    Post([this, arquivo, desfecho] { target_.FileDone(arquivo, desfecho); });
}

void TQueuedView::RunEnded(const TResumo& resumo) {
    Enfileirar({[this, resumo] { target_.RunEnded(resumo); }, nullptr}, true);
}

void TQueuedView::ConnectionDropped(int conexao, const std::u16string& motivo) {
    Post([this, conexao, motivo] { target_.ConnectionDropped(conexao, motivo); });
}

void TQueuedView::Aviso(const std::u16string& texto) {
    Post([this, texto] { target_.Aviso(texto); });
}

}  // namespace ab
