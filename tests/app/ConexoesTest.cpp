// How the run uses its connections, against the bundled server in-process: commands prepared once
// per connection (and again after a reconnect), the old one-command-per-call form behind a
// setting, several connections sharing the walk, the dry run, the run's events and summary.
#include <gtest/gtest.h>

#include <map>
#include <regex>

#include "RunFixture.h"
#include "app/TZvServerClient.h"

namespace ab::testing {
namespace {

using server::TServerOptions;

// The requests of one connection in order: the method, with the command text for a prepare
// ("prepare TZvServer.PropertsFile").
std::vector<std::string> Requests(const Bytes& received) {
    const std::string text(received.begin(), received.end());
    static const std::regex request(
        R"re(\{"method":"([a-z_]+)","params":\[(?:-?\d+,(?:true|false),"[^"]*","([^"]*)")?)re");
    std::vector<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), request);
         it != std::sregex_iterator(); ++it) {
        std::string r = (*it)[1];
        if ((*it)[2].matched)
            r += " " + (*it)[2].str();
        out.push_back(r);
    }
    return out;
}

// The requests from the echo probe on: the connect and metadata query before it are the same in
// both forms.
std::vector<std::string> AfterEcho(std::vector<std::string> requests) {
    const auto echo = std::find(requests.begin(), requests.end(), "prepare TZvServer.EchoString");
    requests.erase(requests.begin(), echo);
    return requests;
}

void WriteThree(const RunUnderTest& r) {
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.txt", "b");
    WriteText(r.Pacote() / "c.txt", "c");
}

// Three unchanged files and the alert. Cached: each method prepared once, executed per file, closed
// when the connection closes. Fresh: prepare, execute and close around every call, as the tool
// always did.
TEST(Conexoes, CommandsArePreparedOncePerConnectionUnlessTurnedOff) {
    const std::vector<std::string> echo = {"prepare TZvServer.EchoString", "execute",
                                           "command_close"};
    for (bool cache : {true, false}) {
        SCOPED_TRACE(cache ? "cached" : "fresh");
        ServerUnderTest s;
        RunUnderTest r(s.port);
        WriteThree(r);
        ASSERT_EQ(r.Click(), std::nullopt);  // first publish
        r.view = FakeView{};
        r.view.Porta = s.port;
        r.opcoes.ComandosEmCache = cache;
        r.Run();
        ASSERT_EQ(r.Click(), std::nullopt);
        r.atualizador.reset();  // the program ends: commands close, then the disconnect
        ASSERT_EQ(s.server->ConnectionCount(), 2u);
        ASSERT_TRUE(s.server->WaitConnectionClosed(1, std::chrono::seconds(10)));

        std::vector<std::string> expected = echo;
        if (cache) {
            expected.insert(expected.end(), {"prepare TZvServer.PropertsFile", "execute", "execute",
                                             "execute", "prepare TZvServer.AlertarZvClientes",
                                             "execute", "command_close", "command_close"});
        } else {
            for (const char* m :
                 {"PropertsFile", "PropertsFile", "PropertsFile", "AlertarZvClientes"})
                expected.insert(expected.end(), {std::string("prepare TZvServer.") + m, "execute",
                                                 "command_close"});
        }
        expected.push_back("disconnect");
        EXPECT_EQ(AfterEcho(Requests(s.server->ReceivedBytes(1))), expected);
        EXPECT_EQ(s.server->Alerts().size(), 2u);
    }
}

