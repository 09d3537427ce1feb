// The main window: its controls, the start-up handler with the access and test-mode gates, the
// general error handler, the close handler, and the view the publishing run drives.
//
// The app layer plugs the run in after construction:
//
//     TfrmPrincipal w(CommandLine::FromArgv(argc, argv), TestEnvironment());
//     if (w.Terminated()) return 1;               // a gate refused the start
//     w.SetAtualizarHandler([&] { run.btn_AtualizarClick(); });   // run drives w as IMainView
//
// Closing while the handler runs (close box or "Cancelar" while the run processes events) is
// deferred: CloseRequested() turns true, the run finishes its current file and returns, and the
// window then closes. The run's own CloseWindow() closes at once.
#pragma once

#include <QWidget>
#include <array>
#include <exception>
#include <functional>
#include <string>

#include "app/IMainView.h"
#include "packet/TClientDataSet.h"
#include "platform/CommandLine.h"
#include "platform/TestEnvironment.h"

class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTreeWidget;

namespace ab {

class TUpDown;

class TfrmPrincipal : public QWidget, public IMainView {
  public:
    static constexpr int kClientWidth = 510;
    static constexpr int kClientHeight = 367;
    static constexpr std::u16string_view kAccessCode = u"Vr@ndoxT";
    static constexpr std::u16string_view kTitle = u"Atualizador Brevant Sistemas.";
    static constexpr std::u16string_view kDesignCaption = u"Atualizador do Sistema.";
    static constexpr std::u16string_view kLogoFile = u"Logo.jpg";
    static constexpr std::u16string_view kAccessDenied =
        u"Sr. Usu\u00E1rio,\r\nDesculpe, voc\u00EA n\u00E3o tem autoriza\u00E7\u00E3o para essa "
        u"tarefa.";
    static constexpr std::u16string_view kTestOutsideEnvironment =
        u"Sr. Usu\u00E1rio,\r\nEsta \u00E9 uma vers\u00E3o para Testes,\r\nS\u00F3 pode ser "
        u"executada dentro do Ambiente da Brevant Sistemas.";

    // Builds the controls and runs the start-up handler (gate boxes are shown from here).
    TfrmPrincipal(CommandLine commandLine, TestEnvironment environment, QWidget* parent = nullptr);
    ~TfrmPrincipal() override;

    // A start-up gate refused: the window must not be shown and the program ends (non-zero).
    bool Terminated() const { return terminated_; }

    // Program state fixed by the start-up handler.
    bool VersaoPraTeste() const { return versaoPraTeste_; }
    const std::u16string& Sistema() const { return sistema_; }
    const std::u16string& ApplicationTitle() const { return applicationTitle_; }
    // Argument 0 and its folder (with the trailing '/'), as the run walks them.
    std::u16string ProgramPath() const { return commandLine_.ParamStr(0); }
    std::u16string ProgramFolder() const { return commandLine_.ProgramFolder(); }
    const CommandLine& Arguments() const { return commandLine_; }

    // The send-file record set, created at start-up, emptied and closed when the window closes.
    TClientDataSet& cdsSendFile() { return cdsSendFile_; }

    // What "Atualizar" does. Called under the general error handler; an escaping error leaves the
    // window open with "Atualizar" enabled.
    void SetAtualizarHandler(std::function<void()> handler) { onAtualizar_ = std::move(handler); }
    bool RunInProgress() const { return runDepth_ > 0; }

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
    bool CloseRequested() override { return closeRequested_; }

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

    CommandLine commandLine_;
    TestEnvironment environment_;
    TClientDataSet cdsSendFile_;

    bool terminated_ = false;
    bool versaoPraTeste_ = false;
    std::u16string sistema_;
    std::u16string applicationTitle_;

    std::function<void()> onAtualizar_;
    int runDepth_ = 0;
    bool closeRequested_ = false;
    bool closingByRun_ = false;
    bool formClosed_ = false;

    std::array<QPixmap, 3> imgListView_;

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
    QTreeWidget* lv_ = nullptr;
    QFrame* Bevel1_ = nullptr;
    QFrame* Panel1_ = nullptr;
    QLabel* Label1_ = nullptr;
    QPushButton* btn_Atualizar_ = nullptr;
    QPushButton* Btn_Cancelar_ = nullptr;
};

}  // namespace ab
