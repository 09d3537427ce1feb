// The main window.
#include "gui/TfrmPrincipal.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QThread>
#include <QTreeView>

#include "app/ExceptionText.h"
#include "app/PastaPublicada.h"
#include "gui/MessageBoxes.h"
#include "gui/ProgressIcons.h"
#include "gui/QtText.h"
#include "gui/QueuedCall.h"
#include "gui/TJpegImage.h"
#include "gui/TProgressListModel.h"
#include "gui/TUpDown.h"
#include "packet/SendFileDataSet.h"
#include "platform/Convert.h"
#include "platform/FileSystem.h"
#include "platform/Text.h"

#ifndef AB_VERSION
#define AB_VERSION "1.0.0"
#endif

namespace ab {
namespace {

const QColor kButtonFace(240, 240, 240);

constexpr std::u16string_view kBanner =
    u"Brevant Sistemas  \u2022  Gest\u00E3o sem complica\u00E7\u00E3o  \u2022  v";

// Flat buttons with a light face that lights up under the pointer and when pressed; one-pixel
// borders on the two fields. Scoped by name so message boxes keep their own look.
constexpr const char* kStyleSheet = R"(
QPushButton#btn_Atualizar, QPushButton#Btn_Cancelar {
    background: #fbfbfb; border: 1px solid #b4b4b4; border-radius: 2px; padding: 0 6px;
}
QPushButton#btn_Atualizar:hover, QPushButton#Btn_Cancelar:hover {
    background: #e5f1fb; border-color: #3c8fd8;
}
QPushButton#btn_Atualizar:pressed, QPushButton#Btn_Cancelar:pressed {
    background: #cce4f7; border-color: #1b64b0;
}
QPushButton#btn_Atualizar:focus, QPushButton#Btn_Cancelar:focus { border-color: #3c8fd8; }
QPushButton#btn_Atualizar:disabled, QPushButton#Btn_Cancelar:disabled {
    color: #a0a0a0; background: #f4f4f4; border-color: #d0d0d0;
}
QLineEdit#edtEndereco, QLineEdit#edtPorta {
    border: 1px solid #8c8c8c; background: #ffffff; padding: 0 2px;
}
QLineEdit#edtEndereco:focus, QLineEdit#edtPorta:focus { border-color: #3c8fd8; }
QFrame#Bevel1 { border: none; border-top: 1px solid #a0a0a0; }
)";

QFont PixelFont(std::initializer_list<const char*> families, int pixels, bool bold = false,
                bool italic = false) {
    QFont font;
    QStringList list;
    for (const char* f : families)
        list << QString::fromLatin1(f);
    font.setFamilies(list);
    font.setPixelSize(pixels);
    font.setBold(bold);
    font.setItalic(italic);
    return font;
}

// A label drawn the way disabled text always looked on the original system: a light copy one
// pixel down and right under a grey one. A text wider than the label is drawn smaller, down to
// 8 pixels, and only then cut.
class TEmbossedLabel : public QLabel {
  public:
    using QLabel::QLabel;

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = contentsRect();
        QFont f = font();
        QString shown = text();
        while (QFontMetrics(f).horizontalAdvance(shown) > r.width() - 2 && f.pixelSize() > 8)
            f.setPixelSize(f.pixelSize() - 1);
        shown = QFontMetrics(f).elidedText(shown, Qt::ElideRight, r.width() - 2);
        p.setFont(f);
        p.setPen(QColor(255, 255, 255));
        p.drawText(r.translated(1, 1), static_cast<int>(alignment()), shown);
        p.setPen(QColor(128, 128, 128));
        p.drawText(r, static_cast<int>(alignment()), shown);
    }
};