// A cached execute carries the same handle and no parameters object: only the row changes.
TEST(Conexoes, CachedExecuteCarriesTheHandleAndTheRowOnly) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteThree(r);
    ASSERT_EQ(r.Click(), std::nullopt);
    const Bytes b = s.server->ReceivedBytes(0);
    const std::string text(b.begin(), b.end());
    std::smatch prepare;
    ASSERT_TRUE(std::regex_search(
        text, prepare,
        std::regex(R"(\{"method":"prepare","params":\[-1,false,"DataSnap.ServerMethod",)"
                   R"("TZvServer.PropertsFile"\]\})")));
    const std::string after = prepare.suffix();
    static const std::regex execute(R"(\{"method":"execute","params":\[\{"handle":\[(\d+)\]\},)"
                                    R"(\{"data":\[\d+,)");
    std::vector<std::string> handles;
    for (auto it = std::sregex_iterator(after.begin(), after.end(), execute);
         it != std::sregex_iterator(); ++it)
        handles.push_back((*it)[1]);
    // PropertsFile three times, then SendFile (its own handle) three times, interleaved.
    ASSERT_GE(handles.size(), 6u);
    std::map<std::string, int> perHandle;
    for (const auto& h : handles)
        ++perHandle[h];
    EXPECT_EQ(perHandle[handles[0]], 3);
    EXPECT_EQ(after.find(R"("parameters")"), std::string::npos);
}

// A failed send closes and reopens the connection: the commands of the old one are gone, so the
// new one prepares what it uses again.
TEST(Conexoes, ReconnectAfterAFailedSendPreparesAgain) {
    TServerOptions o;
    o.sendFileFalseFirst = 1;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "a");
    WriteText(r.Pacote() / "b.txt", "b");
    ASSERT_EQ(r.Click(), std::nullopt);
    r.atualizador.reset();
    ASSERT_EQ(s.server->ConnectionCount(), 2u);
    ASSERT_TRUE(s.server->WaitConnectionClosed(1, std::chrono::seconds(10)));

    const auto first = AfterEcho(Requests(s.server->ReceivedBytes(0)));
    EXPECT_EQ(first, (std::vector<std::string>{"prepare TZvServer.EchoString", "execute",
                                               "command_close", "prepare TZvServer.PropertsFile",
                                               "execute", "prepare TZvServer.SendFile", "execute",
                                               "command_close", "command_close", "disconnect"}));
    auto second = Requests(s.server->ReceivedBytes(1));
    second.erase(second.begin(),
                 std::find(second.begin(), second.end(), "prepare TZvServer.SendFile"));
    EXPECT_EQ(second, (std::vector<std::string>{
                          "prepare TZvServer.SendFile", "execute", "prepare TZvServer.PropertsFile",
                          "execute", "execute", "prepare TZvServer.AlertarZvClientes", "execute",
                          "command_close", "command_close", "command_close", "disconnect"}));
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "a.txt"), ReadBytes(r.Pacote() / "a.txt"));
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "b.txt"), ReadBytes(r.Pacote() / "b.txt"));
}

// The buffer size travels with the connection properties only when it is not the servers' 32.
TEST(Conexoes, BufferSizeIsAnnouncedOnlyWhenNotTheDefault) {
    for (int kb : {32, 1024}) {
        ServerUnderTest s;
        RunUnderTest r(s.port);
        r.opcoes.BufferKB = kb;
        WriteFile(r.Pacote() / "grande.bin", Pattern(3'000'000, 3));
        ASSERT_EQ(r.Click(), std::nullopt);
        const Bytes b = s.server->ReceivedBytes(0);
        const std::string text(b.begin(), b.end());
        EXPECT_EQ(text.find(R"("BufferKBSize":"1024")") != std::string::npos, kb == 1024);
        EXPECT_EQ(text.find("BufferKBSize") != std::string::npos, kb == 1024);
        EXPECT_EQ(ReadBytes(s.Store() / "S01" / "grande.bin"),
                  ReadBytes(r.Pacote() / "grande.bin"));
    }
}

// A tree of nested folders with files of many sizes.
void WriteNestedTree(const RunUnderTest& r) {
    unsigned seed = 1;
    for (int d = 0; d < 4; ++d) {
        for (int f = 0; f < 8; ++f) {
            const std::size_t size = (f == 3 && d == 1) ? 700'000 : 100u * seed;
            WriteFile(r.Pacote() / ("pasta" + std::to_string(d)) / ("arq" + std::to_string(f)),
                      Pattern(size, seed));
            ++seed;
        }
    }
    WriteText(r.Pacote() / "Scripts" / "EM_TESTE.SQL", "marker");
    WriteText(r.Pacote() / "Scripts" / "carga.sql", "select 1");
}

