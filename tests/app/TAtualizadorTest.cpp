// The publishing run against the bundled update server in-process: a real package folder beside a
// program file, the FakeView standing in for the window. First and repeated publishes, the change
// test, both server kinds, failing sends with the reconnect, the "Continuar?" question, an
// unreachable server, an error escaping the walk, test mode and closing the window mid-run.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <thread>

#include "RunFixture.h"
#include "app/AppConstants.h"
#include "app/PastaPublicada.h"
#include "app/TZvServerClient.h"
#include "app/UFuncoes.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;
using server::TServerKind;
using server::TServerOptions;
namespace C = AppConstants;

// Local file (relative to the package, '/'), its destination name, and where the store keeps it.
struct Published {
    const char* local;
    const char16_t* destino;
    const char* stored;
    std::size_t size;
};

// Every destination-name rule, a logo in a subfolder, an empty and a 5 MB file, accented names.
const Published kTree[] = {
    {"Sistema.exe", u"S01\\Sistema.exe", "S01/Sistema.exe", 1000},
    {"vazio.txt", u"S01\\vazio.txt", "S01/vazio.txt", 0},
    {"grande.bin", u"S01\\grande.bin", "S01/grande.bin", 5'000'000},
    {"Relat\xC3\xB3rio A\xC3\xA7\xC3\xA3o.txt", u"S01\\Relat\u00F3rio A\u00E7\u00E3o.txt",
     "S01/Relat\xC3\xB3rio A\xC3\xA7\xC3\xA3o.txt", 321},
    {"scripts", u"S01\\scripts", "S01/scripts", 7},
    {"Scripts/Carga.sql", u"Scripts\\S01\\Carga.sql", "Scripts/S01/Carga.sql", 64},
    {"scripts2/b.sql", u"S01\\scripts2\\b.sql", "S01/scripts2/b.sql", 10},
    {"Arquivos/Rel/x.rpt", u"Arquivos\\S01\\Rel\\x.rpt", "Arquivos/S01/Rel/x.rpt", 2048},
    {"arquivos/y.txt", u"arquivos\\S01\\y.txt", "arquivos/S01/y.txt", 5},
    {"Padrao/y.dll", u"Padrao\\y.dll", "Padrao/y.dll", 4096},
    {"Padrao/Sub/z.dll", u"Padrao\\Sub\\z.dll", "Padrao/Sub/z.dll", 33},
    {"Sub/logo.jpg", u"S01\\Sub\\logo.jpg", "S01/Sub/logo.jpg", 900},
    {"Sub/A\xC3\xA7\xC3\xA3o/\xC3\xA9.txt", u"S01\\Sub\\A\u00E7\u00E3o\\\u00E9.txt",
     "S01/Sub/A\xC3\xA7\xC3\xA3o/\xC3\xA9.txt", 12},
};

void WriteTree(const fs::path& pasta) {
    unsigned seed = 1;
    for (const auto& p : kTree)
        WriteFile(pasta / U8Path(p.local), Pattern(p.size, seed++));
    WriteText(pasta / "Logo.jpg", "top-level logo, never published");
}

void ExpectStored(const ServerUnderTest& s, const fs::path& pasta, const Published& p) {
    SCOPED_TRACE(p.local);
    const fs::path stored = s.Store() / U8Path(p.stored);
    ASSERT_TRUE(fs::is_regular_file(stored));
    EXPECT_EQ(ReadBytes(stored), ReadBytes(pasta / U8Path(p.local)));
    EXPECT_EQ(MTime(stored), MTime(pasta / U8Path(p.local)));
}

void ExpectAllDone(const FakeView& v) {
    for (const auto& row : v.Rows)
        EXPECT_EQ(row.Icons, (std::vector<int>{Arrow, Check})) << ToUtf8(row.Text);
}

