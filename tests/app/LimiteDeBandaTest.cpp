// The bandwidth cap of a run: the setting, a whole run under it with one connection and with
// several sharing it (a lower bound only: a loaded machine only ever makes a transfer slower), and
// an abort that does not wait for the cap.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

#include "RunFixture.h"
#include "app/TConfiguracao.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;

TEST(LimiteDeBanda, SettingIsWholeKBPerSecondAndZeroMeansNoCap) {
    TempDir dir;
    const fs::path ini = dir.Path() / "atualizador.ini";
    EXPECT_EQ(LerConfiguracao(ini, {}).OpcoesDaExecucao().LimiteBandaKB, 0);
    WriteText(ini, "limite-banda = 5000\n");
    EXPECT_EQ(LerConfiguracao(ini, {}).OpcoesDaExecucao().LimiteBandaKB, 5000);
    // An option wins over the file; the conservative choice leaves the cap alone.
    EXPECT_EQ(LerConfiguracao(ini, {u"--limite-banda", u"0"}).OpcoesDaExecucao().LimiteBandaKB, 0);
    EXPECT_EQ(LerConfiguracao(ini, {u"--conservador", u"--limite-banda=10000000"})
                  .OpcoesDaExecucao()
                  .LimiteBandaKB,
              10'000'000);
    for (const char* ruim : {"-1", "10000001", "5 MB", "5000.5", "5e3", ""}) {
        SCOPED_TRACE(ruim);
        WriteText(ini, std::string("limite-banda = ") + ruim + "\n");
        try {
            LerConfiguracao(ini, {});
            ADD_FAILURE() << "accepted";
        } catch (const EConfiguracao& e) {
            const std::string message = ToUtf8(e.Message());
            EXPECT_NE(message.find("limite-banda"), std::string::npos) << message;
            EXPECT_NE(message.find("1 a 10000000"), std::string::npos) << message;
        }
    }
}

// A view that notes when each progress event came: the bytes the progress line counts as sent
// (each file's latest figure, added up) at that moment since `Inicio`.
struct VistaCronometrada : FakeView {
    void FileProgress(const TArquivoEvento& a, std::uint64_t enviados) override {
        FakeView::FileProgress(a, enviados);
        std::lock_guard lock(Mutex);
        ultimo[a.Row] = enviados;
        std::uint64_t soma = 0;
        for (const auto& [linha, bytes] : ultimo)
            soma += bytes;
        Somas.emplace_back(std::chrono::steady_clock::now() - Inicio, soma);
    }
    std::chrono::steady_clock::time_point Inicio;
    std::vector<std::pair<std::chrono::steady_clock::duration, std::uint64_t>> Somas;
    std::map<int, std::uint64_t> ultimo;
};

// 1,000,000 bytes at 500 KB/s take 2 s at the cap; a run may have saved up one second's worth at
// most, so it takes at least 1 s, where an uncapped run on loopback takes a few hundredths. With
// three connections the cap is shared: caps of their own would let them through in 0.7 s or less
// (one request at a time each, so that the files spread over them). The runs write requests ahead
// with 2 MiB blocks, as the program does by default: the probes among them must not take the cap's
// waits for a server that cannot keep up. Each file's content is one block, read at once and then
// written at the cap's pace: the progress (whence the rate and the time left) follows what was
// written, never more than the cap allowed by then, and not in one jump. About 2 s per case.
TEST(LimiteDeBanda, ARunTakesAtLeastItsBytesAtTheCapOverOneOrSeveralConnections) {
    struct Caso {
        const char* nome;
        int conexoes;
        int pedidos;
        int arquivos;
    } casos[] = {
        {"one connection, one file", 1, 256, 1},
        {"three connections sharing the cap", 3, 1, 12},
    };
    constexpr std::size_t kTotal = 1'000'000;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        ServerUnderTest s;
        RunUnderTest r(s.port);
        VistaCronometrada vista;
        vista.Porta = s.port;
        for (int i = 0; i < c.arquivos; ++i)
            WriteFile(r.Pacote() / ("f" + std::to_string(i) + ".bin"),
                      Pattern(kTotal / c.arquivos, i));
        r.opcoes.Conexoes = c.conexoes;
        r.opcoes.PedidosEmCurso = c.pedidos;
        r.opcoes.BufferKB = 2048;
        r.opcoes.Adiante = true;
        r.opcoes.LimiteBandaKB = 500;
        // The cap is made with the run, and starts empty.
        const auto inicio = std::chrono::steady_clock::now();
        vista.Inicio = inicio;
        TAtualizador run(vista, r.cds, r.dados, {}, nullptr, r.opcoes);
        run.btn_AtualizarClick();
        const auto decorrido = std::chrono::steady_clock::now() - inicio;
        EXPECT_GE(decorrido, 1s);

        // The cap allows 500 bytes a millisecond and one second's worth ahead; 20 KB more for the
        // requests' own bytes, which the progress may count as the file's.
        EXPECT_GE(vista.Somas.size(), 10u);
        for (const auto& [quando, soma] : vista.Somas) {
            const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(quando).count();
            EXPECT_LE(soma, 500 * static_cast<std::uint64_t>(ms) + 500'000 + 20'000)
                << "at " << ms << " ms";
        }
        r.view = vista;

        ASSERT_TRUE(r.view.Ended);
        EXPECT_EQ(r.view.Ended->Enviados, c.arquivos);
        EXPECT_EQ(r.view.Ended->CodigoSaida(), 0);
        EXPECT_TRUE(r.view.Avisos.empty()) << "the cap was taken for a server that cannot keep up";
        for (int i = 0; i < c.arquivos; ++i) {
            const std::string nome = "f" + std::to_string(i) + ".bin";
            EXPECT_EQ(ReadBytes(s.Store() / "S01" / nome), ReadBytes(r.Pacote() / nome)) << nome;
        }
        // Several connections carried a good share, or the case shows nothing about sharing (a
        // connection that connects late on a slow machine may carry less).
        ASSERT_EQ(s.server->ConnectionCount(), static_cast<std::size_t>(c.conexoes));
        int comParte = 0;
        for (int i = 0; i < c.conexoes; ++i)
            comParte += s.server->ReceivedBytes(i).size() > kTotal / 5;
        EXPECT_GE(comParte, std::min(c.conexoes, 2));
    }
}

// Abort (the second close, the second signal) ends a connection waiting for the cap at once: at
// 50 KB/s the file would take 200 s. The abort comes once the file is on its way.
TEST(LimiteDeBanda, AnAbortDoesNotWaitForTheCap) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteFile(r.Pacote() / "grande.bin", Pattern(10'000'000, 3));
    r.opcoes.LimiteBandaKB = 50;
    TAtualizador& run = r.Run();
    std::chrono::steady_clock::time_point abortado;
    std::thread abortar([&] {
        for (int i = 0; i < 1000; ++i) {
            {
                std::lock_guard lock(r.view.Mutex);
                if (!r.view.Progress.empty())
                    break;
            }
            std::this_thread::sleep_for(10ms);
        }
        abortado = std::chrono::steady_clock::now();
        run.Abort();
    });
    r.Click();
    const auto fim = std::chrono::steady_clock::now();
    abortar.join();
    EXPECT_LT(fim - abortado, 1s);
    ASSERT_TRUE(r.view.Ended);
    EXPECT_EQ(r.view.Ended->Fim, TResumo::TFim::Interrompida);
    EXPECT_FALSE(r.view.Progress.empty()) << "the abort came before the file left";
    EXPECT_FALSE(fs::exists(s.Store() / "S01" / "grande.bin"));
}

}  // namespace
}  // namespace ab::testing