QLabel* MakeLabel(QWidget* parent, const char* name, std::u16string_view text, int x, int y) {
    auto* label = new QLabel(ToQString(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->move(x, y);
    label->adjustSize();
    return label;
}

}  // namespace

TfrmPrincipal::TfrmPrincipal(CommandLine commandLine, TestEnvironment environment, QWidget* parent,
                             TProgresso::TRelogio relogio, std::u16string pasta)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      commandLine_(std::move(commandLine)),
      environment_(std::move(environment)),
      opcaoPasta_(std::move(pasta)),
      cdsSendFile_(std::u16string(kSendFileDataSetName),
                   [this](const Exception& e) { HandleException(std::make_exception_ptr(e)); }),
      applicationTitle_(FromQString(QCoreApplication::applicationName())),
      progresso_(std::move(relogio)) {
    AddSendFileFields(cdsSendFile_);
    for (int i = 0; i < kProgressIconCount; ++i) {
        imgListView_[static_cast<std::size_t>(i)] = DrawProgressIcon(i);
    }
    queued_ = std::make_unique<TQueuedView>(*this, this);
    BuildControls();
    Guarded([this] { FormCreate(); });
}

TfrmPrincipal::~TfrmPrincipal() {
    EndRun();
}

void TfrmPrincipal::BuildControls() {
    setObjectName(QStringLiteral("frmPrincipal"));
    setWindowTitle(ToQString(kDesignCaption));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PixelFont({"Tahoma", "DejaVu Sans"}, 11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kButtonFace);
    pal.setColor(QPalette::Button, kButtonFace);
    setPalette(pal);
    setAutoFillBackground(true);
    setStyleSheet(QString::fromLatin1(kStyleSheet));
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }

    imgLogo_ = new QLabel(this);
    imgLogo_->setObjectName(QStringLiteral("imgLogo"));
    imgLogo_->setGeometry(0, 0, kClientWidth, 73);
    imgLogo_->setScaledContents(true);

    lblVersaoTeste_ = new QLabel(QStringLiteral("VERS\u00C3O PARA TESTES."), this);
    lblVersaoTeste_->setObjectName(QStringLiteral("lblVersaoTeste"));
    lblVersaoTeste_->setGeometry(8, 16, 241, 24);
    lblVersaoTeste_->setFont(PixelFont({"MS Sans Serif", "DejaVu Sans"}, 19, true));
    QPalette red = lblVersaoTeste_->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lblVersaoTeste_->setPalette(red);
    lblVersaoTeste_->setAttribute(Qt::WA_TranslucentBackground);
    lblVersaoTeste_->hide();

    Notebook1_ = new QStackedWidget(this);
    Notebook1_->setObjectName(QStringLiteral("Notebook1"));
    Notebook1_->setGeometry(0, 77, 508, 223);
    pagePrincipal_ = new QWidget;
    pagePrincipal_->setObjectName(QStringLiteral("Principal"));
    pageProgresso_ = new QWidget;
    pageProgresso_->setObjectName(QStringLiteral("Progresso"));
    Notebook1_->addWidget(pagePrincipal_);
    Notebook1_->addWidget(pageProgresso_);

    GroupBox1_ = new QGroupBox(QStringLiteral("  Selecione o Servidor do Aplica\u00E7\u00E3o  "),
                               pagePrincipal_);
    GroupBox1_->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1_->setGeometry(36, 54, 433, 105);

    Label2_ = MakeLabel(GroupBox1_, "Label2", u"Endere\u00E7o: ", 48, 32);
    edtEndereco_ = new QLineEdit(QStringLiteral("Localhost"), GroupBox1_);
    edtEndereco_->setObjectName(QStringLiteral("edtEndereco"));
    edtEndereco_->setGeometry(112, 29, 169, 21);

    Label3_ = MakeLabel(GroupBox1_, "Label3", u"Porta: ", 48, 64);
    edtPorta_ = new QLineEdit(QStringLiteral("211"), GroupBox1_);
    edtPorta_->setObjectName(QStringLiteral("edtPorta"));
    edtPorta_->setGeometry(112, 61, 97, 21);
    vPorta_ = new TUpDown(GroupBox1_);
    vPorta_->setObjectName(QStringLiteral("vPorta"));
    vPorta_->setGeometry(209, 61, 17, 21);
    vPorta_->SetRange(0, 99999);
    vPorta_->SetAssociate(edtPorta_);
    vPorta_->SetPosition(211);

    std::array<QIcon, kProgressIconCount> icons;
    for (std::size_t i = 0; i < icons.size(); ++i)
        icons[i] = QIcon(imgListView_[i]);
    lvModel_ = new TProgressListModel(std::move(icons), this);
    lv_ = new QTreeView(pageProgresso_);
    lv_->setObjectName(QStringLiteral("lv"));
    lv_->setGeometry(0, 0, 508, 223);
    lv_->setModel(lvModel_);
    lv_->setColumnWidth(0, 450);
    lv_->header()->setStretchLastSection(false);
    lv_->setHeaderHidden(true);
    lv_->setRootIsDecorated(false);
    lv_->setItemsExpandable(false);
    lv_->setUniformRowHeights(true);
    lv_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv_->setSelectionMode(QAbstractItemView::SingleSelection);
    lv_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv_->setIconSize(QSize(kProgressIconSize, kProgressIconSize));
    QPalette lvPalette = lv_->palette();
    lvPalette.setColor(QPalette::Base, kButtonFace);
    lv_->setPalette(lvPalette);

    Bevel1_ = new QFrame(this);
    Bevel1_->setObjectName(QStringLiteral("Bevel1"));
    Bevel1_->setGeometry(2, 315, 504, 2);

    Panel1_ = new QFrame(this);
    Panel1_->setObjectName(QStringLiteral("Panel1"));
    Panel1_->setFrameShape(QFrame::NoFrame);
    Panel1_->setAutoFillBackground(true);
    Panel1_->setGeometry(13, 308, 397, 16);
    banner_ = ToQString(kBanner) + QStringLiteral(AB_VERSION);
    Label1_ = new TEmbossedLabel(banner_, Panel1_);
    Label1_->setObjectName(QStringLiteral("Label1"));
    Label1_->setGeometry(0, 0, 397, 16);
    Label1_->setAlignment(Qt::AlignCenter);
    bannerFont_ = PixelFont({"MS Sans Serif", "DejaVu Sans"}, 11, true, true);
    // Narrower than the banner's: the run's figures need most of the line.
    progressFont_ = PixelFont({"Tahoma", "DejaVu Sans Condensed", "DejaVu Sans"}, 11);
    Label1_->setFont(bannerFont_);
    Label1_->setEnabled(false);

    btn_Atualizar_ = new QPushButton(QStringLiteral("Atualizar"), this);
    btn_Atualizar_->setObjectName(QStringLiteral("btn_Atualizar"));
    btn_Atualizar_->setGeometry(305, 332, 91, 27);
    btn_Atualizar_->setFocusPolicy(Qt::StrongFocus);
    btn_Atualizar_->setAttribute(Qt::WA_Hover);
    Btn_Cancelar_ = new QPushButton(QStringLiteral("Cancelar"), this);
    Btn_Cancelar_->setObjectName(QStringLiteral("Btn_Cancelar"));
    Btn_Cancelar_->setGeometry(402, 332, 91, 27);
    Btn_Cancelar_->setFocusPolicy(Qt::StrongFocus);
    Btn_Cancelar_->setAttribute(Qt::WA_Hover);
    connect(btn_Atualizar_, &QPushButton::clicked, this, [this] { btn_AtualizarClick(); });
    connect(Btn_Cancelar_, &QPushButton::clicked, this, [this] { close(); });

    lblVersaoTeste_->raise();
    setTabOrder(btn_Atualizar_, Btn_Cancelar_);
    setTabOrder(Btn_Cancelar_, edtEndereco_);
    setTabOrder(edtEndereco_, edtPorta_);
    setTabOrder(edtPorta_, lv_);
    btn_Atualizar_->setFocus();
}