TEST(Publicacao, FirstPublishStoresEveryFileByteIdenticalAndStamped) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteTree(r.Pacote());
    WriteText(r.Pacote() / "Scripts" / "EM_TESTE.SQL", "marker");
    WriteText(s.Store() / "Scripts" / "S01" / "EM_TESTE.SQL", "marker on the server");

    EXPECT_EQ(r.Click(), std::nullopt);

    for (const auto& p : kTree)
        ExpectStored(s, r.Pacote(), p);
    // The marker script is removed, never asked about nor sent; program and top logo never leave.
    EXPECT_FALSE(fs::exists(s.Store() / "Scripts" / "S01" / "EM_TESTE.SQL"));
    const std::string received = s.AllReceived();
    EXPECT_EQ(received.find(B64(u"Scripts\\S01\\EM_TESTE.SQL")), std::string::npos);
    EXPECT_NE(received.find(R"("TZvServer.RemoveFile")"), std::string::npos);
    EXPECT_FALSE(fs::exists(s.Store() / "S01" / "AtualizadorBrevant"));
    EXPECT_FALSE(fs::exists(s.Store() / "S01" / "Logo.jpg"));
    EXPECT_EQ(s.server->SendFileCalls(), static_cast<int>(std::size(kTree)));
    // Every name is asked about in Base64, without the client suffix on a parent server.
    for (const auto& p : kTree)
        EXPECT_NE(received.find(B64(p.destino)), std::string::npos) << p.local;

    const FakeView& v = r.view;
    ASSERT_EQ(v.Rows.size(), std::size(kTree) + 1);
    ExpectAllDone(v);
    std::set<std::u16string> texts;
    for (const auto& row : v.Rows)
        texts.insert(row.Text);
    EXPECT_TRUE(texts.count(u"Relat\u00F3rio A\u00E7\u00E3o.txt"));
    EXPECT_TRUE(texts.count(u"logo.jpg"));
    EXPECT_TRUE(texts.count(u"EM_TESTE.SQL"));
    EXPECT_FALSE(texts.count(u"AtualizadorBrevant"));
    EXPECT_FALSE(texts.count(u"Logo.jpg"));
    EXPECT_EQ(v.Scrolls, static_cast<int>(v.Rows.size()));

    EXPECT_TRUE(ConectadoServidorBrevant);
    EXPECT_EQ(s.server->Alerts(), std::vector<std::u16string>{u"Atualizacao"});
    EXPECT_TRUE(v.Boxes.empty());
    EXPECT_EQ(v.EnabledChanges.front(), false);
    EXPECT_TRUE(v.AtualizarEnabled());
    EXPECT_EQ(v.Clears, 1);
    EXPECT_TRUE(v.OnProgresso());
    EXPECT_EQ(v.Closes, 1);
}

// --pasta: the release folder lies away from the program, given through a link with a trailing
// slash. Every rule holds relative to it (destinations, the logo at its top, the marker); what
// lies beside the program is not published. Only the program file itself is skipped, and only
// when it lies inside the folder: a release file of the same name elsewhere is published.
TEST(Publicacao, AnotherFolderIsPublishedWithEveryRule) {
    for (const bool programaDentro : {false, true}) {
        SCOPED_TRACE(programaDentro ? "program inside the folder" : "program outside it");
        ServerUnderTest s;
        RunUnderTest r(s.port);
        const fs::path versao = r.dir.Path() / "versao";
        WriteTree(versao);
        WriteText(versao / "Scripts" / "EM_TESTE.SQL", "marker");
        WriteText(s.Store() / "Scripts" / "S01" / "EM_TESTE.SQL", "marker on the server");
        WriteText(r.Pacote() / "ao-lado.txt", "beside the program, not in the release");
        if (programaDentro) {
            WriteText(versao / "bin" / "AtualizadorBrevant", "the program");
            WriteText(versao / "bin" / "outro", "another program");
            r.dados.ProgramPath = FromUtf8((versao / "bin" / "AtualizadorBrevant").string());
        } else {
            // Named as the program but not the program file: published.
            WriteText(versao / "AtualizadorBrevant", "a copy the release ships");
        }
        fs::create_directory_symlink(versao, r.dir.Path() / "atalho");
        r.dados.ProgramFolder = PastaAPublicar(
            r.dados.ProgramFolder, FromUtf8((r.dir.Path() / "atalho").string()) + u"/", u"");
        ASSERT_EQ(r.dados.ProgramFolder, FromUtf8(versao.string()) + u"/");

        EXPECT_EQ(r.Click(), std::nullopt);

        for (const auto& p : kTree)
            ExpectStored(s, versao, p);
        EXPECT_FALSE(fs::exists(s.Store() / "Scripts" / "S01" / "EM_TESTE.SQL"));
        EXPECT_NE(s.AllReceived().find(R"("TZvServer.RemoveFile")"), std::string::npos);
        EXPECT_FALSE(fs::exists(s.Store() / "S01" / "Logo.jpg"));
        EXPECT_FALSE(fs::exists(s.Store() / "S01" / "ao-lado.txt"));
        EXPECT_EQ(fs::exists(s.Store() / "S01" / "AtualizadorBrevant"), !programaDentro);
        EXPECT_FALSE(fs::exists(s.Store() / "S01" / "bin" / "AtualizadorBrevant"));
        EXPECT_EQ(fs::exists(s.Store() / "S01" / "bin" / "outro"), programaDentro);
        EXPECT_EQ(s.server->SendFileCalls(), static_cast<int>(std::size(kTree)) + 1);
        EXPECT_EQ(s.server->Alerts(), std::vector<std::u16string>{u"Atualizacao"});
    }
}

