// The servers' remembered limits: per server, for a time that doubles each time it is found
// again, read back by the next run; a file that cannot be written is an error that names it.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

#include "app/MemoriaDosServidores.h"
#include "platform/Exception.h"
#include "support/TestFiles.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;

struct Relogio {
    std::chrono::system_clock::time_point agora =
        std::chrono::system_clock::from_time_t(1'800'000'000);
    TMemoriaDosServidores::TAgora Funcao() {
        return [this] { return agora; };
    }
};

TEST(MemoriaDosServidores, ALimitHoldsPerServerUntilItsTime) {
    TempDir dir;
    Relogio r;
    TMemoriaDosServidores m(dir.Path() / "estado" / "servidores", r.Funcao());
    EXPECT_FALSE(m.Consultar(u"10.0.0.1", 211).UmPedidoPorVez);
    m.Lembrar(u" Servidor.Exemplo ", 211, TLimite::UmPedidoPorVez);

    // Another program reads the same file; names compare without regard to case or spaces.
    TMemoriaDosServidores outra(m.Arquivo(), r.Funcao());
    const TLimitesDoServidor l = outra.Consultar(u"servidor.exemplo", 211);
    EXPECT_TRUE(l.UmPedidoPorVez);
    EXPECT_FALSE(l.Buffer32);
    EXPECT_FALSE(outra.Consultar(u"servidor.exemplo", 212).UmPedidoPorVez);
    EXPECT_FALSE(outra.Consultar(u"outro", 211).UmPedidoPorVez);

    r.agora += 23h;
    EXPECT_TRUE(outra.Consultar(u"servidor.exemplo", 211).UmPedidoPorVez);
    r.agora += 2h;
    EXPECT_FALSE(outra.Consultar(u"servidor.exemplo", 211).UmPedidoPorVez);
}

// Found again after it lapsed: twice as long each time, at most 64 days. Found again while it
// holds (another connection of the same run): nothing changes.
TEST(MemoriaDosServidores, EachNewFindingHoldsTwiceAsLong) {
    TempDir dir;
    Relogio r;
    TMemoriaDosServidores m(dir.Path() / "servidores", r.Funcao());
    const std::vector<int> dias = {1, 2, 4, 8, 16, 32, 64, 64};
    for (std::size_t i = 0; i < dias.size(); ++i) {
        SCOPED_TRACE(i);
        m.Lembrar(u"h", 1, TLimite::Buffer32);
        m.Lembrar(u"h", 1, TLimite::Buffer32);
        r.agora += std::chrono::hours(24 * dias[i]) - 1min;
        EXPECT_TRUE(m.Consultar(u"h", 1).Buffer32);
        EXPECT_FALSE(m.Consultar(u"h", 1).UmPedidoPorVez);
        r.agora += 2min;
        EXPECT_FALSE(m.Consultar(u"h", 1).Buffer32);
    }
}

// Lines that cannot be read are passed over and dropped on the next write; the others stay.
TEST(MemoriaDosServidores, UnreadableLinesArePassedOver) {
    TempDir dir;
    Relogio r;
    const fs::path arquivo = dir.Path() / "servidores";
    WriteText(arquivo,
              "# comentario\n"
              "a:1\tpedidos-em-curso=1\tate=2030-01-01T00:00:00Z\tvezes=1\n"
              "b:1\tpedidos-em-curso=9\tate=2030-01-01T00:00:00Z\tvezes=1\n"
              "c:1\tbuffer-kb=32\tate=ontem\tvezes=1\n"
              "d:1\tbuffer-kb=32\tate=2030-01-01T00:00:00Z\tvezes=99\n"
              "lixo\n");
    TMemoriaDosServidores m(arquivo, r.Funcao());
    EXPECT_TRUE(m.Consultar(u"a", 1).UmPedidoPorVez);
    for (const char16_t* s : {u"b", u"c", u"d", u"lixo"}) {
        const TLimitesDoServidor l = m.Consultar(s, 1);
        EXPECT_FALSE(l.UmPedidoPorVez || l.Buffer32);
    }
    m.Lembrar(u"e", 2, TLimite::UmPedidoPorVez);
    std::ifstream in(arquivo);
    const std::string texto((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(texto.find("a:1\tpedidos-em-curso=1\tate=2030-01-01T00:00:00Z\tvezes=1\n"),
              std::string::npos);
    EXPECT_NE(texto.find("e:2\tpedidos-em-curso=1\tate="), std::string::npos);
    EXPECT_EQ(texto.find("lixo"), std::string::npos);
}

TEST(MemoriaDosServidores, AFileThatCannotBeWrittenIsAnErrorNamingIt) {
    TempDir dir;
    const fs::path bloqueio = dir.Path() / "arquivo-comum";
    WriteText(bloqueio, "x");
    TMemoriaDosServidores m(bloqueio / "servidores");
    try {
        m.Lembrar(u"h", 1, TLimite::UmPedidoPorVez);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_NE(e.Message().find(u"arquivo-comum/servidores"), std::u16string::npos);
    }
    // Nothing remembered, nothing in the way of a run.
    EXPECT_FALSE(m.Consultar(u"h", 1).UmPedidoPorVez);
}

TEST(MemoriaDosServidores, StateFolderFollowsXdg) {
    const char* antes = std::getenv("XDG_STATE_HOME");
    const std::string guardado = antes ? antes : "";
    setenv("XDG_STATE_HOME", "/estado/x", 1);
    EXPECT_EQ(PastaDeEstado(), fs::path("/estado/x/atualizador-brevant"));
    setenv("XDG_STATE_HOME", "relativo", 1);
    const char* home = std::getenv("HOME");
    if (home && home[0]) {
        EXPECT_EQ(PastaDeEstado(), fs::path(home) / ".local/state/atualizador-brevant");
    }
    if (antes)
        setenv("XDG_STATE_HOME", guardado.c_str(), 1);
    else
        unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace ab::testing
