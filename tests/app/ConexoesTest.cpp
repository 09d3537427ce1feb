// How the run uses its connections, against the bundled server in-process: commands prepared once
// per connection (and again after a reconnect), the old one-command-per-call form behind a
// setting, several connections sharing the walk, the dry run, the run's events and summary.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <regex>
#include <set>
#include <thread>

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
    // Each connection's bytes are read once that connection has closed.
    ASSERT_TRUE(s.server->WaitConnectionClosed(0, std::chrono::seconds(10)));
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

// Requests in flight: with N of them a connection writes N questions before it reads an answer.
// A server that falls silent at the first question shows it: it receives one question with N = 1
// and sixteen with N = 16 before the run gives up waiting.
TEST(PedidosEmCurso, QuestionsLeaveBeforeTheAnswersComeBack) {
    // 1 filter query, 2 connect, 3-5 the metadata query, 6-8 the echo, 9 PropertsFile's prepare.
    constexpr std::int64_t kPrimeiraPergunta = 10;
    for (int n : {1, 16}) {
        SCOPED_TRACE(n);
        TServerOptions o;
        o.silentFromMessage = kPrimeiraPergunta;
        ServerUnderTest s(o);
        RunUnderTest r(s.port);
        for (int i = 0; i < 30; ++i)
            WriteText(r.Pacote() / ("f" + std::to_string(i)), "x");
        r.opcoes.PedidosEmCurso = n;
        r.opcoes.TempoLeituraMs = 500;
        EXPECT_TRUE(r.Click().has_value());  // the deadline escapes the run
        EXPECT_EQ(s.server->MessageCount(), kPrimeiraPergunta);
        r.atualizador.reset();
        ASSERT_TRUE(s.server->WaitConnectionClosed(0, std::chrono::seconds(10)));
        auto pedidos = Requests(s.server->ReceivedBytes(0));
        pedidos.erase(pedidos.begin(),
                      std::find(pedidos.begin(), pedidos.end(), "prepare TZvServer.PropertsFile"));
        EXPECT_EQ(pedidos.size(), static_cast<std::size_t>(1 + n));
    }
}