TEST(Publicacao, RepublishSendsOnlyWhatIsStrictlyNewer) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "first a");
    WriteText(r.Pacote() / "b.txt", "first b");
    WriteText(r.Pacote() / "Scripts" / "c.sql", "first c");
    ASSERT_EQ(r.Click(), std::nullopt);
    ASSERT_EQ(s.server->SendFileCalls(), 3);

    auto again = [&] {
        r.view = FakeView{};
        r.view.Porta = s.port;
        r.Run();
        return r.Click();
    };
    // Nothing changed: nothing is sent, every row ends with the check.
    ASSERT_EQ(again(), std::nullopt);
    EXPECT_EQ(s.server->SendFileCalls(), 3);
    EXPECT_EQ(r.view.Rows.size(), 3u);
    ExpectAllDone(r.view);
    EXPECT_EQ(r.view.Closes, 1);

    // One second newer is sent; an equal time stamp with other content is not.
    WriteText(r.Pacote() / "a.txt", "second a", kStamp + 1);
    WriteText(r.Pacote() / "b.txt", "second b", kStamp);
    ASSERT_EQ(again(), std::nullopt);
    EXPECT_EQ(s.server->SendFileCalls(), 4);
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "a.txt"), ReadBytes(r.Pacote() / "a.txt"));
    EXPECT_EQ(MTime(s.Store() / "S01" / "a.txt"), kStamp + 1);
    const std::string b = "first b";
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "b.txt"), Bytes(b.begin(), b.end()));
    ExpectAllDone(r.view);
    EXPECT_EQ(s.server->Alerts().size(), 3u);
}

TEST(Publicacao, ClientServerIsAskedWithTheSuffixAndNotAlerted) {
    TServerOptions o;
    o.kind = TServerKind::Cliente;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "for the client server");
    WriteText(r.Pacote() / "Padrao" / "p.dll", "standard");

    ASSERT_EQ(r.Click(), std::nullopt);

    EXPECT_FALSE(ConectadoServidorBrevant);
    const std::string received = s.AllReceived();
    EXPECT_NE(received.find(R"("TZvServer.EchoString")"), std::string::npos);
    EXPECT_NE(received.find(R"("TZvClienteServer.PropertsFile")"), std::string::npos);
    EXPECT_NE(received.find(R"("TZvClienteServer.SendFile")"), std::string::npos);
    EXPECT_EQ(received.find(R"("TZvServer.PropertsFile")"), std::string::npos);
    EXPECT_NE(received.find(B64(u"S01\\a.txt.hxf")), std::string::npos);
    EXPECT_NE(received.find(B64(u"Padrao\\p.dll.hxf")), std::string::npos);
    // The record sent carries the name without the suffix.
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "a.txt"), ReadBytes(r.Pacote() / "a.txt"));
    EXPECT_FALSE(fs::exists(s.Store() / "S01" / "a.txt.hxf"));
    EXPECT_TRUE(s.server->Alerts().empty());
    EXPECT_EQ(received.find("AlertarZvClientes"), std::string::npos);
    ExpectAllDone(r.view);
    EXPECT_EQ(r.view.Closes, 1);

    // Asked again with the suffix, the stored copy is found: nothing is sent.
    r.view = FakeView{};
    r.view.Porta = s.port;
    r.Run();
    ASSERT_EQ(r.Click(), std::nullopt);
    EXPECT_EQ(s.server->SendFileCalls(), 2);
}

