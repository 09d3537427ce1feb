// The main window on Qt's offscreen platform: controls and layout, start-up gates and fields,
// the port field, the progress icons, the view the run drives, the error and close handlers, the
// run on its worker thread (rows in batches, questions, closing once and twice), the progress
// line and the rows' percent and dry-run verdicts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeView>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "BoxWatcher.h"
#include "JpegWriter.h"
#include "gui/QtText.h"
#include "gui/TUpDown.h"
#include "gui/TfrmPrincipal.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "support/ManualClock.h"

namespace ab {
namespace {

using test::ManualClock;

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test::BoxRecord;
using test::BoxWatcher;

const QString kAppTitle = QStringLiteral("Atualizador Brevant Sistemas.");

std::vector<std::u16string> Args(const char* caption, const char* host, const char* port,
                                 const char* sistema, const char* flag, const char* code) {
    return {FromUtf8(caption), FromUtf8(host), FromUtf8(port),
            FromUtf8(sistema), FromUtf8(flag), FromUtf8(code)};
}

std::vector<std::u16string> GoodArgs() {
    return Args("Meu Sistema", "servidor.local", "3000", "01", "normal", "Vr@ndoxT");
}

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ab-gui-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "bin");
        fs::create_directories(dir_ / "root" / "etc");
    }
    void TearDown() override {
        window_.reset();
        fs::remove_all(dir_);
    }

    void MakeTestEnvironment() {
        std::ofstream(dir_ / "root/etc/zv.ini") << "[zv]\n";
        fs::create_directories(dir_ / "root/mnt/zv-rede/Sistemas/Testes");
    }

    // Creates the window (running its start-up handler) with the arguments given as a process
    // would receive them; boxes shown meanwhile are answered and recorded by `boxes`.
    // `pasta` is the folder option; `program` the program's path (in bin/ when empty).
    TfrmPrincipal& Start(const std::vector<std::u16string>& args, TProgresso::TRelogio relogio = {},
                         std::u16string pasta = {}, std::u16string program = {}) {
        if (program.empty())
            program = FromUtf8((dir_ / "bin/AtualizadorBrevant").string());
        window_ = std::make_unique<TfrmPrincipal>(
            CommandLine(u"\"" + program + u"\" " + CommandLine::Join(args), program),
            TestEnvironment(dir_ / "root"), nullptr, std::move(relogio), std::move(pasta));
        return *window_;
    }

    QString RowText(int row) {
        return Find<QTreeView>("lv")->model()->index(row, 0).data().toString();
    }
    int RowCount() { return Find<QTreeView>("lv")->model()->rowCount(); }

    template <typename T>
    T* Find(const char* name) {
        T* w = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    fs::path dir_;
    std::unique_ptr<TfrmPrincipal> window_;
};

void ExpectBox(const BoxRecord& box, const QString& title, QMessageBox::Icon icon,
               std::u16string_view text, QStringList buttons = {QStringLiteral("OK")}) {
    EXPECT_EQ(box.title, title);
    EXPECT_EQ(box.icon, icon);
    EXPECT_EQ(box.text, ToQString(text));
    EXPECT_EQ(box.format, Qt::PlainText);
    EXPECT_EQ(box.buttons, buttons);
}

