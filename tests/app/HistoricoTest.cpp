// The history of publications: one JSON line per run from the publishing run itself (against the
// bundled server in-process), whatever the run's end; a history that cannot be written is one
// notice and never the run's failure; the file renamed past its limit with one older file kept;
// lines of several writers never mixed; reading back only the end of a large file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>
#include <thread>

#include "RunFixture.h"
#include "app/Historico.h"
#include "app/TConfiguracao.h"
#include "dbx/TJSONValue.h"

namespace ab::testing {
namespace {

using namespace std::chrono_literals;
using server::TServerKind;
using server::TServerOptions;

std::vector<std::string> Linhas(const fs::path& arquivo) {
    std::ifstream in(arquivo, std::ios::binary);
    std::vector<std::string> linhas;
    for (std::string linha; std::getline(in, linha);)
        linhas.push_back(linha);
    return linhas;
}

std::optional<TJSONValue> Json(const std::string& linha) {
    return TJSONValue::Parse(std::vector<std::uint8_t>(linha.begin(), linha.end()));
}

// A member's text (a number's digits, a string's characters), "" when missing.
std::string Texto(const TJSONValue& objeto, std::u16string_view nome) {
    const TJSONValue* valor = objeto.Get(nome);
    if (!valor)
        return "";
    switch (valor->GetKind()) {
        case TJSONValue::Kind::True:
            return "true";
        case TJSONValue::Kind::False:
            return "false";
        default:
            return ToUtf8(valor->Text());
    }
}

// A line the way another writer might have left one: a run's object with a number to tell it by.
std::string LinhaNumerada(int n, std::size_t enchimento = 0) {
    return "{\"inicio\":\"2026-01-01T00:00:00.000Z\",\"n\":" + std::to_string(n) + ",\"x\":\"" +
           std::string(enchimento, 'x') + "\"}\n";
}

std::vector<int> Numeros(const std::vector<TJSONValue>& execucoes) {
    std::vector<int> n;
    for (const TJSONValue& e : execucoes)
        n.push_back(std::stoi(Texto(e, u"n")));
    return n;
}

// Each kind of run's end leaves exactly one line, parsed as JSON, that says what happened: where,
// to which server of which kind, with which settings, the counts, the failed files' names, the
// exit status and whether it was a dry run.
TEST(Historico, EachRunLeavesOneLineSayingWhatHappened) {
    struct Caso {
        const char* nome;
        TServerOptions servidor;
        std::function<void(TConfiguracao&, RunUnderTest&)> preparar;
        // Members of the line; "configuracao/..." those of the settings in effect.
        std::map<std::u16string, std::string> esperado;
        bool falhado;  // "falhados" names one of the two files
    };
    TServerOptions cliente;
    cliente.kind = TServerKind::Cliente;
    cliente.sendFileFalseFirst = 2;
    const std::vector<Caso> casos = {
        {"published to a parent server",
         {},
         {},
         {{u"tipo_servidor", "pai"},
          {u"simulacao", "false"},
          {u"fim", "concluida"},
          {u"verificados", "2"},
          {u"enviados", "2"},
          {u"falhas", "0"},
          {u"codigo_saida", "0"},
          {u"configuracao/conexoes", "1"},
          {u"configuracao/pedidos_em_curso", "256"},
          {u"configuracao/buffer_kb", "2048"},
          {u"configuracao/adiante", "true"},
          {u"configuracao/conservador", "false"},
          {u"configuracao/tempo_leitura_ms", "0"}},
         false},
        {"a file failed twice on a client server, the user went on",
         cliente,
         // One request at a time: the failing calls are the first file's two attempts.
         [](TConfiguracao& c, RunUnderTest& r) {
             c.Conservador = true;
             r.view.Answers = {true};
         },
         {{u"tipo_servidor", "cliente"},
          {u"enviados", "1"},
          {u"falhas", "1"},
          {u"codigo_saida", "3"},
          {u"configuracao/conexoes", "1"},
          {u"configuracao/pedidos_em_curso", "1"},
          {u"configuracao/buffer_kb", "32"},
          {u"configuracao/adiante", "false"},
          {u"configuracao/conservador", "true"}},
         true},
        {"a dry run",
         {},
         [](TConfiguracao& c, RunUnderTest&) {
             c.Execucao.Simular = true;
             c.TempoLeituraMs = 1500;
         },
         {{u"tipo_servidor", "pai"},
          {u"simulacao", "true"},
          {u"enviados", "0"},
          {u"enviaria", "2"},
          {u"codigo_saida", "0"},
          {u"configuracao/tempo_leitura_ms", "1500"}},
         false},
        {"the server refused the login",
         [] {
             TServerOptions o;
             o.refuseLogin = true;
             return o;
         }(),
         {},
         {{u"tipo_servidor", "desconhecido"},
          {u"fim", "servidor-invalido"},
          {u"verificados", "0"},
          {u"codigo_saida", "2"},
          {u"configuracao/conexoes", "0"}},
         false},
        {"a test build pointed at a production server",
         {},
         [](TConfiguracao&, RunUnderTest& r) {
             r.dados.VersaoPraTeste = true;
             r.view.Endereco = u" 192.0.2.10 ";
         },
         {{u"tipo_servidor", "desconhecido"},
          {u"configuracao/conexoes", "0"},
          {u"fim", "recusada"},
          {u"servidor", "192.0.2.10"},
          {u"codigo_saida", "1"}},
         false},
    };
    TempDir estado{"hist"};
    const fs::path arquivo = estado.Path() / "historico.jsonl";
    std::size_t linhas = 0;
    for (const Caso& c : casos) {
        SCOPED_TRACE(c.nome);
        ServerUnderTest s(c.servidor);
        RunUnderTest r(s.port);
        WriteText(r.Pacote() / "a.txt", "a");
        WriteText(r.Pacote() / "b.txt", "b");
        TConfiguracao configuracao;
        if (c.preparar)
            c.preparar(configuracao, r);
        r.opcoes = configuracao.OpcoesDaExecucao({}, std::make_shared<THistorico>(arquivo));
        const auto antes = std::chrono::system_clock::now();
        ASSERT_EQ(r.Click(), std::nullopt);

        const std::vector<std::string> todas = Linhas(arquivo);
        ASSERT_EQ(todas.size(), ++linhas);
        const auto linha = Json(todas.back());
        ASSERT_TRUE(linha && linha->IsObject()) << todas.back();
        const TJSONValue* configuracaoEmVigor = linha->Get(u"configuracao");
        ASSERT_TRUE(configuracaoEmVigor && configuracaoEmVigor->IsObject());
        for (const auto& [nome, valor] : c.esperado) {
            const bool dela = nome.starts_with(u"configuracao/");
            EXPECT_EQ(Texto(dela ? *configuracaoEmVigor : *linha, nome.substr(dela ? 13 : 0)),
                      valor)
                << ToUtf8(nome) << " in " << todas.back();
        }
        EXPECT_EQ(Texto(*linha, u"codigo_saida"),
                  std::to_string(r.atualizador->Resumo().CodigoSaida()));
        EXPECT_EQ(Texto(*linha, u"pasta"), r.Pacote().string());
        if (!c.esperado.contains(u"servidor")) {
            EXPECT_EQ(Texto(*linha, u"servidor"), "127.0.0.1");
        }
        EXPECT_EQ(Texto(*linha, u"porta"), std::to_string(s.port));
        EXPECT_FALSE(Texto(*linha, u"versao").empty());
        // Start and end in UTC, to the millisecond, in order and around the run.
        const std::string inicio = Texto(*linha, u"inicio");
        const std::string termino = Texto(*linha, u"termino");
        ASSERT_EQ(inicio.size(), 24u) << inicio;
        EXPECT_EQ(inicio[10], 'T');
        EXPECT_EQ(inicio.back(), 'Z');
        EXPECT_LE(inicio, termino);
        const std::time_t t = std::chrono::system_clock::to_time_t(antes);
        std::tm tm{};
        gmtime_r(&t, &tm);
        char dia[16];
        std::strftime(dia, sizeof dia, "%Y-%m-%d", &tm);
        EXPECT_EQ(inicio.substr(0, 10), dia);

        const TJSONValue* falhados = linha->Get(u"falhados");
        ASSERT_TRUE(falhados && falhados->IsArray());
        if (c.falhado) {
            ASSERT_EQ(falhados->Items().size(), 1u);
            // The walk's first file, whichever the folder lists first.
            const std::string nome = ToUtf8(falhados->Items()[0].Text());
            EXPECT_TRUE(nome == (r.Pacote() / "a.txt").string() ||
                        nome == (r.Pacote() / "b.txt").string())
                << nome;
            EXPECT_EQ(falhados->Items()[0].Text(), r.atualizador->Resumo().Falhados.at(0));
        } else {
            EXPECT_TRUE(falhados->Items().empty());
        }
        EXPECT_TRUE(r.view.Avisos.empty());
        EXPECT_EQ(r.view.EndedCount, 1);
    }
}

// A history that cannot be written, whatever stands in its way, is one notice naming it; the
// publish goes on and succeeds. A FIFO in its place is refused at once, never waited on.
TEST(Historico, OneThatCannotBeWrittenIsANoticeAndThePublishSucceeds) {
    TempDir dir{"hist"};
    WriteText(dir.Path() / "arquivo", "a file where a folder should be");
    fs::create_directories(dir.Path() / "pasta");
    ASSERT_EQ(::mkfifo((dir.Path() / "fifo").c_str(), 0644), 0);
    const struct {
        const char* nome;
        fs::path arquivo;
    } casos[] = {
        {"below a file", dir.Path() / "arquivo" / "historico.jsonl"},
        {"a folder", dir.Path() / "pasta"},
        {"a FIFO", dir.Path() / "fifo"},
    };
    ServerUnderTest s;
    for (const auto& c : casos) {
        SCOPED_TRACE(c.nome);
        RunUnderTest r(s.port);
        const std::string nome = std::string(c.nome) + ".txt";
        WriteText(r.Pacote() / nome, c.nome);
        r.opcoes.Historico = std::make_shared<THistorico>(c.arquivo);
        const auto inicio = std::chrono::steady_clock::now();
        ASSERT_EQ(r.Click(), std::nullopt);
        EXPECT_LT(std::chrono::steady_clock::now() - inicio, 5s);
        EXPECT_EQ(r.atualizador->Resumo().CodigoSaida(), 0);
        EXPECT_EQ(ReadBytes(s.Store() / "S01" / nome), ReadBytes(r.Pacote() / nome));
        ASSERT_EQ(r.view.Avisos.size(), 1u);
        const std::string aviso = ToUtf8(r.view.Avisos[0]);
        EXPECT_NE(aviso.find("N\xC3\xA3o foi poss\xC3\xADvel gravar o hist\xC3\xB3rico \"" +
                             c.arquivo.string() + "\": "),
                  std::string::npos)
            << aviso;
        EXPECT_EQ(r.view.EndedCount, 1);
    }
}

// Past its limit the file is renamed to ".1" (replacing the older one) before the line that would
// take it over; the reader goes on into the older file for the runs the newer lacks.
TEST(Historico, RenamedPastItsLimitKeepingOneOlderFile) {
    TempDir dir{"hist"};
    const fs::path arquivo = dir.Path() / "h" / "historico.jsonl";
    const THistorico historico(arquivo, 1000);
    const std::size_t tamanho = LinhaNumerada(10, 250).size();
    for (int n = 0; n < 20; ++n) {
        historico.Acrescentar(LinhaNumerada(n, 250));
        EXPECT_LE(fs::file_size(arquivo), 1000u) << n;
    }
    EXPECT_FALSE(fs::exists(arquivo.string() + ".2"));
    // As many whole lines as the limit holds went to the older file.
    const std::size_t porArquivo = 1000 / tamanho;
    EXPECT_EQ(Linhas(arquivo.string() + ".1").size(), porArquivo);
    // The runs of both files, each once, in order, the newest last.
    std::vector<int> esperado;
    const int guardadas = static_cast<int>(porArquivo + Linhas(arquivo).size());
    for (int n = 20 - guardadas; n < 20; ++n)
        esperado.push_back(n);
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 100)), esperado);
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 2)), (std::vector<int>{18, 19}));

    // A line longer than the limit is written whole, in a file of its own.
    historico.Acrescentar(LinhaNumerada(20, 2000));
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 1)), std::vector<int>{20});
    EXPECT_EQ(Linhas(arquivo).size(), 1u);
    historico.Acrescentar(LinhaNumerada(21));
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 2)), (std::vector<int>{20, 21}));
}