TEST(Publicacao, FolderWithOnlyProgramAndLogoStillAlerts) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "LOGO.JPG", "logo");
    ASSERT_EQ(r.Click(), std::nullopt);
    EXPECT_TRUE(r.view.Rows.empty());
    EXPECT_EQ(s.server->SendFileCalls(), 0);
    EXPECT_EQ(s.server->Alerts().size(), 1u);
    EXPECT_EQ(r.view.Closes, 1);
}

// A send that fails once is retried after closing, a 100 ms pause and a complete new connect.
TEST(Publicacao, SendFailingOnceReconnectsAndResends) {
    struct Case {
        const char* name;
        TServerOptions options;
        std::size_t size;
    };
    TServerOptions error, falso, drop;
    error.sendFileErrorFirst = 1;
    falso.sendFileFalseFirst = 1;
    drop.dropInPullFirst = 1;
    for (const Case& c : {Case{"error reply", error, 10}, Case{"false", falso, 10},
                          Case{"dropped in a segment pull", drop, 300'000}}) {
        SCOPED_TRACE(c.name);
        ServerUnderTest s(c.options);
        RunUnderTest r(s.port);
        WriteFile(r.Pacote() / "a.bin", Pattern(c.size, 7));

        ASSERT_EQ(r.Click(), std::nullopt);

        EXPECT_EQ(r.Pauses, (std::vector<std::chrono::milliseconds>{100ms}));
        EXPECT_EQ(s.server->SendFileCalls(), 2);
        ASSERT_EQ(s.server->ConnectionCount(), 2u);
        // The second connection starts from the filter query and the connect message again.
        const Bytes second = s.server->ReceivedBytes(1);
        const std::string expected = std::string(5, '\x05') + R"({"method":"connect")";
        ASSERT_GE(second.size(), expected.size());
        EXPECT_EQ(std::string(second.begin(), second.begin() + expected.size()), expected);
        if (c.options.dropInPullFirst == 0) {
            ASSERT_TRUE(s.server->WaitConnectionClosed(0, 10s));
            const Bytes first = s.server->ReceivedBytes(0);
            ASSERT_GE(first.size(), 64u);
            const std::string tail(first.end() - 64, first.end());
            EXPECT_NE(tail.find(R"({"method":"disconnect")"), std::string::npos);
        }
        EXPECT_EQ(ReadBytes(s.Store() / "S01" / "a.bin"), ReadBytes(r.Pacote() / "a.bin"));
        ExpectAllDone(r.view);
        EXPECT_TRUE(r.view.Boxes.empty());
        EXPECT_EQ(s.server->Alerts().size(), 1u);
        EXPECT_EQ(r.view.Closes, 1);
    }
}

// Two failed attempts: red cross and "Continuar?"; Yes goes on, No stops the walk; the alert and
// the closing follow either way.
TEST(Publicacao, SendFailingTwiceAsksToContinue) {
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        TServerOptions o;
        o.sendFileFalseFirst = 2;
        ServerUnderTest s(o);
        RunUnderTest r(s.port);
        WriteText(r.Pacote() / "a.txt", "a");
        WriteText(r.Pacote() / "b.txt", "b");
        r.view.Answers = {yes};

        ASSERT_EQ(r.Click(), std::nullopt);

        const FakeView& v = r.view;
        ASSERT_EQ(v.Rows.size(), yes ? 2u : 1u);
        EXPECT_EQ(v.Rows[0].Icons, (std::vector<int>{Arrow, Cross}));
        const std::u16string failed = r.dados.ProgramFolder + v.Rows[0].Text;
        ASSERT_EQ(v.Boxes.size(), 1u);
        EXPECT_EQ(v.Boxes[0].Kind, FakeView::BoxKind::Question);
        EXPECT_EQ(v.Boxes[0].Text, u"N\u00E3o foi poss\u00EDvel enviar o Arquivo: \r\n" + failed +
                                       u"\r\n\r\nContinuar?");
        // Each failed attempt closed, paused and reopened.
        EXPECT_EQ(r.Pauses.size(), 2u);
        EXPECT_EQ(s.server->ConnectionCount(), 3u);
        if (yes) {
            EXPECT_EQ(v.Rows[1].Icons, (std::vector<int>{Arrow, Check}));
            EXPECT_EQ(s.server->SendFileCalls(), 3);
        } else {
            EXPECT_EQ(s.server->SendFileCalls(), 2);
        }
        EXPECT_EQ(s.server->Alerts().size(), 1u);
        EXPECT_EQ(v.Closes, 1);
        EXPECT_TRUE(v.AtualizarEnabled());
    }
}

// A file that changes while the server pulls it is never stored: both attempts fail (the second
// after a reconnect), its row gets the red cross and the question, and the walk goes on.
TEST(Publicacao, FileChangedDuringItsSendGetsTheRedCross) {
    fs::path changing;
    TServerOptions o;
    o.beforeSegmentRequest = [&changing](int request) {
        if (request == 2)
            std::ofstream(changing, std::ios::binary | std::ios::app) << "x";
    };
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    changing = r.Pacote() / "grande.bin";
    WriteFile(changing, Pattern(300'000, 3));
    WriteText(r.Pacote() / "b.txt", "b");

    ASSERT_EQ(r.Click(), std::nullopt);

    const FakeView& v = r.view;
    ASSERT_EQ(v.Rows.size(), 2u);
    for (const auto& row : v.Rows) {
        const bool failed = row.Text == u"grande.bin";
        EXPECT_EQ(row.Icons, (std::vector<int>{Arrow, failed ? Cross : Check})) << ToUtf8(row.Text);
    }
    ASSERT_EQ(v.Boxes.size(), 1u);
    EXPECT_EQ(v.Boxes[0].Kind, FakeView::BoxKind::Question);
    EXPECT_NE(v.Boxes[0].Text.find(r.dados.ProgramFolder + u"grande.bin"), std::u16string::npos);
    EXPECT_EQ(s.server->SendFileCalls(), 3);  // two attempts, then b.txt
    EXPECT_EQ(r.Pauses.size(), 2u);
    EXPECT_EQ(s.server->ConnectionCount(), 3u);
    // The server drops a temporary copy when it sees its connection end, which can be after the
    // client has moved on; the two failed attempts' connections are the first two.
    for (std::size_t i = 0; i < 2; ++i)
        ASSERT_TRUE(s.server->WaitConnectionClosed(i, 10s));
    // Only b.txt arrived: no copy of the changing file, whole or temporary.
    std::vector<fs::path> stored;
    for (const auto& e : fs::recursive_directory_iterator(s.Store()))
        if (e.is_regular_file())
            stored.push_back(fs::relative(e.path(), s.Store()));
    std::erase(stored, fs::path(".alertas.log"));
    EXPECT_EQ(stored, std::vector<fs::path>{fs::path("S01") / "b.txt"});
    EXPECT_EQ(v.Closes, 1);
}

TEST(Publicacao, UnreachableServerKeepsTheWindow) {
    std::uint16_t port;
    {
        ServerUnderTest gone;
        port = gone.port;
        gone.server->Stop();
    }
    RunUnderTest r(port);
    WriteText(r.Pacote() / "a.txt", "a");
    ASSERT_EQ(r.Click(), std::nullopt);
    const FakeView& v = r.view;
    ASSERT_EQ(v.Boxes.size(), 1u);
    EXPECT_EQ(v.Boxes[0].Kind, FakeView::BoxKind::Message);
    EXPECT_EQ(v.Boxes[0].Text, u"O Servidor n\u00E3o \u00E9 valido!");
    EXPECT_EQ(v.EnabledChanges, (std::vector<bool>{false, true}));
    EXPECT_TRUE(v.Pages.empty());
    EXPECT_EQ(v.Clears, 0);
    EXPECT_EQ(v.Closes, 0);
}

TEST(Publicacao, RefusedLoginIsAnInvalidServer) {
    TServerOptions o;
    o.refuseLogin = true;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    ASSERT_EQ(r.Click(), std::nullopt);
    ASSERT_EQ(r.view.Boxes.size(), 1u);
    EXPECT_EQ(r.view.Boxes[0].Text, u"O Servidor n\u00E3o \u00E9 valido!");
    EXPECT_TRUE(r.view.AtualizarEnabled());
}

// The server goes away while the first row is shown: PropertsFile fails, the error escapes to the
// general handler, the row keeps its arrow, no alert, the window stays on "Progresso".
TEST(Publicacao, ErrorEscapingTheWalkLeavesTheWindowOpen) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.txt", "b");
    r.view.OnProcessEvents = [&](FakeView&) { s.server->CloseConnections(); };

    const auto message = r.Click();

    ASSERT_TRUE(message.has_value());
    EXPECT_FALSE(message->empty());
    const FakeView& v = r.view;
    ASSERT_EQ(v.Rows.size(), 1u);
    EXPECT_EQ(v.Rows[0].Icons, std::vector<int>{Arrow});
    EXPECT_TRUE(v.OnProgresso());
    EXPECT_TRUE(v.AtualizarEnabled());
    EXPECT_EQ(v.Closes, 0);
    EXPECT_TRUE(s.server->Alerts().empty());
    EXPECT_EQ(s.server->SendFileCalls(), 0);
}

// After the server dropped the connection in the middle of a walk, the next "Atualizar" notices
// the lost link, connects again (before-connect event included) and publishes.
TEST(Publicacao, AtualizarAfterALostConnectionConnectsAgain) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.txt", "b");
    r.view.OnProcessEvents = [&](FakeView&) { s.server->CloseConnections(); };
    ASSERT_TRUE(r.Click().has_value());
    ASSERT_EQ(s.server->SendFileCalls(), 0);

    r.view.OnProcessEvents = nullptr;
    ASSERT_EQ(r.Click(), std::nullopt);
    EXPECT_EQ(s.server->ConnectionCount(), 2u);
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "a.txt"), ReadBytes(r.Pacote() / "a.txt"));
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "b.txt"), ReadBytes(r.Pacote() / "b.txt"));
    EXPECT_EQ(s.server->Alerts().size(), 1u);
    EXPECT_EQ(r.view.Closes, 1);
}