TEST_F(MainWindow, ControlsPositionsSizesAndTexts) {
    BoxWatcher boxes;
    TfrmPrincipal& w = Start(GoodArgs());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(w.size(), QSize(510, 367));
    EXPECT_EQ(w.minimumSize(), QSize(510, 367));
    EXPECT_EQ(w.maximumSize(), QSize(510, 367));
    EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_EQ(w.font().pixelSize(), 11);

    struct Control {
        const char* name;
        const char* parent;
        QRect geometry;  // an empty size: only the position is fixed (labels size to their text)
        const char* text;
    } controls[] = {
        {"imgLogo", "frmPrincipal", {0, 0, 510, 73}, ""},
        {"lblVersaoTeste", "frmPrincipal", {8, 16, 241, 24}, "VERSÃO PARA TESTES."},
        {"Notebook1", "frmPrincipal", {0, 77, 508, 223}, nullptr},
        {"GroupBox1", "Principal", {36, 54, 433, 105}, "  Selecione o Servidor do Aplicação  "},
        {"Label2", "GroupBox1", {48, 32, 0, 0}, "Endereço: "},
        {"edtEndereco", "GroupBox1", {112, 29, 169, 21}, "servidor.local"},
        {"Label3", "GroupBox1", {48, 64, 0, 0}, "Porta: "},
        {"edtPorta", "GroupBox1", {112, 61, 97, 21}, "3000"},
        {"vPorta", "GroupBox1", {209, 61, 17, 21}, nullptr},
        {"lv", "Progresso", {0, 0, 508, 223}, nullptr},
        {"Bevel1", "frmPrincipal", {2, 315, 504, 2}, nullptr},
        {"Panel1", "frmPrincipal", {13, 308, 397, 16}, nullptr},
        {"Label1", "Panel1", {0, 0, 397, 16}, nullptr},
        {"btn_Atualizar", "frmPrincipal", {305, 332, 91, 27}, "Atualizar"},
        {"Btn_Cancelar", "frmPrincipal", {402, 332, 91, 27}, "Cancelar"},
    };
    for (const Control& c : controls) {
        SCOPED_TRACE(c.name);
        auto* widget = Find<QWidget>(c.name);
        ASSERT_NE(widget, nullptr);
        ASSERT_NE(widget->parentWidget(), nullptr);
        EXPECT_EQ(widget->parentWidget()->objectName(), QString::fromLatin1(c.parent));
        EXPECT_EQ(widget->pos(), c.geometry.topLeft());
        if (!c.geometry.isEmpty()) {
            EXPECT_EQ(widget->size(), c.geometry.size());
        }
        if (c.text == nullptr)
            continue;
        QString shown;
        if (auto* label = qobject_cast<QLabel*>(widget))
            shown = label->text();
        if (auto* edit = qobject_cast<QLineEdit*>(widget))
            shown = edit->text();
        if (auto* button = qobject_cast<QPushButton*>(widget))
            shown = button->text();
        if (auto* group = qobject_cast<QGroupBox*>(widget))
            shown = group->title();
        EXPECT_EQ(shown, QString::fromUtf8(c.text));
    }

    // Two pages without tabs; the server page shows.
    auto* notebook = Find<QStackedWidget>("Notebook1");
    ASSERT_EQ(notebook->count(), 2);
    EXPECT_EQ(notebook->widget(0)->objectName(), QStringLiteral("Principal"));
    EXPECT_EQ(notebook->widget(1)->objectName(), QStringLiteral("Progresso"));
    EXPECT_EQ(notebook->currentIndex(), 0);

    auto* lv = Find<QTreeView>("lv");
    EXPECT_EQ(lv->model()->columnCount(), 1);
    EXPECT_EQ(lv->model()->headerData(0, Qt::Horizontal), QStringLiteral("Arquivo"));
    EXPECT_EQ(lv->columnWidth(0), 450);
    EXPECT_TRUE(lv->isHeaderHidden());
    EXPECT_EQ(lv->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(lv->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(lv->iconSize(), QSize(16, 16));
    EXPECT_FALSE(lv->rootIsDecorated());
    EXPECT_EQ(lv->palette().color(QPalette::Base), QColor(240, 240, 240));

    auto* testLabel = Find<QLabel>("lblVersaoTeste");
    EXPECT_TRUE(testLabel->isHidden());
    EXPECT_TRUE(testLabel->font().bold());
    EXPECT_EQ(testLabel->font().pixelSize(), 19);
    EXPECT_EQ(testLabel->palette().color(QPalette::WindowText), QColor(Qt::red));

    auto* banner = Find<QLabel>("Label1");
    EXPECT_FALSE(banner->isEnabled());
    EXPECT_TRUE(banner->font().bold() && banner->font().italic());
    EXPECT_TRUE(banner->text().startsWith(QStringLiteral("Brevant Sistemas")));
    EXPECT_TRUE(banner->text().endsWith(QStringLiteral("v1.0.0")));

    EXPECT_TRUE(Find<QLabel>("imgLogo")->pixmap().isNull());  // no Logo.jpg beside the program
}

TEST_F(MainWindow, StartupFillsCaptionFieldsAndState) {
    BoxWatcher boxes;
    TfrmPrincipal& w = Start(GoodArgs());
    EXPECT_FALSE(w.Terminated());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Meu Sistema"));
    EXPECT_EQ(w.EnderecoText(), u"servidor.local");
    EXPECT_EQ(w.PortaPosition(), 3000);
    EXPECT_EQ(w.Sistema(), u"S01\\");
    EXPECT_FALSE(w.VersaoPraTeste());
    EXPECT_EQ(w.ApplicationTitle(), FromQString(kAppTitle));
    EXPECT_EQ(w.ProgramFolder(), FromUtf8((dir_ / "bin/").string()));
    EXPECT_TRUE(w.cdsSendFile().Active());
    EXPECT_EQ(w.cdsSendFile().FieldCount(), 3);
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(MainWindow, PortArgumentParsesAsWholeNumberOrZero) {
    struct Case {
        const char* arg;
        int position;
        const char* shown;
    } cases[] = {
        {"3000", 3000, "3000"}, {"abc", 0, "0"}, {" 211", 211, "211"},       {"$10", 16, "16"},
        {"0x1F", 31, "31"},     {"-5", 0, "0"},  {"123456", 99999, "99999"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        Start(Args("C", "h", c.arg, "01", "n", "Vr@ndoxT"));
        ASSERT_FALSE(window_->Terminated());
        EXPECT_EQ(window_->PortaPosition(), c.position);
        EXPECT_EQ(Find<QLineEdit>("edtPorta")->text(), QString::fromLatin1(c.shown));
    }
}

TEST_F(MainWindow, TestFlagIsUpperCasedAsciiEqualToTeste) {
    MakeTestEnvironment();
    struct Case {
        const char* flag;
        bool test;
    } cases[] = {{"teste", true},   {"Teste", true},   {"TESTE", true},
                 {"TESTE ", false}, {"testes", false}, {"n", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.flag);
        BoxWatcher boxes;
        TfrmPrincipal& w = Start(Args("C", "h", "211", "01", c.flag, "Vr@ndoxT"));
        EXPECT_FALSE(w.Terminated());
        EXPECT_EQ(w.VersaoPraTeste(), c.test);
        EXPECT_EQ(!Find<QLabel>("lblVersaoTeste")->isHidden(), c.test);
        EXPECT_TRUE(boxes.Boxes().empty());
    }
}

TEST_F(MainWindow, GatesRefuseTheStart) {
    struct Case {
        const char* what;
        std::vector<std::u16string> args;
        std::u16string_view message;
        bool testLabelShown;
    } cases[] = {
        {"no arguments", {}, TfrmPrincipal::kAccessDenied, false},
        {"wrong code", Args("C", "h", "211", "01", "n", "vr@ndoxT"), TfrmPrincipal::kAccessDenied,
         false},
        {"code with a trailing space", Args("C", "h", "211", "01", "n", "Vr@ndoxT "),
         TfrmPrincipal::kAccessDenied, false},
        {"empty quoted caption shifts the code away", Args("", "h", "211", "01", "n", "Vr@ndoxT"),
         TfrmPrincipal::kAccessDenied, false},
        {"test mode outside its environment", Args("C", "h", "211", "01", "teste", "Vr@ndoxT"),
         TfrmPrincipal::kTestOutsideEnvironment, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoxWatcher boxes;
        TfrmPrincipal& w = Start(c.args);
        EXPECT_TRUE(w.Terminated());
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        ExpectBox(boxes.Boxes()[0], QStringLiteral("Error"), QMessageBox::Critical, c.message);
        EXPECT_EQ(!Find<QLabel>("lblVersaoTeste")->isHidden(), c.testLabelShown);
        EXPECT_FALSE(w.cdsSendFile().Active());
        EXPECT_FALSE(w.isVisible());
    }
    // Refused by the access gate, the window keeps its design caption.
    BoxWatcher boxes;
    EXPECT_EQ(Start({}).windowTitle(), QStringLiteral("Atualizador do Sistema."));
}

// The folder to publish is the last gate: an installed program's own folder, or a --pasta that
// names a system folder or nothing, gives the error box and the window does not open.
TEST_F(MainWindow, FolderGateRefusesTheStart) {
    struct Case {
        const char* what;
        std::u16string pasta;
        std::u16string program;
        std::u16string message;
    } cases[] = {
        {"installed in /usr/bin",
         {},
         u"/usr/bin/AtualizadorBrevant",
         u"A pasta do programa, \"/usr/bin\", \u00E9 uma pasta do sistema e n\u00E3o pode ser "
         u"publicada; indique a pasta da vers\u00E3o com --pasta PASTA."},
        {"--pasta /",
         u"/",
         {},
         u"A pasta \"/\" (--pasta) \u00E9 a raiz do sistema e n\u00E3o pode ser publicada; "
         u"indique a pasta da vers\u00E3o com --pasta PASTA."},
        {"--pasta naming nothing",
         FromUtf8((dir_ / "nada").string()),
         {},
         u"A pasta \"" + FromUtf8((dir_ / "nada").string()) + u"\" (--pasta) n\u00E3o existe."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BoxWatcher boxes;
        TfrmPrincipal& w = Start(GoodArgs(), {}, c.pasta, c.program);
        EXPECT_TRUE(w.Terminated());
        ASSERT_EQ(boxes.Boxes().size(), 1u);
        ExpectBox(boxes.Boxes()[0], QStringLiteral("Error"), QMessageBox::Critical, c.message);
        EXPECT_FALSE(w.cdsSendFile().Active());
        EXPECT_FALSE(w.isVisible());
    }
}

TEST_F(MainWindow, PortFieldAndSpinnerRules) {
    Start(GoodArgs());
    window_->show();
    auto* edit = Find<QLineEdit>("edtPorta");
    auto* spinner = Find<TUpDown>("vPorta");
    EXPECT_EQ(spinner->Minimum(), 0);
    EXPECT_EQ(spinner->Maximum(), 99999);
    // Started on port 3000; letters typed after it keep 3000.
    edit->end(false);
    QTest::keyClicks(edit, QStringLiteral("abc"));
    EXPECT_EQ(edit->text(), QStringLiteral("3000abc"));
    EXPECT_EQ(window_->PortaPosition(), 3000);

    struct Step {
        const char* typed;  // replaces the field's text, typed key by key
        int position;
    } steps[] = {
        {"3000", 3000}, {"3000abc", 3000}, {"0", 0},   {"100000", 0},    {" 42 ", 42},
        {"3,000", 42},  {"", 42},          {"-1", 42}, {"99999", 99999}, {"00080", 80},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.typed);
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        QTest::keyClicks(edit, QString::fromLatin1(s.typed));
        EXPECT_EQ(edit->text(), QString::fromLatin1(s.typed));
        EXPECT_EQ(window_->PortaPosition(), s.position);
    }

    // Arrows and keys step from the position and rewrite the field without separators.
    spinner->SetPosition(12344);
    EXPECT_EQ(edit->text(), QStringLiteral("12344"));
    QTest::mouseClick(spinner->UpButton(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("12345"));
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(window_->PortaPosition(), 12343);
    edit->setText(QStringLiteral("zz"));
    QTest::mouseClick(spinner->UpButton(), Qt::LeftButton);
    EXPECT_EQ(edit->text(), QStringLiteral("12344"));  // from the last valid position
    spinner->SetPosition(0);
    QTest::mouseClick(spinner->DownButton(), Qt::LeftButton);
    EXPECT_EQ(window_->PortaPosition(), 0);
    spinner->SetPosition(99999);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), QStringLiteral("99999"));
}

// Share of the opaque pixels' colour carried by each channel.
struct Dominant {
    double red = 0, green = 0, blue = 0;
    int opaque = 0, rightHalf = 0;
};

Dominant Analyse(const QImage& image) {
    Dominant d;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.alpha() < 128)
                continue;
            ++d.opaque;
            if (x >= image.width() / 2)
                ++d.rightHalf;
            d.red += c.red();
            d.green += c.green();
            d.blue += c.blue();
        }
    }
    return d;
}

TEST_F(MainWindow, ProgressIconsByIndex) {
    Start(GoodArgs());
    std::vector<QImage> images;
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const QImage image =
            window_->ProgressIcon(i).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(image.size(), QSize(16, 16));
        for (QPoint corner : {QPoint(0, 0), QPoint(15, 0), QPoint(0, 15), QPoint(15, 15)}) {
            EXPECT_EQ(qAlpha(image.pixel(corner)), 0);
        }
        images.push_back(image);
    }
    const Dominant arrow = Analyse(images[0]);
    const Dominant check = Analyse(images[1]);
    const Dominant cross = Analyse(images[2]);
    EXPECT_GT(arrow.opaque, 40);
    EXPECT_GT(arrow.blue, 2 * arrow.red);
    EXPECT_GT(arrow.blue, 1.5 * arrow.green);
    EXPECT_GT(arrow.rightHalf, arrow.opaque - arrow.rightHalf);  // the head is on the right
    EXPECT_GT(check.opaque, 20);
    EXPECT_GT(check.green, 2 * check.red);
    EXPECT_GT(check.green, 2 * check.blue);
    EXPECT_GT(cross.opaque, 20);
    EXPECT_GT(cross.red, 3 * cross.green);
    EXPECT_GT(cross.red, 3 * cross.blue);
    // Passed over: grey, neither green nor red.
    const Dominant skipped = Analyse(images[3]);
    EXPECT_GT(skipped.opaque, 40);
    EXPECT_LT(std::abs(skipped.red - skipped.green), skipped.opaque / 10);
    EXPECT_LT(std::abs(skipped.red - skipped.blue), skipped.opaque / 10);
    EXPECT_TRUE(window_->ProgressIcon(4).isNull());

    // Rows carry the image of their index, and change it.
    const int row = window_->AddRow(u"Carga.sql", IMainView::IconProcessing);
    EXPECT_EQ(row, 0);
    auto* lv = Find<QTreeView>("lv");
    auto rowImage = [&](int r) {
        return lv->model()
            ->index(r, 0)
            .data(Qt::DecorationRole)
            .value<QIcon>()
            .pixmap(16, 16)
            .toImage()
            .convertToFormat(QImage::Format_ARGB32);
    };
    EXPECT_EQ(rowImage(0), images[0]);
    window_->SetRowIcon(0, IMainView::IconFailed);
    EXPECT_EQ(rowImage(0), images[2]);
    window_->SetRowIcon(0, IMainView::IconDone);
    EXPECT_EQ(rowImage(0), images[1]);
}