void TfrmPrincipal::FormCreate() {
    applicationTitle_ = std::u16string(kTitle);

    if (commandLine_.ParamStr(6) != kAccessCode) {
        ShowErrorBox(this, std::u16string(kAccessDenied));
        terminated_ = true;
        return;
    }

    setWindowTitle(ToQString(commandLine_.ParamStr(1)));
    edtEndereco_->setText(ToQString(commandLine_.ParamStr(2)));
    vPorta_->SetPosition(TryStrToInt(commandLine_.ParamStr(3)).value_or(0));
    sistema_ = u"S" + commandLine_.ParamStr(4) + u"\\";
    versaoPraTeste_ = AsciiUpper(commandLine_.ParamStr(5)) == u"TESTE";

    if (versaoPraTeste_) {
        lblVersaoTeste_->show();
        if (!environment_.IsPresent()) {
            ShowErrorBox(this, std::u16string(kTestOutsideEnvironment));
            terminated_ = true;
            return;
        }
    }

    try {
        pasta_ = PastaAPublicar(commandLine_.ProgramFolder(), opcaoPasta_, PastaPessoal());
    } catch (const EPastaRecusada& e) {
        ShowErrorBox(this, e.Message());
        terminated_ = true;
        return;
    }
    // A folder other than the program's is named in the caption, so nobody publishes the wrong
    // one unawares.
    if (!opcaoPasta_.empty())
        setWindowTitle(ToQString(commandLine_.ParamStr(1) + u" \u2014 " +
                                 pasta_.substr(0, pasta_.size() - 1)));

    ShowPage(Page::Principal);

    // A logo that does not load is reported, and the record set is still created: without it
    // every send and the closing of the window would fail.
    Guarded([this] { LoadLogo(); });
    cdsSendFile_.CreateDataSet();
}

