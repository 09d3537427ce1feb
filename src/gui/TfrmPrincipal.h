// The main window: its controls, the start-up handler with the access and test-mode gates, the
// general error handler, the close handler, and the view the publishing run drives.
//
// "Atualizar" runs the handler on a worker thread, so the window stays responsive while the run
// waits on the server. The run must drive the window through RunView(), which queues its calls
// and applies them here in order (see TQueuedView); the window itself is a view for the GUI
// thread only. The program plugs the run in after construction:
//
//     TfrmPrincipal w(CommandLine::FromArgv(argc, argv), TestEnvironment());
//     if (w.Terminated()) return 1;               // a gate refused the start
//     TAtualizador run(w.RunView(), w.cdsSendFile(), ...);
//     w.SetAtualizarHandler([&] { run.btn_AtualizarClick(); });    // on the worker thread
//     w.SetAbortHandler([&] { run.Abort(); });
//     ...
//     w.EndRun();                                 // before `run` goes
//
// An error escaping the handler is carried to the GUI thread and shown by the general error
// handler there. Closing while a run is in progress (close box or "Cancelar") is deferred:
// CloseRequested() turns true, the run finishes its current file and returns, and the window then
// closes. Asked a second time while the run still goes, the window calls the abort handler and
// closes at once; the record set is emptied only once the worker is done with it. The run's own
// CloseWindow() closes at once.
#pragma once

#include <QFont>
#include <QWidget>
#include <array>
#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "app/Arranque.h"
#include "app/IMainView.h"
#include "app/TProgresso.h"
#include "gui/ProgressIcons.h"
#include "gui/TQueuedView.h"
#include "packet/TClientDataSet.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTreeView;

namespace ab {

class TProgressListModel;
class TUpDown;

class TfrmPrincipal : public QWidget, public IMainView, public IViewBatch {
  public:
    static constexpr int kClientWidth = 510;
    static constexpr int kClientHeight = 367;
    // The start-up texts every front end shares.
    static constexpr std::u16string_view kAccessCode = Arranque::AccessCode;
    static constexpr std::u16string_view kTitle = Arranque::Title;
    static constexpr std::u16string_view kDesignCaption = u"Atualizador do Sistema.";
    static constexpr std::u16string_view kLogoFile = u"Logo.jpg";
    static constexpr std::u16string_view kAccessDenied = Arranque::AccessDenied;
    static constexpr std::u16string_view kTestOutsideEnvironment = Arranque::TestOutsideEnvironment;

    // The progress line under the list while a close waits for the file in hand.
    static constexpr std::u16string_view kClosing =
        u"Encerrando ap\u00F3s o arquivo atual \u00B7 feche de novo para interromper";
    // Shown after a row's name in a dry run, by what would become of the file.
    static constexpr std::u16string_view kWouldSend = u" \u2014 seria enviado";
    static constexpr std::u16string_view kWouldRemove = u" \u2014 seria removido";
    static constexpr std::u16string_view kCurrent = u" \u2014 atual";
    // Added to the progress line while connections have left the run (one / several); the
    // line's tooltip gives each one's reason.
    static constexpr std::u16string_view kOneConnectionLeft =
        u" \u00B7 1 conex\u00E3o deixou a execu\u00E7\u00E3o";
    static constexpr std::u16string_view kConnectionsLeft =
        u" conex\u00F5es deixaram a execu\u00E7\u00E3o";
    // Added to the progress line for the run's notices (one / several), each in the tooltip.
    static constexpr std::u16string_view kOneNotice = u" \u00B7 1 aviso";
    static constexpr std::u16string_view kNotices = u" avisos";

    // Builds the controls and runs the start-up handler (gate boxes are shown from here).
    // `relogio` times the progress line (the steady clock when empty). `pasta` is the folder to
    // publish as the option gave it, empty for the program's own (see PastaAPublicar).
    TfrmPrincipal(CommandLine commandLine, TestEnvironment environment, QWidget* parent = nullptr,
                  TProgresso::TRelogio relogio = {}, std::u16string pasta = {});
    ~TfrmPrincipal() override;

    // A start-up gate refused: the window must not be shown and the program ends (non-zero).
    bool Terminated() const { return terminated_; }

    // Program state fixed by the start-up handler.
    bool VersaoPraTeste() const { return versaoPraTeste_; }
    const std::u16string& Sistema() const { return sistema_; }
    const std::u16string& ApplicationTitle() const { return applicationTitle_; }
    // Argument 0, and the folder the run walks (with the trailing '/'): its folder, or the one
    // the option named, links resolved. Empty when a gate refused.
    std::u16string ProgramPath() const { return commandLine_.ParamStr(0); }
    const std::u16string& ProgramFolder() const { return pasta_; }
    const CommandLine& Arguments() const { return commandLine_; }

    // The send-file record set, created at start-up, emptied and closed when the window closes.
    TClientDataSet& cdsSendFile() { return cdsSendFile_; }