TEST_F(MainWindow, ViewCallsDriveTheWidgets) {
    TfrmPrincipal& w = Start(GoodArgs());
    IMainView& view = w;
    view.ShowPage(IMainView::Page::Progresso);
    auto* notebook = Find<QStackedWidget>("Notebook1");
    EXPECT_EQ(notebook->currentWidget()->objectName(), QStringLiteral("Progresso"));
    EXPECT_EQ(view.AddRow(u"a.txt", 0), 0);
    EXPECT_EQ(view.AddRow(u"Relat\u00F3rio <b>.rpt", 0), 1);
    EXPECT_EQ(RowText(1), QStringLiteral("Relatório <b>.rpt"));
    view.ScrollToRow(1);
    view.SetRowIcon(7, 1);  // no such row: nothing happens
    view.ScrollToRow(7);
    view.ClearRows();
    EXPECT_EQ(RowCount(), 0);
    view.ShowPage(IMainView::Page::Principal);
    EXPECT_EQ(notebook->currentIndex(), 0);
    view.SetAtualizarEnabled(false);
    EXPECT_FALSE(Find<QPushButton>("btn_Atualizar")->isEnabled());
    view.SetAtualizarEnabled(true);
    EXPECT_TRUE(Find<QPushButton>("btn_Atualizar")->isEnabled());
    Find<QLineEdit>("edtEndereco")->setText(QStringLiteral("  outro  "));
    EXPECT_EQ(view.EnderecoText(), u"  outro  ");
}