// Programs appending at once (threads here, each with its own writer): every line arrives whole,
// never cut into by another, and none is lost.
TEST(Historico, LinesOfSeveralWritersNeverMix) {
    TempDir dir{"hist"};
    const fs::path arquivo = dir.Path() / "historico.jsonl";
    constexpr int kEscritores = 4;
    constexpr int kLinhas = 200;
    std::vector<std::thread> escritores;
    for (int e = 0; e < kEscritores; ++e) {
        escritores.emplace_back([&, e] {
            const THistorico historico(arquivo);
            for (int i = 0; i < kLinhas; ++i)
                historico.Acrescentar(LinhaNumerada(e * kLinhas + i, 2000 + e));
        });
    }
    for (std::thread& t : escritores)
        t.join();
    std::vector<int> vistos;
    for (const std::string& linha : Linhas(arquivo)) {
        const auto valor = Json(linha);
        ASSERT_TRUE(valor) << linha.substr(0, 80);
        vistos.push_back(std::stoi(Texto(*valor, u"n")));
    }
    std::sort(vistos.begin(), vistos.end());
    std::vector<int> todos(kEscritores * kLinhas);
    std::iota(todos.begin(), todos.end(), 0);
    EXPECT_EQ(vistos, todos);
}

// What stands in the file that is not a run is passed over: a line left without its line break
// (a full disk, an editor) is closed before the next line, which stays a run of its own; text,
// other JSON and empty lines are skipped by the reader.
TEST(Historico, WhatIsNotARunIsPassedOver) {
    TempDir dir{"hist"};
    const fs::path arquivo = dir.Path() / "historico.jsonl";
    WriteText(arquivo, LinhaNumerada(1) + "\n\nnot json\n[1,2]\n{\"n\":9}\n" + LinhaNumerada(2) +
                           "{\"inicio\":\"2026-01-01T00:0");
    THistorico(arquivo).Acrescentar(LinhaNumerada(3));
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 20)), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 1)), std::vector<int>{3});
}

