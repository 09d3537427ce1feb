// TQueuedView: the view a publishing run on a worker thread drives. It stands for a real view that
// lives on the GUI thread (the window): calls from the worker are queued and applied there in the
// order they were made, in batches at most about 30 times a second, so the GUI thread stays free
// for repaints, moves and clicks while the worker waits on the server.
//
// Calls that need an answer (the address and port) and the modal boxes make the caller wait until
// the GUI thread has applied everything queued before them and then answered; the question is
// asked at once, not at the next batch. CloseRequested is asked of the real view straight from
// the caller's thread, so that view must answer it from thread-safe state. ProcessEvents does
// nothing: the GUI thread processes its events all the time.
//
// AddRow answers with the row's index at once: rows are counted from the last ClearRows passed
// on (a run always clears before its first row), so nobody else may add rows meanwhile.
//
// Shutdown (the window going away, the application quitting) releases every caller still waiting
// (a question answers No, the address and port repeat their last answers), drops whatever is
// queued or comes later, and from then on reports a close request, so the run stops after the
// file in hand.
#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

#include "app/IMainView.h"

namespace ab {

// A view that can take a batch of changes and show them together.
class IViewBatch {
  public:
    virtual ~IViewBatch() = default;
    virtual void BeginBatch() = 0;
    // Shows what changed since BeginBatch.
    virtual void EndBatch() = 0;
};

class TQueuedView : public QObject, public IMainView {
  public:
    // Shortest time between two batches.
    static constexpr std::chrono::milliseconds kIntervalo{33};

    // Made on the GUI thread, where `target` lives; `batch` (the same view, usually) is told
    // where each batch begins and ends.
    explicit TQueuedView(IMainView& target, IViewBatch* batch = nullptr);
    ~TQueuedView() override;

    // From any thread, one caller at a time (the run serialises its calls).
    std::u16string EnderecoText() override;
    int PortaPosition() override;
    int AddRow(const std::u16string& text, int icon) override;
    void SetRowIcon(int row, int icon) override;
    void ScrollToRow(int row) override;
    void ClearRows() override;
    void ProcessEvents() override {}
    void ShowWarning(const std::u16string& text) override;
    bool AskWarningYesNo(const std::u16string& text) override;
    void ShowError(const std::u16string& text) override;
    void ShowMessage(const std::u16string& text) override;
    void SetAtualizarEnabled(bool enabled) override;
    void ShowPage(Page page) override;
    void CloseWindow() override;
    bool CloseRequested() override;
    void RunStarted(int arquivos, std::uint64_t bytes) override;
    void FileVerdict(const TArquivoEvento& arquivo, TVeredito veredito) override;
    void FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) override;
    void FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) override;
    void RunEnded(const TResumo& resumo) override;
    void ConnectionDropped(int conexao, const std::u16string& motivo) override;
    void Aviso(const std::u16string& texto) override;

    // `f` runs on the GUI thread after everything queued before it. False, and `f` dropped, once
    // shut down.
    bool Post(std::function<void()> f);
    // `f` runs on the GUI thread after everything queued before it, and the caller waits for it;
    // an error it raises is raised again in the caller. Called on the GUI thread, the queue is
    // applied and `f` runs at once. False when shut down before `f` ran: a call made after the
    // shutdown returns at once without running `f`, and one waiting when it comes is released.
    bool Call(std::function<void()> f);

    // GUI thread: applies everything queued so far, now.
    void Flush();
    // GUI thread. See above.
    void Shutdown();
    bool IsShutDown() const;

  private:
    struct TEspera {
        bool Feito = false;
        bool Executado = false;
        std::exception_ptr Erro;
    };
    struct TItem {
        std::function<void()> Funcao;
        std::shared_ptr<TEspera> Espera;  // set when a caller waits for it
    };

    // Queues the item unless shut down (false); a waiting caller is counted in the same step.
    // `agora`: applied at once, not at the next batch (a caller waits, or the run is ending).
    bool Enfileirar(TItem item, bool agora = false);
    // Any thread: has the GUI thread apply the queue (Aplicar), at once (a caller waits) or in
    // the next batch.
    void Acordar(bool agora);
    void Aplicar(bool agora);
    void Executar(TItem& item);
    bool NaThreadDaJanela() const;

    IMainView& target_;
    IViewBatch* batch_;
    QTimer timer_;
    std::chrono::steady_clock::time_point ultimoLote_{};
    bool aplicando_ = false;  // GUI thread only

    mutable std::mutex mutex_;
    std::condition_variable respondido_;
    std::deque<TItem> fila_;
    bool agendado_ = false;  // a wake-up is on its way to the GUI thread
    int esperando_ = 0;      // callers waiting for their turn
    bool fechado_ = false;
    int proximaLinha_ = 0;
    std::u16string endereco_;
    int porta_ = 0;
};

}  // namespace ab