TEST_F(MainWindow, MessageBoxesHaveTheirTitlesIconsAndButtons) {
    TfrmPrincipal& w = Start(GoodArgs());
    IMainView& view = w;
    BoxWatcher boxes(
        {QString(), QStringLiteral("&Yes"), QStringLiteral("&No"), QString(), QString()});
    const std::u16string warning =
        u"Esta \u00E9 uma vers\u00E3o de teste!\r\nE n\u00E3o pode ser executada nesse servidor.";
    view.ShowWarning(warning);
    const std::u16string question =
        u"N\u00E3o foi poss\u00EDvel enviar o Arquivo: \r\n/x/<b>a"
        u"\r\n\r\nContinuar?";
    EXPECT_TRUE(view.AskWarningYesNo(question));
    EXPECT_FALSE(view.AskWarningYesNo(question));
    view.ShowError(u"e");
    view.ShowMessage(u"O Servidor n\u00E3o \u00E9 valido!");
    ASSERT_EQ(boxes.Boxes().size(), 5u);
    const QStringList yesNo = {QStringLiteral("&Yes"), QStringLiteral("&No")};
    ExpectBox(boxes.Boxes()[0], QStringLiteral("Warning"), QMessageBox::Warning, warning);
    ExpectBox(boxes.Boxes()[1], QStringLiteral("Warning"), QMessageBox::Warning, question, yesNo);
    ExpectBox(boxes.Boxes()[2], QStringLiteral("Warning"), QMessageBox::Warning, question, yesNo);
    ExpectBox(boxes.Boxes()[3], QStringLiteral("Error"), QMessageBox::Critical, u"e");
    ExpectBox(boxes.Boxes()[4], kAppTitle, QMessageBox::NoIcon,
              u"O Servidor n\u00E3o \u00E9 valido!");
}