// Only the end of a large file is read: the runs after a 64 GiB hole come back at once, and a
// stretch that long without a line break ends the reading rather than being read whole.
TEST(Historico, ReadsOnlyTheEndOfALargeFile) {
    TempDir dir{"hist"};
    const fs::path arquivo = dir.Path() / "historico.jsonl";
    WriteText(arquivo, LinhaNumerada(0));
    fs::resize_file(arquivo, 64ull << 30);
    {
        std::ofstream out(arquivo, std::ios::binary | std::ios::app);
        out << "\n" << LinhaNumerada(1) << "garbage\n" << LinhaNumerada(2) << LinhaNumerada(3);
    }
    const auto inicio = std::chrono::steady_clock::now();
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 2)), (std::vector<int>{2, 3}));
    EXPECT_EQ(Numeros(UltimasExecucoes(arquivo, 20)), (std::vector<int>{1, 2, 3}));
    EXPECT_LT(std::chrono::steady_clock::now() - inicio, 2s);
}

// Names are bytes: a failed file's name that is not UTF-8 is written in the readable form the
// text output uses, and every name survives the JSON; however many files failed, the line stays
// a small write, the names left out counted. A long error is cut.
TEST(Historico, FailedNamesAreReadableAndTheLineStaysSmall) {
    TExecucaoRegistrada e;
    e.Pasta = FromFileName("/srv/Vers\xE3o/");
    e.Endereco = u"servidor \"principal\"";
    e.Resumo.Falhas = 10'000;
    e.Resumo.Falhados = {FromFileName("/srv/Vers\xE3o/Relat\xF3rios/r.txt"),
                         u"/srv/a\tb\\c\"d\n.txt"};
    for (int i = 0; i < 9'998; ++i)
        e.Resumo.Falhados.push_back(u"/srv/pasta/" + std::u16string(100, u'x') + IntToStr(i));
    e.Resumo.Erro = std::u16string(100'000, u'e');
    e.Resumo.Fim = TResumo::TFim::Erro;

    const std::string linha = LinhaDoHistorico(e);
    EXPECT_LT(linha.size(), 80u * 1024);
    ASSERT_EQ(linha.back(), '\n');
    EXPECT_EQ(std::count(linha.begin(), linha.end(), '\n'), 1);
    const auto valor = Json(linha);
    ASSERT_TRUE(valor) << linha.substr(0, 200);
    EXPECT_EQ(Texto(*valor, u"pasta"), "/srv/Vers\xC3\xA3o");
    EXPECT_EQ(Texto(*valor, u"servidor"), "servidor \"principal\"");
    const auto& falhados = valor->Get(u"falhados")->Items();
    ASSERT_GE(falhados.size(), 2u);
    EXPECT_EQ(ToUtf8(falhados[0].Text()), "/srv/Vers\xC3\xA3o/Relat\xC3\xB3rios/r.txt");
    EXPECT_EQ(falhados[1].Text(), u"/srv/a\tb\\c\"d\n.txt");
    EXPECT_EQ(falhados.size() + std::stoul(Texto(*valor, u"falhados_omitidos")), 10'000u);
    EXPECT_LT(Texto(*valor, u"erro").size(), 5000u);
    EXPECT_EQ(Texto(*valor, u"codigo_saida"), "5");
}

// Where the runs go: `registro` as given (relative to the working folder), else the state
// folder's historico.jsonl; nowhere with historico = nao.
TEST(Historico, TheSettingsNameTheFile) {
    TConfiguracao c;
    EXPECT_EQ(ArquivoDoHistorico(c), PastaDeEstado() / "historico.jsonl");
    ASSERT_TRUE(HistoricoDaConfiguracao(c));
    EXPECT_EQ(HistoricoDaConfiguracao(c)->Arquivo(), ArquivoDoHistorico(c));
    c.Registro = u"logs/publicacoes.jsonl";
    EXPECT_EQ(ArquivoDoHistorico(c), fs::current_path() / "logs" / "publicacoes.jsonl");
    c.Registro = u"/var/log/x.jsonl";
    EXPECT_EQ(ArquivoDoHistorico(c), fs::path("/var/log/x.jsonl"));
    c.Historico = false;
    EXPECT_EQ(HistoricoDaConfiguracao(c), nullptr);

    TempDir dir{"hist"};
    const fs::path ini = dir.Path() / "atualizador.ini";
    WriteText(ini, "historico = nao\nregistro = /tmp/a.jsonl\n");
    c = LerConfiguracao(ini, {u"--historico", u"--registro=/tmp/b.jsonl"});
    EXPECT_TRUE(c.Historico);
    EXPECT_EQ(c.Registro, u"/tmp/b.jsonl");
    EXPECT_THROW(LerConfiguracao(ini, {u"--registro="}), EConfiguracao);
}

}  // namespace
}  // namespace ab::testing
