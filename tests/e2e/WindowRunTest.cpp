// The real window with the publishing run plugged in as the program does, on Qt's offscreen
// platform, against the bundled update server in-process: a click publishes and closes the window;
// a close asked for while the run processes events waits for the file in hand and then closes the
// window with the record set intact until then; an error escaping the run is shown by the general
// error handler and leaves the window open on "Progresso" with "Atualizar" enabled.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QPushButton>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>

#include "app/TAtualizador.h"
#include "gui/BoxWatcher.h"
#include "gui/TfrmPrincipal.h"
#include "platform/Text.h"
#include "server/TUpdateServer.h"

namespace ab {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

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

// A package folder (program file and three files), the server, the window and the run, wired as
// the program's entry wires them.
class WindowRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("ab-e2e-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "pacote" / "Scripts");
        std::ofstream(dir_ / "pacote" / "AtualizadorBrevant") << "program";
        std::ofstream(dir_ / "pacote" / "a.txt") << "file a";
        std::ofstream(dir_ / "pacote" / "b.txt") << "file b";
        std::ofstream(dir_ / "pacote" / "Scripts" / "c.sql") << "select 1;";

        server::TServerOptions o;
        o.port = 0;
        o.address = "127.0.0.1";
        o.root = dir_ / "armazem";
        server_ = std::make_unique<server::TUpdateServer>(o);
        port_ = server_->Start();

        const std::u16string program = FromUtf8((dir_ / "pacote" / "AtualizadorBrevant").string());
        const std::vector<std::u16string> args = {u"Demo", u"127.0.0.1", IntToStr(port_),
                                                  u"01",   u"PRODUCAO",  u"Vr@ndoxT"};
        window_ = std::make_unique<TfrmPrincipal>(
            CommandLine(u"\"" + program + u"\" " + CommandLine::Join(args), program),
            TestEnvironment(dir_ / "root"));
        ASSERT_FALSE(window_->Terminated());
        run_ = std::make_unique<TAtualizador>(
            *window_, window_->cdsSendFile(),
            TDadosPrograma{window_->ProgramPath(), window_->ProgramFolder(), window_->Sistema(),
                           window_->VersaoPraTeste()});
        window_->SetAtualizarHandler([this] { run_->btn_AtualizarClick(); });
        window_->show();
    }
    void TearDown() override {
        run_.reset();
        window_.reset();
        server_.reset();
        fs::remove_all(dir_);
    }

    void ClickAtualizar() {
        auto* button = window_->findChild<QPushButton*>(QStringLiteral("btn_Atualizar"));
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
    }
    fs::path Stored(const char* name) const { return dir_ / "armazem" / fs::path(name); }
    int Rows() const {
        return window_->findChild<QTreeWidget*>(QStringLiteral("lv"))->topLevelItemCount();
    }

    fs::path dir_;
    std::unique_ptr<server::TUpdateServer> server_;
    std::uint16_t port_ = 0;
    std::unique_ptr<TfrmPrincipal> window_;
    std::unique_ptr<TAtualizador> run_;
};

TEST_F(WindowRun, ClickPublishesEverythingAndClosesTheWindow) {
    test::BoxWatcher boxes;
    ClickAtualizar();
    EXPECT_EQ(ReadAll(Stored("S01/a.txt")), "file a");
    EXPECT_EQ(ReadAll(Stored("S01/b.txt")), "file b");
    EXPECT_EQ(ReadAll(Stored("Scripts/S01/c.sql")), "select 1;");
    EXPECT_FALSE(fs::exists(Stored("S01/AtualizadorBrevant")));
    EXPECT_EQ(server_->Alerts(), std::vector<std::u16string>{u"Atualizacao"});
    EXPECT_EQ(Rows(), 3);
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(window_->cdsSendFile().Active());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(WindowRun, CloseDuringTheRunWaitsForTheFileInHand) {
    test::BoxWatcher boxes;
    bool activeWhenAsked = false;
    // Fires while the run lets the window process events after adding the first row.
    QTimer::singleShot(0, window_.get(), [this, &activeWhenAsked] {
        window_->close();
        activeWhenAsked = window_->cdsSendFile().Active();
    });
    ClickAtualizar();
    EXPECT_TRUE(activeWhenAsked);
    EXPECT_TRUE(window_->CloseRequested());
    EXPECT_EQ(Rows(), 1);
    EXPECT_EQ(server_->SendFileCalls(), 1);
    int stored = 0;
    for (const char* name : {"S01/a.txt", "S01/b.txt", "Scripts/S01/c.sql"})
        stored += fs::exists(Stored(name)) ? 1 : 0;
    EXPECT_EQ(stored, 1);
    EXPECT_TRUE(server_->Alerts().empty());
    EXPECT_FALSE(window_->isVisible());
    EXPECT_FALSE(window_->cdsSendFile().Active());
    EXPECT_TRUE(boxes.Boxes().empty());
}

TEST_F(WindowRun, EscapingErrorIsShownAndTheWindowStays) {
    test::BoxWatcher boxes;
    QTimer::singleShot(0, window_.get(), [this] { server_->CloseConnections(); });
    ClickAtualizar();
    ASSERT_EQ(boxes.Boxes().size(), 1u);
    EXPECT_EQ(boxes.Boxes()[0].title, QStringLiteral("Atualizador Brevant Sistemas."));
    EXPECT_EQ(boxes.Boxes()[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(window_->isVisible());
    EXPECT_TRUE(window_->findChild<QPushButton*>(QStringLiteral("btn_Atualizar"))->isEnabled());
    EXPECT_EQ(window_->findChild<QStackedWidget*>(QStringLiteral("Notebook1"))
                  ->currentWidget()
                  ->objectName(),
              QStringLiteral("Progresso"));
    EXPECT_EQ(Rows(), 1);
    EXPECT_TRUE(window_->cdsSendFile().Active());
    EXPECT_TRUE(server_->Alerts().empty());
}

}  // namespace
}  // namespace ab