// Waits on the worker (no event loop there) for what the GUI thread will do.
bool WorkerWaitsFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST_F(MainWindow, EscapingErrorIsReportedAndTheWindowKeepsRunning) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    std::atomic<int> runs = 0;
    std::atomic<bool> onWorker = false;
    const auto guiThread = std::this_thread::get_id();
    w.SetAtualizarHandler([&] {
        ++runs;
        onWorker = std::this_thread::get_id() != guiThread;
        IMainView& v = w.RunView();
        v.SetAtualizarEnabled(false);
        v.ShowPage(IMainView::Page::Progresso);
        try {
            throw Exception(u"Connection cannot be nil.  Make sure the connection has been opened");
        } catch (...) {
            std::throw_with_nested(Exception(u"outer"));
        }
    });
    BoxWatcher boxes;
    auto* button = Find<QPushButton>("btn_Atualizar");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.RunInProgress(); }, 10000));
    EXPECT_TRUE(onWorker);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], kAppTitle, QMessageBox::Critical,
              u"Connection cannot be nil.  Make sure the connection has been opened.");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentIndex(), 1);
    QTest::mouseClick(button, Qt::LeftButton);  // a new run starts
    ASSERT_TRUE(QTest::qWaitFor([&] { return runs == 2 && !w.RunInProgress(); }, 10000));
    EXPECT_EQ(boxes.Boxes().size(), 2u);
}

TEST_F(MainWindow, CloseDuringARunWaitsForTheRunToReturn) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    std::atomic<bool> started = false, release = false, sawRequest = false;
    w.SetAtualizarHandler([&] {
        w.RunView().AddRow(u"a.txt", IMainView::IconProcessing);
        started = true;
        sawRequest = WorkerWaitsFor([&] { return w.RunView().CloseRequested(); });
        WorkerWaitsFor([&] { return release.load(); });
    });
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load(); }, 10000));
    // The user presses "Cancelar" while the run goes on: the close waits for it.
    QTest::mouseClick(Find<QPushButton>("Btn_Cancelar"), Qt::LeftButton);
    EXPECT_TRUE(w.CloseRequested());
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(w.cdsSendFile().Active());  // the record set survives under the run
    EXPECT_EQ(Find<QLabel>("Label1")->text(), ToQString(TfrmPrincipal::kClosing));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sawRequest.load(); }, 10000));
    EXPECT_TRUE(w.isVisible());
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 10000));  // once the run returned
    EXPECT_FALSE(w.RunInProgress());
    EXPECT_FALSE(w.cdsSendFile().Active());
}

TEST_F(MainWindow, TheRunsOwnCloseIsImmediate) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    std::atomic<bool> release = false;
    w.SetAtualizarHandler([&] {
        w.RunView().CloseWindow();
        WorkerWaitsFor([&] { return release.load(); });
    });
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.isVisible(); }, 10000));
    EXPECT_TRUE(w.RunInProgress());  // closed without waiting for the run to return
    EXPECT_FALSE(w.CloseRequested());
    EXPECT_FALSE(w.cdsSendFile().Active());
    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.RunInProgress(); }, 10000));
}