// A tree with small files, one whose packet travels inside its request, one the server pulls in
// segments and the test marker: four connections with sixteen requests in flight store exactly
// what one connection storing one file at a time does, show the same rows, and a republish sends
// nothing.
TEST(PedidosEmCurso, PublishTheSameStoreAsOneAtATime) {
    ServerUnderTest um, muitos;
    RunUnderTest r1(um.port), r16(muitos.port);
    for (RunUnderTest* r : {&r1, &r16}) {
        WriteNestedTree(*r);
        WriteFile(r->Pacote() / "medio.bin", Pattern(20'000, 77));      // inside its request
        WriteFile(r->Pacote() / "grande.bin", Pattern(3'000'000, 78));  // pulled in segments
        WriteText(um.Store() / "Scripts" / "S01" / "EM_TESTE.SQL", "old marker");
        WriteText(muitos.Store() / "Scripts" / "S01" / "EM_TESTE.SQL", "old marker");
    }
    r16.opcoes.Conexoes = 4;
    r16.opcoes.PedidosEmCurso = 16;
    ASSERT_EQ(r1.Click(), std::nullopt);
    ASSERT_EQ(r16.Click(), std::nullopt);

    EXPECT_EQ(Store(muitos.Store()), Store(um.Store()));
    EXPECT_EQ(Store(muitos.Store()).size(), 35u);
    EXPECT_FALSE(fs::exists(muitos.Store() / "Scripts" / "S01" / "EM_TESTE.SQL"));
    EXPECT_EQ(Texts(r16.view), Texts(r1.view));
    for (const auto& row : r16.view.Rows)
        EXPECT_EQ(row.Icons, (std::vector<int>{Arrow, Check})) << ToUtf8(row.Text);
    EXPECT_EQ(muitos.server->SendFileCalls(), 35);
    EXPECT_EQ(muitos.server->Alerts().size(), 1u);
    ASSERT_TRUE(r16.view.Ended);
    EXPECT_EQ(r16.view.Ended->Enviados, 35);
    EXPECT_EQ(r16.view.Ended->Removidos, 1);
    EXPECT_EQ(r16.view.Verdicts.size(), r16.view.Rows.size());

    r16.view = FakeView{};
    r16.view.Porta = muitos.port;
    r16.Run();
    ASSERT_EQ(r16.Click(), std::nullopt);
    EXPECT_EQ(muitos.server->SendFileCalls(), 35);
    EXPECT_EQ(r16.view.Ended->Atuais, 35);
    EXPECT_EQ(r16.view.Ended->CodigoSaida(), 0);
}

// One connection shows its files' verdicts and outcomes in the order of the walk, however far
// ahead its questions went.
TEST(PedidosEmCurso, OutcomesComeInTheWalksOrder) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    for (int i = 0; i < 40; ++i)
        WriteFile(r.Pacote() / ("f" + std::to_string(i)), Pattern(i % 3 == 0 ? 200'000 : 10, i));
    // Some are current already.
    ASSERT_EQ(r.Click(), std::nullopt);
    for (int i = 0; i < 40; i += 4)
        WriteFile(r.Pacote() / ("f" + std::to_string(i)), Pattern(i % 3 == 0 ? 200'000 : 10, i),
                  kStamp + 60);
    r.view = FakeView{};
    r.view.Porta = s.port;
    r.opcoes.PedidosEmCurso = 8;
    r.Run();
    ASSERT_EQ(r.Click(), std::nullopt);
    ASSERT_EQ(r.view.Done.size(), 40u);
    ASSERT_EQ(r.view.Verdicts.size(), 40u);
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(r.view.Done[i].first, i);
        EXPECT_EQ(r.view.Verdicts[i].first, i);
    }
    EXPECT_EQ(r.view.Ended->Enviados, 10);
    EXPECT_EQ(r.view.Ended->Atuais, 30);
}

// A send answered false while questions are in flight: the connection closes as always, the
// questions still owed are asked again on the new one, and every file ends stored once.
TEST(PedidosEmCurso, AFailedSendAsksTheInFlightFilesAgain) {
    TServerOptions o;
    o.sendFileFalseFirst = 1;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    for (int i = 0; i < 30; ++i)
        WriteText(r.Pacote() / ("f" + std::to_string(i)), "conteudo " + std::to_string(i));
    r.opcoes.PedidosEmCurso = 16;
    ASSERT_EQ(r.Click(), std::nullopt);

    EXPECT_EQ(r.Pauses, (std::vector<std::chrono::milliseconds>{std::chrono::milliseconds(100)}));
    EXPECT_EQ(s.server->ConnectionCount(), 2u);
    for (int i = 0; i < 30; ++i) {
        const std::string nome = "f" + std::to_string(i);
        EXPECT_EQ(ReadBytes(s.Store() / "S01" / nome), ReadBytes(r.Pacote() / nome)) << nome;
    }
    for (const auto& row : r.view.Rows)
        EXPECT_EQ(row.Icon(), Check) << ToUtf8(row.Text);
    EXPECT_EQ(r.view.Ended->Enviados, 30);
    EXPECT_EQ(r.view.Ended->Falhas, 0);
    // The new connection asked again about files whose questions had left on the old one.
    const Bytes segunda = s.server->ReceivedBytes(1);
    const std::string texto(segunda.begin(), segunda.end());
    int perguntas = 0;
    for (std::size_t at = 0; (at = texto.find(R"("method":"execute")", at)) != std::string::npos;
         ++at)
        ++perguntas;
    EXPECT_GT(perguntas, 30 - 1);  // every file left but the first is asked about or sent there
}

// Four connections, the one whose send fails cannot log in again: it leaves the run with that file
// failed, the others store every other file once, and the alert goes once.
TEST(Conexoes, AConnectionThatCannotReconnectLeavesTheRunToTheOthers) {
    for (int n : {1, 8}) {
        SCOPED_TRACE(n);
        TServerOptions o;
        o.sendFileFalseFirst = 1;
        o.refuseLoginAfter = 4;
        // The refused send comes once the four connections are in, so the refused login is its
        // reconnect.
        std::atomic<server::TUpdateServer*> servidor{nullptr};
        o.beforeSendFile = [&](int call) {
            for (int i = 0; call == 1 && i < 1000 && (!servidor || servidor.load()->Logins() < 4);
                 ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        };
        ServerUnderTest s(o);
        servidor = s.server.get();
        RunUnderTest r(s.port);
        for (int i = 0; i < 60; ++i)
            WriteText(r.Pacote() / ("d" + std::to_string(i % 6)) / ("f" + std::to_string(i)),
                      "x" + std::to_string(i));
        r.opcoes.Conexoes = 4;
        r.opcoes.PedidosEmCurso = n;
        ASSERT_EQ(r.Click(), std::nullopt);

        const FakeView& v = r.view;
        ASSERT_TRUE(v.Ended);
        EXPECT_EQ(v.Ended->Falhas, 1);
        ASSERT_EQ(v.Ended->Falhados.size(), 1u);
        EXPECT_EQ(v.Ended->Enviados, 59);
        EXPECT_EQ(v.Ended->CodigoSaida(), 3);
        EXPECT_EQ(s.server->SendFileCalls(), 60);  // the refused one, and every other once
        EXPECT_EQ(s.server->Alerts().size(), 1u);
        ASSERT_EQ(v.Dropped.size(), 1u);
        EXPECT_NE(v.Dropped[0].second.find(u"Invalid username or password"), std::u16string::npos)
            << ToUtf8(v.Dropped[0].second);
        int cruzes = 0;
        for (const auto& row : v.Rows) {
            EXPECT_NE(row.Icon(), Arrow) << ToUtf8(row.Text);
            cruzes += row.Icon() == Cross;
        }
        EXPECT_EQ(cruzes, 1);
        // The failed file was asked about, as any failed file is.
        ASSERT_EQ(v.Boxes.size(), 1u);
        EXPECT_EQ(v.Boxes[0].Kind, FakeView::BoxKind::Question);
    }
}

// An extra connection that cannot log in at the start is reported and the others do the work.
TEST(Conexoes, AnExtraConnectionThatCannotConnectIsReported) {
    TServerOptions o;
    o.refuseLoginAfter = 2;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    for (int i = 0; i < 20; ++i)
        WriteText(r.Pacote() / ("f" + std::to_string(i)), "x");
    r.opcoes.Conexoes = 4;
    ASSERT_EQ(r.Click(), std::nullopt);
    EXPECT_EQ(r.view.Ended->Enviados, 20);
    EXPECT_EQ(r.view.Ended->CodigoSaida(), 0);
    EXPECT_EQ(r.view.Dropped.size(), 2u);
    EXPECT_EQ(s.server->Alerts().size(), 1u);
}

// Files stored under the store's S01 folder.
int StoredUnderS01(const fs::path& store) {
    int n = 0;
    if (fs::exists(store / "S01"))
        for (const auto& e : fs::recursive_directory_iterator(store / "S01"))
            n += e.is_regular_file();
    return n;
}

// A server's error answer in the middle of a window of requests ends the run with answers still
// owed: the connection goes with them, and the next "Atualizar" reads only its own answers. Its
// verdicts match the store, and the new file is stored.
TEST(PedidosEmCurso, AnErrorAnswerLeavesNoAnswerForTheNextRun) {
    TServerOptions o;
    // A question in the middle of the first window: filter query, connect, metadata, the echo's
    // prepare, execute and close, PropertsFile's prepare, then its executes.
    o.errorAtMessage = 11;
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    for (int i = 0; i < 20; ++i)
        WriteText(r.Pacote() / ("f" + std::to_string(i)), "conteudo " + std::to_string(i));
    r.opcoes.PedidosEmCurso = 8;
    const auto erro = r.Click();
    ASSERT_TRUE(erro);
    EXPECT_NE(erro->find(u"Falha injetada na mensagem 11"), std::u16string::npos) << ToUtf8(*erro);

    std::set<std::string> daPrimeira;
    for (int i = 0; i < 20; ++i)
        if (fs::exists(s.Store() / "S01" / ("f" + std::to_string(i))))
            daPrimeira.insert("f" + std::to_string(i));
    WriteText(r.Pacote() / "novo.txt", "novo");
    r.view = FakeView{};
    r.view.Porta = s.port;
    ASSERT_EQ(r.Click(), std::nullopt);  // the same run object, as the window presses again

    const FakeView& v = r.view;
    ASSERT_TRUE(v.Ended);
    EXPECT_EQ(v.Ended->Fim, TResumo::TFim::Concluida);
    EXPECT_EQ(v.Ended->Falhas, 0);
    EXPECT_EQ(v.Ended->Enviados + v.Ended->Atuais, 21);
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "novo.txt"), ReadBytes(r.Pacote() / "novo.txt"));
    // Every verdict is its own file's: "atual" only for what the first run stored.
    ASSERT_EQ(v.Verdicts.size(), 21u);
    for (const auto& [row, veredito] : v.Verdicts) {
        const std::string nome = ToUtf8(v.Rows.at(static_cast<std::size_t>(row)).Text);
        EXPECT_EQ(veredito == TVeredito::Atual, daPrimeira.count(nome) == 1) << nome;
    }
    for (int i = 0; i < 20; ++i) {
        const std::string nome = "f" + std::to_string(i);
        EXPECT_EQ(ReadBytes(s.Store() / "S01" / nome), ReadBytes(r.Pacote() / nome)) << nome;
    }
    // The first run's connection was closed with its answers; the second run opened its own.
    EXPECT_EQ(s.server->ConnectionCount(), 2u);
}

// "Não" to "Continuar?" with requests in flight: the failed file's retry went alone, so the
// question comes with nothing else on its way, and nothing is sent after the answer. The alert
// still goes.
TEST(PedidosEmCurso, NoSendsNothingMore) {
    for (int n : {1, 32}) {
        SCOPED_TRACE(n);
        TServerOptions o;
        o.sendFileErrorFirst = 2;
        ServerUnderTest s(o);
        RunUnderTest r(s.port);
        for (int i = 0; i < 60; ++i)
            WriteText(r.Pacote() / ("d" + std::to_string(i % 6)) / ("f" + std::to_string(i)), "x");
        r.opcoes.PedidosEmCurso = n;
        r.view.Answers = {false};
        ASSERT_EQ(r.Click(), std::nullopt);

        const FakeView& v = r.view;
        ASSERT_EQ(v.Boxes.size(), 1u);
        EXPECT_EQ(s.server->SendFileCalls(), 2);
        EXPECT_EQ(StoredUnderS01(s.Store()), 0);
        ASSERT_TRUE(v.Ended);
        EXPECT_TRUE(v.Ended->ParadaPeloUsuario);
        EXPECT_EQ(v.Ended->Falhas, 1);
        EXPECT_EQ(v.Ended->Enviados, 0);
        EXPECT_EQ(v.Ended->CodigoSaida(), 3);
        EXPECT_EQ(s.server->Alerts().size(), 1u);
    }
}

// With four connections, while the question is open and after "Não", no connection writes a new
// request. Every file is large enough to be pulled in segments, and so goes alone on its
// connection: when the question opens, each other connection has at most one send on its way,
// which finishes; the questions it had in flight are answered, and nothing is sent for them.
TEST(PedidosEmCurso, NoStopsEveryConnectionsWrites) {
    ServerUnderTest s;
    RunUnderTest r(s.port);
    fs::create_symlink(r.Pacote() / "nada", r.Pacote() / "quebrado.txt");
    for (int i = 0; i < 200; ++i)
        WriteFile(r.Pacote() / "sub" / ("f" + std::to_string(i) + ".bin"), Pattern(40'000, i));
    r.opcoes.Conexoes = 4;
    r.opcoes.PedidosEmCurso = 32;
    r.view.Answers = {false};
    int aoPerguntar = -1;
    r.view.OnAsk = [&] { aoPerguntar = s.server->SendFileCalls(); };
    ASSERT_EQ(r.Click(), std::nullopt);

    ASSERT_GE(aoPerguntar, 0);
    EXPECT_LE(s.server->SendFileCalls(), aoPerguntar + 3);
    EXPECT_LT(aoPerguntar, 200);
    const FakeView& v = r.view;
    ASSERT_TRUE(v.Ended);
    EXPECT_EQ(v.Ended->Enviados, StoredUnderS01(s.Store()));
    EXPECT_EQ(v.Ended->Falhas, 1);
    EXPECT_EQ(s.server->Alerts().size(), 1u);
}

// A close while a large file travels with requests in flight: the file finishes, and no other file
// gets a request after it, though their questions had been answered.
TEST(PedidosEmCurso, ACloseSendsNothingAfterTheFileInTransfer) {
    TServerOptions o;
    std::atomic<FakeView*> janela{nullptr};
    o.beforeSegmentRequest = [&](int pedido) {
        if (pedido == 1)
            janela.load()->AskClose();
    };
    ServerUnderTest s(o);
    RunUnderTest r(s.port);
    janela = &r.view;
    // The top folder's own files come first in the walk.
    WriteFile(r.Pacote() / "grande.bin", Pattern(3'000'000, 7));
    for (int i = 0; i < 6; ++i)
        WriteText(r.Pacote() / "sub" / ("f" + std::to_string(i)), "x");
    r.opcoes.PedidosEmCurso = 8;
    ASSERT_EQ(r.Click(), std::nullopt);

    EXPECT_EQ(s.server->SendFileCalls(), 1);
    EXPECT_EQ(ReadBytes(s.Store() / "S01" / "grande.bin"), ReadBytes(r.Pacote() / "grande.bin"));
    EXPECT_EQ(StoredUnderS01(s.Store()), 1);
    const FakeView& v = r.view;
    ASSERT_TRUE(v.Ended);
    EXPECT_EQ(v.Ended->Fim, TResumo::TFim::Interrompida);
    EXPECT_EQ(v.Ended->Enviados, 1);
    EXPECT_TRUE(s.server->Alerts().empty());
}

// An error answer at each message in turn, with sends on their way behind it: the connection
// closes, and files whose sends had left are asked about again and found stored, which they were
// by this run. Into an empty store nothing can be "atual": each file is "enviado" and stored, or
// failed, or never finished (when the error ended the run). The counts add up.
TEST(PedidosEmCurso, SendsThatLeftBeforeADropAreReportedSent) {
    for (int k = 12; k <= 44; ++k) {
        SCOPED_TRACE(k);
        TServerOptions o;
        o.errorAtMessage = k;
        ServerUnderTest s(o);
        RunUnderTest r(s.port);
        for (int i = 0; i < 30; ++i)
            WriteText(r.Pacote() / ("f" + std::to_string(i)), "conteudo " + std::to_string(i));
        r.opcoes.PedidosEmCurso = 8;
        r.Click();

        const FakeView& v = r.view;
        ASSERT_TRUE(v.Ended);
        EXPECT_EQ(v.Ended->Atuais, 0);
        int enviados = 0;
        for (const auto& [row, desfecho] : v.Done) {
            const std::string nome = ToUtf8(v.Rows.at(static_cast<std::size_t>(row)).Text);
            if (desfecho == TDesfecho::Enviado) {
                ++enviados;
                EXPECT_EQ(ReadBytes(s.Store() / "S01" / nome), ReadBytes(r.Pacote() / nome));
            }
        }
        EXPECT_EQ(v.Ended->Enviados, enviados);
        EXPECT_EQ(v.Ended->Verificados, v.Ended->Enviados + v.Ended->Falhas);
        EXPECT_EQ(static_cast<int>(v.Done.size()), v.Ended->Verificados);
        if (v.Ended->Fim == TResumo::TFim::Concluida) {
            EXPECT_EQ(StoredUnderS01(s.Store()), 30);
        }
    }
}

// A send that fails once and succeeds on its retry keeps no reason: a reason belongs to a failure.
TEST(PedidosEmCurso, ASuccessfulRetryCarriesNoReason) {
    for (int n : {1, 8}) {
        SCOPED_TRACE(n);
        TServerOptions o;
        o.sendFileErrorFirst = 1;
        ServerUnderTest s(o);
        RunUnderTest r(s.port);
        WriteText(r.Pacote() / "a.txt", "a");
        WriteText(r.Pacote() / "b.txt", "b");
        r.opcoes.PedidosEmCurso = n;
        ASSERT_EQ(r.Click(), std::nullopt);
        ASSERT_EQ(r.view.Done.size(), 2u);
        for (std::size_t i = 0; i < r.view.Done.size(); ++i) {
            EXPECT_EQ(r.view.Done[i].second, TDesfecho::Enviado);
            EXPECT_EQ(r.view.Reasons[i], u"") << ToUtf8(r.view.Reasons[i]);
        }
    }
}

}  // namespace
}  // namespace ab::testing
