// The real window with the publishing run plugged in as the program does (the run on its worker
// thread, driving the window through its queued view), on Qt's offscreen platform, against the
// bundled update server in-process: a click publishes and closes the window; the window keeps
// processing events while a 100 MB file travels; a close waits for the file in hand (100 MB) and
// then closes the window; a second close while the server is silent closes it at once; an error
// escaping the run is shown by the general error handler and leaves the window open on
// "Progresso" with "Atualizar" enabled. Each ends with the exit status the program would give.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <thread>

#include "app/TAtualizador.h"
#include "gui/BoxWatcher.h"
#include "gui/QtText.h"
#include "gui/TfrmPrincipal.h"
#include "platform/Text.h"
#include "server/TUpdateServer.h"
#include "support/ArvoreLinux.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class QtApp : public ::testing::Environment {
  public:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        app_ = std::make_unique<QApplication>(argc_, argv_);
        // The run closes the main window; the test's event loop must not end the application.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { app_.reset(); }

  private:
    int argc_ = 1;
    char name_[16] = "e2e_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQt = ::testing::AddGlobalTestEnvironment(new QtApp);

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBig(const fs::path& p, std::size_t size) {
    std::mt19937_64 rng(7);
    std::vector<std::uint64_t> block(1 << 17);
    std::ofstream out(p, std::ios::binary);
    for (std::size_t written = 0; written < size;) {
        for (auto& x : block)
            x = rng();
        const std::size_t n = std::min(size - written, block.size() * sizeof(std::uint64_t));
        out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        written += n;
    }
}

bool SameContent(const fs::path& a, const fs::path& b) {
    std::ifstream x(a, std::ios::binary), y(b, std::ios::binary);
    if (!x || !y || fs::file_size(a) != fs::file_size(b))
        return false;
    std::vector<char> bx(1 << 20), by(1 << 20);
    while (x && y) {
        x.read(bx.data(), static_cast<std::streamsize>(bx.size()));
        y.read(by.data(), static_cast<std::streamsize>(by.size()));
        if (x.gcount() != y.gcount() ||
            !std::equal(bx.begin(), bx.begin() + x.gcount(), by.begin()))
            return false;
    }
    return true;
}

constexpr std::size_t kBig = 100u << 20;