// A second close while the run still waits on the server: the abort handler ends the run's
// connections and the window closes at once; what the run asks or shows later goes nowhere, and
// the record set is emptied only when the worker let go of it.
TEST_F(MainWindow, SecondCloseDuringARunAbortsAndClosesAtOnce) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    std::atomic<int> aborts = 0;
    std::atomic<bool> started = false, release = false, lateAnswer = true;
    w.SetAbortHandler([&] { ++aborts; });
    w.SetAtualizarHandler([&] {
        IMainView& v = w.RunView();
        v.ShowPage(IMainView::Page::Progresso);
        v.AddRow(u"grande.bin", IMainView::IconProcessing);
        started = true;
        // A server call that only the abort ends.
        WorkerWaitsFor([&] { return aborts > 0; });
        WorkerWaitsFor([&] { return release.load(); });
        v.AddRow(u"late.txt", IMainView::IconProcessing);
        lateAnswer = v.AskWarningYesNo(u"Continuar?");
        v.ShowMessage(u"late");
    });
    BoxWatcher boxes;
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return started.load() && RowCount() == 1; }, 10000));

    QTest::mouseClick(Find<QPushButton>("Btn_Cancelar"), Qt::LeftButton);
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(aborts, 0);
    QTest::mouseClick(Find<QPushButton>("Btn_Cancelar"), Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_EQ(aborts, 1);
    EXPECT_TRUE(w.RunInProgress());
    EXPECT_TRUE(w.cdsSendFile().Active());  // the worker still has it

    release = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.RunInProgress(); }, 10000));
    EXPECT_FALSE(lateAnswer);  // released with No, nobody asked
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(RowCount(), 1);
    EXPECT_FALSE(w.cdsSendFile().Active());
    EXPECT_EQ(aborts, 1);
}

// The window goes away while the run waits for an answer nobody will give (the GUI thread never
// got to the question): the question is released with No and the run's thread joined.
TEST_F(MainWindow, DestroyingTheWindowReleasesAWaitingQuestion) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    std::atomic<int> answer = -1;
    std::atomic<bool> closeSeen = false;
    w.SetAtualizarHandler([&] {
        answer = w.RunView().AskWarningYesNo(u"Continuar?") ? 1 : 0;
        closeSeen = w.RunView().CloseRequested();
    });
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    std::this_thread::sleep_for(50ms);
    window_.reset();
    EXPECT_EQ(answer, 0);
    EXPECT_TRUE(closeSeen);
}

// Rows from the worker arrive in a few batches (one insertion each), in order, with their icons,
// the newest row scrolled to; everything sent before a question is on the list when its box shows.
TEST_F(MainWindow, RunViewShowsRowsInBatchesAndBeforeAQuestion) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    auto* lv = Find<QTreeView>("lv");
    int insertions = 0;
    QObject::connect(lv->model(), &QAbstractItemModel::rowsInserted, [&] { ++insertions; });
    constexpr int kRows = 10000;
    std::atomic<bool> done = false, answer = false;
    const auto start = std::chrono::steady_clock::now();
    w.SetAtualizarHandler([&] {
        IMainView& v = w.RunView();
        v.ClearRows();
        v.ShowPage(IMainView::Page::Progresso);
        for (int i = 0; i < kRows; ++i) {
            const int row = v.AddRow(u"f" + IntToStr(i), IMainView::IconProcessing);
            v.ScrollToRow(row);
            v.SetRowIcon(row, i % 7 == 0 ? IMainView::IconFailed : IMainView::IconDone);
        }
        answer = v.AskWarningYesNo(u"Continuar?");
        done = true;
    });
    int rowsWhenAsked = -1;
    QString lastWhenAsked;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || rowsWhenAsked >= 0)
            return;
        rowsWhenAsked = lv->model()->rowCount();
        lastWhenAsked = lv->model()->index(kRows - 1, 0).data().toString();
        box->buttons().first()->click();  // "&Yes"
    });
    poll.start();
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.RunInProgress(); }, 20000));
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);

    EXPECT_TRUE(done && answer);
    EXPECT_EQ(rowsWhenAsked, kRows);
    EXPECT_EQ(lastWhenAsked, QStringLiteral("f9999"));
    ASSERT_EQ(RowCount(), kRows);
    // At most one insertion per batch, and a batch at most every 33 ms (plus the question's).
    EXPECT_LE(insertions, 2 + elapsed / TQueuedView::kIntervalo);
    EXPECT_LT(insertions, kRows / 10);
    for (int row : {0, 1, 6, 7, 5000, kRows - 1}) {
        SCOPED_TRACE(row);
        EXPECT_EQ(RowText(row), QStringLiteral("f%1").arg(row));
        const QImage shown = lv->model()
                                 ->index(row, 0)
                                 .data(Qt::DecorationRole)
                                 .value<QIcon>()
                                 .pixmap(16, 16)
                                 .toImage();
        const int icon = row % 7 == 0 ? IMainView::IconFailed : IMainView::IconDone;
        EXPECT_EQ(shown, w.ProgressIcon(icon).toImage());
    }
    const QScrollBar* bar = lv->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
}