// Abort from another thread while the connect waits on a silent server: it ends at once and the
// run reports an interruption, without the invalid-server box.
TEST(Publicacao, AbortEndsAConnectBlockedOnASilentServer) {
    TServerOptions o;
    o.silent = true;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    TAtualizador& run = r.Run();
    std::thread aborter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        run.Abort();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(r.Click(), std::nullopt);
    aborter.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ASSERT_TRUE(r.view.Ended);
    EXPECT_EQ(r.view.Ended->Fim, TResumo::TFim::Interrompida);
    EXPECT_EQ(r.view.Ended->CodigoSaida(), 4);
    EXPECT_TRUE(r.view.Boxes.empty());
    EXPECT_EQ(r.view.Closes, 0);
    EXPECT_TRUE(r.view.AtualizarEnabled());
}

TEST(Publicacao, TestModeSendsTheMarkerWithoutAskingAndRefusesProductionServers) {
    ServerUnderTest s;
    RunUnderTest r(s.port, /*teste=*/true);
    WriteText(r.Pacote() / "Scripts" / "em_teste.sql", "marker");
    // The same copy is already on the server: a date check would skip it.
    WriteText(s.Store() / "Scripts" / "S01" / "em_teste.sql", "marker");

    for (const char16_t* address : {u" 192.0.2.10 ", u"atualizacao.example.com"}) {
        r.view.Endereco = address;
        ASSERT_EQ(r.Click(), std::nullopt);
        ASSERT_FALSE(r.view.Boxes.empty());
        EXPECT_EQ(r.view.Boxes.back().Kind, FakeView::BoxKind::Warning);
        EXPECT_EQ(r.view.Boxes.back().Text,
                  u"Esta \u00E9 uma vers\u00E3o de teste!\r\nE n\u00E3o pode ser executada nesse "
                  u"servidor.");
        // The program's exit status, window or not, is the last run's: a refused start.
        EXPECT_EQ(r.atualizador->Resumo().CodigoSaida(), 1);
    }
    EXPECT_TRUE(r.view.EnabledChanges.empty());
    EXPECT_TRUE(r.view.Pages.empty());
    EXPECT_EQ(s.server->ConnectionCount(), 0u);

    r.view = FakeView{};
    r.view.Porta = s.port;
    ASSERT_EQ(r.Click(), std::nullopt);
    EXPECT_EQ(s.server->SendFileCalls(), 1);
    EXPECT_EQ(s.AllReceived().find(B64(u"Scripts\\S01\\em_teste.sql")), std::string::npos);
    EXPECT_TRUE(fs::exists(s.Store() / "Scripts" / "S01" / "em_teste.sql"));
    ExpectAllDone(r.view);
    EXPECT_TRUE(r.atualizador->ArquivoEmTeste());
}