void TfrmPrincipal::LoadLogo() {
    const std::u16string path = pasta_ + std::u16string(kLogoFile);
    if (!FileExists(path))
        return;
    imgLogo_->setPixmap(QPixmap::fromImage(TJpegImage::LoadFromFile(path)));
}

void TfrmPrincipal::FormClose() {
    if (!cdsSendFile_.Active())
        return;
    cdsSendFile_.EmptyDataSet();
    cdsSendFile_.Close();
}

void TfrmPrincipal::closeEvent(QCloseEvent* event) {
    if (running_ && !closingByRun_) {
        if (!closeRequested_) {
            // Emptying the record set now would pull the file from under the running send.
            closeRequested_ = true;
            ShowProgressLine();
            event->ignore();
            return;
        }
        // Asked again: the user will not wait for the file in hand. The run's connections end,
        // nothing more of the run shows, and the record set waits for the worker to let go.
        closedByAbort_ = true;
        queued_->Shutdown();
        if (onAbort_)
            onAbort_();
        event->accept();
        return;
    }
    if (!formClosed_) {
        formClosed_ = true;
        Guarded([this] { FormClose(); });
    }
    event->accept();
}

void TfrmPrincipal::btn_AtualizarClick() {
    if (!onAtualizar_ || running_ || queued_->IsShutDown())
        return;
    running_ = true;
    worker_ = std::thread([this, handler = onAtualizar_] {
        std::exception_ptr error;
        try {
            handler();
        } catch (...) {
            error = std::current_exception();
        }
        // Behind everything the run showed; straight to the window when the queue is closed.
        auto finished = [this, error] { RunFinished(error); };
        if (!queued_->Post(finished))
            QueueCall(this, finished);
    });
}