// The record set reports a store error on the worker during a send: its box shows on the GUI
// thread, and the worker goes on once it was answered.
TEST_F(MainWindow, ErrorReportedOnTheWorkerShowsOnTheGuiThread) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    BoxWatcher boxes;
    std::atomic<bool> returned = false;
    std::thread worker([&] {
        w.HandleException(std::make_exception_ptr(Exception(u"Insufficient memory")));
        returned = true;
    });
    const bool answered = QTest::qWaitFor([&] { return returned.load(); }, 10000);
    worker.join();
    ASSERT_TRUE(answered);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], kAppTitle, QMessageBox::Critical, u"Insufficient memory.");
}

// The line under the list follows the run (once per batch) and gives way to the banner at its
// end; a file a second on its way shows its percent, which goes when it is done.
TEST_F(MainWindow, ProgressLineAndPercentFollowTheRun) {
    ManualClock clock;
    TfrmPrincipal& w = Start(GoodArgs(), clock.Relogio());
    IMainView& v = w;
    auto* line = Find<QLabel>("Label1");
    const QString banner = line->text();
    constexpr std::uint64_t MiB = 1024 * 1024;

    w.BeginBatch();
    v.RunStarted(2, 4 * MiB);
    EXPECT_EQ(line->text(), banner);  // not before the batch shows
    w.EndBatch();
    EXPECT_EQ(line->text(), QStringLiteral("0 de 2 arquivos \u00B7 0 bytes enviados"));

    const TArquivoEvento grande{
        v.AddRow(u"grande.bin", 0), u"/p/grande.bin", u"S01\\grande.bin", 2 * MiB, {}};
    v.FileProgress(grande, 0);
    clock.Set(900ms);
    v.FileProgress(grande, MiB / 2);
    EXPECT_EQ(RowText(0), QStringLiteral("grande.bin"));  // under a second: no percent yet
    clock.Set(2000ms);
    v.FileProgress(grande, MiB);
    EXPECT_EQ(RowText(0), QStringLiteral("grande.bin \u2014 50%"));
    EXPECT_EQ(line->text(), QStringLiteral("0 de 2 arquivos \u00B7 1,0 MB enviados \u00B7 512 KB/s "
                                           "\u00B7 faltam 0:06"));
    v.SetRowIcon(grande.Row, IMainView::IconDone);
    v.FileDone(grande, TDesfecho::Enviado);
    EXPECT_EQ(RowText(0), QStringLiteral("grande.bin"));
    EXPECT_TRUE(line->text().startsWith(QStringLiteral("1 de 2 arquivos \u00B7 2,0 MB enviados")));

    TResumo resumo;
    v.RunEnded(resumo);
    EXPECT_EQ(line->text(), banner);
}

// Connections that leave a run that goes on are told on the progress line, their reasons in its
// tooltip until the next run.
TEST_F(MainWindow, ConnectionsThatLeaveTheRunAreToldOnTheProgressLine) {
    TfrmPrincipal& w = Start(GoodArgs());
    IMainView& v = w;
    auto* line = Find<QLabel>("Label1");
    const QString banner = line->text();
    const QString progress = QStringLiteral("0 de 3 arquivos \u00B7 0 bytes enviados");

    v.RunStarted(3, 0);
    EXPECT_EQ(line->text(), progress);
    v.ConnectionDropped(3, u"Connection refused");
    EXPECT_EQ(line->text(),
              progress + QStringLiteral(" \u00B7 1 conex\u00E3o deixou a execu\u00E7\u00E3o"));
    v.ConnectionDropped(2, u"O servidor 127.0.0.1:1 n\u00E3o respondeu em 2 s");
    EXPECT_EQ(line->text(),
              progress + QStringLiteral(" \u00B7 2 conex\u00F5es deixaram a execu\u00E7\u00E3o"));
    EXPECT_EQ(line->toolTip(), QStringLiteral("Conex\u00E3o 3: Connection refused\nConex\u00E3o 2: "
                                              "O servidor 127.0.0.1:1 n\u00E3o respondeu em 2 s"));

    v.RunEnded(TResumo{});
    EXPECT_EQ(line->text(), banner);
    EXPECT_FALSE(line->toolTip().isEmpty());
    v.RunStarted(1, 0);
    EXPECT_EQ(line->text(), QStringLiteral("0 de 1 arquivo \u00B7 0 bytes enviados"));
    EXPECT_TRUE(line->toolTip().isEmpty());
}