// Closing the window while a file travels: that file is finished, then the run stops without
// further requests, question or alert, and leaves the closing to the window. A send that failed
// gets no second attempt once the close was asked for.
TEST(Publicacao, CloseRequestedDuringTheRunEndsItAfterTheCurrentFile) {
    for (bool failing : {false, true}) {
        SCOPED_TRACE(failing ? "failing send" : "good send");
        TServerOptions o;
        o.sendFileFalseFirst = failing ? 2 : 0;
        std::atomic<FakeView*> janela{nullptr};
        o.beforeSendFile = [&](int) { janela.load()->AskClose(); };
        ServerUnderTest s(o);
        RunUnderTest r(s.port);
        janela = &r.view;
        WriteText(r.Pacote() / "a.txt", "a");
        WriteText(r.Pacote() / "b.txt", "b");
        WriteText(r.Pacote() / "c.txt", "c");

        ASSERT_EQ(r.Click(), std::nullopt);

        const FakeView& v = r.view;
        ASSERT_EQ(v.Rows.size(), 1u);
        EXPECT_EQ(v.Rows[0].Icons, (std::vector<int>{Arrow, failing ? Cross : Check}));
        EXPECT_EQ(s.server->SendFileCalls(), 1);
        if (!failing) {
            const fs::path stored = s.Store() / "S01" / ToUtf8(v.Rows[0].Text);
            EXPECT_EQ(ReadBytes(stored), ReadBytes(r.Pacote() / ToUtf8(v.Rows[0].Text)));
        }
        EXPECT_TRUE(v.Boxes.empty());
        EXPECT_TRUE(s.server->Alerts().empty());
        EXPECT_EQ(v.Closes, 0);
        EXPECT_TRUE(v.AtualizarEnabled());
        ASSERT_TRUE(v.Ended);
        EXPECT_EQ(v.Ended->Fim, TResumo::TFim::Interrompida);
        // The record set still holds the last file's row: nothing emptied it under the send.
        EXPECT_EQ(r.cds.RecordCount(), 1);
    }
}