// A package folder with the program file, the server, the window and the run, wired as the
// program's entry wires them.
class WindowRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ab-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(Pacote());
        std::ofstream(Pacote() / "AtualizadorBrevant") << "program";
    }
    void TearDown() override {
        // The run's thread goes before the run object.
        if (window_)
            window_->EndRun();
        run_.reset();
        window_.reset();
        server_.reset();
        fs::remove_all(dir_);
    }

    fs::path Pacote() const { return dir_ / "pacote"; }

    void WriteSmallPackage() {
        fs::create_directories(Pacote() / "Scripts");
        std::ofstream(Pacote() / "a.txt") << "file a";
        std::ofstream(Pacote() / "b.txt") << "file b";
        std::ofstream(Pacote() / "Scripts" / "c.sql") << "select 1;";
    }
    // The large file first (a top-folder file), two small ones after it (in a subfolder).
    void WriteLargePackage() {
        WriteBig(Pacote() / "grande.bin", kBig);
        fs::create_directories(Pacote() / "Sub");
        std::ofstream(Pacote() / "Sub" / "x.txt") << "x";
        std::ofstream(Pacote() / "Sub" / "y.txt") << "y";
    }

    void Start(server::TServerOptions o = {}, TOpcoesExecucao opcoes = {}) {
        o.port = 0;
        o.address = "127.0.0.1";
        o.root = dir_ / "armazem";
        server_ = std::make_unique<server::TUpdateServer>(o);
        port_ = server_->Start();

        const std::u16string program = FromUtf8((Pacote() / "AtualizadorBrevant").string());
        const std::vector<std::u16string> args = {u"Demo", u"127.0.0.1", IntToStr(port_),
                                                  u"01",   u"PRODUCAO",  u"Vr@ndoxT"};
        window_ = std::make_unique<TfrmPrincipal>(
            CommandLine(u"\"" + program + u"\" " + CommandLine::Join(args), program),
            TestEnvironment(dir_ / "root"));
        ASSERT_FALSE(window_->Terminated());
        run_ = std::make_unique<TAtualizador>(
            window_->RunView(), window_->cdsSendFile(),
            TDadosPrograma{window_->ProgramPath(), window_->ProgramFolder(), window_->Sistema(),
                           window_->VersaoPraTeste()},
            TAtualizador::TPausa{}, nullptr, opcoes);
        window_->SetAtualizarHandler([this] { run_->btn_AtualizarClick(); });
        window_->SetAbortHandler([this] {
            ++aborts_;
            run_->Abort();
        });
        window_->show();
    }

    void Click(const char* button) {
        auto* b = window_->findChild<QPushButton*>(QString::fromLatin1(button));
        ASSERT_NE(b, nullptr);
        QTest::mouseClick(b, Qt::LeftButton);
    }
    static bool WaitFor(const std::function<bool()>& condition, int ms = 60000) {
        return QTest::qWaitFor(condition, ms);
    }
    // The run is over and the window has taken in everything it showed.
    bool WaitForTheRun(int ms = 60000) {
        return WaitFor([this] { return !window_->RunInProgress(); }, ms);
    }
    fs::path Stored(const char* name) const { return dir_ / "armazem" / fs::path(name); }
    int Rows() const {
        return window_->findChild<QTreeView*>(QStringLiteral("lv"))->model()->rowCount();
    }
    // The status the program would exit with.
    int ExitStatus() {
        window_->EndRun();
        return run_->Resumo().CodigoSaida();
    }

    fs::path dir_;
    std::unique_ptr<server::TUpdateServer> server_;
    std::uint16_t port_ = 0;
    std::unique_ptr<TfrmPrincipal> window_;
    std::unique_ptr<TAtualizador> run_;
    int aborts_ = 0;
};

TEST_F(WindowRun, ClickPublishesEverythingAndClosesTheWindow) {
    WriteSmallPackage();
    Start();
    test::BoxWatcher boxes;
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitForTheRun());
    EXPECT_EQ(ReadAll(Stored("S01/a.txt")), "file a");
    EXPECT_EQ(ReadAll(Stored("S01/b.txt")), "file b");
    EXPECT_EQ(ReadAll(Stored("Scripts/S01/c.sql")), "select 1;");
    EXPECT_FALSE(fs::exists(Stored("S01/AtualizadorBrevant")));
    EXPECT_EQ(server_->Alerts(), std::vector<std::u16string>{u"Atualizacao"});
    EXPECT_EQ(Rows(), 3);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(window_->cdsSendFile().Active());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(ExitStatus(), 0);
}

// A folder as Linux holds it, in the window: every file stored, a row for each entry with its
// readable name, the grey sign and the reason for what was passed over, and the question for the
// link to nothing only.
TEST_F(WindowRun, PublishesTheTreeAsLinuxHoldsIt) {
    testing::ArvoreLinux::Escrever(Pacote(), dir_ / "fora");
    Start();
    test::BoxWatcher boxes;  // Yes to "Continuar?"
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitForTheRun());
    EXPECT_EQ(testing::ArvoreLinux::Armazenados(dir_ / "armazem"),
              testing::ArvoreLinux::Guardados());
    EXPECT_EQ(Rows(), testing::ArvoreLinux::kLinhas);
    auto* model = window_->findChild<QTreeView*>(QStringLiteral("lv"))->model();
    QStringList texts;
    for (int i = 0; i < model->rowCount(); ++i)
        texts << model->index(i, 0).data().toString();
    EXPECT_TRUE(texts.contains(QStringLiteral("n\u00E3o.txt"))) << texts.join(u',').toStdString();
    EXPECT_TRUE(texts.contains(QStringLiteral("fifo (n\u00E3o \u00E9 um arquivo comum (FIFO))")))
        << texts.join(u',').toStdString();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_TRUE(boxes.Boxes()[0].text.contains(QStringLiteral("quebrado")));
    EXPECT_EQ(ExitStatus(), 3);
}