std::map<std::string, std::pair<Bytes, std::int64_t>> Store(const fs::path& root) {
    std::map<std::string, std::pair<Bytes, std::int64_t>> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        // The server's own records (the alert log) start with a dot.
        if (e.is_regular_file() && e.path().filename().string()[0] != '.')
            files[fs::relative(e.path(), root).string()] = {ReadBytes(e.path()), MTime(e.path())};
    }
    return files;
}

std::vector<std::u16string> Texts(const FakeView& v) {
    std::vector<std::u16string> texts;
    for (const auto& row : v.Rows)
        texts.push_back(row.Text);
    return texts;
}

// Four connections store exactly what one does, rows in the walk's order, one alert.
TEST(Conexoes, FourConnectionsPublishTheSameTreeAsOne) {
    ServerUnderTest um, quatro;
    RunUnderTest r1(um.port), r4(quatro.port);
    WriteNestedTree(r1);
    WriteNestedTree(r4);
    r4.opcoes.Conexoes = 4;
    ASSERT_EQ(r1.Click(), std::nullopt);
    ASSERT_EQ(r4.Click(), std::nullopt);

    EXPECT_EQ(Store(um.Store()), Store(quatro.Store()));
    EXPECT_EQ(Store(quatro.Store()).size(), 33u);
    EXPECT_EQ(Texts(r4.view), Texts(r1.view));
    for (const auto& row : r4.view.Rows)
        EXPECT_EQ(row.Icons, (std::vector<int>{Arrow, Check})) << ToUtf8(row.Text);
    EXPECT_EQ(quatro.server->ConnectionCount(), 4u);
    EXPECT_EQ(quatro.server->Alerts().size(), 1u);
    EXPECT_EQ(quatro.server->SendFileCalls(), 33);
    EXPECT_EQ(r4.view.Closes, 1);
    ASSERT_TRUE(r4.view.Ended);
    EXPECT_EQ(r4.view.Ended->Enviados, 33);
    EXPECT_EQ(r4.view.Ended->Removidos, 1);

    // Republished through four connections: every file is current.
    r4.view = FakeView{};
    r4.view.Porta = quatro.port;
    r4.Run();
    ASSERT_EQ(r4.Click(), std::nullopt);
    EXPECT_EQ(quatro.server->SendFileCalls(), 33);
    EXPECT_EQ(r4.view.Ended->Atuais, 33);
    EXPECT_EQ(r4.view.Ended->CodigoSaida(), 0);
}

// "Continuar?" answered No with four connections: no file is taken after the answer, and the run
// still alerts and closes. The failing file is a link to nothing: it fails on both attempts
// whichever connection takes it.
TEST(Conexoes, NoStopsEveryConnection) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    // The top folder's files come first in the walk.
    fs::create_symlink(r.Pacote() / "nada", r.Pacote() / "quebrado.txt");
    for (int i = 0; i < 200; ++i)
        WriteText(r.Pacote() / "sub" / ("f" + std::to_string(i) + ".txt"), "x");
    r.opcoes.Conexoes = 4;
    r.view.Answers = {false};
    ASSERT_EQ(r.Click(), std::nullopt);

    const FakeView& v = r.view;
    ASSERT_EQ(v.Boxes.size(), 1u);
    EXPECT_EQ(v.Boxes[0].Kind, FakeView::BoxKind::Question);
    // No file is taken while the question is open or after No.
    EXPECT_EQ(v.Rows.size(), v.RowsWhenAsked);
    EXPECT_LT(v.Rows.size(), 201u);
    ASSERT_TRUE(v.Ended);
    EXPECT_EQ(v.Ended->Falhas, 1);
    EXPECT_TRUE(v.Ended->ParadaPeloUsuario);
    EXPECT_EQ(v.Ended->CodigoSaida(), 3);
    EXPECT_EQ(static_cast<int>(v.Done.size()), v.Ended->Verificados);
    EXPECT_EQ(s.server->Alerts().size(), 1u);
    EXPECT_EQ(v.Closes, 1);
}