TEST(Publicacao, ArquivoPastaDestino) {
    struct Case {
        const char16_t* relativo;
        const char16_t* sistema;
        const char16_t* destino;
    };
    const Case cases[] = {
        {u"Scripts\\a.sql", u"S01\\", u"Scripts\\S01\\a.sql"},
        {u"scripts\\Sub\\a.sql", u"S01\\", u"scripts\\S01\\Sub\\a.sql"},
        {u"Arquivos\\Rel\\x.rpt", u"S01\\", u"Arquivos\\S01\\Rel\\x.rpt"},
        {u"ARQUIVOS\\x", u"S7\\", u"ARQUIVOS\\S7\\x"},
        {u"Padrao\\y.dll", u"S01\\", u"Padrao\\y.dll"},
        {u"padrao\\Sub\\y.dll", u"S01\\", u"padrao\\Sub\\y.dll"},
        {u"Sistema.exe", u"S01\\", u"S01\\Sistema.exe"},
        {u"scripts", u"S01\\", u"S01\\scripts"},
        {u"ScriptsX\\a.sql", u"S01\\", u"S01\\ScriptsX\\a.sql"},
        {u"Outros\\Scripts\\a.sql", u"S01\\", u"S01\\Outros\\Scripts\\a.sql"},
        {u"Padra\\y", u"S01\\", u"S01\\Padra\\y"},
        {u"Relat\u00F3rio.txt", u"S01\\", u"S01\\Relat\u00F3rio.txt"},
        {u"Scripts\\a.sql", u"S01\\\\", u"Scripts\\S01\\\\a.sql"},
        {u"Scripts\\a.sql", u"S\\", u"Scripts\\S\\a.sql"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(TAtualizador::ArquivoPastaDestino(c.relativo, c.sistema), c.destino)
            << ToUtf8(c.relativo);
}

// A system code ending in a backslash gives a doubled one in the destination name: the record sent
// carries it with single backslashes.
TEST(Publicacao, SendFileRecordsTheNameWithSingleBackslashes) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    TAtualizador& run = r.Run();
    run.ConnBrevant().SetConnected(true);
    ConectadoServidorBrevant = true;
    EXPECT_TRUE(run.SendFile(FromUtf8((r.Pacote() / "a.txt").string()), u"S01\\\\Sub\\a.txt"));
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "Sub" / "a.txt"), ReadBytes(r.Pacote() / "a.txt"));
    EXPECT_TRUE(r.Pauses.empty());
}

