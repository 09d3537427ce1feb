// The queued view: a publishing run on a worker thread, driving a recording view through the
// queue while the GUI thread's event loop spins, makes the same calls in the same order, with the
// same boxes and answers, as the same run on a plain view; questions wait for the GUI thread, and
// a shutdown releases them.
#include "gui/TQueuedView.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>
#include <atomic>
#include <future>
#include <string>
#include <thread>

#include "app/RunFixture.h"

namespace ab {
namespace {

using namespace std::chrono_literals;
using testing::FakeView;
using testing::RunUnderTest;
using testing::ServerUnderTest;
using testing::WriteText;

std::string Text(const std::u16string& s) {
    return ToUtf8(s);
}

// Every call the run makes, as a line.
class RecordingView : public FakeView {
  public:
    std::vector<std::string> Log;
    std::function<void()> OnQuestion;

    std::u16string EnderecoText() override {
        Log.push_back("endereco");
        return FakeView::EnderecoText();
    }
    int PortaPosition() override {
        Log.push_back("porta");
        return FakeView::PortaPosition();
    }
    int AddRow(const std::u16string& text, int icon) override {
        const int row = FakeView::AddRow(text, icon);
        Log.push_back("row " + std::to_string(row) + " " + Text(text) + " " + std::to_string(icon));
        return row;
    }
    void SetRowIcon(int row, int icon) override {
        FakeView::SetRowIcon(row, icon);
        Log.push_back("icon " + std::to_string(row) + " " + std::to_string(icon));
    }
    void ScrollToRow(int row) override {
        FakeView::ScrollToRow(row);
        Log.push_back("scroll " + std::to_string(row));
    }
    void ClearRows() override {
        FakeView::ClearRows();
        Log.push_back("clear");
    }
    void ShowWarning(const std::u16string& text) override {
        FakeView::ShowWarning(text);
        Log.push_back("warning " + Text(text));
    }
    bool AskWarningYesNo(const std::u16string& text) override {
        if (OnQuestion)
            OnQuestion();
        const bool yes = FakeView::AskWarningYesNo(text);
        Log.push_back("question " + Text(text) + (yes ? " yes" : " no"));
        return yes;
    }
    void ShowError(const std::u16string& text) override {
        FakeView::ShowError(text);
        Log.push_back("error " + Text(text));
    }
    void ShowMessage(const std::u16string& text) override {
        FakeView::ShowMessage(text);
        Log.push_back("message " + Text(text));
    }
    void SetAtualizarEnabled(bool enabled) override {
        FakeView::SetAtualizarEnabled(enabled);
        Log.push_back(enabled ? "enabled" : "disabled");
    }
    void ShowPage(Page page) override {
        FakeView::ShowPage(page);
        Log.push_back(page == Page::Progresso ? "page progresso" : "page principal");
    }
    void CloseWindow() override {
        FakeView::CloseWindow();
        Log.push_back("close window");
    }
    void RunStarted(int arquivos, std::uint64_t bytes) override {
        Log.push_back("started " + std::to_string(arquivos) + " " + std::to_string(bytes));
    }
    void FileVerdict(const TArquivoEvento& a, TVeredito v) override {
        Log.push_back("verdict " + std::to_string(a.Row) + " " + Text(a.Destino) + " " +
                      std::to_string(static_cast<int>(v)));
    }
    void FileProgress(const TArquivoEvento& a, std::uint64_t enviados) override {
        Log.push_back("progress " + std::to_string(a.Row) + " " + std::to_string(enviados));
    }
    void FileDone(const TArquivoEvento& a, TDesfecho d) override {
        Log.push_back("done " + std::to_string(a.Row) + " " + std::to_string(a.Tamanho) + " " +
                      std::to_string(static_cast<int>(d)));
    }
    void RunEnded(const TResumo& r) override {
        Log.push_back("ended " + std::to_string(r.CodigoSaida()) + " " +
                      std::to_string(r.Verificados) + " " + std::to_string(r.Enviados) + " " +
                      std::to_string(r.Falhas) + " " + Text(r.Erro));
    }
};

struct Scenario {
    const char* what = "";
    server::TServerOptions server;
    bool teste = false;
    std::u16string endereco = u"127.0.0.1";
    bool unreachable = false;
    TOpcoesExecucao opcoes;
    std::deque<bool> answers;
    bool serverGoesAwayOnQuestion = false;
    const char* expect = "";  // a line the log must hold
};

struct Recorded {
    std::vector<std::string> log;
    std::optional<std::u16string> error;
};

// One run of `s` on the package `r` against a fresh server, through the queue or not.
Recorded Record(const Scenario& s, RunUnderTest& r, bool queued) {
    ServerUnderTest server(s.server);
    // The server already holds b.txt as it is: its row says current.
    WriteText(server.Store() / "S01" / "b.txt", "b");
    RecordingView view;
    view.Endereco = s.endereco;
    view.Porta = server.port;
    if (s.unreachable) {
        server.server->Stop();
    }
    view.Answers = s.answers;
    if (s.serverGoesAwayOnQuestion)
        view.OnQuestion = [&] { server.server->CloseConnections(); };
    TDadosPrograma dados = r.dados;
    dados.VersaoPraTeste = s.teste;
    auto pausa = [](std::chrono::milliseconds) {};

    Recorded out;
    auto click = [&](IMainView& v) {
        TAtualizador run(v, r.cds, dados, pausa, nullptr, s.opcoes);
        try {
            run.btn_AtualizarClick();
        } catch (const Exception& e) {
            out.error = e.Message();
        }
    };
    if (!queued) {
        click(view);
    } else {
        TQueuedView adapter(view);
        std::atomic<bool> done = false;
        std::thread worker([&] {
            click(adapter);
            adapter.Post([&] { done = true; });
        });
        const bool finished = QTest::qWaitFor([&] { return done.load(); }, 30000);
        worker.join();
        EXPECT_TRUE(finished);
    }
    out.log = std::move(view.Log);
    return out;
}

TEST(QueuedView, RunThroughTheQueueMakesTheSameCallsInTheSameOrder) {
    auto scenario = [](const char* what, const char* expect,
                       const std::function<void(Scenario&)>& change = {}) {
        Scenario s;
        s.what = what;
        s.expect = expect;
        if (change)
            change(s);
        return s;
    };
    const Scenario scenarios[] = {
        scenario("publish to a parent server", "close window"),
        scenario("client server", "close window",
                 [](Scenario& s) { s.server.kind = server::TServerKind::Cliente; }),
        scenario("failed send, No", "ended 3 2 0 1 ",
                 [](Scenario& s) {
                     s.server.sendFileFalseFirst = 2;
                     s.answers = {false};
                 }),
        scenario("failed send, Yes, then the server goes away", "enabled",
                 [](Scenario& s) {
                     s.server.sendFileFalseFirst = 2;
                     s.answers = {true};
                     s.serverGoesAwayOnQuestion = true;
                 }),
        scenario("unreachable server", "message O Servidor n\xC3\xA3o \xC3\xA9 valido!",
                 [](Scenario& s) { s.unreachable = true; }),
        scenario("test build pointed at a production server",
                 "warning Esta \xC3\xA9 uma vers\xC3\xA3o de teste!\r\nE n\xC3\xA3o pode ser "
                 "executada nesse servidor.",
                 [](Scenario& s) {
                     s.teste = true;
                     s.endereco = u" 192.0.2.10 ";
                 }),
        scenario("dry run", "ended 0 6 0 0 ", [](Scenario& s) { s.opcoes.Simular = true; }),
    };
    RunUnderTest r(0);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.txt", "b");
    WriteText(r.Pacote() / "Scripts" / "Carga.sql", "select 1;");
    WriteText(r.Pacote() / "Scripts" / "EM_TESTE.SQL", "marker");
    WriteText(r.Pacote() / "Padrao" / "p.dll", "padrao");
    WriteText(r.Pacote() / "Sub" / "d.txt", "d");
    for (const Scenario& s : scenarios) {
        SCOPED_TRACE(s.what);
        const Recorded plain = Record(s, r, false);
        const Recorded queued = Record(s, r, true);
        EXPECT_EQ(queued.log, plain.log);
        EXPECT_EQ(queued.error, plain.error);
        EXPECT_NE(std::find(plain.log.begin(), plain.log.end(), s.expect), plain.log.end())
            << ::testing::PrintToString(plain.log);
        EXPECT_EQ(plain.error.has_value(), s.serverGoesAwayOnQuestion);
    }
}

// A question waits for the GUI thread to answer it; a shutdown releases one still waiting with No,
// and after it nothing waits and nothing is shown.
TEST(QueuedView, QuestionsWaitForTheGuiThreadAndShutdownReleasesThem) {
    FakeView target;
    target.Endereco = u"servidor";
    target.Answers = {true, true};
    TQueuedView adapter(target);

    auto answered = std::async(std::launch::async, [&] {
        adapter.AddRow(u"a.txt", IMainView::IconProcessing);
        return adapter.AskWarningYesNo(u"Continuar?");
    });
    EXPECT_EQ(answered.wait_for(50ms), std::future_status::timeout);  // the GUI thread is busy
    ASSERT_TRUE(QTest::qWaitFor([&] { return answered.wait_for(0ms) == std::future_status::ready; },
                                10000));
    EXPECT_TRUE(answered.get());
    ASSERT_EQ(target.Rows.size(), 1u);
    ASSERT_EQ(target.Boxes.size(), 1u);
    auto endereco = std::async(std::launch::async, [&] { return adapter.EnderecoText(); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return endereco.wait_for(0ms) == std::future_status::ready; },
                                10000));
    EXPECT_EQ(endereco.get(), u"servidor");