// The dry run asks about every file and moves none: no SendFile, RemoveFile or alert reaches the
// server; the verdicts are the run's events; the window is left open.
TEST(Conexoes, DryRunSendsRemovesAndAlertsNothing) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "novo.txt", "new");
    WriteText(r.Pacote() / "igual.txt", "same");
    WriteText(s.Store() / "S01" / "igual.txt", "same");
    WriteText(r.Pacote() / "Scripts" / "EM_TESTE.SQL", "marker");
    r.opcoes.Simular = true;
    ASSERT_EQ(r.Click(), std::nullopt);

    const std::string received = s.AllReceived();
    for (const char* method : {"SendFile", "RemoveFile", "AlertarZvClientes"})
        EXPECT_EQ(received.find(method), std::string::npos) << method;
    EXPECT_EQ(s.server->SendFileCalls(), 0);
    EXPECT_TRUE(fs::exists(s.Store() / "S01" / "igual.txt"));
    EXPECT_FALSE(fs::exists(s.Store() / "S01" / "novo.txt"));

    const FakeView& v = r.view;
    ASSERT_EQ(v.Rows.size(), 3u);
    std::map<std::u16string, TDesfecho> outcome;
    for (const auto& [row, d] : v.Done)
        outcome[v.Rows.at(static_cast<std::size_t>(row)).Text] = d;
    EXPECT_EQ(outcome[u"novo.txt"], TDesfecho::Enviaria);
    EXPECT_EQ(outcome[u"igual.txt"], TDesfecho::Atual);
    EXPECT_EQ(outcome[u"EM_TESTE.SQL"], TDesfecho::Removeria);
    ASSERT_TRUE(v.Ended);
    EXPECT_TRUE(v.Ended->Simulada);
    EXPECT_EQ(v.Ended->Enviaria, 1);
    EXPECT_EQ(v.Ended->Removeria, 1);
    EXPECT_EQ(v.Ended->CodigoSaida(), 0);
    EXPECT_EQ(v.Closes, 0);
    EXPECT_TRUE(v.AtualizarEnabled());
}

// The run's events: the start with the listing's counts, a verdict and an outcome per row, and the
// end last, once, however the run ended.
TEST(Conexoes, EventsFrameEveryRun) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    WriteText(r.Pacote() / "a.txt", "aaaa");
    WriteFile(r.Pacote() / "b.bin", Pattern(2'000'000, 9));
    ASSERT_EQ(r.Click(), std::nullopt);
    const FakeView& v = r.view;
    EXPECT_EQ(v.StartedFiles, 2);
    EXPECT_EQ(v.StartedBytes, 2'000'004u);
    ASSERT_EQ(v.Verdicts.size(), 2u);
    ASSERT_EQ(v.Done.size(), 2u);
    for (const auto& [row, d] : v.Done)
        EXPECT_EQ(d, TDesfecho::Enviado);
    EXPECT_EQ(v.EndedCount, 1);
    EXPECT_EQ(v.Ended->Fim, TResumo::TFim::Concluida);
    EXPECT_EQ(v.Ended->BytesEnviados, 2'000'004u);

    // An unreachable server and an escaping error end the run too.
    s.server->CloseConnections();
    r.view = FakeView{};
    r.view.Porta = s.port;
    r.view.OnProcessEvents = [&](FakeView&) { s.server->CloseConnections(); };
    r.Run();
    WriteText(r.Pacote() / "a.txt", "newer", kStamp + 10);
    EXPECT_TRUE(r.Click().has_value());
    EXPECT_EQ(r.view.EndedCount, 1);
    EXPECT_EQ(r.view.Ended->Fim, TResumo::TFim::Erro);
    EXPECT_EQ(r.view.Ended->CodigoSaida(), 5);
    EXPECT_FALSE(r.view.Ended->Erro.empty());

    s.server->Stop();
    r.view = FakeView{};
    r.view.Porta = s.port;
    r.Run();
    EXPECT_EQ(r.Click(), std::nullopt);
    EXPECT_EQ(r.view.EndedCount, 1);
    EXPECT_EQ(r.view.Ended->Fim, TResumo::TFim::ServidorInvalido);
    EXPECT_EQ(r.view.Ended->CodigoSaida(), 2);
}

}  // namespace
}  // namespace ab::testing