// "Continuar?" stalls no transfer: while the question about one connection's failed file is held
// open, the other connection's large file keeps travelling (its bytes reach the progress line)
// and is stored; the run then goes on as the answer says.
TEST_F(WindowRun, AnOpenQuestionStallsNoOtherTransfer) {
    fs::create_symlink(Pacote() / "nada", Pacote() / "quebrado");  // the walk's first file
    fs::create_directories(Pacote() / "Sub");
    WriteBig(Pacote() / "Sub" / "grande.bin", kBig);
    server::TServerOptions o;
    // A slow pull: the large file is still on its way when the question comes.
    std::atomic<int> puxados{0};
    o.beforeSegmentRequest = [&](int) {
        ++puxados;
        std::this_thread::sleep_for(1ms);
    };
    TOpcoesExecucao opcoes;
    opcoes.Conexoes = 2;
    Start(o, opcoes);
    auto* rotulo = window_->findChild<QLabel*>(QStringLiteral("Label1"));
    ASSERT_NE(rotulo, nullptr);
    QString aoPerguntar, depoisDeUmSegundo;
    int puxadosAoPerguntar = 0, puxadosDepois = 0;
    bool perguntou = false;
    QTimer vigia;
    vigia.setInterval(5);
    QObject::connect(&vigia, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || perguntou)
            return;
        perguntou = true;
        aoPerguntar = rotulo->text();
        puxadosAoPerguntar = puxados;
        QTest::qWait(1000);
        depoisDeUmSegundo = rotulo->text();
        puxadosDepois = puxados;
        box->buttons().first()->click();  // Yes
    });
    vigia.start();
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitForTheRun(120000));
    vigia.stop();
    ASSERT_TRUE(perguntou);
    // The server kept pulling the large file, and the window kept showing its bytes.
    EXPECT_GT(puxadosDepois, puxadosAoPerguntar + 50);
    EXPECT_NE(aoPerguntar.toStdString(), depoisDeUmSegundo.toStdString());
    EXPECT_TRUE(SameContent(Pacote() / "Sub" / "grande.bin", Stored("S01/Sub/grande.bin")));
    EXPECT_EQ(ExitStatus(), 3);
}

// The window stays responsive while the file travels: a 10 ms timer keeps firing.
TEST_F(WindowRun, EventsAreProcessedWhileA100MBFileTravels) {
    WriteLargePackage();
    Start();
    QTimer timer;
    timer.setInterval(10);
    int ticks = 0;
    Clock::time_point last{};
    Clock::duration longestGap{};
    QObject::connect(&timer, &QTimer::timeout, [&] {
        const auto now = Clock::now();
        if (ticks++ > 0)
            longestGap = std::max(longestGap, now - last);
        last = now;
    });
    timer.start();
    const auto start = Clock::now();
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitForTheRun(120000));
    const auto run = Clock::now() - start;
    timer.stop();

    EXPECT_TRUE(SameContent(Pacote() / "grande.bin", Stored("S01/grande.bin")));
    EXPECT_FALSE(window_->isVisible());
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
    };
    RecordProperty("run_ms", static_cast<int>(ms(run)));
    RecordProperty("longest_gap_ms", static_cast<int>(ms(longestGap)));
    // The run spent most of its time sending; a window that waited for it would have missed the
    // timer for about as long.
    EXPECT_GT(ticks, ms(run) / 10 / 3);
    EXPECT_LT(longestGap, run / 3);
    EXPECT_EQ(ExitStatus(), 0);
}

