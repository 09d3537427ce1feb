// The main window on Qt's offscreen platform: controls and layout, start-up gates and fields,
// the port field, the progress icons, the view the run drives, the error and close handlers.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QApplication>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>
#include <memory>

#include "BoxWatcher.h"
#include "JpegWriter.h"
#include "gui/QtText.h"
#include "gui/TUpDown.h"
#include "gui/TfrmPrincipal.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
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
    TfrmPrincipal& Start(const std::vector<std::u16string>& args) {
        const std::u16string program = FromUtf8((dir_ / "bin/AtualizadorBrevant").string());
        window_ = std::make_unique<TfrmPrincipal>(
            CommandLine(u"\"" + program + u"\" " + CommandLine::Join(args), program),
            TestEnvironment(dir_ / "root"));
        return *window_;
    }

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

    auto* lv = Find<QTreeWidget>("lv");
    EXPECT_EQ(lv->columnCount(), 1);
    EXPECT_EQ(lv->headerItem()->text(0), QStringLiteral("Arquivo"));
    EXPECT_EQ(lv->columnWidth(0), 450);
    EXPECT_TRUE(lv->isHeaderHidden());
    EXPECT_EQ(lv->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(lv->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(lv->iconSize(), QSize(16, 16));

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
    for (int i = 0; i < 3; ++i) {
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
    EXPECT_TRUE(window_->ProgressIcon(3).isNull());

    // Rows carry the image of their index, and change it.
    const int row = window_->AddRow(u"Carga.sql", IMainView::IconProcessing);
    EXPECT_EQ(row, 0);
    auto* lv = Find<QTreeWidget>("lv");
    auto rowImage = [&](int r) {
        return lv->topLevelItem(r)->icon(0).pixmap(16, 16).toImage().convertToFormat(
            QImage::Format_ARGB32);
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
    auto* lv = Find<QTreeWidget>("lv");
    EXPECT_EQ(view.AddRow(u"a.txt", 0), 0);
    EXPECT_EQ(view.AddRow(u"Relat\u00F3rio <b>.rpt", 0), 1);
    EXPECT_EQ(lv->topLevelItem(1)->text(0), QStringLiteral("Relatório <b>.rpt"));
    view.ScrollToRow(1);
    view.SetRowIcon(7, 1);  // no such row: nothing happens
    view.ClearRows();
    EXPECT_EQ(lv->topLevelItemCount(), 0);
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

TEST_F(MainWindow, EscapingErrorIsReportedAndTheWindowKeepsRunning) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    int runs = 0;
    w.SetAtualizarHandler([&] {
        ++runs;
        w.SetAtualizarEnabled(false);
        w.ShowPage(IMainView::Page::Progresso);
        try {
            throw Exception(u"Connection cannot be nil.  Make sure the connection has been opened");
        } catch (...) {
            std::throw_with_nested(Exception(u"outer"));
        }
    });
    BoxWatcher boxes;
    auto* button = Find<QPushButton>("btn_Atualizar");
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    ExpectBox(boxes.Boxes()[0], kAppTitle, QMessageBox::Critical,
              u"Connection cannot be nil.  Make sure the connection has been opened.");
    EXPECT_TRUE(w.isVisible());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_EQ(Find<QStackedWidget>("Notebook1")->currentIndex(), 1);
    QTest::mouseClick(button, Qt::LeftButton);  // a new run starts
    EXPECT_EQ(runs, 2);
}

TEST_F(MainWindow, CloseEmptiesAndClosesTheRecordSet) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    EXPECT_TRUE(w.cdsSendFile().Active());
    QTest::mouseClick(Find<QPushButton>("Btn_Cancelar"), Qt::LeftButton);
    EXPECT_FALSE(w.isVisible());
    EXPECT_FALSE(w.cdsSendFile().Active());
    EXPECT_TRUE(w.close());  // closing again is harmless
}

TEST_F(MainWindow, CloseDuringARunWaitsForTheRunToReturn) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    bool activeAfterClick = false, requested = false, visibleDuringRun = false;
    w.SetAtualizarHandler([&] {
        w.AddRow(u"a.txt", IMainView::IconProcessing);
        // The user presses "Cancelar" while the run lets the window process its events.
        QMetaObject::invokeMethod(Find<QPushButton>("Btn_Cancelar"), "click", Qt::QueuedConnection);
        w.ProcessEvents();
        requested = w.CloseRequested();
        visibleDuringRun = w.isVisible();
        activeAfterClick = w.cdsSendFile().Active();
    });
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    EXPECT_TRUE(requested);
    EXPECT_TRUE(visibleDuringRun);
    EXPECT_TRUE(activeAfterClick);  // the record set survived under the run
    EXPECT_FALSE(w.isVisible());    // closed once the run returned
    EXPECT_FALSE(w.cdsSendFile().Active());
}

TEST_F(MainWindow, TheRunsOwnCloseIsImmediate) {
    TfrmPrincipal& w = Start(GoodArgs());
    w.show();
    bool visibleAfterClose = true;
    w.SetAtualizarHandler([&] {
        w.CloseWindow();
        visibleAfterClose = w.isVisible();
    });
    QTest::mouseClick(Find<QPushButton>("btn_Atualizar"), Qt::LeftButton);
    EXPECT_FALSE(visibleAfterClose);
    EXPECT_FALSE(w.CloseRequested());
    EXPECT_FALSE(w.cdsSendFile().Active());
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