// A Linux name the server would read as another file fails on its own, with its reason, and
// nothing is asked or sent for it: a '\' would be a folder there (outside S01\ with "..\"), and a
// control character is no name. "Continuar?" is asked as for any failed file; the rest is stored.
TEST(Publicacao, NamesTheServerWouldReadOtherwiseFailAlone) {
    struct Case {
        std::string nome;
        std::u16string motivo;  // part of the reason
    };
    const std::vector<Case> cases = {
        {"back\\slash.txt", u"separador de pastas"},
        {"..\\..\\Padrao\\evil.dll", u"separador de pastas"},
        {"tab\tname.txt", u"U+0009"},
        {"nl\nname.txt", u"U+000A"},
        {"del\x7f.txt", u"U+007F"},
    };
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "back" / "slash.txt", "a pasta de verdade");
    WriteText(r.Pacote() / "ok.txt", "ok");
    for (const Case& c : cases)
        WriteText(r.Pacote() / "ruins" / c.nome, "ruim");
    ASSERT_EQ(r.Click(), std::nullopt);

    const FakeView& v = r.view;
    ASSERT_TRUE(v.Ended);
    EXPECT_EQ(v.Ended->Falhas, static_cast<int>(cases.size()));
    EXPECT_EQ(v.Ended->Enviados, 2);
    EXPECT_EQ(v.Ended->CodigoSaida(), 3);
    EXPECT_EQ(v.Boxes.size(), cases.size());
    EXPECT_EQ(s.server->SendFileCalls(), 2);
    EXPECT_TRUE(r.Pauses.empty());  // no retry: another connection would not change the name
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "back" / "slash.txt"),
              ReadBytes(r.Pacote() / "back" / "slash.txt"));
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "ok.txt"), ReadBytes(r.Pacote() / "ok.txt"));
    EXPECT_FALSE(fs::exists(s.Store() / "S01" / "ruins"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nome);
        const auto at = std::find_if(v.Rows.begin(), v.Rows.end(), [&](const FakeView::Row& row) {
            return row.Text == FromUtf8(c.nome);
        });
        ASSERT_NE(at, v.Rows.end());
        const int row = static_cast<int>(at - v.Rows.begin());
        EXPECT_EQ(at->Icon(), Cross);
        const auto done = std::find_if(v.Done.begin(), v.Done.end(),
                                       [&](const auto& d) { return d.first == row; });
        ASSERT_NE(done, v.Done.end());
        EXPECT_EQ(done->second, TDesfecho::Falhou);
        const std::u16string& motivo = v.Reasons[static_cast<std::size_t>(done - v.Done.begin())];
        EXPECT_NE(motivo.find(c.motivo), std::u16string::npos) << ToUtf8(motivo);
        // Never asked about: its destination's Base64 never reached the server.
        EXPECT_EQ(s.AllReceived().find(B64(u"S01\\ruins\\" + FromUtf8(c.nome))), std::string::npos);
    }
}

}  // namespace
}  // namespace ab::testing