// Closing while the 100 MB file is in hand: the window stays until that file is stored whole,
// then closes; no further file, no alert.
TEST_F(WindowRun, CloseDuringALargeSendFinishesTheFileThenCloses) {
    WriteLargePackage();
    Start();
    test::BoxWatcher boxes;
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitFor([&] { return Rows() == 1; }));
    Click("Btn_Cancelar");
    EXPECT_TRUE(window_->CloseRequested());
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->cdsSendFile().Active());
    ASSERT_TRUE(WaitFor([&] { return !window_->isVisible(); }, 120000));
    ASSERT_TRUE(WaitForTheRun());

    EXPECT_TRUE(SameContent(Pacote() / "grande.bin", Stored("S01/grande.bin")));
    EXPECT_EQ(server_->SendFileCalls(), 1);
    EXPECT_FALSE(fs::exists(Stored("S01/Sub/x.txt")));
    EXPECT_FALSE(fs::exists(Stored("S01/Sub/y.txt")));
    EXPECT_TRUE(server_->Alerts().empty());
    EXPECT_EQ(Rows(), 1);
    EXPECT_FALSE(window_->cdsSendFile().Active());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_EQ(aborts_, 0);
    EXPECT_EQ(ExitStatus(), 4);
}

// The server accepts and never answers, and no deadline is set: the run hangs in the login. The
// first close waits for it; the second calls the abort, which ends the connection, and closes the
// window at once, showing nothing of the run after; the worker ends right away.
TEST_F(WindowRun, SecondCloseWhileTheServerIsSilentClosesAtOnce) {
    WriteSmallPackage();
    server::TServerOptions o;
    o.silent = true;
    Start(o, {});
    test::BoxWatcher boxes;
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitFor([&] { return server_->ConnectionCount() == 1; }));
    QTest::qWait(100);
    Click("Btn_Cancelar");
    QTest::qWait(100);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_EQ(aborts_, 0);
    const auto second = Clock::now();
    Click("Btn_Cancelar");
    EXPECT_FALSE(window_->isVisible());
    EXPECT_LT(Clock::now() - second, 100ms);
    EXPECT_EQ(aborts_, 1);
    window_->EndRun();
    EXPECT_LT(Clock::now() - second, 1000ms);
    QTest::qWait(50);
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_FALSE(window_->cdsSendFile().Active());
    EXPECT_EQ(run_->Resumo().CodigoSaida(), 4);
}

// The first file fails twice; while "Continuar?" is open the server drops every connection, and
// Yes sends the run into the next file's check, which fails: the error escapes the run, crosses
// to the GUI thread and shows in the general error box; the window stays on "Progresso".
TEST_F(WindowRun, EscapingErrorIsShownAndTheWindowStays) {
    WriteSmallPackage();
    server::TServerOptions o;
    o.sendFileFalseFirst = 2;
    Start(o);
    std::vector<test::BoxRecord> boxes;
    QTimer poll;
    poll.setInterval(2);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || (!boxes.empty() && boxes.back().text == box->text()))
            return;
        boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->textFormat(), {}});
        if (boxes.size() == 1)
            server_->CloseConnections();
        box->buttons().first()->click();  // Yes, then OK
    });
    poll.start();
    Click("btn_Atualizar");
    ASSERT_TRUE(WaitForTheRun());
    poll.stop();

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[0].text.endsWith(QStringLiteral("Continuar?")));
    EXPECT_EQ(boxes[1].title, QStringLiteral("Atualizador Brevant Sistemas."));
    EXPECT_EQ(boxes[1].icon, QMessageBox::Critical);
    EXPECT_FALSE(boxes[1].text.isEmpty());
    EXPECT_EQ(FromQString(boxes[1].text), run_->Resumo().Erro);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->findChild<QPushButton*>(QStringLiteral("btn_Atualizar"))->isEnabled());
    EXPECT_EQ(window_->findChild<QStackedWidget*>(QStringLiteral("Notebook1"))
                  ->currentWidget()
                  ->objectName(),
              QStringLiteral("Progresso"));
    EXPECT_EQ(Rows(), 2);
    EXPECT_TRUE(window_->cdsSendFile().Active());
    EXPECT_TRUE(server_->Alerts().empty());
    // The user closes the window after the error.
    Click("Btn_Cancelar");
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(ExitStatus(), 5);
}

}  // namespace
}  // namespace ab
