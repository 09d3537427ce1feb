// The fast defaults: requests written ahead from the connect message on, large blocks, and the
// fallback that finds a server that cannot keep up, goes on the plain way with nothing lost, says
// so once and remembers it, so that the next run starts the plain way at once.
#include <gtest/gtest.h>

#include <fstream>

#include "RunFixture.h"
#include "app/TConfiguracao.h"

namespace ab::testing {
namespace {

using server::TServerOptions;

// The program's own defaults (no settings file, no option), remembering in `estado`.
TOpcoesExecucao Padrao(const fs::path& estado) {
    return LerConfiguracao(estado / "nada.ini", {})
        .OpcoesDaExecucao(std::make_shared<TMemoriaDosServidores>(estado / "servidores"));
}

std::string Texto(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Each kind of server that cannot keep up: the first run finds it, stores every file once and
// says so once; the state names the limit; the second run, from a new program, starts the plain
// way at once (nothing to find, nothing to say) and finds everything current.
TEST(Rapido, AServerThatCannotKeepUpIsFoundAndRemembered) {
    struct Case {
        const char* nome;
        void (*falha)(TServerOptions&);
        const char* limite;  // as the state file names it
        const char16_t* aviso;
    };
    const std::vector<Case> cases = {
        {"drops requests ahead", [](TServerOptions& o) { o.dropRequestsAhead = true; },
         "pedidos-em-curso=1", u"pedidos escritos adiante"},
        {"closes on requests ahead", [](TServerOptions& o) { o.closeOnRequestsAhead = true; },
         "pedidos-em-curso=1", u"pedidos escritos adiante"},
        {"ignores BufferKBSize", [](TServerOptions& o) { o.ignoreBufferKBSize = true; },
         "buffer-kb=32", u"blocos de 2048 KB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        TServerOptions o;
        c.falha(o);
        ServerUnderTest s(o);
        TempDir estado;
        RunUnderTest r(s.port);
        for (int i = 0; i < 40; ++i)
            WriteText(r.Pacote() / ("d" + std::to_string(i % 4)) / ("f" + std::to_string(i)),
                      "conteudo " + std::to_string(i));
        WriteFile(r.Pacote() / "grande.bin", Pattern(3'000'000, 9));
        WriteFile(r.Pacote() / "medio.bin", Pattern(200'000, 8));
        r.opcoes = Padrao(estado.Path());
        ASSERT_EQ(r.Click(), std::nullopt);

        const FakeView& v = r.view;
        ASSERT_TRUE(v.Ended);
        EXPECT_EQ(v.Ended->Fim, TResumo::TFim::Concluida);
        EXPECT_EQ(v.Ended->Enviados, 42);
        EXPECT_EQ(v.Ended->Falhas, 0);
        EXPECT_EQ(s.server->SendFileCalls(), 42) << "a file stored twice";
        for (int i = 0; i < 40; ++i) {
            const fs::path rel = fs::path("d" + std::to_string(i % 4)) / ("f" + std::to_string(i));
            EXPECT_EQ(ReadBytes(s.Store() / "S01" / rel), ReadBytes(r.Pacote() / rel));
        }
        EXPECT_EQ(ReadBytes(s.Store() / "S01" / "grande.bin"),
                  ReadBytes(r.Pacote() / "grande.bin"));
        EXPECT_EQ(s.server->Alerts().size(), 1u);
        ASSERT_EQ(v.Avisos.size(), 1u);
        EXPECT_NE(v.Avisos[0].find(c.aviso), std::u16string::npos) << ToUtf8(v.Avisos[0]);
        EXPECT_NE(v.Avisos[0].find(u"127.0.0.1:" + IntToStr(s.port)), std::u16string::npos);
        const std::string lembrado = Texto(estado.Path() / "servidores");
        EXPECT_NE(lembrado.find("127.0.0.1:" + std::to_string(s.port) + "\t" + c.limite),
                  std::string::npos)
            << lembrado;

        // A new program on the same server: plain from the start.
        const std::size_t conexoes = s.server->ConnectionCount();
        r.view = FakeView{};
        r.view.Porta = s.port;
        r.opcoes = Padrao(estado.Path());
        r.Run();
        ASSERT_EQ(r.Click(), std::nullopt);
        EXPECT_TRUE(r.view.Avisos.empty()) << ToUtf8(r.view.Avisos[0]);
        EXPECT_EQ(r.view.Ended->Atuais, 42);
        EXPECT_EQ(s.server->ConnectionCount(), conexoes + 1);
        EXPECT_EQ(Texto(estado.Path() / "servidores"), lembrado);
    }
}

// An explicit value wins over what was remembered: the user's requests in flight are used.
TEST(Rapido, AValueGivenWinsOverWhatWasRemembered) {
    ServerUnderTest s;
    TempDir estado;
    TMemoriaDosServidores(estado.Path() / "servidores")
        .Lembrar(u"127.0.0.1", s.port, TLimite::UmPedidoPorVez);
    RunUnderTest r(s.port);
    for (int i = 0; i < 20; ++i)
        WriteText(r.Pacote() / ("f" + std::to_string(i)), "x");
    ASSERT_EQ(r.Click(), std::nullopt);  // stored, one request at a time
    r.atualizador.reset();
    ASSERT_TRUE(s.server->WaitConnectionClosed(0, std::chrono::seconds(10)));
    const std::int64_t umPorVez = s.server->RoundTrips(0);

    for (bool explicito : {false, true}) {
        SCOPED_TRACE(explicito);
        for (int i = 0; i < 20; ++i)
            WriteText(r.Pacote() / ("f" + std::to_string(i)), "y", kStamp + (explicito ? 120 : 60));
        const std::vector<std::u16string> opcoes =
            explicito ? std::vector<std::u16string>{u"--pedidos-em-curso", u"32"}
                      : std::vector<std::u16string>{};
        r.view = FakeView{};
        r.view.Porta = s.port;
        r.opcoes = LerConfiguracao(estado.Path() / "nada.ini", opcoes)
                       .OpcoesDaExecucao(
                           std::make_shared<TMemoriaDosServidores>(estado.Path() / "servidores"));
        r.Run();
        const std::size_t n = s.server->ConnectionCount();
        ASSERT_EQ(r.Click(), std::nullopt);
        r.atualizador.reset();  // the program ends: its connection closes
        ASSERT_TRUE(s.server->WaitConnectionClosed(n, std::chrono::seconds(10)));
        EXPECT_EQ(r.view.Ended->Enviados, 20);
        // Remembered: as many waits as one request at a time; given: a handful.
        if (explicito)
            EXPECT_LT(s.server->RoundTrips(n), umPorVez / 3);
        else
            EXPECT_GE(s.server->RoundTrips(n), umPorVez - 3);
    }
}

// The round trips of an unchanged run of three files with the defaults, as the server counts
// them: the filter query; the connect with the metadata query and the echo's prepare; the echo;
// every method's prepare; the three questions; the alert. A wait that creeps back fails this.
TEST(Rapido, AnUnchangedRunOfThreeFilesTakesSixRoundTrips) {
    ServerUnderTest s;
    TempDir estado;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.txt", "b");
    WriteText(r.Pacote() / "c.txt", "c");
    r.opcoes = Padrao(estado.Path());
    ASSERT_EQ(r.Click(), std::nullopt);
    r.view = FakeView{};
    r.view.Porta = s.port;
    r.Run();
    ASSERT_EQ(r.Click(), std::nullopt);
    ASSERT_EQ(r.view.Ended->Atuais, 3);
    r.atualizador.reset();
    ASSERT_EQ(s.server->ConnectionCount(), 2u);
    ASSERT_TRUE(s.server->WaitConnectionClosed(1, std::chrono::seconds(10)));
    EXPECT_EQ(s.server->RoundTrips(1), 6);
}

// The conservative choice sends what the earlier versions sent, byte for byte: the same run with
// the settings' --conservador and with the plain run's options reaches two fresh servers as the
// same bytes, and the second run as well.
TEST(Rapido, TheConservativeChoiceSendsTheEarlierBytes) {
    TempDir estado;
    const TOpcoesExecucao conservador =
        LerConfiguracao(estado.Path() / "nada.ini", {u"--conservador"})
            .OpcoesDaExecucao(
                std::make_shared<TMemoriaDosServidores>(estado.Path() / "servidores"));
    std::vector<std::string> recebidos;
    for (const TOpcoesExecucao& opcoes : {conservador, TOpcoesExecucao{}}) {
        ServerUnderTest s;
        RunUnderTest r(s.port);
        for (int i = 0; i < 5; ++i)
            WriteText(r.Pacote() / ("f" + std::to_string(i)), std::string(100 * i, 'x'));
        WriteFile(r.Pacote() / "grande.bin", Pattern(300'000, 3));
        WriteText(r.Pacote() / "Scripts" / "EM_TESTE.SQL", "marcador");
        r.opcoes = opcoes;
        ASSERT_EQ(r.Click(), std::nullopt);
        r.view = FakeView{};
        r.view.Porta = s.port;
        ASSERT_EQ(r.Click(), std::nullopt);
        r.atualizador.reset();
        // The window's second run goes on the same connection.
        ASSERT_EQ(s.server->ConnectionCount(), 1u);
        ASSERT_TRUE(s.server->WaitConnectionClosed(0, std::chrono::seconds(10)));
        // The servers' ports differ, and travel in the connect message.
        std::string tudo = s.AllReceived();
        const std::string porta = "\"" + std::to_string(s.port) + "\"";
        for (std::size_t at; (at = tudo.find(porta)) != std::string::npos;)
            tudo.replace(at, porta.size(), "\"PORTA\"");
        recebidos.push_back(tudo);
    }
    EXPECT_GT(recebidos[0].size(), 300'000u);
    EXPECT_TRUE(recebidos[0] == recebidos[1]);
    // Nothing probed, nothing remembered.
    EXPECT_FALSE(fs::exists(estado.Path() / "servidores"));
}

}  // namespace
}  // namespace ab::testing