// Entries the user left out are counted on the line while the run goes.
TEST_F(MainWindow, EntriesLeftOutAreCountedOnTheProgressLine) {
    TfrmPrincipal& w = Start(GoodArgs());
    IMainView& v = w;
    auto* line = Find<QLabel>("Label1");
    v.RunStarted(3, 0);
    for (const char16_t* nome : {u"a.pdb", u"obj/"}) {
        const int row = v.AddRow(nome, IMainView::IconProcessing);
        v.FileDone({row, nome, nome, 0, u"*.pdb"}, TDesfecho::Excluido);
    }
    EXPECT_EQ(line->text(),
              QStringLiteral("2 de 3 arquivos \u00B7 0 bytes enviados \u00B7 2 exclu\u00EDdos"));
}

TEST_F(MainWindow, DryRunRowsShowWhatWouldBecomeOfEachFile) {
    for (bool dryRun : {true, false}) {
        SCOPED_TRACE(dryRun ? "dry run" : "real run");
        TfrmPrincipal& w = Start(GoodArgs());
        w.SetDryRun(dryRun);
        IMainView& v = w;
        struct Case {
            const char16_t* name;
            TDesfecho desfecho;
            const char16_t* shownDry;
        } cases[] = {
            {u"a.txt", TDesfecho::Enviaria, u"a.txt \u2014 seria enviado"},
            {u"b.txt", TDesfecho::Atual, u"b.txt \u2014 atual"},
            {u"EM_TESTE.SQL", TDesfecho::Removeria, u"EM_TESTE.SQL \u2014 seria removido"},
            {u"c.txt", TDesfecho::Enviado, u"c.txt"},
        };
        for (const Case& c : cases) {
            const int row = v.AddRow(c.name, IMainView::IconProcessing);
            v.FileDone({row, c.name, c.name, 1, {}}, c.desfecho);
        }
        for (int row = 0; row < 4; ++row) {
            const Case& c = cases[row];
            EXPECT_EQ(RowText(row), ToQString(dryRun ? c.shownDry : c.name));
        }
    }
}

TEST_F(MainWindow, LogoBesideTheProgramIsDecoded) {
    QImage logo(200, 40, QImage::Format_RGB32);
    logo.fill(QColor(20, 120, 60));
    const std::vector<std::uint8_t> jpeg = test::EncodeJpeg(logo);
    std::ofstream(dir_ / "bin/Logo.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
    BoxWatcher boxes;
    Start(GoodArgs());
    EXPECT_TRUE(boxes.Boxes().empty());
    const QPixmap pixmap = Find<QLabel>("imgLogo")->pixmap();
    ASSERT_EQ(pixmap.size(), QSize(200, 40));
    const QColor c = pixmap.toImage().pixelColor(100, 20);
    EXPECT_NEAR(c.green(), 120, 8);
    EXPECT_TRUE(Find<QLabel>("imgLogo")->hasScaledContents());
}

// With --pasta the logo comes from that folder's top, and the caption names the folder (links
// resolved) so nobody publishes the wrong one unawares.
TEST_F(MainWindow, FolderOptionGivesTheLogoAndTheCaption) {
    QImage logo(120, 30, QImage::Format_RGB32);
    logo.fill(QColor(200, 30, 30));
    const std::vector<std::uint8_t> jpeg = test::EncodeJpeg(logo);
    fs::create_directories(dir_ / "versao");
    std::ofstream(dir_ / "versao/Logo.jpg", std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
    fs::create_directory_symlink(dir_ / "versao", dir_ / "atalho");
    BoxWatcher boxes;
    TfrmPrincipal& w = Start(GoodArgs(), {}, FromUtf8((dir_ / "atalho").string()) + u"/");
    ASSERT_FALSE(w.Terminated());
    EXPECT_TRUE(boxes.Boxes().empty());
    const std::string versao = fs::canonical(dir_ / "versao").string();
    EXPECT_EQ(w.ProgramFolder(), FromUtf8(versao) + u"/");
    EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Meu Sistema \u2014 " + versao));
    EXPECT_EQ(Find<QLabel>("imgLogo")->pixmap().size(), QSize(120, 30));
}

TEST_F(MainWindow, BrokenLogoIsReportedAndStartupGoesOn) {
    std::ofstream(dir_ / "bin/Logo.jpg") << "not a picture";
    BoxWatcher boxes;
    TfrmPrincipal& w = Start(GoodArgs());
    EXPECT_FALSE(w.Terminated());
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, kAppTitle);
    EXPECT_EQ(boxes.Boxes()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes.Boxes()[0].text.contains(QStringLiteral("JPEG")));
    EXPECT_TRUE(boxes.Boxes()[0].text.endsWith(QLatin1Char('.')));
    EXPECT_TRUE(Find<QLabel>("imgLogo")->pixmap().isNull());
    EXPECT_TRUE(w.cdsSendFile().Active());  // still created: sends and closing keep working
}

TEST_F(MainWindow, TabOrder) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
    Find<QPushButton>("btn_Atualizar")->setFocus();
    QStringList order;
    for (int i = 0; i < 5; ++i) {
        order << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(order, (QStringList{"btn_Atualizar", "Btn_Cancelar", "edtEndereco", "edtPorta",
                                  "btn_Atualizar"}));
}

}  // namespace
}  // namespace ab