    // Asked while the GUI thread does not answer, then released.
    auto released =
        std::async(std::launch::async, [&] { return adapter.AskWarningYesNo(u"Continuar?"); });
    EXPECT_EQ(released.wait_for(50ms), std::future_status::timeout);
    adapter.Shutdown();
    ASSERT_EQ(released.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(released.get());

    auto after = std::async(std::launch::async, [&] {
        adapter.AddRow(u"b.txt", IMainView::IconProcessing);
        adapter.ShowMessage(u"late");
        return std::make_tuple(adapter.AskWarningYesNo(u"Continuar?"), adapter.EnderecoText(),
                               adapter.CloseRequested());
    });
    ASSERT_EQ(after.wait_for(10s), std::future_status::ready);
    const auto [yes, address, closeRequested] = after.get();
    EXPECT_FALSE(yes);
    EXPECT_EQ(address, u"servidor");  // the last answer
    EXPECT_TRUE(closeRequested);      // the run stops after the file in hand
    QTest::qWait(100);
    EXPECT_EQ(target.Rows.size(), 1u);
    EXPECT_EQ(target.Boxes.size(), 1u);
}

// Both threads leave together: they spin (so neither waits for the scheduler to notice), yielding
// only when the other one is not running. Then the side given a delay spins that much longer.
void StartLine(std::atomic<int>& arrived, int delay) {
    ++arrived;
    for (int n = 0; arrived.load() < 2; ++n) {
        if (n > 100'000)
            std::this_thread::yield();
    }
    static std::atomic<int> sink = 0;
    for (int spin = 0; spin < delay; ++spin)
        sink.store(spin, std::memory_order_relaxed);
}

// A shutdown that lands while a worker is inside Call: the worker is released at once (or never
// queues), and what it asked for never runs. The GUI thread spins instead of serving the queue, so
// only the shutdown can let the worker go; the rounds sweep the shutdown across the worker's steps,
// either side starting first. (Before the check and the enqueue were one step, this hung within a
// few hundred rounds.)
TEST(QueuedView, ShutdownDuringACallNeverLeavesTheCallerWaiting) {
    constexpr int kRounds = 20000;
    constexpr int kSweep = 200;  // spins; a round's delay goes from -kSweep to kSweep
    auto delay = [](int i) { return (i * 37) % (2 * kSweep) - kSweep; };
    FakeView target;
    std::unique_ptr<TQueuedView> adapter;
    std::atomic<int> round = -1;     // the round the worker may start
    std::atomic<int> arrived = 0;    // sides at the start line of this round
    std::atomic<int> answered = -1;  // the last round whose Call returned
    std::atomic<bool> ran = false, executed = false, stop = false;
    std::thread worker([&] {
        for (int i = 0; i < kRounds; ++i) {
            while (round.load() != i) {
                if (stop)
                    return;
                std::this_thread::yield();
            }
            StartLine(arrived, std::max(0, -delay(i)));
            if (adapter->Call([&] { ran = true; }))
                executed = true;
            answered = i;
        }
    });
    // A busy machine may starve a spinning side: the rounds end after a few seconds all the same.
    const auto budget = std::chrono::steady_clock::now() + 4s;
    int i = 0;
    for (; i < kRounds && std::chrono::steady_clock::now() < budget; ++i) {
        adapter = std::make_unique<TQueuedView>(target);
        arrived = 0;
        round = i;
        StartLine(arrived, std::max(0, delay(i)));
        adapter->Shutdown();
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (answered.load() != i && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        if (answered.load() != i) {
            adapter->Shutdown();  // a second one drops the late item and lets the worker go
            stop = true;
            worker.join();
            FAIL() << "a call racing the shutdown in round " << i << " waited";
        }
        QCoreApplication::processEvents();
        ASSERT_FALSE(ran) << "round " << i;
        ASSERT_FALSE(executed) << "round " << i;
    }
    stop = true;
    worker.join();
    EXPECT_GT(i, 200) << "too few rounds to mean anything";
}

}  // namespace
}  // namespace ab