void TfrmPrincipal::RunFinished(std::exception_ptr error) {
    if (worker_.joinable())
        worker_.join();
    if (!running_)
        return;  // EndRun came first
    if (error && !closedByAbort_) {
        HandleException(error);
        btn_Atualizar_->setEnabled(true);
    }
    running_ = false;
    showingProgress_ = false;
    ShowProgressLine();
    if (closedByAbort_) {
        if (!formClosed_) {
            formClosed_ = true;
            Guarded([this] { FormClose(); });
        }
        return;
    }
    if (closeRequested_ && !formClosed_)
        close();
}

void TfrmPrincipal::EndRun() {
    if (!running_) {
        queued_->Shutdown();
        return;
    }
    closeRequested_ = true;
    queued_->Shutdown();
    if (worker_.joinable())
        worker_.join();
    running_ = false;
    showingProgress_ = false;
    ShowProgressLine();
    if (closedByAbort_ && !formClosed_) {
        formClosed_ = true;
        Guarded([this] { FormClose(); });
    }
}

void TfrmPrincipal::HandleException(std::exception_ptr error) {
    const std::u16string text = ApplicationErrorText(std::move(error));
    if (QThread::currentThread() != thread()) {
        // Reported on the worker (the record set's store error): the box shows on the GUI thread
        // after what the run showed before, and the worker waits for it as for any box.
        queued_->Call([this, &text] { ShowApplicationErrorBox(this, applicationTitle_, text); });
        return;
    }
    ShowApplicationErrorBox(this, applicationTitle_, text);
}

bool TfrmPrincipal::Guarded(const std::function<void()>& action) {
    try {
        action();
        return true;
    } catch (...) {
        HandleException(std::current_exception());
        return false;
    }
}

std::u16string TfrmPrincipal::EnderecoText() {
    return FromQString(edtEndereco_->text());
}

int TfrmPrincipal::PortaPosition() {
    return vPorta_->Position();
}

const QPixmap& TfrmPrincipal::ProgressIcon(int index) const {
    static const QPixmap none;
    if (index < 0 || index >= kProgressIconCount)
        return none;
    return imgListView_[static_cast<std::size_t>(index)];
}

int TfrmPrincipal::AddRow(const std::u16string& text, int icon) {
    return lvModel_->Append(ToQString(text), icon);
}

void TfrmPrincipal::SetRowIcon(int row, int icon) {
    lvModel_->SetIcon(row, icon);
}

void TfrmPrincipal::ScrollToRow(int row) {
    if (row < 0 || row >= lvModel_->Count())
        return;
    if (batchDepth_ > 0) {
        scrollTarget_ = row;
        return;
    }
    lv_->scrollTo(lvModel_->index(row));
}

void TfrmPrincipal::ClearRows() {
    lvModel_->Clear();
    scrollTarget_ = -1;
}

void TfrmPrincipal::ProcessEvents() {
    QCoreApplication::processEvents();
}

void TfrmPrincipal::ShowWarning(const std::u16string& text) {
    ShowWarningBox(this, text);
}

bool TfrmPrincipal::AskWarningYesNo(const std::u16string& text) {
    return AskWarningYesNoBox(this, text);
}

void TfrmPrincipal::ShowError(const std::u16string& text) {
    ShowErrorBox(this, text);
}

void TfrmPrincipal::ShowMessage(const std::u16string& text) {
    ShowMessageBox(this, applicationTitle_, text);
}

void TfrmPrincipal::SetAtualizarEnabled(bool enabled) {
    btn_Atualizar_->setEnabled(enabled);
}

void TfrmPrincipal::ShowPage(Page page) {
    Notebook1_->setCurrentWidget(page == Page::Principal ? pagePrincipal_ : pageProgresso_);
}

void TfrmPrincipal::CloseWindow() {
    closingByRun_ = true;
    close();
    closingByRun_ = false;
}

void TfrmPrincipal::RunStarted(int arquivos, std::uint64_t bytes) {
    progresso_.RunStarted(arquivos, bytes);
    conexoesQueSairam_.clear();
    avisos_.clear();
    Label1_->setToolTip({});
    showingProgress_ = true;
    ProgressChanged();
}