    // The view a run on the worker thread drives.
    IMainView& RunView() { return *queued_; }
    // What "Atualizar" does, on a worker thread, one run at a time. An escaping error is shown by
    // the general error handler and leaves the window open with "Atualizar" enabled.
    void SetAtualizarHandler(std::function<void()> handler) { onAtualizar_ = std::move(handler); }
    // Called on the GUI thread when the user asks a second time to close during a run: must end
    // the run's connections at once without waiting for the run.
    void SetAbortHandler(std::function<void()> handler) { onAbort_ = std::move(handler); }
    // A dry run: rows show what would become of each file.
    void SetDryRun(bool dryRun) { dryRun_ = dryRun; }
    bool RunInProgress() const { return running_; }
    // Ends a run still in progress and waits for its thread: asks it to stop after the file in
    // hand, releases its pending questions (No) and drops what it still shows. Call it before
    // destroying what the handler uses; the window calls it when destroyed. No run starts after.
    void EndRun();

    // The application's general error handler: the innermost message in a box titled with the
    // application title; the window keeps running.
    void HandleException(std::exception_ptr error);
    // Runs `action`, reporting an escaping error through HandleException; false when one escaped.
    bool Guarded(const std::function<void()>& action);

    // IMainView.
    std::u16string EnderecoText() override;
    int PortaPosition() override;
    int AddRow(const std::u16string& text, int icon) override;
    void SetRowIcon(int row, int icon) override;
    void ScrollToRow(int row) override;
    void ClearRows() override;
    void ProcessEvents() override;
    void ShowWarning(const std::u16string& text) override;
    bool AskWarningYesNo(const std::u16string& text) override;
    void ShowError(const std::u16string& text) override;
    void ShowMessage(const std::u16string& text) override;
    void SetAtualizarEnabled(bool enabled) override;
    void ShowPage(Page page) override;
    void CloseWindow() override;
    // Thread-safe.
    bool CloseRequested() override { return closeRequested_; }
    void RunStarted(int arquivos, std::uint64_t bytes) override;
    void FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) override;
    void FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) override;
    void RunEnded(const TResumo& resumo) override;
    void ConnectionDropped(int conexao, const std::u16string& motivo) override;
    void Aviso(const std::u16string& texto) override;

    // IViewBatch: rows, scrolling and the progress line show once per batch.
    void BeginBatch() override;
    void EndBatch() override;

    // The progress image for an index (0 arrow, 1 check, 2 cross).
    const QPixmap& ProgressIcon(int index) const;

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildControls();
    void FormCreate();
    void LoadLogo();
    void FormClose();
    void btn_AtualizarClick();
    // GUI thread, once the handler returned (or raised `error`) on the worker.
    void RunFinished(std::exception_ptr error);
    void ProgressChanged();
    void ShowProgressLine();

    CommandLine commandLine_;
    TestEnvironment environment_;
    std::u16string opcaoPasta_;
    std::u16string pasta_;
    TClientDataSet cdsSendFile_;

    bool terminated_ = false;
    bool versaoPraTeste_ = false;
    std::u16string sistema_;
    std::u16string applicationTitle_;

    std::function<void()> onAtualizar_;
    std::function<void()> onAbort_;
    std::thread worker_;
    bool running_ = false;
    std::atomic<bool> closeRequested_{false};
    bool closingByRun_ = false;
    bool closedByAbort_ = false;
    bool formClosed_ = false;
    bool dryRun_ = false;

    TProgresso progresso_;
    bool showingProgress_ = false;
    QStringList conexoesQueSairam_;  // "Conexão N: reason", this run's
    QStringList avisos_;             // this run's notices
    int batchDepth_ = 0;
    int scrollTarget_ = -1;
    bool lineChanged_ = false;

    std::array<QPixmap, kProgressIconCount> imgListView_;

    QLabel* imgLogo_ = nullptr;
    QLabel* lblVersaoTeste_ = nullptr;
    QStackedWidget* Notebook1_ = nullptr;
    QWidget* pagePrincipal_ = nullptr;
    QWidget* pageProgresso_ = nullptr;
    QGroupBox* GroupBox1_ = nullptr;
    QLabel* Label2_ = nullptr;
    QLineEdit* edtEndereco_ = nullptr;
    QLabel* Label3_ = nullptr;
    QLineEdit* edtPorta_ = nullptr;
    TUpDown* vPorta_ = nullptr;
    TProgressListModel* lvModel_ = nullptr;
    QTreeView* lv_ = nullptr;
    QFrame* Bevel1_ = nullptr;
    QFrame* Panel1_ = nullptr;
    QLabel* Label1_ = nullptr;
    QPushButton* btn_Atualizar_ = nullptr;
    QPushButton* Btn_Cancelar_ = nullptr;
    QString banner_;
    QFont bannerFont_;
    QFont progressFont_;

    // Made last and gone first: nothing it still holds reaches a half-destroyed window.
    std::unique_ptr<TQueuedView> queued_;
};

}  // namespace ab