void TfrmPrincipal::FileProgress(const TArquivoEvento& arquivo, std::uint64_t enviados) {
    progresso_.FileProgress(arquivo, enviados);
    if (const auto percent = progresso_.Percentual(arquivo.Row))
        lvModel_->SetPercent(arquivo.Row, *percent);
    ProgressChanged();
}

void TfrmPrincipal::FileDone(const TArquivoEvento& arquivo, TDesfecho desfecho) {
    progresso_.FileDone(arquivo, desfecho);
    lvModel_->SetPercent(arquivo.Row, -1);
    if (dryRun_) {
        switch (desfecho) {
            case TDesfecho::Enviaria:
                lvModel_->SetNote(arquivo.Row, ToQString(kWouldSend));
                break;
            case TDesfecho::Removeria:
                lvModel_->SetNote(arquivo.Row, ToQString(kWouldRemove));
                break;
            case TDesfecho::Atual:
                lvModel_->SetNote(arquivo.Row, ToQString(kCurrent));
                break;
            default:
                break;
        }
    }
    ProgressChanged();
}

void TfrmPrincipal::RunEnded(const TResumo&) {
    showingProgress_ = false;
    ProgressChanged();
}

void TfrmPrincipal::ConnectionDropped(int conexao, const std::u16string& motivo) {
    // The run goes on with the other connections; the line says so while it lasts, and the
    // reasons stay in its tooltip until the next run (a failed file keeps its red cross).
    conexoesQueSairam_.append(
        QStringLiteral("Conex\u00E3o %1: %2").arg(conexao).arg(ToQString(motivo)));
    Label1_->setToolTip((conexoesQueSairam_ + avisos_).join(QLatin1Char('\n')));
    ProgressChanged();
}

void TfrmPrincipal::Aviso(const std::u16string& texto) {
    // Said on the line while the run lasts, in full in its tooltip until the next run.
    avisos_.append(ToQString(texto));
    Label1_->setToolTip((conexoesQueSairam_ + avisos_).join(QLatin1Char('\n')));
    ProgressChanged();
}

void TfrmPrincipal::BeginBatch() {
    ++batchDepth_;
    lvModel_->BeginBatch();
}

void TfrmPrincipal::EndBatch() {
    lvModel_->EndBatch();
    if (batchDepth_ == 0 || --batchDepth_ > 0)
        return;
    if (scrollTarget_ >= 0) {
        lv_->scrollTo(lvModel_->index(scrollTarget_));
        scrollTarget_ = -1;
    }
    if (lineChanged_)
        ShowProgressLine();
}

void TfrmPrincipal::ProgressChanged() {
    if (batchDepth_ > 0) {
        lineChanged_ = true;
        return;
    }
    ShowProgressLine();
}

// The line under the list: the banner, or during a run where it stands (or that it is closing).
void TfrmPrincipal::ShowProgressLine() {
    lineChanged_ = false;
    const bool closing = running_ && closeRequested_;
    const bool banner = !closing && !showingProgress_;
    Label1_->setFont(banner ? bannerFont_ : progressFont_);
    if (closing)
        Label1_->setText(ToQString(kClosing));
    else if (banner)
        Label1_->setText(banner_);
    else {
        QString texto = ToQString(progresso_.Texto());
        if (conexoesQueSairam_.size() == 1)
            texto += ToQString(kOneConnectionLeft);
        else if (conexoesQueSairam_.size() > 1)
            texto += QStringLiteral(" \u00B7 %1").arg(conexoesQueSairam_.size()) +
                     ToQString(kConnectionsLeft);
        if (avisos_.size() == 1)
            texto += ToQString(kOneNotice);
        else if (avisos_.size() > 1)
            texto += QStringLiteral(" \u00B7 %1").arg(avisos_.size()) + ToQString(kNotices);
        Label1_->setText(texto);
    }
}

}  // namespace ab
